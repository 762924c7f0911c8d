#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test.
#   BUILD_DIR      build folder (default: build)
#   MQ_CMAKE_ARGS  extra CMake arguments (e.g. -DMQ_SANITIZE=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

BUILD_DIR=${BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMQ_WERROR=ON ${MQ_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j2 --timeout 900
