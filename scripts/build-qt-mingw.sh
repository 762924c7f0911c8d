#!/usr/bin/env bash
# Builds a static Qt 6 for 64-bit Windows (MinGW-w64) from Debian's source
# archive, once, into a cache folder outside the tree; later runs reuse it.
#
#   bash scripts/build-qt-mingw.sh          # builds if needed, prints the prefix
#   bash scripts/build-qt-mingw.sh --describe
#       prints how that Qt is built (source package, configure command,
#       compiler) without building anything; the release records it beside
#       Qt's source
#
#   MQ_QT_CACHE   cache root (default: ~/.cache/mqtool)
#   MQ_QT_SOURCE  a Qt source tree to build instead of Debian's (a modified
#                 Qt, to relink the programs against it); its prefix is kept
#                 apart from the one built from Debian's source
#   JOBS          parallel compile jobs (default: 2)
#
# The prefix is <cache>/qt-mingw-<Qt version>-<hash of the configure options>,
# so a change of options builds a new Qt beside the old one instead of mixing
# the two. Debian ships Qt 6.4.2 for the host; the sources are the same
# version, which matters because the cross build runs the host's moc, rcc and
# uic (-qt-host-path /usr).
#
# The last line on stdout is the install prefix; progress goes to stderr.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

CACHE=${MQ_QT_CACHE:-$HOME/.cache/mqtool}
JOBS=${JOBS:-2}
log() { echo "build-qt-mingw: $*" >&2; }

# Features the programs and their tests do not use are off: fewer build
# steps, smaller executables. Testlib stays (the window's test suites).
# tabletevent must be off: Debian's repacked source has no wintab headers.
# direct2d must stay on: QtGui builds the DirectWrite font database only with
# it, while the Windows platform plugin uses that database whenever
# directwrite3 is on (without it mqtool.exe fails to link).
QT_OPTIONS=(
  -static -release -opensource -confirm-license -nomake examples -nomake tests
  -no-opengl -no-dbus -no-feature-sql -no-feature-network
  -no-feature-printsupport -no-feature-concurrent -no-feature-xml
  -no-feature-tabletevent -no-feature-vulkan
  -no-feature-jpeg -no-feature-gif -no-feature-sessionmanager
)
# Bump when the recipe changes in a way the options do not show.
RECIPE=1
key_input=("recipe $RECIPE" "${QT_OPTIONS[@]}")
if [ -n "${MQ_QT_SOURCE:-}" ]; then
  MQ_QT_SOURCE=$(cd "$MQ_QT_SOURCE" && pwd)
  key_input+=("source $MQ_QT_SOURCE")
fi
key=$(printf '%s\n' "${key_input[@]}" | sha256sum | cut -c1-12)
CROSS_CXX=x86_64-w64-mingw32-g++-posix

if [ "${1:-}" = "--describe" ]; then
  qt_package=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || echo unknown)
  echo "Qt for Windows as MqTool's release links it statically"
  echo
  if [ -n "${MQ_QT_SOURCE:-}" ]; then
    echo "Source: the tree $MQ_QT_SOURCE (not Debian's)"
  else
    echo "Source: Debian's source package qt6-base $qt_package (qt6-base_*.dsc with the two"
    echo "archives it lists), unpacked with its patches applied: dpkg-source -x qt6-base_*.dsc"
  fi
  echo
  echo "Configure, run in an empty build folder:"
  echo "  <source>/configure -prefix <prefix> -xplatform win32-g++ -qt-host-path /usr \\"
  echo "    ${QT_OPTIONS[*]} \\"
  echo "    -- -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \\"
  echo "       -DCMAKE_TOOLCHAIN_FILE=<MqTool source>/cmake/mingw-w64-x86_64.cmake \\"
  echo "       -DCMAKE_CROSSCOMPILING_EMULATOR="
  echo "Build and install: ninja; ninja install"
  echo
  echo "Compiler: $($CROSS_CXX --version 2>/dev/null | head -n1 || echo "$CROSS_CXX (not installed)")"
  for p in g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev cmake ninja-build; do
    echo "  Debian package $p $(dpkg-query -W -f='${Version}' "$p" 2>/dev/null || echo '(not installed)')"
  done
  echo "Host tools (moc, rcc, uic): Debian's qt6-base-dev-tools $(dpkg-query -W -f='${Version}' qt6-base-dev-tools 2>/dev/null || echo '(not installed)')"
  echo
  echo "Toolchain file cmake/mingw-w64-x86_64.cmake:"
  sed 's/^/  /' "$repo/cmake/mingw-w64-x86_64.cmake"
  exit 0
fi

PACKAGES=(
  dpkg-dev xz-utils perl cmake ninja-build
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  qt6-base-dev qt6-base-dev-tools
)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "installing: ${missing[*]}"
  $SUDO apt-get -o DPkg::Lock::Timeout=900 update >&2
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 \
    install -y --no-install-recommends "${missing[@]}" >&2
fi

host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev | sed -E 's/^[0-9]+://; s/[+~-].*//')
prefix="$CACHE/qt-mingw-$host_version-$key"
if [ -f "$prefix/.complete" ]; then
  log "reusing $prefix"
  echo "$prefix"
  exit 0
fi

mkdir -p "$CACHE"
# One build at a time per cache (a second run waits, then reuses it).
exec 8>"$CACHE/.lock"
flock 8
if [ -f "$prefix/.complete" ]; then
  log "reusing $prefix"
  echo "$prefix"
  exit 0
fi
src_root="$CACHE/qt-src-$host_version"
src=$(find "$src_root" -maxdepth 1 -type d -name 'qt6-base-*' 2>/dev/null | head -n1 || true)
if [ -n "${MQ_QT_SOURCE:-}" ]; then
  src=$MQ_QT_SOURCE
  [ -x "$src/configure" ] || { log "MQ_QT_SOURCE=$src has no configure script"; exit 1; }
elif [ -z "$src" ] || [ ! -x "$src/configure" ]; then
  # A deb-src entry with the same URIs and suites as the machine's deb
  # entries, in a file of this project's own name.
  list=/etc/apt/sources.list.d/mqtool-src.sources
  if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
    tmp=$(mktemp)
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$tmp"
    elif [ -f /etc/apt/sources.list ]; then
      grep -E '^deb ' /etc/apt/sources.list | sed -E 's/^deb /deb-src /' >"$tmp"
      list=/etc/apt/sources.list.d/mqtool-src.list
    else
      log "no Debian sources found to derive a deb-src entry from"; exit 1
    fi
    $SUDO install -m 644 "$tmp" "$list"
    rm -f "$tmp"
    log "added $list"
    $SUDO apt-get -o DPkg::Lock::Timeout=900 update >&2
  fi
  rm -rf "$src_root"
  mkdir -p "$src_root"
  (cd "$src_root" && apt-get source "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)" >&2)
  src=$(find "$src_root" -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)
  [ -x "$src/configure" ] || { log "no Qt source found in $src_root"; exit 1; }
fi
log "source: $src"

build="$CACHE/qt-mingw-build-$host_version-$key"
mkdir -p "$build"
started=$(date +%s)
if [ ! -f "$build/build.ninja" ]; then
  (cd "$build" && "$src/configure" -prefix "$prefix" -xplatform win32-g++ -qt-host-path /usr \
     "${QT_OPTIONS[@]}" \
     -- -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_CROSSCOMPILING_EMULATOR= >&2)
fi
configured=$(date +%s)
ninja -C "$build" -j"$JOBS" >&2
built=$(date +%s)
ninja -C "$build" install >/dev/null
touch "$prefix/.complete"
log "configure $((configured - started)) s, build $((built - configured)) s"
# The build folder is only needed until the install is complete.
rm -rf "$build"
echo "$prefix"
