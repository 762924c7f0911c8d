#!/usr/bin/env bash
# Renders the echo-test report of a real run in a headless browser and keeps
# the result: marq-sim with twelve pads and 10 % loss each way (seeded, so
# the run repeats), a 50-loop echo test through mqtool-cli with --report,
# then the browser's screenshot, an A4 PDF and the DOM the browser built.
# Fails when the browser's page lacks the table row, the bar or the
# timeline line of any registered pad.
#
#   echo-report-screenshot.sh MARQ_SIM MQTOOL_CLI OUT_DIR
#
# Needs Debian's chromium (not installed by deps.sh: it is large; run
# `bash scripts/deps.sh chromium` first). CTest runs this script when
# chromium was found at configure time.
set -euo pipefail

SIM=${1:?marq-sim path}
CLI=${2:?mqtool-cli path}
OUT=${3:?output folder}
BROWSER=${CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
if [ -z "$BROWSER" ]; then
  echo "echo-report-screenshot: chromium is not installed (bash scripts/deps.sh chromium)" >&2
  exit 1
fi

mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
WORK=$(mktemp -d)
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# With this seed every pad's registration poll gets through (the n-th frame
# to a pad meets the same fate in every run), so all twelve take part.
"$SIM" --com 3 --loss 0.1 --seed 17 --data-folder "$WORK" </dev/null >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
for _ in $(seq 100); do [ -e "$WORK/ports/COM3" ] && break; sleep 0.1; done

# Exit code 1 only says that some pad missed a step, which 10 % loss ensures.
set +e
"$CLI" echo --loops 50 --data-folder "$WORK" --csv "$OUT/echo-report.csv" --loops-csv "$OUT/echo-report-loops.csv" \
  --report "$OUT/echo-report.html" >"$OUT/echo-report.txt" 2>"$WORK/cli.err"
code=$?
set -e
if [ "$code" -gt 1 ] || [ ! -s "$OUT/echo-report.html" ]; then
  echo "echo-report-screenshot: mqtool-cli failed ($code)" >&2
  cat "$WORK/cli.err" >&2
  exit 1
fi

# The registered pads: the judges of the totals CSV.
PADS=$(tail -n +2 "$OUT/echo-report.csv" | cut -d, -f2 | tr -d '\r' | tr '\n' ' ')
if [ "$(echo $PADS | wc -w)" != 12 ]; then
  echo "echo-report-screenshot: only judges $PADS registered" >&2
  exit 1
fi

# The browser needs a home and, as root, no sandbox.
export HOME="$WORK/home"
mkdir -p "$HOME"
FLAGS=(--headless --disable-gpu --no-sandbox --hide-scrollbars --no-first-run --disable-extensions
       --user-data-dir="$WORK/profile")
URL="file://$OUT/echo-report.html"
# A4 at 150 dots per inch, the width of the page's content.
"$BROWSER" "${FLAGS[@]}" --window-size=1240,1754 --screenshot="$OUT/echo-report.png" "$URL" 2>"$WORK/shot.err"
"$BROWSER" "${FLAGS[@]}" --no-pdf-header-footer --print-to-pdf="$OUT/echo-report.pdf" "$URL" 2>"$WORK/pdf.err"
"$BROWSER" "${FLAGS[@]}" --dump-dom "$URL" >"$OUT/echo-report.dom.html" 2>"$WORK/dom.err"

missing=0
for j in $PADS; do
  for part in row bar timeline; do
    if ! grep -q "id=\"$part-J$j\"" "$OUT/echo-report.dom.html"; then
      echo "echo-report-screenshot: the browser's page has no $part for judge $j" >&2
      missing=1
    fi
  done
done
for f in echo-report.png echo-report.pdf; do
  if [ ! -s "$OUT/$f" ]; then echo "echo-report-screenshot: no $f" >&2; missing=1; fi
done
[ "$missing" = 0 ]
echo "echo-report-screenshot: $OUT/echo-report.png, .pdf, .html"
