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

PAGE=${1:?HTML page}
OUT=${2:?output path without suffix}
BROWSER=${CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
if [ -z "$BROWSER" ]; then
  echo "render-html: chromium is not installed (bash scripts/deps.sh chromium)" >&2
  exit 1
fi
[ -s "$PAGE" ] || { echo "render-html: $PAGE is missing or empty" >&2; exit 1; }
PAGE=$(cd "$(dirname "$PAGE")" && pwd)/$(basename "$PAGE")
mkdir -p "$(dirname "$OUT")"
OUT=$(cd "$(dirname "$OUT")" && pwd)/$(basename "$OUT")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The browser needs a home and, as root, no sandbox.
export HOME="$WORK/home"
mkdir -p "$HOME"
FLAGS=(--headless --disable-gpu --no-sandbox --hide-scrollbars --no-first-run --disable-extensions
       --user-data-dir="$WORK/profile")
URL="file://$PAGE"
"$BROWSER" "${FLAGS[@]}" --window-size=1240,1754 --screenshot="$OUT.png" "$URL" 2>"$WORK/shot.err"
"$BROWSER" "${FLAGS[@]}" --no-pdf-header-footer --print-to-pdf="$OUT.pdf" "$URL" 2>"$WORK/pdf.err"
"$BROWSER" "${FLAGS[@]}" --dump-dom "$URL" >"$OUT.dom.html" 2>"$WORK/dom.err"

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
