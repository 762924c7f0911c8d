#!/usr/bin/env bash
# Installs dist/mqtool_<version>_amd64.deb as a user would (apt-get, so the
# dependencies resolve), runs the programs as two ordinary users - one in
# the group dialout, one outside it - and purges the package again, checking
# that the machine is as it was before: no files, no data folder, no users.
# Needs root; run after scripts/package-deb.sh (whose build folder,
# BUILD_DIR, default build-deb, it installs from too). Screenshots and logs
# go to $OUT (default build-deb/deb-test).
#
# Root's scripts and planted links: a member of dialout plants MqTool.ini,
# MqTool.sib, ports and ports/COM3 in the data folder as links to a
# root-owned 0600 file; packaging/data-folder.sh, `cmake --install` of the
# build into the machine and the package's install over that folder run;
# the file's owner, group, mode and content must be unchanged. Purge, with
# links planted again, removes the folder and nothing they point to.
#
# As each user: marq-sim on COM 3 with the default data folder and
# `mqtool-cli scan --json`, then the window under Xvfb, driven from the
# keyboard with xdotool (F10 reaches the toolbar; every step waits for the
# menu or window it needs, or for marq-sim's trace).
#   in dialout:  its own simulator binds COM 3, the scan finds it; the
#                window's Scans / Full Scan finds it too; Language /
#                Español, Exit; the language is kept across a restart
#                (written at the first close, read at the second start,
#                written back at the second close);
#   outside it:  before and after the other user: the simulator cannot bind
#                (the folder is not writable for it), the scan finds no
#                station; the window runs, Language / Français, Exit: the
#                settings file is neither created nor changed, and the
#                failure is reported at close.
#
#   The window program's own part of shared settings is checked too: a new
#   settings file is group-writable (0664), and a failed write at close is
#   shown in a message window titled "MqTool" (not just on standard error).
#   MQ_DEB_TEST_STRICT=0 accepts a standard-error line naming MqTool.ini.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
# shellcheck source=scripts/lib/e2e.sh
source scripts/lib/e2e.sh
if [ "$(id -u)" -ne 0 ]; then
  echo "deb-test: needs root (it installs a package and adds users)" >&2
  exit 1
fi
bash scripts/deps.sh xvfb xauth xdotool imagemagick man-db passwd util-linux

BUILD_DIR=${BUILD_DIR:-build-deb}
OUT=${OUT:-$ROOT/build-deb/deb-test}
STRICT=${MQ_DEB_TEST_STRICT:-1}
DATA=/var/lib/Corvane/Ledgerkit
INI=$DATA/MqTool.ini
U_IN=mqdeb-dialout
U_OUT=mqdeb-other
shopt -s nullglob
debs=(dist/mqtool_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "deb-test: expected one dist/mqtool_*_amd64.deb, found ${#debs[@]} (run scripts/package-deb.sh)" >&2
  exit 1
fi
DEB=$ROOT/${debs[0]}
[ -f "$BUILD_DIR/CMakeCache.txt" ] || { echo "deb-test: no build in $BUILD_DIR (run scripts/package-deb.sh)" >&2; exit 1; }
rm -rf "$OUT"
mkdir -p "$OUT"
chmod 0755 "$OUT"
e2e_init deb-test "$OUT"

T0=$(date +%s)
step() { echo "deb-test: $*"; }
fail() { e2e_fail "FAIL: $*"; }

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
SCRATCH=$(mktemp -d)
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
  # A failure before the package took the folder over leaves it without owner.
  if [ $rc -ne 0 ] && ! dpkg-query -W -f='${Status}' mqtool 2>/dev/null | grep -q installed; then
    rm -rf --one-file-system /var/lib/Corvane
  fi
  rm -rf "$SCRATCH"
  exit $rc
}
trap cleanup EXIT

# ---- users and display -----------------------------------------------------
step "adding the users $U_IN (in dialout) and $U_OUT"
for u in "$U_IN" "$U_OUT"; do
  useradd -m -s /bin/sh -K SUB_UID_COUNT=0 -K SUB_GID_COUNT=0 "$u"
done
usermod -aG dialout "$U_IN"
id -nG "$U_OUT" | grep -qw dialout && fail "$U_OUT is in dialout"

# as <user> <command...>: the command as that user with the user's groups,
# in a clean environment. It replaces the shell that runs it (so the process
# id of `as ... &` is the program's): call it as `as ... &` or `(as ...)`.
as() {
  local u=$1
  shift
  exec setpriv --reuid="$u" --regid="$u" --init-groups env -i HOME="/home/$u" USER="$u" LOGNAME="$u" \
    PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="${DISPLAY:-}" "$@"
}

# ---- root's scripts and planted links ------------------------------------------
# A root-owned 0600 file that the links planted in the data folder point to;
# none of root's scripts may change its owner, group, mode or content.
SECRET_DIR=$SCRATCH/secret
mkdir -m 0700 "$SECRET_DIR"
SECRET=$SECRET_DIR/shadow
printf 'root:only\n' >"$SECRET"
chmod 0600 "$SECRET"
touch "$SECRET_DIR/kept"
secret_state() { stat -c '%U:%G %a %s %i' "$SECRET" "$SECRET_DIR" "$SECRET_DIR/kept"; md5sum <"$SECRET"; }
SECRET_STATE=$(secret_state)
secret_unchanged() {  # secret_unchanged <after what>
  local now
  now=$(secret_state)
  [ "$now" = "$SECRET_STATE" ] || fail "$1 changed the file the planted links point to: '$SECRET_STATE' -> '$now'"
}
# as_member <command...>: as $U_IN, a member of dialout, waited for.
as_member() { (as "$U_IN" "$@"); }
# plant <ports as: link | folder>
plant() {
  as_member ln -s "$SECRET" "$DATA/MqTool.ini"
  as_member ln -s "$SECRET" "$DATA/MqTool.sib"
  if [ "$1" = link ]; then
    as_member ln -s "$SECRET" "$DATA/ports"
  else
    as_member mkdir "$DATA/ports"
    as_member ln -s "$SECRET" "$DATA/ports/COM3"
  fi
}
unplant() { rm -rf "${DATA:?}/MqTool.ini" "$DATA/MqTool.sib" "$DATA/ports"; }
folder_is_set_up() {  # folder_is_set_up <after what>
  [ "$(stat -c '%U:%G %a %F' "$DATA")" = "root:dialout 2775 directory" ] ||
    fail "$1: data folder $(stat -c '%U:%G %a %F' "$DATA"), not root:dialout 2775"
}

step "packaging/data-folder.sh, then again over links that $U_IN planted"
sh packaging/data-folder.sh "$DATA" >"$OUT/data-folder.log" 2>&1 || { cat "$OUT/data-folder.log"; fail "data-folder.sh"; }
grep -qF "$DATA" "$OUT/data-folder.log" || fail "data-folder.sh does not say what it does"
folder_is_set_up "data-folder.sh"
plant link
sh packaging/data-folder.sh "$DATA" >>"$OUT/data-folder.log" 2>&1 || { cat "$OUT/data-folder.log"; fail "data-folder.sh over planted links"; }
secret_unchanged "data-folder.sh"
folder_is_set_up "data-folder.sh"

step "cmake --install $BUILD_DIR into the machine (programs into a scratch prefix) over the planted links"
cmake --install "$BUILD_DIR" --prefix "$SCRATCH/prefix" >"$OUT/cmake-install.log" 2>&1 ||
  { cat "$OUT/cmake-install.log"; fail "cmake --install"; }
grep -qF "$DATA" "$OUT/cmake-install.log" || { cat "$OUT/cmake-install.log"; fail "cmake --install did not set up $DATA"; }
secret_unchanged "cmake --install"
folder_is_set_up "cmake --install"
rm -rf "$SCRATCH/prefix"
unplant
plant folder

# ---- install ---------------------------------------------------------------
step "installing $DEB over the data folder with the planted links"
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
folder_is_set_up "the package's install"
secret_unchanged "the package's install"
{ [ -L "$DATA/MqTool.ini" ] && [ -L "$DATA/ports/COM3" ]; } || fail "the package's install removed the planted links"
unplant
man_text=$(MANPAGER=cat MANWIDTH=100 man mqtool-cli 2>&1)
for want in "EXIT STATUS" "missed_reads" "send-cmd" "--data-folder"; do
  grep -qF -- "$want" <<<"$man_text" || fail "man mqtool-cli does not mention $want"
done
man_text=$(MANPAGER=cat MANWIDTH=100 man marq-sim 2>&1)
for want in "--control-fifo" "judgeid" "garble"; do
  grep -qF -- "$want" <<<"$man_text" || fail "man marq-sim does not mention $want"
done

# ---- the display ---------------------------------------------------------------
# A display of its own, open to the test users (-ac).
step "Xvfb (log: $OUT/xvfb.log)"
e2e_start_xvfb 1024x768x24 -ac
PIDS+=("$E2E_XVFB_PID")
e2e_display_alive "the first window"

# ---- the simulator and the command line --------------------------------------
# start_sim <user>: marq-sim on COM 3 with the default data folder; 0 when it bound the port.
start_sim() {
  local rc=0
  e2e_start_sim 3 "$OUT/sim-$1.log" - as "$1" marq-sim --com 3 --pads 0,1,2,3 --awards manual --trace || rc=$?
  PIDS+=("$E2E_SIM_PID")
  return $rc
}
stop_sim() { e2e_stop_sim; }

scan_json() {
  local u=$1 rc=0
  (as "$u" mqtool-cli scan --json) >"$OUT/scan-$u.json" 2>"$OUT/scan-$u.log" || rc=$?
  echo "$rc"
}

# ---- the window --------------------------------------------------------------
# Driven from the keyboard, never at a point of the window: F10 puts the
# focus on the toolbar's first button (Exit); Left and Right move round the
# enabled buttons (Right from Exit: Scans; Left from Exit: Help, then
# Language); Down opens a drop-down's menu, Return presses a button. Each
# step waits for the window or menu it needs to be mapped. Keys pick the
# menu items: a menu skips its disabled items, so with the default
# "Languages" the second item down is Español, the third Français; the
# first of Scans is Full Scan.
WIN=""
APP_PID=""
APP_LOG=""
shot() { e2e_shot "$1"; }

# windows_of <pid> <title pattern>: its mapped windows with that title. The
# program's windows without a title of their own (menus) carry its name,
# "MqTool", as does a message window titled so.
windows_of() { e2e_windows --pid "$1" "$2" || true; }
# others <window list>: those that are not the main window.
others() { grep -vx "$WIN" <<<"$1" | grep . || true; }

wait_until() { e2e_wait_for "$@"; }
focus_window() { e2e_focus "$1"; }

main_window_mapped() {
  WIN=$(windows_of "$APP_PID" '^Marq Utility$' | head -1)
  [ -n "$WIN" ] || ! e2e_alive "$APP_PID"
}
start_window() {  # start_window <user> <name of the log and screenshots>
  local u=$1
  APP_LOG="$OUT/$2.log"
  e2e_display_alive "$u's window"
  as "$u" mqtool >"$APP_LOG" 2>&1 &
  APP_PID=$!
  PIDS+=("$APP_PID")
  wait_until 120 main_window_mapped || true
  [ -n "$WIN" ] || { shot "$2-no-window"; cat "$APP_LOG" >&2; fail "$u: the window did not appear"; }
  # Nothing stands in the way (a message at start would hold the window).
  [ -z "$(others "$(windows_of "$APP_PID" '^MqTool$')")" ] || { shot "$2-message-at-start"; fail "$u: a message at start (see $2-message-at-start.png)"; }
  focus_window "$WIN" || fail "$u: the window does not take the keyboard focus"
}

MENU=""
menu_mapped() {
  MENU=$(others "$(windows_of "$APP_PID" '^MqTool$')" | head -1)
  [ -n "$MENU" ]
}
menu_gone() { ! menu_mapped; }
# open_menu <keys from Exit to the drop-down...>
open_menu() {
  focus_window "$WIN" || fail "the window does not take the keyboard focus"
  e2e_keys F10 "$@" Down
  wait_until 60 menu_mapped || { shot menu-did-not-open; fail "the menu did not open (F10 $* Down)"; }
}
# pick <number of Down keys>: the item in the open menu; waits for it to close.
pick() {
  e2e_pick "$1"
  wait_until 60 menu_gone || { shot menu-did-not-close; fail "the menu did not close"; }
}

full_scan() { open_menu Right; pick 1; }
pick_language() {  # pick_language <number of Down keys>
  open_menu Left Left
  pick "$1"
}
SPANISH=2
FRENCH=3

# close_window <user> <name>: Exit; dismisses a message window titled
# "MqTool" shown at close (Return on its OK button, once it has the
# keyboard focus) and says whether there was one (0 = one appeared).
MESSAGE_SEEN=1
BOX=""
box_or_end() {
  BOX=$(others "$(windows_of "$APP_PID" '^MqTool$')" | head -1)
  [ -n "$BOX" ] || ! e2e_alive "$APP_PID"
}
box_gone() { [ -z "$(others "$(windows_of "$APP_PID" '^MqTool$')")" ]; }
app_ended() { ! e2e_alive "$APP_PID"; }
close_window() {  # close_window <user> <name>
  local u=$1 name=$2
  MESSAGE_SEEN=1
  shot "$name"
  focus_window "$WIN" || fail "$u: the window does not take the keyboard focus"
  e2e_keys F10 Return
  while wait_until 60 box_or_end && [ -n "$BOX" ]; do
    if [ "$MESSAGE_SEEN" = 1 ]; then
      MESSAGE_SEEN=0
      shot "$name-message"
    fi
    if focus_window "$BOX"; then timeout 10 xdotool key Return 2>/dev/null || true; fi
    wait_until 30 box_gone || { shot "$name-box-stays"; fail "$u: the message at close did not go on Return"; }
  done
  wait_until 60 app_ended || { shot "$name-hung"; fail "$u: the window did not close"; }
  local rc=0
  wait "$APP_PID" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$APP_LOG" >&2; fail "$u: mqtool ended with $rc"; }
}

ini_language() { sed -n 's/^Language=//p' "$INI" | tr -d '\r'; }

# A close that kept the settings reports nothing.
no_failure_reported() {
  [ "$MESSAGE_SEEN" = 1 ] || fail "$1: a message window at close (see $2-message.png)"
  if grep -qF "MqTool.ini" "$APP_LOG"; then fail "$1: $(cat "$APP_LOG")"; fi
}

# Did the window report, at close, that the settings could not be written?
save_failure_reported() {
  if [ "$MESSAGE_SEEN" -eq 0 ]; then return 0; fi
  [ "$STRICT" = 1 ] && return 1
  grep -qF "MqTool.ini" "$APP_LOG"
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
# The window's Full Scan, followed in the simulator's trace: it has found the
# station when the simulator answered its identification query and pad 3
# its registration poll, and is through with the pads when it has polled
# the last address (c).
trace_lines() { wc -l <"$OUT/sim-$U_IN.log"; }
in_trace_since() { tail -n +"$(($1 + 1))" "$OUT/sim-$U_IN.log" | grep -q -- "$2"; }
scan_found() { in_trace_since "$1" 'base>host - ok ER_CMD#T3ER400TRS' && in_trace_since "$1" '^[0-9]* pad>base 3 ok'; }
scan_through() { scan_found "$1" && in_trace_since "$1" '^[0-9]* host>base - ok <STX>c'; }

start_window "$U_IN" "window-$U_IN-1"
# A second try when the first finds nothing (a stall of the simulator on a
# busy machine can outlast the window's wait for a reply); a fault of the
# window fails both.
for try in 1 2; do
  mark=$(trace_lines)
  full_scan
  if wait_until 120 scan_through "$mark"; then break; fi
  shot "window-$U_IN-scan-$try"
  echo "deb-test: $U_IN: Full Scan, try $try: no station found; marq-sim's trace since:" >&2
  tail -n +"$((mark + 1))" "$OUT/sim-$U_IN.log" | head -40 | sed 's/^/  /' >&2
  [ "$try" = 2 ] && fail "$U_IN: the window's Full Scan did not find the station"
done
pick_language $SPANISH
close_window "$U_IN" "window-$U_IN-1"
no_failure_reported "$U_IN" "window-$U_IN-1"
[ -f "$INI" ] || fail "$U_IN: $INI was not written"
[ "$(ini_language)" = 5 ] || fail "$U_IN: Language=$(ini_language) after picking Español, not 5"
[ "$(stat -c %G "$INI")" = dialout ] || fail "$INI: group $(stat -c %G "$INI"), not dialout"
if [ "$STRICT" = 1 ]; then
  [ "$(stat -c %a "$INI")" = 664 ] || fail "$INI: mode $(stat -c %a "$INI"), not 664"
fi
# The program replaces the file as a whole: a new write is a new file.
first_write=$(stat -c '%i %.9Y' "$INI")

start_window "$U_IN" "window-$U_IN-2"
close_window "$U_IN" "window-$U_IN-2"
no_failure_reported "$U_IN" "window-$U_IN-2"
[ "$(stat -c '%i %.9Y' "$INI")" != "$first_write" ] || fail "$U_IN: the second close did not write $INI"
[ "$(ini_language)" = 5 ] || fail "$U_IN: the language was not kept (Language=$(ini_language))"
stop_sim
[ -e "$DATA/ports" ] && fail "marq-sim left $DATA/ports behind"

# Outside dialout again, with settings kept by the other user: they are read
# but not changed.
outsider_run second
[ "$(ini_language)" = 5 ] || fail "the settings changed after $U_OUT's run"

T_USERS=$(date +%s)

# ---- purge -------------------------------------------------------------------
step "links planted by $U_IN, removing the users and purging the package"
as_member ln -s "$SECRET" "$DATA/MqTool.sib"
as_member ln -s "$SECRET_DIR" "$DATA/outside"
as_member mkdir -p "$DATA/deep/er"
as_member ln -s "$SECRET_DIR/kept" "$DATA/deep/er/kept"
e2e_stop_xvfb
PIDS=()
for u in "$U_IN" "$U_OUT"; do
  uid=$(id -u "$u")
  userdel -r "$u" 2>/dev/null || fail "userdel $u"
  remove_temporary_files "$uid"
done
DEBIAN_FRONTEND=noninteractive apt-get purge -y mqtool >"$OUT/purge.log" 2>&1 || { cat "$OUT/purge.log"; fail "apt-get purge"; }

dpkg-query -W -f='${Status}' mqtool 2>/dev/null | grep -q 'installed' && fail "mqtool is still installed"
[ -e /var/lib/Corvane ] && fail "/var/lib/Corvane is still there"
secret_unchanged "the purge"
[ -f "$SECRET_DIR/kept" ] || fail "the purge removed $SECRET_DIR/kept, which a planted link pointed to"
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
