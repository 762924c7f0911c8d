#!/usr/bin/env bash
# Builds the Debian package of MqTool: dist/mqtool_<version>_amd64.deb with
# mqtool, mqtool-cli and marq-sim, the desktop entry, icons and metainfo,
# manual pages, the user guide and the data folder (made by the package's
# maintainer scripts). One command from a clean clone; it installs what it
# needs with apt-get.
#
#   BUILD_DIR=dir        build folder (default build-deb)
#   MQ_CMAKE_ARGS=...    extra CMake arguments (a compiler launcher, say)
#
# The binaries are built with Debian's hardening flags and without debug
# information (there is no debug-symbol package), then stripped. The
# version is the one the programs carry in their version data. The package
# is checked by desktop-file-validate, appstreamcli and lintian; a lintian
# error fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/deps.sh dpkg-dev lintian desktop-file-utils appstream man-db file

BUILD_DIR=${BUILD_DIR:-build-deb}
case "$BUILD_DIR" in /*) ;; *) BUILD_DIR="$ROOT/$BUILD_DIR" ;; esac
DIST="$ROOT/dist"
STAGE="$BUILD_DIR/deb-root"
umask 022

# Time stamps of the files in the package: the last commit when there is one.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH

# Debian's flags, given to CMake explicitly (it reads no CPPFLAGS, and takes
# the environment's flags only at the first configure).
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
# shellcheck disable=SC2086 # MQ_CMAKE_ARGS is a list of arguments, split on spaces
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="${CPPFLAGS} ${CFLAGS//-g /}" -DCMAKE_CXX_FLAGS="${CPPFLAGS} ${CXXFLAGS//-g /}" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" \
  -DMQ_DATA_ROOT=/var/lib -DMQ_BUILD_TESTS=OFF -DMQ_BUILD_BENCH=OFF -DMQ_BUILD_APP=ON ${MQ_CMAKE_ARGS:-}
cmake --build "$BUILD_DIR" -j"$(nproc)"

for program in app/mqtool cli/mqtool-cli sim/marq-sim; do
  if [ ! -x "$BUILD_DIR/$program" ]; then
    echo "package-deb: $BUILD_DIR/$program was not built (is Qt 6 with QtSvg installed?)" >&2
    exit 1
  fi
done

VERSION=$(sed -n 's/^String FileVersion=//p' "$BUILD_DIR/version/version_data.txt")
if ! [[ "$VERSION" =~ ^[0-9]+(\.[0-9]+)*$ ]]; then
  echo "package-deb: no version in $BUILD_DIR/version/version_data.txt" >&2
  exit 1
fi

CHANGELOG_VERSION=$(sed -n '1s/^mqtool (\([^)]*\)).*/\1/p' packaging/deb/changelog)
if [ "$CHANGELOG_VERSION" != "$VERSION" ]; then
  echo "package-deb: the programs are version $VERSION, packaging/deb/changelog's last entry is" \
    "'$CHANGELOG_VERSION': add an entry for $VERSION" >&2
  exit 1
fi

rm -rf "$STAGE"
DESTDIR="$STAGE" cmake --install "$BUILD_DIR" >/dev/null

# Debian's layout: stripped programs, compressed manual pages and changelog,
# the guide registered with doc-base.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$STAGE"/usr/bin/*
gzip -9n "$STAGE"/usr/share/man/man1/*.1
DOC="$STAGE/usr/share/doc/mqtool"
gzip -9n -c packaging/deb/changelog >"$DOC/changelog.gz"
install -D -m 0644 packaging/deb/mqtool.doc-base "$STAGE/usr/share/doc-base/mqtool"
find "$STAGE" -type d -exec chmod 0755 {} +
find "$STAGE" -type f -exec chmod go-w {} +

# Dependencies from the libraries the programs link (dpkg-shlibdeps reads a
# control file of the source, so it runs in a scratch folder that has one).
SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
mkdir -p "$SCRATCH/debian"
printf 'Source: mqtool\n\nPackage: mqtool\nArchitecture: amd64\n' >"$SCRATCH/debian/control"
DEPENDS=$(cd "$SCRATCH" && dpkg-shlibdeps -O "$STAGE"/usr/bin/* 2> >(grep -v "should already be installed" >&2) | sed -n 's/^shlibs:Depends=//p')
if [ -z "$DEPENDS" ]; then
  echo "package-deb: dpkg-shlibdeps found no dependencies" >&2
  exit 1
fi
# Qt loads the SVG icon engine and image format (the toolbar images, the
# window icon) as plugins at run time; no binary links them, so their
# package is named here.
DEPENDS="$DEPENDS, libqt6svg6"
INSTALLED_SIZE=$(du -sk --apparent-size "$STAGE" | cut -f1)

mkdir -p "$STAGE/DEBIAN"
sed -e "s/@VERSION@/$VERSION/" -e "s/@INSTALLED_SIZE@/$INSTALLED_SIZE/" -e "s/@DEPENDS@/$DEPENDS/" \
  packaging/deb/control.in >"$STAGE/DEBIAN/control"
install -m 0755 packaging/deb/postinst packaging/deb/postrm "$STAGE/DEBIAN/"
(cd "$STAGE" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$STAGE/DEBIAN/md5sums"
chmod 0644 "$STAGE/DEBIAN/md5sums" "$STAGE/DEBIAN/control"

mkdir -p "$DIST"
DEB="$DIST/mqtool_${VERSION}_amd64.deb"
dpkg-deb --root-owner-group -Zxz --build "$STAGE" "$DEB"

echo "Checking the desktop entry, the metainfo and the package"
desktop-file-validate "$STAGE/usr/share/applications/mqtool.desktop"
appstreamcli validate --no-net "$STAGE/usr/share/metainfo/com.corvane.mqtool.metainfo.xml"
lintian --fail-on error --info "$DEB"
echo "Package: $DEB"
