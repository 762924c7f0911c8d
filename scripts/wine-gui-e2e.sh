#!/usr/bin/env bash
# The Windows installer end to end under Wine, headless (Xvfb):
#
#   bash scripts/wine-gui-e2e.sh      (after bash scripts/package-windows.sh)
#
# In a fresh Wine prefix: silent install; the files, the Start-menu
# shortcut, the Add/Remove Programs entry and the data folder are checked.
# Then the installed mqtool.exe runs against the native marq-sim (six pads,
# automatic awards) through $WINEPREFIX/dosdevices/com3: Scans / Full Scan
# and Next Dive are clicked with xdotool, and marq-sim's trace must show the
# six pads registered and the six awards acknowledged by the program (it
# acknowledges an award when it shows it); the window is saved in English,
# then in French (Language=3 in the data folder's MqTool.ini). A second
# start must show "Already running" and the setup must refuse to run while
# the program runs. Last a silent uninstall: program files, shortcut and
# entry gone, the data folder's settings kept.
#
# Screenshots and logs go to $BUILD_DIR/wine-gui/ (window-english.png,
# window-french.png, already-running.png, ...).
#
#   BUILD_DIR   cross build folder (default build-win-app)
#   DIST_DIR    where the setup program is (default dist)
#   NATIVE_DIR  native build of marq-sim (default build-e2e-native)
#   MARQ_SIM    a native marq-sim to use instead (nothing is built)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)

BUILD_DIR=${BUILD_DIR:-build-win-app}
DIST_DIR=${DIST_DIR:-dist}
NATIVE_DIR=${NATIVE_DIR:-build-e2e-native}
JOBS=${JOBS:-2}
COM=3

PACKAGES=(wine wine64 xvfb xauth xdotool imagemagick cmake ninja-build)
bash scripts/deps.sh --only "${PACKAGES[@]}"

setup=$(ls -t "$DIST_DIR"/MqTool-*-setup.exe 2>/dev/null | head -n1 || true)
if [ -z "$setup" ]; then
  echo "wine-gui-e2e: no $DIST_DIR/MqTool-*-setup.exe: run bash scripts/package-windows.sh first" >&2
  exit 2
fi
setup=$(readlink -f "$setup")
version=$(basename "$setup" | sed -E 's/^MqTool-(.*)-setup\.exe$/\1/')

if [ -n "${MARQ_SIM:-}" ]; then
  sim=$(readlink -f "$MARQ_SIM")
else
  if [ ! -f "$NATIVE_DIR/build.ninja" ]; then
    cmake -S . -B "$NATIVE_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMQ_BUILD_APP=OFF -DMQ_BUILD_TESTS=OFF -DMQ_BUILD_BENCH=OFF >/dev/null
  fi
  cmake --build "$NATIVE_DIR" -j"$JOBS" --target marq-sim >/dev/null
  sim="$root/$NATIVE_DIR/sim/marq-sim"
fi

out="$root/$BUILD_DIR/wine-gui"
rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX="$root/$BUILD_DIR/wineprefix-gui"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"

xvfb_pid="" sim_pid="" app_pid=""
cleanup() {
  for p in $app_pid $sim_pid; do kill "$p" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -f "$WINEPREFIX/dosdevices/com$COM"
}
trap cleanup EXIT

fail=0
check() {  # description, condition result (0 = holds)
  if [ "$2" = 0 ]; then echo "  ok: $1"; else echo "  FAILED: $1"; fail=1; fi
}
die() { echo "wine-gui-e2e: $*" >&2; exit 1; }
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1; shift
  local until=$(($(date +%s) + limit))
  while ! "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$until" ] || return 1
    sleep 0.5
  done
}

# A display of our own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$out/display" >"$out/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 30 grep -q '[0-9]' "$out/display" || die "Xvfb did not start (see $out/xvfb.log)"
export DISPLAY=":$(head -n1 "$out/display")"

timeout 300 wine wineboot.exe --init >/dev/null 2>&1 || die "wineboot failed"
boot=$(date +%s)

pf="$WINEPREFIX/drive_c/Program Files/MqTool"
data="$WINEPREFIX/drive_c/ProgramData/Corvane/Ledgerkit"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Marq Utility.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MqTool'
regval() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'; }

echo "Install: $(basename "$setup") /S"
rc=0
timeout 300 wine "$setup" /S || rc=$?
check "silent install exits with 0" "$([ "$rc" = 0 ]; echo $?)"
for f in mqtool.exe mqtool-cli.exe uninstall.exe README.txt guide/index.html licences/MqTool-copyright.txt licences/Qt-LGPL-3.0.txt; do
  check "installed $f" "$([ -f "$pf/$f" ]; echo $?)"
done
check "Start-menu shortcut \"Marq Utility\"" "$([ -f "$shortcut" ]; echo $?)"
check "uninstall entry: version $version" "$([ "$(regval DisplayVersion)" = "$version" ]; echo $?)"
check "uninstall entry: publisher Corvane" "$([ "$(regval Publisher)" = "Corvane" ]; echo $?)"
check "uninstall entry: name Marq Utility" "$([ "$(regval DisplayName)" = "Marq Utility" ]; echo $?)"
check "data folder %ProgramData%\\Corvane\\Ledgerkit created" "$([ -d "$data" ]; echo $?)"
[ -f "$pf/mqtool.exe" ] || die "nothing installed; giving up"

# marq-sim on COM3 with six pads keying awards by themselves.
mkdir -p "$out/sim"
"$sim" --com "$COM" --data-folder "$out/sim" --pads 0,1,2,3,4,5 --awards auto --seed 7 --loss 0 --trace \
  >"$out/sim/trace.txt" 2>"$out/sim/stderr.txt" </dev/null &
sim_pid=$!
wait_for 60 grep -q "^marq-sim: COM$COM -> " "$out/sim/trace.txt" || die "marq-sim did not start: $(cat "$out/sim/stderr.txt")"
ln -sfn "$(readlink -f "$out/sim/ports/COM$COM")" "$WINEPREFIX/dosdevices/com$COM"

exe='C:\Program Files\MqTool\mqtool.exe'
trace_since() { tail -n +"$1" "$out/sim/trace.txt"; }
trace_lines() { wc -l <"$out/sim/trace.txt"; }
# Distinct pads whose registration answer (pad>base, <STX><id><ACK>) came after line $1.
pads_answered() { trace_since "$1" | grep -E '^[0-9]+ pad>base [0-5] ok <STX>[0-5]<ACK>' | awk '{print $3}' | sort -u | wc -l; }
# Distinct pads the program acknowledged an award to (host>base, "OK ... MqTool") after line $1.
awards_acked() { trace_since "$1" | grep -E '^[0-9]+ host>base - ok <STX>[0-5].*OK.*MqTool' | sed -E 's/.*<STX>(.).*/\1/' | sort -u | wc -l; }
six_pads_since() { [ "$(pads_answered "$1")" -ge 6 ]; }
six_awards_since() { [ "$(awards_acked "$1")" -ge 6 ]; }
not_running() { ! kill -0 "$1" 2>/dev/null; }

window_id() { xdotool search --onlyvisible --name '^Marq Utility' 2>/dev/null | head -n1; }
# Clicks at x,y of the window's client area.
click() { xdotool mousemove --window "$wid" "$1" "$2" click 1; }
shot() { import -window root "$out/$1.png" 2>/dev/null || echo "  (no screenshot $1)"; }

# Starts the installed program and waits for its window (slow on a busy machine).
start_window() {
  wine "$exe" >"$out/mqtool-$1.log" 2>&1 &
  app_pid=$!
  wait_for 180 window_id || { shot "no-window-$1"; die "the window did not appear ($1)"; }
  wid=$(window_id)
  sleep 2
}
stop_window() {
  wine taskkill /im mqtool.exe >/dev/null 2>&1 || true
  if ! wait_for 60 not_running "$app_pid"; then
    echo "  (window did not close on request; killed)"
    kill "$app_pid" 2>/dev/null || true
  fi
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
}

# Scans / Full Scan, retried while marq-sim sees no pad answer; then Next
# Dive, retried while it sees no award acknowledged.
full_scan_and_dive() {
  local lang=$1 tries mark
  for tries in 1 2 3; do
    mark=$(($(trace_lines) + 1))
    click "$SCANS_X" "$TOOLBAR_Y"
    sleep 1.5
    click "$((SCANS_X + 20))" "$FULL_SCAN_Y"
    if wait_for 60 six_pads_since "$mark"; then break; fi
    xdotool key Escape 2>/dev/null || true
    echo "  ($lang: no pad answered after Full Scan, try $tries)"
  done
  check "$lang: Full Scan registers the six pads" "$([ "$(pads_answered "$mark")" -ge 6 ]; echo $?)"
  sleep 3  # the rest of the poll batch, then the window's refresh
  for tries in 1 2 3; do
    mark=$(($(trace_lines) + 1))
    click "$NEXT_DIVE_X" "$TOOLBAR_Y"
    if wait_for 60 six_awards_since "$mark"; then break; fi
    echo "  ($lang: no six awards after Next Dive, try $tries)"
  done
  check "$lang: Next Dive brings the six awards (acknowledged by the program)" \
    "$([ "$(awards_acked "$mark")" -ge 6 ]; echo $?)"
  sleep 2
}

# Toolbar places in the window (measured on the native window with the
# same font: Scans and Next Dive are the second and third buttons; the
# Full Scan item is the first of the menu that drops from Scans).
TOOLBAR_Y=30
SCANS_X=${SCANS_X:-58}
FULL_SCAN_Y=${FULL_SCAN_Y:-72}
NEXT_DIVE_X=${NEXT_DIVE_X:-98}

gui_start=$(date +%s)
echo "English run"
start_window english
shot start-english
full_scan_and_dive English
shot window-english

echo "Second start while running"
wine "$exe" >"$out/second.log" 2>&1 &
second_pid=$!
if wait_for 120 xdotool search --onlyvisible --name '^Already running$'; then
  check "second start shows \"Already running\"" 0
  shot already-running
  # Focus the box with a click on its text, then press its OK button.
  box=$(xdotool search --onlyvisible --name '^Already running$' | head -n1)
  xdotool mousemove --window "$box" 60 30 click 1 key Return 2>/dev/null || true
else
  check "second start shows \"Already running\"" 1
fi
if ! wait_for 30 not_running "$second_pid"; then
  echo "  (the box did not close on Return; the second start is ended)"
  kill "$second_pid" 2>/dev/null || true
fi
check "the first window still runs" "$([ -n "$(window_id)" ]; echo $?)"

echo "Setup while the program runs"
rc=0
timeout 300 wine "$setup" /S || rc=$?
check "setup refuses while MqTool runs (exit $rc)" "$([ "$rc" != 0 ]; echo $?)"
stop_window
check "closing wrote MqTool.ini into the data folder" "$([ -f "$data/MqTool.ini" ]; echo $?)"

echo "French run"
printf '[General]\r\nLanguage=3\r\nLanguages=1110100000\r\nDeveloper=0\r\n' >"$data/MqTool.ini"
start_window french
full_scan_and_dive French
shot window-french
stop_window
check "the French choice is kept in MqTool.ini" "$(tr -d '\r' <"$data/MqTool.ini" | grep -qx 'Language=3'; echo $?)"
gui_done=$(date +%s)

echo "Uninstall /S"
timeout 300 wine "$pf/uninstall.exe" /S || true
# The uninstaller runs on from a copy of itself: wait for it to finish.
wait_for 120 test ! -e "$pf" || true
check "program folder removed" "$([ ! -e "$pf" ]; echo $?)"
check "shortcut removed" "$([ ! -e "$shortcut" ]; echo $?)"
check "uninstall entry removed" "$(wine reg query "$key" >/dev/null 2>&1 && echo 1 || echo 0)"
check "data folder and settings kept" "$([ -f "$data/MqTool.ini" ]; echo $?)"

done_at=$(date +%s)
echo "Screenshots: $out/*.png"
echo "wine-gui-e2e: prefix $((boot - start)) s, install and checks $((gui_start - boot)) s," \
     "window runs $((gui_done - gui_start)) s, uninstall $((done_at - gui_done)) s, total $((done_at - start)) s"
exit $fail
