#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
#   BUILD_DIR      build folder (default: build)
#   MQ_CMAKE_ARGS  extra CMake arguments (e.g. -DMQ_SANITIZE=ON)
#   CC, CXX        the compilers (e.g. CC=clang CXX=clang++); a build folder
#                  configured with another compiler is configured afresh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

BUILD_DIR=${BUILD_DIR:-build}
# CMake reads CC and CXX only when it first configures a folder: a folder left
# by a build with another compiler would silently keep that compiler.
FRESH=()
if [ -n "${CXX:-}" ] && [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cached=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt")
  if [ "$cached" != "$(command -v "$CXX")" ]; then FRESH=(--fresh); fi
fi
# shellcheck disable=SC2086
cmake "${FRESH[@]}" -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMQ_WERROR=ON ${MQ_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 --timeout 900
