#!/usr/bin/env bash
# Builds the Windows release of the Marq Utility, one command from a clean
# clone on a Debian machine:
#
#   bash scripts/package-windows.sh
#
# -> dist/MqTool-<version>-setup.exe   NSIS installer (64-bit)
#    dist/MqTool-<version>-portable.zip  the same programs, unpack and run
#    dist/qt6-base_<debian version>.dsc, the .orig and .debian archives it
#         lists, as fetched from Debian: the corresponding source of the Qt
#         that mqtool.exe contains
#    dist/qt6-base_<debian version>_windows-build.txt  how that Qt was built:
#         the configure command and the compiler
#
# Both packages carry LICENSE.txt (MqTool's MIT licence) and THIRD-PARTY.txt
# (the Qt modules and bundled libraries in the programs, their licences,
# where Qt's source is and how to relink against a modified Qt); the
# installer's licence page shows the two, in that order.
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
#   MQ_QT_SOURCE  a modified Qt source tree to build and link instead of
#               Debian's (scripts/build-qt-mingw.sh); the release then says so
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

# shellcheck disable=SC2086 # MQ_CMAKE_ARGS is a list of arguments, split on spaces
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
$strip -o "$stage/mqtool-cli.exe" "$BUILD_DIR/cli/mqtool-cli.exe"
cp -r docs/guide/. "$stage/guide/"
cp app/resources/mqtool.ico "$stage/"
# The program's own terms: beside the programs, and with the other licences.
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
cp "$stage/LICENSE.txt" "$stage/licences/MqTool-copyright.txt"
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

# Qt's corresponding source, as fetched from Debian (the .dsc and the
# archives it lists), and how it was built, go beside the packages.
qt_version=$(sed -n 's/^#define QT_VERSION_STR "\(.*\)"$/\1/p' "$qt/include/QtCore/qconfig.h" 2>/dev/null || true)
[ -n "$qt_version" ] || { echo "package-windows: no QT_VERSION_STR in $qt/include/QtCore/qconfig.h" >&2; exit 1; }
src_dir=$(dirname "$qt_src")
deb_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
dsc="$src_dir/qt6-base_${deb_version#*:}.dsc"
if [ ! -f "$dsc" ]; then
  (cd "$src_dir" && apt-get source --download-only "qt6-base=$deb_version" >&2)
fi
# The files the .dsc lists (its Files section: md5 size name).
mapfile -t qt_archives < <(awk '/^Files:/{f=1;next} /^[^ ]/{f=0} f&&NF==3{print $3}' "$dsc")
[ ${#qt_archives[@]} -ge 2 ] || { echo "package-windows: $dsc lists no archives" >&2; exit 1; }
mkdir -p "$DIST_DIR"
source_files=("$(basename "$dsc")")
cp -p "$dsc" "$DIST_DIR/"
for f in "${qt_archives[@]}"; do
  [ -f "$src_dir/$f" ] || { echo "package-windows: $src_dir/$f (listed in $dsc) is missing" >&2; exit 1; }
  cp -p "$src_dir/$f" "$DIST_DIR/"
  source_files+=("$f")
done
build_record="qt6-base_${deb_version#*:}_windows-build.txt"
bash scripts/build-qt-mingw.sh --describe >"$DIST_DIR/$build_record"
notice_source=${MQ_QT_SOURCE:-$qt_src}
python3 packaging/windows/third_party_notice.py --qt-version "$qt_version" --qt-source "$notice_source" \
  --qt-prefix "$qt" --source-files "$(IFS=,; echo "${source_files[*]}")" --build-record "$build_record" \
  --version "$version" --notice "$stage/THIRD-PARTY.txt" --licences "$stage/licences/Qt-third-party-licences.txt"
# The installer's licence page: our licence, then the third-party notice
# (UTF-8 with a byte-order mark, which the installer reads as such).
licence_page="$root/$BUILD_DIR/package-licence-page.txt"
{ printf '\xef\xbb\xbf'; cat "$stage/LICENSE.txt"; printf '\r\n\r\n'; cat "$stage/THIRD-PARTY.txt"; } >"$licence_page"
sed 's/$/\r/' >"$stage/README.txt" <<EOF
Marq Utility (MqTool) $version

mqtool.exe      the window: finds the base station, lights the judge pads,
                runs test dives and the echo test
mqtool-cli.exe  the same operations from a command prompt (mqtool-cli --help)
guide\\index.html  the user guide (also under Help in the window)
LICENSE.txt     MqTool's licence (MIT)
THIRD-PARTY.txt the Qt libraries in mqtool.exe, their licences, where their
                source is and how to relink against a modified Qt
licences\\       licence texts

Settings (MqTool.ini) and the optional translation file (MqTool.sib) live in
%ProgramData%\\Corvane\\Ledgerkit\\. The installer creates that folder; with the
portable zip, create it yourself once (the program never creates it).
EOF
size_kb=$(du -sk "$stage" | cut -f1)

mkdir -p "$DIST_DIR"
setup="$root/$DIST_DIR/MqTool-$version-setup.exe"
makensis -V2 -NOCD -DMQ_VERSION_NSH="$nsh" -DMQ_STAGE="$stage" -DMQ_OUTFILE="$setup" -DMQ_SIZE_KB="$size_kb" \
  -DMQ_LICENCE_PAGE="$licence_page" packaging/windows/mqtool.nsi

zipfile="$root/$DIST_DIR/MqTool-$version-portable.zip"
rm -f "$zipfile"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$stage" "$tmp/MqTool-$version"
rm -f "$tmp/MqTool-$version/mqtool.ico"
(cd "$tmp" && zip -q -r -X "$zipfile" "MqTool-$version")
done_at=$(date +%s)

ls -l "$setup" "$zipfile" "$DIST_DIR/$build_record"
for f in "${source_files[@]}"; do ls -l "$DIST_DIR/$f"; done
echo "package-windows: Qt $((qt_done - start)) s, cross build $((built - qt_done)) s," \
     "packing $((done_at - built)) s, total $((done_at - start)) s"
