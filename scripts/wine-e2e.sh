#!/usr/bin/env bash
# End to end under Wine: the Windows mqtool-cli.exe against the native
# marq-sim, through Wine's COM port mapping, compared with the Linux
# mqtool-cli against a marq-sim started the same way.
#
#   bash scripts/wine-e2e.sh          (after bash scripts/cross-windows.sh)
#
# For each side a marq-sim (pads 0,1,2,3,a,c, no radio loss, fixed seed)
# binds COM5 in a scratch data folder; the Wine side links
# $WINEPREFIX/dosdevices/com5 to that pseudo-terminal. Both run
# "scan --json": the station must be on port 5, found in the same pass as on
# Linux, with all six pads. Then the simulator's loss is set to LOSS and
# both run "echo --loops LOOPS --csv": the CSV files must be equal but for
# the date/time column.
#
#   BUILD_DIR    cross build folder (default build-win; its mqtool-cli.exe)
#   NATIVE_DIR   native build of marq-sim and mqtool-cli (default
#                build-e2e-native; configured and built when missing)
#   MARQ_SIM, MQTOOL_CLI  native programs to use instead (nothing is built)
#   JOBS, SEED (default 4242), LOOPS (default 20), LOSS (default 0.1)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=scripts/lib/e2e.sh
source scripts/lib/e2e.sh
start=$(date +%s)

BUILD_DIR=${BUILD_DIR:-build-win}
NATIVE_DIR=${NATIVE_DIR:-build-e2e-native}
JOBS=${JOBS:-2}
SEED=${SEED:-4242}
LOOPS=${LOOPS:-20}
LOSS=${LOSS:-0.1}
COM=5
PADS=0,1,2,3,a,c

exe="$root/$BUILD_DIR/cli/mqtool-cli.exe"
if [ ! -f "$exe" ]; then
  echo "wine-e2e: $exe is missing: run bash scripts/cross-windows.sh first" >&2
  exit 2
fi
if [ -n "${MARQ_SIM:-}" ] && [ -n "${MQTOOL_CLI:-}" ]; then
  sim=$(readlink -f "$MARQ_SIM")
  cli=$(readlink -f "$MQTOOL_CLI")
else
  e2e_native_build "$NATIVE_DIR" "$JOBS" marq-sim mqtool-cli
  sim="$root/$NATIVE_DIR/sim/marq-sim"
  cli="$root/$NATIVE_DIR/cli/mqtool-cli"
fi
built=$(date +%s)

export WINEPREFIX="$root/$BUILD_DIR/wineprefix-e2e"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
e2e_init wine-e2e "$work"
cleanup() {
  e2e_stop_sim
  exec 9>&- 2>/dev/null || true
  rm -f "$WINEPREFIX/dosdevices/com$COM"
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
if [ ! -d "$WINEPREFIX/dosdevices" ]; then wine wineboot.exe --init >/dev/null 2>&1; fi

# Starts marq-sim on COM5 in folder $1; its control FIFO is held open on fd 9.
start_sim() {
  local folder=$1
  mkdir -p "$folder"
  mkfifo "$folder/control"
  e2e_start_sim "$COM" "$folder/sim.out" "$folder/sim.err" \
    "$sim" --com "$COM" --data-folder "$folder" --pads "$PADS" --loss 0 --seed "$SEED" --control-fifo "$folder/control" ||
    e2e_fail "marq-sim did not start: $(cat "$folder/sim.err")"
  # marq-sim reads the FIFO from before it binds the port: this open does not wait.
  exec 9>"$folder/control"
}
stop_sim() {
  exec 9>&-
  e2e_stop_sim
}
passes() { grep -c "Available port numbers: " "$1" || true; }
check() { e2e_check "$@"; }

# Linux: the native utility on the ports/ folder binding.
start_sim "$work/linux"
"$cli" scan --json --data-folder "$work/linux" >"$work/linux/scan.json" 2>"$work/linux/scan.log" || true
echo "loss $LOSS" >&9
"$cli" echo --loops "$LOOPS" --csv "$work/linux/echo.csv" --data-folder "$work/linux" \
  >"$work/linux/echo.out" 2>"$work/linux/echo.log" || true
stop_sim

# Wine: the Windows utility on COM5 mapped by Wine to the simulator's device.
start_sim "$work/wine"
e2e_wine_com "$COM" "$work/wine"
wine_start=$(date +%s)
wine "$exe" scan --json >"$work/wine/scan.json" 2>"$work/wine/scan.log" || true
echo "loss $LOSS" >&9
wine "$exe" echo --loops "$LOOPS" --csv 'C:\echo.csv' >"$work/wine/echo.out" 2>"$work/wine/echo.log" || true
wine_done=$(date +%s)
cp "$WINEPREFIX/drive_c/echo.csv" "$work/wine/echo.csv" 2>/dev/null || true
rm -f "$WINEPREFIX/drive_c/echo.csv"
stop_sim

echo "Linux: $(cat "$work/linux/scan.json")"
echo "Wine:  $(tr -d '\r' <"$work/wine/scan.json")"
json() {  # file, python expression on j
  python3 -c 'import json,sys; j=json.loads(open(sys.argv[1]).read()); print(eval(sys.argv[2]))' "$1" "$2" 2>/dev/null || echo "?"
}
check "Wine scan finds the station on port $COM" "$([ "$(json "$work/wine/scan.json" 'j["port"]')" = "$COM" ]; echo $?)"
check "Wine scan registers the pads $PADS" \
  "$([ "$(json "$work/wine/scan.json" '",".join(j["pads"])')" = "$PADS" ]; echo $?)"
check "Linux scan finds the same station and pads" \
  "$([ "$(json "$work/linux/scan.json" 'j')" = "$(json "$work/wine/scan.json" 'j')" ]; echo $?)"
lp=$(passes "$work/linux/scan.log"); wp=$(passes "$work/wine/scan.log")
check "found in the same pass (Linux $lp, Wine $wp)" "$([ "$lp" = "$wp" ] && [ "$wp" -ge 1 ]; echo $?)"

# The date/time column goes, wherever the heading puts it (columns may
# follow it); no field before it holds a comma here.
strip_time() {
  tr -d '\r' <"$1" | awk -F, -v OFS=, '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == "date_time") c = i }
    { if (c) { for (i = c; i < NF; i++) $i = $(i + 1); NF-- } print }'
}
if [ -s "$work/linux/echo.csv" ] && [ -s "$work/wine/echo.csv" ]; then
  echo "Linux echo CSV:"; tr -d '\r' <"$work/linux/echo.csv" | sed 's/^/    /'
  echo "Wine echo CSV:";  tr -d '\r' <"$work/wine/echo.csv" | sed 's/^/    /'
  check "echo CSV equal but for the date/time" \
    "$(diff <(strip_time "$work/linux/echo.csv") <(strip_time "$work/wine/echo.csv") >/dev/null; echo $?)"
  check "both CSVs use CR LF line ends" \
    "$([ "$(grep -c $'\r$' "$work/wine/echo.csv")" = "$(wc -l <"$work/wine/echo.csv")" ] &&
        [ "$(grep -c $'\r$' "$work/linux/echo.csv")" = "$(wc -l <"$work/linux/echo.csv")" ]; echo $?)"
else
  check "both echo runs wrote a CSV" 1
  tail -5 "$work/wine/echo.log" "$work/linux/echo.log" >&2 || true
fi
if grep -q "^error: " "$work/wine/scan.log" "$work/wine/echo.log"; then
  check "no error under Wine" 1
  grep "^error: " "$work/wine/scan.log" "$work/wine/echo.log" >&2
fi

done_at=$(date +%s)
echo "wine-e2e: native build $((built - start)) s, Wine runs $((wine_done - wine_start)) s," \
     "total $((done_at - start)) s"
e2e_passed
