#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
#   BUILD_DIR      build folder (default: build, or the preset's)
#   MQ_CMAKE_ARGS  extra CMake arguments (e.g. -DMQ_SANITIZE=ON)
#   MQ_PRESET      a configure preset of CMakePresets.json (e.g. asan)
#                  instead of the default flags
#   CC, CXX        the compilers (e.g. CC=clang CXX=clang++); a build folder
#                  configured with another compiler is configured afresh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

# shellcheck disable=SC2206 # MQ_CMAKE_ARGS is a list of arguments, split on spaces
extra=(${MQ_CMAKE_ARGS:-})
if [ -n "${MQ_PRESET:-}" ]; then
  if [ -n "${BUILD_DIR:-}" ]; then extra=(-B "$BUILD_DIR" "${extra[@]}"); fi
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  cmake --preset "$MQ_PRESET" "${extra[@]}" | tee "$log"
  # The folder the preset (or BUILD_DIR) put the build in, as CMake says.
  BUILD_DIR=$(sed -n 's/^-- Build files have been written to: //p' "$log" | tail -n1)
  [ -n "$BUILD_DIR" ] || { echo "test.sh: cmake --preset $MQ_PRESET named no build folder" >&2; exit 1; }
else
  BUILD_DIR=${BUILD_DIR:-build}
  # CMake reads CC and CXX only when it first configures a folder: a folder left
  # by a build with another compiler would silently keep that compiler.
  fresh=()
  if [ -n "${CXX:-}" ] && [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cached=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")
    if [ "$cached" != "$(command -v "$CXX")" ]; then fresh=(--fresh); fi
  fi
  cmake "${fresh[@]}" -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMQ_WERROR=ON "${extra[@]}"
fi
cmake --build "$BUILD_DIR" -j"$(nproc)"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 --timeout 900
