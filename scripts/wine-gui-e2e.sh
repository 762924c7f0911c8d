#!/usr/bin/env bash
# The Windows installer end to end under Wine, headless (Xvfb):
#
#   bash scripts/wine-gui-e2e.sh      (after bash scripts/package-windows.sh)
#
# In a fresh Wine prefix: the setup refuses (exit code 5, nothing installed,
# nothing made or granted in the link's target) while Corvane or Ledgerkit
# in %ProgramData% is a link (a Unix symbolic link in the prefix, which Wine
# reports as a reparse point: Wine 8 makes no junctions). Then a silent
# install; the files, the Start-menu shortcut, the Add/Remove Programs
# entry, the data folder and the grant setup asks icacls for (recorded by a
# stand-in icacls.exe: Wine's own does nothing) are checked. Then the
# installed mqtool.exe runs against the native marq-sim (six pads,
# automatic awards) through $WINEPREFIX/dosdevices/com3, driven from the
# keyboard (F10 reaches the toolbar): Scans / Full Scan and Next Dive, and
# marq-sim's trace must show the six pads registered and the six awards
# acknowledged by the program (it acknowledges an award when it shows it);
# the window is saved in English, then in French (Language=3 in the data
# folder's MqTool.ini). A second start must show "Already running" and the
# setup must refuse to run while the program runs. Last a silent
# uninstall: program files, shortcut and entry gone, the data folder's
# settings kept. Every step waits for a window, a menu or a trace line,
# within a bound.
#
# Screenshots and logs go to $BUILD_DIR/wine-gui/ (window-english.png,
# window-french.png, already-running.png, xvfb.log, ...).
#
#   BUILD_DIR   cross build folder (default build-win-app)
#   DIST_DIR    where the setup program is (default dist)
#   NATIVE_DIR  native build of marq-sim (default build-e2e-native)
#   MARQ_SIM    a native marq-sim to use instead (nothing is built)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# shellcheck source=scripts/lib/e2e.sh
source scripts/lib/e2e.sh
start=$(date +%s)

BUILD_DIR=${BUILD_DIR:-build-win-app}
DIST_DIR=${DIST_DIR:-dist}
NATIVE_DIR=${NATIVE_DIR:-build-e2e-native}
JOBS=${JOBS:-2}
COM=3

PACKAGES=(wine wine64 xvfb xauth xdotool imagemagick cmake ninja-build gcc-mingw-w64-x86-64-posix)
bash scripts/deps.sh --only "${PACKAGES[@]}"

# The newest setup program there.
setup=""
for f in "$DIST_DIR"/MqTool-*-setup.exe; do
  if [ -f "$f" ] && { [ -z "$setup" ] || [ "$f" -nt "$setup" ]; }; then setup=$f; fi
done
if [ -z "$setup" ]; then
  echo "wine-gui-e2e: no $DIST_DIR/MqTool-*-setup.exe: run bash scripts/package-windows.sh first" >&2
  exit 2
fi
setup=$(readlink -f "$setup")
version=$(basename "$setup" | sed -E 's/^MqTool-(.*)-setup\.exe$/\1/')

if [ -n "${MARQ_SIM:-}" ]; then
  sim=$(readlink -f "$MARQ_SIM")
else
  e2e_native_build "$NATIVE_DIR" "$JOBS" marq-sim
  sim="$root/$NATIVE_DIR/sim/marq-sim"
fi

out="$root/$BUILD_DIR/wine-gui"
rm -rf "$out"
mkdir -p "$out"
# Polls every half second: each look at the windows or the registry starts a program.
E2E_POLL=0.5
e2e_init wine-gui-e2e "$out"
export WINEPREFIX="$root/$BUILD_DIR/wineprefix-gui"
# icacls.exe=n: the stand-in below, not Wine's built-in one.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;icacls.exe=n"
rm -rf "$WINEPREFIX"

app_pid=""
cleanup() {
  e2e_stop "$app_pid"
  e2e_stop_sim
  wineserver -k 2>/dev/null || true
  e2e_stop_xvfb
  rm -f "$WINEPREFIX/dosdevices/com$COM"
}
trap cleanup EXIT

check() { e2e_check "$@"; }
die() { e2e_fail "$@"; }
wait_for() { e2e_wait_for "$@"; }

e2e_start_xvfb 1280x1024x24
timeout 300 wine wineboot.exe --init >/dev/null 2>&1 || die "wineboot failed"
boot=$(date +%s)

data="$WINEPREFIX/drive_c/ProgramData/Corvane/Ledgerkit"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Marq Utility.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MqTool'
regval() { wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'; }

pf="$WINEPREFIX/drive_c/Program Files/MqTool"
programdata="$WINEPREFIX/drive_c/ProgramData"

# A stand-in for icacls.exe that writes its command line to C:\icacls.txt
# (Wine's own icacls changes nothing and says nothing).
icacls_log="$WINEPREFIX/drive_c/icacls.txt"
cat >"$out/icacls.c" <<'EOF'
#include <stdio.h>
#include <windows.h>
int main(void) {
  FILE* f = fopen("C:\\icacls.txt", "a");
  if (f == NULL) return 1;
  fprintf(f, "%s\n", GetCommandLineA());
  fclose(f);
  return 0;
}
EOF
x86_64-w64-mingw32-gcc -O1 -o "$WINEPREFIX/drive_c/windows/system32/icacls.exe" "$out/icacls.c" ||
  die "the stand-in icacls.exe did not build"

# refused_with_link <description> <link made in ProgramData> <its target>
refused_with_link() {
  local rc=0
  rm -f "$icacls_log"
  timeout 300 wine "$setup" /S || rc=$?
  check "setup refuses while $1 is a link (exit $rc)" "$([ "$rc" = 5 ]; echo $?)"
  check "  nothing installed" "$([ ! -e "$pf" ]; echo $?)"
  check "  nothing made in the link's target" "$([ -z "$(ls -A "$3")" ]; echo $?)"
  check "  icacls never ran" "$([ ! -e "$icacls_log" ]; echo $?)"
}
echo "Setup with a link in the data folder's path"
mkdir -p "$WINEPREFIX/drive_c/elsewhere"
ln -s ../elsewhere "$programdata/Corvane"
refused_with_link Corvane "$programdata/Corvane" "$WINEPREFIX/drive_c/elsewhere"
rm "$programdata/Corvane"
mkdir "$programdata/Corvane"
ln -s ../../elsewhere "$programdata/Corvane/Ledgerkit"
refused_with_link Ledgerkit "$programdata/Corvane/Ledgerkit" "$WINEPREFIX/drive_c/elsewhere"
rm "$programdata/Corvane/Ledgerkit"
rmdir "$programdata/Corvane" "$WINEPREFIX/drive_c/elsewhere"

echo "Install: $(basename "$setup") /S"
rc=0
rm -f "$icacls_log"
timeout 300 wine "$setup" /S || rc=$?
check "silent install exits with 0" "$([ "$rc" = 0 ]; echo $?)"
# The grant: the old one taken back, Modify inherited by what is in the
# folder only, create files and folders on the folder itself, nothing else.
expected_icacls=$(printf '%s\n' \
  'icacls "C:\ProgramData\Corvane\Ledgerkit" /remove:g *S-1-5-32-545 /Q' \
  'icacls "C:\ProgramData\Corvane\Ledgerkit" /grant *S-1-5-32-545:(OI)(CI)(IO)M /Q' \
  'icacls "C:\ProgramData\Corvane\Ledgerkit" /grant *S-1-5-32-545:(WD,AD) /Q')
check "setup asks icacls for the data folder's grant, without /T" \
  "$([ "$(tr -d '\r' <"$icacls_log" 2>/dev/null)" = "$expected_icacls" ]; echo $?)"
[ "$(tr -d '\r' <"$icacls_log" 2>/dev/null)" = "$expected_icacls" ] ||
  { echo "  icacls ran as:"; sed 's/^/    /' "$icacls_log" 2>/dev/null || echo "    (never)"; }
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
e2e_start_sim "$COM" "$out/sim/trace.txt" "$out/sim/stderr.txt" \
  "$sim" --com "$COM" --data-folder "$out/sim" --pads 0,1,2,3,4,5 --awards auto --seed 7 --loss 0 --trace ||
  die "marq-sim did not start: $(cat "$out/sim/stderr.txt")"
e2e_wine_com "$COM" "$out/sim"

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

window_id() { e2e_windows '^Marq Utility' | head -n1; }
shot() { e2e_shot "$1"; }

# The window is driven from the keyboard, never at a point of it: F10 puts
# the focus on the toolbar's first button (Exit); Right moves to the next
# enabled button (Scans, then Next Dive); Down opens a drop-down's menu,
# Return presses a button; the first item of Scans is Full Scan.
focus() { e2e_focus "$1"; }
keys_to_window() {
  focus "$wid" || echo "  (the window did not take the keyboard focus)"
  e2e_keys "$@"
}
# The display's mapped windows (a menu is one of its own).
mapped_windows() { e2e_windows '' | sort; }
new_window_since() { comm -13 <(printf '%s\n' "$1") <(mapped_windows) | grep -q .; }
no_new_window_since() { ! new_window_since "$1"; }
# open_menu <keys from Exit to the drop-down...>: waits for the menu.
open_menu() {
  local before
  before=$(mapped_windows)
  keys_to_window F10 "$@" Down
  wait_for 60 new_window_since "$before"
  menu_base=$before
}
# pick <number of Down keys>: the item of the open menu; waits for it to close.
pick() {
  e2e_pick "$1"
  wait_for 60 no_new_window_since "$menu_base"
}

# Starts the installed program and waits for its window (slow on a busy machine).
start_window() {
  e2e_display_alive "the window ($1)"
  wine "$exe" >"$out/mqtool-$1.log" 2>&1 &
  app_pid=$!
  wait_for 180 window_id || { shot "no-window-$1"; die "the window did not appear ($1)"; }
  wid=$(window_id)
  focus "$wid" || echo "  (the window did not take the keyboard focus at start)"
}
# Exit from the toolbar; the program writes its settings as it closes.
stop_window() {
  keys_to_window F10 Return
  local closed=0
  wait_for 60 not_running "$app_pid" || closed=1
  check "Exit closes the window" "$closed"
  if [ "$closed" != 0 ]; then
    shot "did-not-close"
    wine taskkill /im mqtool.exe >/dev/null 2>&1 || true
    wait_for 60 not_running "$app_pid" || kill "$app_pid" 2>/dev/null || true
  fi
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
}

# The window's Full Scan in the simulator's trace: all six pads answered
# their registration polls and the last address (c) was polled.
scan_through_since() { six_pads_since "$1" && trace_since "$1" | grep -qE '^[0-9]+ host>base - ok <STX>c'; }
sent_since() { trace_since "$1" | grep -qE '^[0-9]+ host>base '; }

# Scans / Full Scan; then Next Dive. Each is tried again when the trace
# shows nothing of it: Next Dive is two buttons right of Exit only once the
# window has taken the scan's result (Scans enabled again); before that the
# keys reach another button (a drop-down then opens, and Escape closes it).
full_scan_and_dive() {
  local lang=$1 tries mark
  for tries in 1 2 3; do
    mark=$(($(trace_lines) + 1))
    if open_menu Right && pick 1 && wait_for 120 scan_through_since "$mark"; then break; fi
    shot "scan-$lang-$tries"
    e2e_keys Escape 2>/dev/null || true
    echo "  ($lang: the Full Scan did not register the six pads, try $tries)"
  done
  check "$lang: Full Scan registers the six pads" "$([ "$(pads_answered "$mark")" -ge 6 ]; echo $?)"
  for tries in 1 2 3 4 5; do
    mark=$(($(trace_lines) + 1))
    keys_to_window F10 Right Right Return
    if wait_for 10 sent_since "$mark" && wait_for 60 six_awards_since "$mark"; then break; fi
    keys_to_window Escape
    echo "  ($lang: no six awards after Next Dive, try $tries)"
  done
  check "$lang: Next Dive brings the six awards (acknowledged by the program)" \
    "$([ "$(awards_acked "$mark")" -ge 6 ]; echo $?)"
}

gui_start=$(date +%s)
echo "English run"
start_window english
shot start-english
full_scan_and_dive English
shot window-english

echo "Second start while running"
wine "$exe" >"$out/second.log" 2>&1 &
second_pid=$!
already_running_box() { e2e_windows '^Already running$' | head -n1; }
if wait_for 120 already_running_box; then
  check "second start shows \"Already running\"" 0
  shot already-running
  box=$(already_running_box)
  focus "$box" || echo "  (the box did not take the keyboard focus)"
  e2e_keys Return
else
  check "second start shows \"Already running\"" 1
fi
rc=0
wait_for 60 not_running "$second_pid" || rc=1
check "Return closes the box and ends the second start" "$rc"
if [ "$rc" != 0 ]; then
  shot already-running-stays
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
e2e_passed
