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
# shellcheck source=scripts/lib/e2e.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib/e2e.sh"

SIM=${1:?marq-sim path}
CLI=${2:?mqtool-cli path}
OUT=${3:?output folder}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
e2e_init echo-report-screenshot "$OUT"
e2e_browser

WORK=$(mktemp -d)
cleanup() {
  e2e_stop_sim
  rm -rf "$WORK"
}
trap cleanup EXIT

# With this seed every pad's registration poll gets through (the n-th frame
# to a pad meets the same fate in every run), so all twelve take part.
e2e_start_sim 3 "$WORK/sim.out" "$WORK/sim.err" "$SIM" --com 3 --loss 0.1 --seed 17 --data-folder "$WORK" ||
  e2e_fail "marq-sim did not start: $(cat "$WORK/sim.err")"

# Exit code 1 only says that some pad missed a step, which 10 % loss ensures.
set +e
"$CLI" echo --loops 50 --data-folder "$WORK" --csv "$OUT/echo-report.csv" --loops-csv "$OUT/echo-report-loops.csv" \
  --report "$OUT/echo-report.html" >"$OUT/echo-report.txt" 2>"$WORK/cli.err"
code=$?
set -e
if [ "$code" -gt 1 ] || [ ! -s "$OUT/echo-report.html" ]; then
  e2e_fail "mqtool-cli failed ($code): $(cat "$WORK/cli.err")"
fi

# The registered pads: the judges of the totals CSV.
mapfile -t PADS < <(tail -n +2 "$OUT/echo-report.csv" | cut -d, -f2 | tr -d '\r')
[ "${#PADS[@]}" = 12 ] || e2e_fail "only judges ${PADS[*]} registered"

e2e_render "file://$OUT/echo-report.html" "$OUT/echo-report.png" "$OUT/echo-report.pdf" "$OUT/echo-report.dom.html" "$WORK"

missing=0
for j in "${PADS[@]}"; do
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
