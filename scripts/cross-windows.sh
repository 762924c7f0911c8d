#!/usr/bin/env bash
# Cross-builds everything that does not need Qt for 64-bit Windows with
# Debian's MinGW-w64 and runs the unit tests under Wine. One command from a
# clean clone:
#
#   bash scripts/cross-windows.sh
#
#   BUILD_DIR        build folder (default: build-win); its wineprefix/ is
#                    the Wine prefix the tests run in
#   JOBS             parallel compile jobs (default: 2)
#   MQ_CMAKE_ARGS    extra CMake arguments
#   MQ_CROSS_SKIP    CTest regex of tests not to run under Wine (default:
#                    none; tests that need the build machine's own tools are
#                    registered HOST_ONLY and not built for Windows)
#   MQ_WINE_E2E      0: skip the end-to-end run of scripts/wine-e2e.sh
#                    (mqtool-cli.exe under Wine against marq-sim; it builds
#                    the native marq-sim and mqtool-cli in build-e2e-native)
#   MQ_WINDOWS_APP   1: the window too: builds the static Qt for Windows
#                    (scripts/build-qt-mingw.sh, cached), cross-builds the
#                    window and runs its offscreen test suites under Wine,
#                    then packs the installer (scripts/package-windows.sh),
#                    checks that the release may be passed on (Qt's source
#                    and notice beside it: scripts/check-windows-dist.sh)
#                    and runs it end to end (scripts/wine-gui-e2e.sh). The
#                    build folder is then build-win-app by default.
#
# Console programs need no display: Wine runs without X.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$(date +%s)

PACKAGES=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
  wine wine64 python3 cmake ninja-build
  libcli11-dev nlohmann-json3-dev
)
if [ "${MQ_WINDOWS_APP:-0}" = 1 ]; then
  PACKAGES+=(qt6-base-dev qt6-svg-dev nsis zip unzip xvfb xauth xdotool imagemagick)
fi
bash scripts/deps.sh --only "${PACKAGES[@]}"
installed=$(date +%s)

MQ_WINDOWS_APP=${MQ_WINDOWS_APP:-0}
JOBS=${JOBS:-2}
MQ_CROSS_SKIP=${MQ_CROSS_SKIP-}
if [ "$MQ_WINDOWS_APP" = 1 ]; then
  BUILD_DIR=${BUILD_DIR:-build-win-app}
  qt=$(JOBS="$JOBS" bash scripts/build-qt-mingw.sh | tail -n1)
  target=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64-qt.cmake" -DMQ_QT_MINGW_PREFIX="$qt" -DMQ_BUILD_APP=ON)
else
  BUILD_DIR=${BUILD_DIR:-build-win}
  target=(-DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DMQ_BUILD_APP=OFF)
fi
qt_built=$(date +%s)

# shellcheck disable=SC2086 # MQ_CMAKE_ARGS is a list of arguments, split on spaces
cmake -S . -B "$BUILD_DIR" -G Ninja "${target[@]}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMQ_WERROR=ON -DMQ_BUILD_BENCH=OFF \
  ${MQ_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$JOBS"
built=$(date +%s)

# Stop this prefix's wineserver (and nothing else) when done.
cleanup() { WINEPREFIX="$PWD/$BUILD_DIR/wineprefix" wineserver -k 2>/dev/null || true; }
trap cleanup EXIT

skip=()
if [ -n "$MQ_CROSS_SKIP" ]; then skip=(-E "$MQ_CROSS_SKIP"); fi
status=0
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 --timeout 900 "${skip[@]}" || status=$?
tested=$(date +%s)

if [ "${MQ_WINE_E2E:-1}" != 0 ]; then
  WINEPREFIX="$PWD/$BUILD_DIR/wineprefix" wineserver -k 2>/dev/null || true
  BUILD_DIR="$BUILD_DIR" JOBS="$JOBS" bash scripts/wine-e2e.sh || status=$?
fi
e2e_done=$(date +%s)
if [ "$MQ_WINDOWS_APP" = 1 ]; then
  BUILD_DIR="$BUILD_DIR" JOBS="$JOBS" bash scripts/package-windows.sh || status=$?
  BUILD_DIR="$BUILD_DIR" bash scripts/check-windows-dist.sh || status=$?
  BUILD_DIR="$BUILD_DIR" JOBS="$JOBS" bash scripts/wine-gui-e2e.sh || status=$?
fi
done_at=$(date +%s)

echo "cross-windows: install $((installed - start)) s, Qt $((qt_built - installed)) s," \
     "configure+build $((built - qt_built)) s, tests under Wine $((tested - built)) s," \
     "end to end $((e2e_done - tested)) s, installer and its Wine run $((done_at - e2e_done)) s," \
     "total $((done_at - start)) s"
[ "$status" = 0 ] || exit "$status"
