# shellcheck shell=bash
# Helpers of the end-to-end scripts (deb-test.sh, wine-gui-e2e.sh,
# wine-e2e.sh, echo-report-screenshot.sh, render-html.sh): failing with a
# message, bounded waits, marq-sim started and waited for, a display of its
# own under Xvfb, key presses and screenshots, a headless browser.
#
#   source "$(dirname "${BASH_SOURCE[0]}")/lib/e2e.sh"
#   e2e_init NAME OUT_DIR
#
# Sourced, never run. Every wait is bounded; nothing here sleeps for a
# fixed time in place of waiting for what it needs. The functions set the
# shell variables named below (E2E_*) and, after e2e_start_xvfb, DISPLAY.

# e2e_init <name> <out folder>: the name that starts every message and the
# folder of logs and screenshots (Xvfb's log goes there as xvfb.log).
e2e_init() {
  E2E_NAME=$1
  E2E_OUT=$2
  E2E_FAILED=0
  E2E_POLL=${E2E_POLL:-0.1}
  E2E_XVFB_PID=""
  E2E_SIM_PID=""
}

# e2e_fail <message...>: prints "<name>: <message>" and Xvfb's log, if there
# is one, on standard error; exits with 1.
e2e_fail() {
  echo "$E2E_NAME: $*" >&2
  if [ -s "$E2E_OUT/xvfb.log" ]; then
    echo "$E2E_NAME: Xvfb's log ($E2E_OUT/xvfb.log):" >&2
    sed 's/^/  Xvfb: /' "$E2E_OUT/xvfb.log" >&2
  fi
  exit 1
}

# e2e_check <description> <status>: prints "ok" or "FAILED" with the
# description (status 0 is ok); a failure sets E2E_FAILED to 1 and goes on.
e2e_check() {
  if [ "$2" = 0 ]; then echo "  ok: $1"; else echo "  FAILED: $1"; E2E_FAILED=1; fi
}

# e2e_passed: 0 when every e2e_check held. The last command of a script, so
# that its status is the script's (under set -e a failure ends it with 1).
e2e_passed() { [ "$E2E_FAILED" = 0 ]; }

# e2e_alive <pid>: the process runs (an ended child stays a zombie until it
# is waited for, and kill -0 still finds that).
e2e_alive() {
  local st
  st=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ $st != Z* ]]
}

# e2e_wait_for <seconds> <command...>: runs the command (its output
# dropped) every E2E_POLL seconds until it succeeds: 0, or 1 once the
# seconds have passed. The command runs in this shell, so a function may
# set variables.
e2e_wait_for() {
  local limit=$(($(date +%s) + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep "$E2E_POLL"
  done
}

# e2e_stop <pid>: ends the process (TERM) and waits for it; nothing when it
# has gone or the pid is empty.
e2e_stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# ---- marq-sim --------------------------------------------------------------

# e2e_start_sim <com> <stdout file> <stderr file, or - for stdout's> <command...>:
# starts the command (marq-sim, or a function that runs it, such as one that
# changes user) in the background with no standard input, E2E_SIM_PID its
# pid, and waits for marq-sim's line "marq-sim: COM<com> -> <device>", which
# it prints once it has bound the port. 0 when it has; 1 when marq-sim ended
# first or a minute passed.
e2e_start_sim() {
  local com=$1 out=$2 err=$3
  shift 3
  if [ "$err" = - ]; then
    "$@" </dev/null >"$out" 2>&1 &
  else
    "$@" </dev/null >"$out" 2>"$err" &
  fi
  E2E_SIM_PID=$!
  e2e_wait_for 60 _e2e_sim_ready_or_ended "$com" "$out" || true
  grep -q "^marq-sim: COM$com -> " "$out"
}
_e2e_sim_ready_or_ended() { grep -q "^marq-sim: COM$1 -> " "$2" || ! e2e_alive "$E2E_SIM_PID"; }

# e2e_stop_sim: ends the simulator e2e_start_sim started.
e2e_stop_sim() {
  e2e_stop "$E2E_SIM_PID"
  E2E_SIM_PID=""
}

# e2e_native_build <build folder> <jobs> <target...>: the native programs the
# Wine scripts run beside the Windows ones (configured on first use, without
# the window, tests or benchmarks).
e2e_native_build() {
  local dir=$1 jobs=$2
  shift 2
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMQ_BUILD_APP=OFF -DMQ_BUILD_TESTS=OFF -DMQ_BUILD_BENCH=OFF >/dev/null
  fi
  cmake --build "$dir" -j"$jobs" --target "$@" >/dev/null
}

# e2e_wine_com <com> <data folder of marq-sim>: maps COM<com> of the Wine
# prefix ($WINEPREFIX) to the pseudo-terminal marq-sim bound there.
e2e_wine_com() {
  ln -sfn "$(readlink -f "$2/ports/COM$1")" "$WINEPREFIX/dosdevices/com$1"
}

# ---- the display -----------------------------------------------------------

# e2e_start_xvfb <width>x<height>x<depth> [Xvfb options...]: a display of its
# own on a free number (Xvfb writes it to fd 3), log in $E2E_OUT/xvfb.log,
# E2E_XVFB_PID its pid, DISPLAY exported; the pointer is moved to the
# bottom-right corner, away from the windows (a tooltip under it would be
# one more window). -noreset: by default the server resets when its last
# client goes, and a client that connects during the reset is refused.
# Fails when the server does not start.
e2e_start_xvfb() {
  local screen=$1
  shift
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset "$@" 3>"$E2E_OUT/display" >"$E2E_OUT/xvfb.log" 2>&1 &
  E2E_XVFB_PID=$!
  e2e_wait_for 30 _e2e_xvfb_up || true
  [ -s "$E2E_OUT/display" ] || e2e_fail "Xvfb did not start"
  DISPLAY=:$(head -n1 "$E2E_OUT/display")
  export DISPLAY
  local w h
  read -r w h < <(xdotool getdisplaygeometry)
  xdotool mousemove "$((w - 1))" "$((h - 1))"
}
_e2e_xvfb_up() { [ -s "$E2E_OUT/display" ] || ! e2e_alive "$E2E_XVFB_PID"; }

# e2e_display_alive <before what>: fails unless the server runs and answers.
e2e_display_alive() {
  e2e_alive "$E2E_XVFB_PID" || e2e_fail "Xvfb ended before $1"
  timeout 20 xdotool getdisplaygeometry >/dev/null 2>&1 || e2e_fail "the display $DISPLAY does not answer before $1"
}

# e2e_stop_xvfb: ends the server.
e2e_stop_xvfb() {
  e2e_stop "$E2E_XVFB_PID"
  E2E_XVFB_PID=""
}

# e2e_shot <name>: the whole screen as $E2E_OUT/<name>.png; says so when it
# cannot (a screenshot never fails the run).
e2e_shot() {
  import -window root "$E2E_OUT/$1.png" 2>/dev/null || echo "  (no screenshot $1)"
}

# e2e_windows [xdotool search options...] <title pattern>: the mapped windows
# with that title, one id a line; the status is 1 when there is none (so
# `e2e_wait_for 60 e2e_windows NAME` waits for one).
e2e_windows() { xdotool search --onlyvisible "${@:1:$#-1}" --name "${!#}" 2>/dev/null; }

# e2e_focus <window>: gives it the keyboard focus and waits until it has it;
# 1 when that does not happen within 20 s.
e2e_focus() { timeout 20 xdotool windowfocus --sync "$1" >/dev/null 2>&1; }

# e2e_keys <key...>: presses the keys, in order, where the focus is.
e2e_keys() { xdotool key "$@"; }

# e2e_pick <n>: in an open menu, n times Down, then Return.
e2e_pick() {
  local keys=()
  for _ in $(seq 1 "$1"); do keys+=(Down); done
  xdotool key "${keys[@]}" Return
}

# ---- the browser -----------------------------------------------------------

# e2e_browser: the headless browser (CHROMIUM, else Debian's chromium) in
# E2E_BROWSER; fails with a hint when there is none.
e2e_browser() {
  E2E_BROWSER=${CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
  [ -n "$E2E_BROWSER" ] || e2e_fail "chromium is not installed (bash scripts/deps.sh chromium)"
}

# e2e_render <url> <png> <pdf> <dom file> <scratch folder>: the page as a
# person sees it: a picture at A4 width and 150 dots per inch, a PDF printed
# on A4, and the document the browser built. The browser's messages go to
# shot.err, pdf.err and dom.err in the scratch folder, which also holds the
# browser's home and profile. The browser runs without its sandbox, which
# refuses to start as root.
e2e_render() {
  local url=$1 png=$2 pdf=$3 dom=$4 work=$5
  mkdir -p "$work/home"
  local flags=(--headless --disable-gpu --no-sandbox --hide-scrollbars --no-first-run --disable-extensions
               --user-data-dir="$work/profile")
  HOME="$work/home" "$E2E_BROWSER" "${flags[@]}" --window-size=1240,1754 --screenshot="$png" "$url" 2>"$work/shot.err"
  HOME="$work/home" "$E2E_BROWSER" "${flags[@]}" --no-pdf-header-footer --print-to-pdf="$pdf" "$url" 2>"$work/pdf.err"
  HOME="$work/home" "$E2E_BROWSER" "${flags[@]}" --dump-dom "$url" >"$dom" 2>"$work/dom.err"
}
