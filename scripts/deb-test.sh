#!/usr/bin/env bash
# Installs dist/mqtool_<version>_amd64.deb as a user would (apt-get, so the
# dependencies resolve), runs the programs as two ordinary users - one in
# the group dialout, one outside it - and purges the package again, checking
# that the machine is as it was before: no files, no data folder, no users.
# Needs root; run after scripts/package-deb.sh. Screenshots and logs go to
# $OUT (default build-deb/deb-test).
#
# As each user: marq-sim on COM 3 with the default data folder and
# `mqtool-cli scan --json`, then the window under Xvfb, driven with xdotool.
#   in dialout:  the simulator binds COM 3, the scan finds it; the window's
#                Scans / Full Scan finds it too; Language / Español, Exit;
#                the language is kept across a restart (written at the
#                first close, read at the second start, written back at the
#                second close);
#   outside it:  before and after the other user: the simulator cannot bind
#                (the folder is not writable for it), the scan finds no
#                station; the window runs, Language / Français, Exit: the
#                settings file is neither created nor changed, and the
#                failure is reported at close.
#
#   The window program's own part of shared settings is checked too: a new
#   settings file is group-writable (0664), and a failed write at close is
#   shown in a message window titled "MqTool" (not just on standard error).
#   MQ_DEB_TEST_STRICT=0 accepts the standard-error line alone.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
if [ "$(id -u)" -ne 0 ]; then
  echo "deb-test: needs root (it installs a package and adds users)" >&2
  exit 1
fi
bash scripts/deps.sh xvfb xauth xdotool imagemagick man-db passwd

OUT=${OUT:-$ROOT/build-deb/deb-test}
STRICT=${MQ_DEB_TEST_STRICT:-1}
DATA=/var/lib/Corvane/Ledgerkit
INI=$DATA/MqTool.ini
U_IN=mqdeb-dialout
U_OUT=mqdeb-other
DISPLAY_NUM=""
shopt -s nullglob
debs=(dist/mqtool_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "deb-test: expected one dist/mqtool_*_amd64.deb, found ${#debs[@]} (run scripts/package-deb.sh)" >&2
  exit 1
fi
DEB=$ROOT/${debs[0]}
rm -rf "$OUT"
mkdir -p "$OUT"
chmod 0755 "$OUT"

T0=$(date +%s)
step() { echo "deb-test: $*"; }
fail() {
  echo "deb-test: FAIL: $*" >&2
  exit 1
}

for u in "$U_IN" "$U_OUT"; do
  if getent passwd "$u" >/dev/null; then fail "user $u already exists"; fi
done
if dpkg-query -W -f='${Status}' mqtool 2>/dev/null | grep -q installed; then
  fail "mqtool is installed already; the test needs a machine without it"
fi
if [ -e /var/lib/Corvane ]; then fail "/var/lib/Corvane exists already"; fi

# What "as it was" means: the file tree outside dpkg's and apt's own records
# and caches, and the account files.
snapshot() {
  find /usr /etc /var/lib /var/opt /opt /home /srv -xdev \
    \( -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/lib/ucf -o -path /var/lib/systemd \) -prune -o -print \
    2>/dev/null | LC_ALL=C sort
  for f in /etc/passwd /etc/group /etc/shadow /etc/gshadow /etc/subuid /etc/subgid; do
    if [ -f "$f" ]; then md5sum "$f"; fi
  done
}
snapshot >"$OUT/before.txt"

# What the programs leave in the shared temporary folders: the window's
# single-instance lock, Qt's runtime folder.
remove_temporary_files() {
  find /tmp /var/tmp /dev/shm -xdev -depth -uid "$1" -exec rm -rf {} + 2>/dev/null || true
}

# Processes, users and the package go again whatever happens.
PIDS=()
cleanup() {
  local rc=$?
  set +e
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null; done
  for u in "$U_IN" "$U_OUT"; do
    if getent passwd "$u" >/dev/null; then
      local uid pid
      uid=$(id -u "$u")
      # Anything of the user's that outlived its tracked parent.
      for pid in $(ps -u "$u" -o pid= 2>/dev/null); do kill "$pid" 2>/dev/null; done
      sleep 0.5
      userdel -r "$u" 2>/dev/null
      remove_temporary_files "$uid"
    fi
  done
  if [ $rc -ne 0 ] && dpkg-query -W -f='${Status}' mqtool 2>/dev/null | grep -q installed; then
    apt-get purge -y mqtool >/dev/null 2>&1
  fi
  exit $rc
}
trap cleanup EXIT

# ---- the set-up from source --------------------------------------------------
# packaging/data-folder.sh (cmake --install, scripts/run.sh) turns a folder
# left world-writable by an older set-up, with a settings file of one user,
# into the package's set-up.
step "packaging/data-folder.sh on a world-writable folder"
SRC_FOLDER=$(mktemp -d)/Corvane/Ledgerkit
mkdir -p "$SRC_FOLDER"
chmod 1777 "$SRC_FOLDER"
printf '[General]\r\nLanguage=3\r\n' >"$SRC_FOLDER/MqTool.ini"
chown nobody:nogroup "$SRC_FOLDER/MqTool.ini"
chmod 0644 "$SRC_FOLDER/MqTool.ini"
sh packaging/data-folder.sh "$SRC_FOLDER/" >"$OUT/data-folder.log"
grep -qF "$SRC_FOLDER" "$OUT/data-folder.log" || fail "data-folder.sh does not say what it does"
[ "$(stat -c '%U:%G %a' "$SRC_FOLDER")" = "root:dialout 2775" ] ||
  fail "data-folder.sh: $(stat -c '%U:%G %a' "$SRC_FOLDER"), not root:dialout 2775"
[ "$(stat -c '%U:%G %a' "$SRC_FOLDER/MqTool.ini")" = "nobody:dialout 664" ] ||
  fail "data-folder.sh: MqTool.ini $(stat -c '%U:%G %a' "$SRC_FOLDER/MqTool.ini"), not nobody:dialout 664"
rm -rf "${SRC_FOLDER%/Corvane/Ledgerkit}"

# ---- install ---------------------------------------------------------------
step "installing $DEB"
T_INSTALL=$(date +%s)
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$DEB" >"$OUT/install.log" 2>&1 ||
  { cat "$OUT/install.log"; fail "apt-get install"; }
dpkg -L mqtool | LC_ALL=C sort >"$OUT/package-files.txt"
for f in /usr/bin/mqtool /usr/bin/mqtool-cli /usr/bin/marq-sim /usr/share/applications/mqtool.desktop \
  /usr/share/metainfo/com.corvane.mqtool.metainfo.xml /usr/share/icons/hicolor/scalable/apps/mqtool.svg \
  /usr/share/icons/hicolor/48x48/apps/mqtool.png /usr/share/doc/mqtool/copyright \
  /usr/share/doc/mqtool/guide/index.html /usr/share/man/man1/mqtool-cli.1.gz; do
  [ -f "$f" ] || fail "$f is not installed"
done
[ "$(stat -c '%U:%G %a %F' "$DATA")" = "root:dialout 2775 directory" ] ||
  fail "data folder: $(stat -c '%U:%G %a %F' "$DATA"), not root:dialout 2775"
man_text=$(MANPAGER=cat MANWIDTH=100 man mqtool-cli 2>&1)
for want in "EXIT STATUS" "missed_reads" "send-cmd" "--data-folder"; do
  grep -qF -- "$want" <<<"$man_text" || fail "man mqtool-cli does not mention $want"
done
man_text=$(MANPAGER=cat MANWIDTH=100 man marq-sim 2>&1)
for want in "--control-fifo" "judgeid" "garble"; do
  grep -qF -- "$want" <<<"$man_text" || fail "man marq-sim does not mention $want"
done

# ---- users and display -----------------------------------------------------
step "adding the users $U_IN (in dialout) and $U_OUT"
for u in "$U_IN" "$U_OUT"; do
  useradd -m -s /bin/sh -K SUB_UID_COUNT=0 -K SUB_GID_COUNT=0 "$u"
done
usermod -aG dialout "$U_IN"
id -nG "$U_OUT" | grep -qw dialout && fail "$U_OUT is in dialout"

# A display of its own on a free number; open to the test users (-ac).
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$OUT/display" >"$OUT/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 1 100); do [ -s "$OUT/display" ] && break; sleep 0.2; done
[ -s "$OUT/display" ] || fail "Xvfb did not start: $(cat "$OUT/xvfb.log")"
DISPLAY_NUM=:$(head -1 "$OUT/display")
export DISPLAY=$DISPLAY_NUM
xdotool getmouselocation >/dev/null 2>&1 || fail "no display $DISPLAY_NUM"

# as <user> <command...>: the command as that user with the user's groups,
# in a clean environment. It replaces the shell that runs it (so the process
# id of `as ... &` is the program's): call it as `as ... &` or `(as ...)`.
as() {
  local u=$1
  shift
  exec setpriv --reuid="$u" --regid="$u" --init-groups env -i HOME="/home/$u" USER="$u" LOGNAME="$u" \
    PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$DISPLAY_NUM" "$@"
}

# alive <pid>: the process runs (an ended child stays a zombie until it is
# waited for, and kill -0 still finds that).
alive() {
  local st
  st=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ $st != Z* ]]
}

# ---- the simulator and the command line --------------------------------------
SIM_PID=""
# start_sim <user>: marq-sim on COM 3 with the default data folder; 0 when it bound the port.
start_sim() {
  local u=$1
  as "$u" marq-sim --com 3 --pads 0,1,2,3 --awards manual --trace </dev/null >"$OUT/sim-$u.log" 2>&1 &
  SIM_PID=$!
  PIDS+=("$SIM_PID")
  for _ in $(seq 1 150); do
    if [ -L "$DATA/ports/COM3" ]; then return 0; fi
    if ! alive "$SIM_PID"; then return 1; fi
    sleep 0.2
  done
  return 1
}
stop_sim() {
  kill "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
  SIM_PID=""
}

scan_json() {
  local u=$1 rc=0
  (as "$u" mqtool-cli scan --json) >"$OUT/scan-$u.json" 2>"$OUT/scan-$u.log" || rc=$?
  echo "$rc"
}

# ---- the window --------------------------------------------------------------
# Points of the window (client coordinates) inside the toolbar buttons Exit,
# Scans and Language in English as in Spanish (the captions' widths move the
# buttons). Keys pick the menu items: a menu skips its disabled items, so
# with the default "Languages" the second item down is Español, the third
# Français; the first of Scans is Full Scan.
EXIT_BUTTON="22 30"
SCANS_BUTTON="62 30"
LANGUAGE_BUTTON="283 30"
WIN=""
APP_PID=""
APP_LOG=""
shot() { import -display "$DISPLAY_NUM" -window root "$OUT/$1.png" 2>/dev/null || true; }

start_window() {  # start_window <user> <name of the log and screenshots>
  local u=$1
  APP_LOG="$OUT/$2.log"
  as "$u" mqtool >"$APP_LOG" 2>&1 &
  APP_PID=$!
  PIDS+=("$APP_PID")
  WIN=""
  for _ in $(seq 1 300); do
    WIN=$(xdotool search --onlyvisible --pid "$APP_PID" --name 'Marq Utility' 2>/dev/null | head -1 || true)
    [ -n "$WIN" ] && break
    alive "$APP_PID" || break
    sleep 0.2
  done
  [ -n "$WIN" ] || { cat "$APP_LOG" >&2; fail "$u: the window did not appear"; }
  sleep 1  # the first paint
}

click() {  # click <x> <y>: a click at a point of the window
  xdotool mousemove --window "$WIN" "$1" "$2" click 1
  sleep 0.7
}

full_scan() {
  # shellcheck disable=SC2086
  click $SCANS_BUTTON
  xdotool key Down Return
}

pick_language() {  # pick_language <number of Down keys>
  # shellcheck disable=SC2086
  click $LANGUAGE_BUTTON
  for _ in $(seq 1 "$1"); do xdotool key Down; done
  xdotool key Return
  sleep 0.5
}
SPANISH=2
FRENCH=3

# close_window <user> <name>: Exit; dismisses a message window titled
# "MqTool" shown at close and says whether there was one (0 = one appeared).
MESSAGE_SEEN=1
close_window() {  # close_window <user> <name>
  local u=$1 name=$2
  MESSAGE_SEEN=1
  shot "$name"
  # shellcheck disable=SC2086
  click $EXIT_BUTTON
  for _ in $(seq 1 300); do
    alive "$APP_PID" || break
    local box
    # The main window matches too (xdotool also reads its other name
    # properties): the box is any other match.
    box=$(xdotool search --onlyvisible --pid "$APP_PID" --name '^MqTool$' 2>/dev/null | grep -vx "$WIN" | head -1 || true)
    if [ -n "$box" ]; then
      if [ "$MESSAGE_SEEN" = 1 ]; then
        MESSAGE_SEEN=0
        sleep 0.5
        shot "$name-message"
      fi
      # No window manager gives the box the keyboard focus, so a Return
      # may go nowhere: click its only button, at the bottom right.
      local w h
      eval "$(timeout 10 xdotool getwindowgeometry --shell "$box" 2>/dev/null | grep -E '^(WIDTH|HEIGHT)=')"
      w=${WIDTH:-0}; h=${HEIGHT:-0}
      if [ "$w" -gt 100 ] && [ "$h" -gt 40 ]; then
        timeout 10 xdotool mousemove --window "$box" $((w - 51)) $((h - 23)) click 1 2>/dev/null || true
      else
        timeout 10 xdotool key --window "$box" Return 2>/dev/null || true
      fi
      sleep 1
    fi
    sleep 0.2
  done
  if alive "$APP_PID"; then
    shot "$name-hung"
    fail "$u: the window did not close"
  fi
  local rc=0
  wait "$APP_PID" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$APP_LOG" >&2; fail "$u: mqtool ended with $rc"; }
}

ini_language() { sed -n 's/^Language=//p' "$INI" | tr -d '\r'; }

# A close that kept the settings reports nothing.
no_failure_reported() {
  [ "$MESSAGE_SEEN" = 1 ] || fail "$1: a message window at close (see $2-message.png)"
  if grep -q "could not be written" "$APP_LOG"; then fail "$1: $(cat "$APP_LOG")"; fi
}

# Did the window report, at close, that the settings could not be written?
save_failure_reported() {
  local u=$1
  if [ "$MESSAGE_SEEN" -eq 0 ]; then return 0; fi
  [ "$STRICT" = 1 ] && return 1
  grep -q "settings could not be written" "$APP_LOG"
}

# A user outside dialout, before anyone has kept settings.
outsider_run() {
  local tag=$1 before=""
  step "$U_OUT ($tag): marq-sim, mqtool-cli, the window"
  if start_sim "$U_OUT"; then fail "$U_OUT: marq-sim bound COM 3 in $DATA"; fi
  stop_sim
  grep -qF "$DATA" "$OUT/sim-$U_OUT.log" || fail "$U_OUT: marq-sim's message does not name $DATA"
  local rc
  rc=$(scan_json "$U_OUT")
  [ "$rc" = 1 ] || fail "$U_OUT: mqtool-cli scan ended with $rc, not 1"
  grep -q '"port":0' "$OUT/scan-$U_OUT.json" || fail "$U_OUT: the scan found a station"
  [ -f "$INI" ] && before=$(md5sum "$INI"; stat -c '%U:%G %a %Y' "$INI")
  start_window "$U_OUT" "window-$U_OUT-$tag"
  pick_language $FRENCH
  close_window "$U_OUT" "window-$U_OUT-$tag"
  local after=""
  [ -f "$INI" ] && after=$(md5sum "$INI"; stat -c '%U:%G %a %Y' "$INI")
  [ "$before" = "$after" ] || fail "$U_OUT: the settings file changed: '$before' -> '$after'"
  save_failure_reported "$U_OUT" || fail "$U_OUT: no report that the settings could not be written"
}

outsider_run first
[ -e "$INI" ] && fail "$U_OUT created $INI"

step "$U_IN: marq-sim, mqtool-cli, the window twice"
start_sim "$U_IN" || { cat "$OUT/sim-$U_IN.log" >&2; fail "$U_IN: marq-sim did not bind COM 3"; }
rc=$(scan_json "$U_IN")
[ "$rc" = 0 ] || { cat "$OUT/scan-$U_IN.log" >&2; fail "$U_IN: mqtool-cli scan ended with $rc"; }
if ! grep -q '"port":3,.*"pads":\["0","1","2","3"\]' "$OUT/scan-$U_IN.json"; then
  fail "$U_IN: the scan did not find COM 3 with pads 0-3: $(cat "$OUT/scan-$U_IN.json")"
fi
count_in_trace() { grep -c "$1" "$OUT/sim-$U_IN.log" || true; }
idents_before=$(count_in_trace 'base>host - ok ER_CMD#T3ER400TRS')
polls_before=$(count_in_trace 'pad>base 3 ok')

start_window "$U_IN" "window-$U_IN-1"
full_scan
# The window has found the station when the simulator has answered its
# identification query and pad 3 its registration poll.
found=""
for _ in $(seq 1 150); do
  if [ "$(count_in_trace 'base>host - ok ER_CMD#T3ER400TRS')" -gt "$idents_before" ] &&
    [ "$(count_in_trace 'pad>base 3 ok')" -gt "$polls_before" ]; then
    found=1
    break
  fi
  sleep 0.2
done
sleep 2  # the rest of the pad scan, for the screenshot
[ -n "$found" ] || { shot "window-$U_IN-scan"; fail "$U_IN: the window's Full Scan did not find the station"; }
pick_language $SPANISH
close_window "$U_IN" "window-$U_IN-1"
no_failure_reported "$U_IN" "window-$U_IN-1"
[ -f "$INI" ] || fail "$U_IN: $INI was not written"
[ "$(ini_language)" = 5 ] || fail "$U_IN: Language=$(ini_language) after picking Español, not 5"
[ "$(stat -c %G "$INI")" = dialout ] || fail "$INI: group $(stat -c %G "$INI"), not dialout"
if [ "$STRICT" = 1 ]; then
  [ "$(stat -c %a "$INI")" = 664 ] || fail "$INI: mode $(stat -c %a "$INI"), not 664"
fi
first_write=$(stat -c %Y "$INI")
sleep 1.1  # a later modification time for the second write

start_window "$U_IN" "window-$U_IN-2"
close_window "$U_IN" "window-$U_IN-2"
no_failure_reported "$U_IN" "window-$U_IN-2"
[ "$(stat -c %Y "$INI")" -gt "$first_write" ] || fail "$U_IN: the second close did not write $INI"
[ "$(ini_language)" = 5 ] || fail "$U_IN: the language was not kept (Language=$(ini_language))"
stop_sim
[ -e "$DATA/ports" ] && fail "marq-sim left $DATA/ports behind"

# Outside dialout again, with settings kept by the other user: they are read
# but not changed.
outsider_run second
[ "$(ini_language)" = 5 ] || fail "the settings changed after $U_OUT's run"

T_USERS=$(date +%s)

# ---- purge -------------------------------------------------------------------
step "removing the users and purging the package"
kill "${PIDS[0]}" 2>/dev/null || true
wait "${PIDS[0]}" 2>/dev/null || true
PIDS=()
for u in "$U_IN" "$U_OUT"; do
  uid=$(id -u "$u")
  userdel -r "$u" 2>/dev/null || fail "userdel $u"
  remove_temporary_files "$uid"
done
DEBIAN_FRONTEND=noninteractive apt-get purge -y mqtool >"$OUT/purge.log" 2>&1 || { cat "$OUT/purge.log"; fail "apt-get purge"; }

dpkg-query -W -f='${Status}' mqtool 2>/dev/null | grep -q 'installed' && fail "mqtool is still installed"
[ -e /var/lib/Corvane ] && fail "/var/lib/Corvane is still there"
while read -r f; do
  [ -f "$f" ] || [ -L "$f" ] && fail "$f is still there"
done <"$OUT/package-files.txt"
for u in "$U_IN" "$U_OUT"; do getent passwd "$u" >/dev/null && fail "user $u is still there"; done
snapshot >"$OUT/after.txt"
if ! diff -u "$OUT/before.txt" "$OUT/after.txt" >"$OUT/snapshot.diff"; then
  cat "$OUT/snapshot.diff" >&2
  fail "the machine differs from before the install (see above)"
fi
rm -f "$OUT/before.txt" "$OUT/after.txt"

echo "deb-test: passed (install and user runs $((T_USERS - T_INSTALL)) s, purge and checks $(($(date +%s) - T_USERS)) s, in all $(($(date +%s) - T0)) s; screenshots in $OUT)"
