#!/usr/bin/env bash
# Builds MqTool and runs it. Without radio hardware (no USB serial adapter
# attached) it starts marq-sim, the simulated base station with six pads and
# automatic awards, on COM 3 and points the program at it: pick Scans / Full
# Scan and the six judge lights come on; Next Dive brings the judges' awards.
#
#   BUILD_DIR=dir   build folder (default build)
#   MQ_NO_SIM=1     no simulator: use the machine's real serial ports
#   MQ_SIM=1        the simulator even when an adapter is attached
#   MQ_JOIN_DIALOUT=1  without a terminal: join the group dialout without
#                   asking (with a terminal the script asks first)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

BUILD_DIR=${BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" -j"$(nproc)"

# The program's data folder: <MQ_DATA_ROOT>/Corvane/Ledgerkit (the program
# never creates it; settings, the optional translation file and marq-sim's
# ports/ links live there). Set up as the package sets it up: owner root,
# group dialout, mode 2775, so the members of dialout (who may also open the
# serial ports) share the settings.
DATA_ROOT=$(grep -E '^MQ_DATA_ROOT:' "$BUILD_DIR/CMakeCache.txt" | cut -d= -f2-)
DATA_FOLDER=${DATA_ROOT:-/var/lib}/Corvane/Ledgerkit
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ "$(stat -c '%U:%G %a' "$DATA_FOLDER" 2>/dev/null)" != "root:dialout 2775" ]; then
  $SUDO sh packaging/data-folder.sh "$DATA_FOLDER"
fi
# Without the group the settings cannot be kept and the serial ports not
# opened. Joining it changes your account, so the script asks first (on a
# terminal; without one it joins only with MQ_JOIN_DIALOUT=1), then runs
# itself again at once with the group through sg (a new login has it anyway).
if [ "$(id -u)" -ne 0 ] && ! id -nG | grep -qw dialout; then
  echo "You ($(id -un)) are not in the group dialout, which may use the serial ports and keeps MqTool's"
  echo "settings in $DATA_FOLDER. Joining it runs: sudo usermod -aG dialout $(id -un)"
  join=""
  if [ -t 0 ]; then
    read -r -p "Add $(id -un) to the group dialout now? [y/N] " answer
    case "$answer" in [yY]*) join=1 ;; esac
  elif [ "${MQ_JOIN_DIALOUT:-}" = 1 ]; then
    join=1
  else
    echo "No terminal to ask on: set MQ_JOIN_DIALOUT=1 to join without asking."
  fi
  if [ -z "$join" ]; then
    echo "Not joined: run the command above yourself (or answer yes), then run this script again."
    exit 1
  fi
  $SUDO usermod -aG dialout "$(id -un)"
  echo "Joined; this run uses the group through 'sg'."
  exec sg dialout -c "exec bash $(printf '%q ' "$PWD/scripts/run.sh" "$@")"
fi

SIM="$BUILD_DIR/sim/marq-sim"
APP="$BUILD_DIR/app/mqtool"
CLI="$BUILD_DIR/cli/mqtool-cli"
SIM_PID=""
cleanup() { if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi; }
trap cleanup EXIT

adapter_attached() { compgen -G "/dev/ttyUSB*" >/dev/null || compgen -G "/dev/ttyACM*" >/dev/null; }
USE_SIM=1
if [ -n "${MQ_NO_SIM:-}" ]; then
  USE_SIM=""
elif [ -z "${MQ_SIM:-}" ] && adapter_attached; then
  echo "A USB serial adapter is attached: using the real serial ports (MQ_SIM=1 starts marq-sim instead)"
  USE_SIM=""
fi

if [ -x "$SIM" ] && [ -n "$USE_SIM" ]; then
  echo "Starting marq-sim on COM3 with pads 0,1,2,3,4,5 (set MQ_NO_SIM=1 to use real hardware)"
  "$SIM" --com 3 --data-folder "$DATA_FOLDER" --pads 0,1,2,3,4,5 --awards auto </dev/null &
  SIM_PID=$!
  # Ready when its link ports/COM3 exists.
  for _ in $(seq 1 100); do
    if [ -L "$DATA_FOLDER/ports/COM3" ] || ! kill -0 "$SIM_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  if ! kill -0 "$SIM_PID" 2>/dev/null; then
    echo "marq-sim did not start (see its message above)"
    SIM_PID=""
    exit 1
  fi
fi

if [ -x "$APP" ]; then
  echo "Starting MqTool: choose Scans / Full Scan, then Next Dive."
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running under Xvfb (invisible here; log in with a desktop or 'ssh -X' to see the window)"
    xvfb-run -a "$APP"
  else
    "$APP"
  fi
elif [ -x "$CLI" ]; then
  "$CLI" scan --data-folder "$DATA_FOLDER"
elif [ -n "$SIM_PID" ]; then
  echo "marq-sim is running; press Ctrl+C to stop."
  wait "$SIM_PID"
else
  echo "Nothing to run: the build made neither the window program nor mqtool-cli."
  exit 1
fi
