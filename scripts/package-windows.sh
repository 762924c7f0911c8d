#!/usr/bin/env bash
# Builds the Windows release of the Marq Utility, one command from a clean
# clone on a Debian machine:
#
#   bash scripts/package-windows.sh
#
# -> dist/MqTool-<version>-setup.exe   NSIS installer (64-bit)
#    dist/MqTool-<version>-portable.zip  the same programs, unpack and run
#
# Installs what it needs (NSIS, zip, the MinGW-w64 toolchain), builds the
# static Qt for Windows once (scripts/build-qt-mingw.sh, cached under
# ~/.cache/mqtool), cross-builds mqtool.exe and mqtool-cli.exe (static: no
# DLL beside them) and packs them with the user guide and the licences.
# The version and publisher are the program files' own (version/).
#
#   BUILD_DIR   cross build folder (default build-win-app; scripts/cross-windows.sh
#               with MQ_WINDOWS_APP=1 builds the same folder the same way)
#   DIST_DIR    output folder (default dist)
#   JOBS        parallel compile jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
start=$(date +%s)

BUILD_DIR=${BUILD_DIR:-build-win-app}
DIST_DIR=${DIST_DIR:-dist}
JOBS=${JOBS:-2}

PACKAGES=(nsis zip g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest cmake ninja-build
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev python3)
bash scripts/deps.sh --only "${PACKAGES[@]}"

qt=$(JOBS="$JOBS" bash scripts/build-qt-mingw.sh | tail -n1)
qt_done=$(date +%s)

# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64-qt.cmake" -DMQ_QT_MINGW_PREFIX="$qt" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMQ_WERROR=ON -DMQ_BUILD_APP=ON -DMQ_BUILD_BENCH=OFF \
  ${MQ_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS" --target mqtool mqtool-cli
built=$(date +%s)

nsh="$root/$BUILD_DIR/version/installer_version.nsh"
version=$(sed -n 's/^!define MQ_VERSION "\(.*\)"$/\1/p' "$nsh")
[ -n "$version" ] || { echo "package-windows: no version in $nsh" >&2; exit 1; }

# The files as installed, stripped of their debugging data.
stage="$root/$BUILD_DIR/package-stage"
rm -rf "$stage"
mkdir -p "$stage/guide" "$stage/licences"
strip=x86_64-w64-mingw32-strip
$strip -o "$stage/mqtool.exe" "$BUILD_DIR/app/mqtool.exe"
$strip -o "$stage/mqtool-cli.exe" "$BUILD_DIR/padlink/mqtool-cli.exe"
cp -r docs/guide/. "$stage/guide/"
cp app/resources/mqtool.ico "$stage/"
# The program's own terms (the same text the Debian package carries).
sed 's/$/\r/' packaging/deb/copyright >"$stage/licences/MqTool-copyright.txt"
# The programs contain Qt, statically linked (LGPL 3, which builds on the
# GPL 3), and the third-party code Qt bundles: their licence texts and
# Debian's record of which licence covers which part of that source.
qt_src=$(find "$(dirname "$qt")" -maxdepth 2 -type d -name 'qt6-base-*' | head -n1)
for f in LICENSES/LGPL-3.0-only.txt LICENSES/GPL-3.0-only.txt debian/copyright; do
  if [ -z "$qt_src" ] || [ ! -f "$qt_src/$f" ]; then
    echo "package-windows: Qt's licence text $f not found beside $qt (run scripts/build-qt-mingw.sh)" >&2
    exit 1
  fi
done
sed 's/$/\r/' "$qt_src/LICENSES/LGPL-3.0-only.txt" >"$stage/licences/Qt-LGPL-3.0.txt"
sed 's/$/\r/' "$qt_src/LICENSES/GPL-3.0-only.txt" >"$stage/licences/Qt-GPL-3.0.txt"
sed 's/$/\r/' "$qt_src/debian/copyright" >"$stage/licences/Qt-copyright.txt"
sed 's/$/\r/' >"$stage/README.txt" <<EOF
Marq Utility (MqTool) $version

mqtool.exe      the window: finds the base station, lights the judge pads,
                runs test dives and the echo test
mqtool-cli.exe  the same operations from a command prompt (mqtool-cli --help)
guide\\index.html  the user guide (also under Help in the window)
licences\\       licence texts

Settings (MqTool.ini) and the optional translation file (MqTool.sib) live in
%ProgramData%\\Corvane\\Ledgerkit\\. The installer creates that folder; with the
portable zip, create it yourself once (the program never creates it).
EOF
size_kb=$(du -sk "$stage" | cut -f1)

mkdir -p "$DIST_DIR"
setup="$root/$DIST_DIR/MqTool-$version-setup.exe"
makensis -V2 -NOCD -DMQ_VERSION_NSH="$nsh" -DMQ_STAGE="$stage" -DMQ_OUTFILE="$setup" -DMQ_SIZE_KB="$size_kb" \
  packaging/windows/mqtool.nsi

zipfile="$root/$DIST_DIR/MqTool-$version-portable.zip"
rm -f "$zipfile"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$stage" "$tmp/MqTool-$version"
rm -f "$tmp/MqTool-$version/mqtool.ico"
(cd "$tmp" && zip -q -r -X "$zipfile" "MqTool-$version")
done_at=$(date +%s)

ls -l "$setup" "$zipfile"
echo "package-windows: Qt $((qt_done - start)) s, cross build $((built - qt_done)) s," \
     "packing $((done_at - built)) s, total $((done_at - start)) s"
