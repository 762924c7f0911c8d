#!/usr/bin/env bash
# Renders a saved HTML page in a headless browser, as a person would see it:
# OUT.png (A4 width at 150 dots per inch), OUT.pdf (printed on A4) and
# OUT.dom.html (the document the browser built). Fails when the browser
# gives no picture, no PDF, or a document without the page's first heading.
#
#   render-html.sh PAGE.html OUT
#
# Needs Debian's chromium (bash scripts/deps.sh chromium); CTest runs this
# only when chromium was found at configure time.
set -euo pipefail
# shellcheck source=scripts/lib/e2e.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/e2e.sh"

PAGE=${1:?HTML page}
OUT=${2:?output path without suffix}
e2e_init render-html "$(dirname "$OUT")"
e2e_browser
[ -s "$PAGE" ] || e2e_fail "$PAGE is missing or empty"
PAGE=$(cd "$(dirname "$PAGE")" && pwd)/$(basename "$PAGE")
mkdir -p "$(dirname "$OUT")"
OUT=$(cd "$(dirname "$OUT")" && pwd)/$(basename "$OUT")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

e2e_render "file://$PAGE" "$OUT.png" "$OUT.pdf" "$OUT.dom.html" "$WORK"

heading=$(sed -n 's:.*<h1>\([^<]*\)</h1>.*:\1:p' "$PAGE" | head -n1)
status=0
for f in "$OUT.png" "$OUT.pdf"; do
  [ -s "$f" ] || { echo "render-html: the browser wrote no $f" >&2; cat "$WORK"/*.err >&2; status=1; }
done
if [ -n "$heading" ] && ! grep -qF "<h1>$heading</h1>" "$OUT.dom.html"; then
  echo "render-html: the browser's document lacks the heading \"$heading\"" >&2
  status=1
fi
[ "$status" = 0 ] && echo "render-html: $OUT.png, $OUT.pdf"
exit $status
