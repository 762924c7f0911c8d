#!/usr/bin/env bash
# Builds a static Qt 6 for 64-bit Windows (MinGW-w64) from Debian's source
# archive, once, into a cache folder outside the tree; later runs reuse it.
#
#   bash scripts/build-qt-mingw.sh          # builds if needed, prints the prefix
#
#   MQ_QT_CACHE   cache root (default: ~/.cache/mqtool)
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
key=$(printf '%s\n' "recipe $RECIPE" "${QT_OPTIONS[@]}" | sha256sum | cut -c1-12)

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
if [ -z "$src" ] || [ ! -x "$src/configure" ]; then
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
