#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with, and
# the extra packages named as arguments; with --only first, just those.
# Skips apt entirely when everything is already installed.
set -euo pipefail

ONLY=0
if [ "${1:-}" = --only ]; then ONLY=1; shift; fi
# clang builds the sanitizer run (its -Wthread-safety checks the lock
# annotations); libclang-rt-dev holds clang's sanitizer runtimes (only a
# recommendation of clang) and llvm its llvm-symbolizer, which names the
# functions in a sanitizer report.
PACKAGES=(
  build-essential cmake ninja-build pkg-config python3 clang libclang-rt-dev llvm
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  qt6-base-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
  xvfb xauth fonts-liberation fonts-wine
  x11-utils
  libqt5serialport5-dev
  libcli11-dev nlohmann-json3-dev
  libxml2-utils
  shellcheck clang-format
)
# Further packages a caller needs (for example the packaging tools).
if [ "$ONLY" = 1 ]; then PACKAGES=(); fi
PACKAGES+=("$@")

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
# Another install on the machine (a second script of ours) holds the lock
# for a while: wait for it instead of failing.
$SUDO apt-get -o DPkg::Lock::Timeout=900 update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y --no-install-recommends "${missing[@]}"
