#!/usr/bin/env bash
# Builds MqTool and runs it. Without radio hardware it starts marq-sim, the
# simulated base station with six pads, on COM 3 and points the program at it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

DATA_FOLDER=$(grep -E '^MQ_DATA_ROOT:' "$BUILD_DIR/CMakeCache.txt" | cut -d= -f2)/Corvane/Ledgerkit
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ! -d "$DATA_FOLDER" ]; then
  echo "Creating the data folder $DATA_FOLDER"
  $SUDO mkdir -p "$DATA_FOLDER"
  $SUDO chmod 1777 "$DATA_FOLDER"
fi

SIM="$BUILD_DIR/sim/marq-sim"
APP="$BUILD_DIR/app/mqtool"
CLI="$BUILD_DIR/padlink/mqtool-cli"
SIM_PID=""
cleanup() { if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi; }
trap cleanup EXIT

if [ -x "$SIM" ] && [ -z "${MQ_NO_SIM:-}" ]; then
  echo "Starting marq-sim on COM3 with pads 0,1,2,3,4,5 (set MQ_NO_SIM=1 to use real hardware)"
  "$SIM" --com 3 --data-folder "$DATA_FOLDER" --pads 0,1,2,3,4,5 --awards auto &
  SIM_PID=$!
  sleep 1
fi

if [ -x "$APP" ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running under Xvfb"
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
  echo "Nothing to run yet: the program is still being built up."
fi
