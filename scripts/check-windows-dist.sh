#!/usr/bin/env bash
# Checks that the Windows release in dist/ may be passed on: the setup
# program and the zip are there with Qt's corresponding source beside them
# (the .dsc and every archive it lists, each matching the .dsc's size and
# SHA-256 and MD5 sums) and the record of how Qt was built; the zip carries
# LICENSE.txt and THIRD-PARTY.txt; and the notice names the Qt version that
# mqtool.exe itself reports (the build string its Qt compiles in, which the
# error report shows) and every source file it points to.
#
#   BUILD_DIR=build-win-app DIST_DIR=dist bash scripts/check-windows-dist.sh
#
# Run by scripts/cross-windows.sh after scripts/package-windows.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build-win-app}
DIST_DIR=${DIST_DIR:-dist}
fail=0
bad() { echo "check-windows-dist: $*" >&2; fail=1; }

nsh="$BUILD_DIR/version/installer_version.nsh"
version=$(sed -n 's/^!define MQ_VERSION "\(.*\)"$/\1/p' "$nsh" 2>/dev/null || true)
[ -n "$version" ] || { echo "check-windows-dist: no version in $nsh" >&2; exit 1; }
setup="$DIST_DIR/MqTool-$version-setup.exe"
zip="$DIST_DIR/MqTool-$version-portable.zip"
for f in "$setup" "$zip"; do [ -s "$f" ] || bad "$f is missing"; done

# Qt's source: one .dsc of qt6-base, and what it lists.
deb_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
dsc="$DIST_DIR/qt6-base_${deb_version#*:}.dsc"
record="$DIST_DIR/qt6-base_${deb_version#*:}_windows-build.txt"
[ -s "$dsc" ] || { echo "check-windows-dist: $dsc is missing" >&2; exit 1; }
[ -s "$record" ] || bad "$record is missing"
grep -q -- '-xplatform win32-g++' "$record" 2>/dev/null || bad "$record names no configure command"
grep -q '^Compiler: ' "$record" 2>/dev/null || bad "$record names no compiler"
checks=0
while read -r sum size name; do
  f="$DIST_DIR/$name"
  if [ ! -f "$f" ]; then bad "$name, listed in $(basename "$dsc"), is missing"; continue; fi
  [ "$(stat -c %s "$f")" = "$size" ] || bad "$name is $(stat -c %s "$f") bytes, the .dsc says $size"
  [ "$(sha256sum "$f" | cut -d' ' -f1)" = "$sum" ] || bad "$name does not match the .dsc's SHA-256 sum"
  checks=$((checks + 1))
done < <(awk '/^Checksums-Sha256:/{f=1;next} /^[^ ]/{f=0} f&&NF==3{print $1, $2, $3}' "$dsc")
[ "$checks" -ge 2 ] || bad "$(basename "$dsc") lists $checks archives under Checksums-Sha256"
while read -r sum size name; do
  [ -f "$DIST_DIR/$name" ] && [ "$(md5sum "$DIST_DIR/$name" | cut -d' ' -f1)" != "$sum" ] &&
    bad "$name does not match the .dsc's MD5 sum"
done < <(awk '/^Files:/{f=1;next} /^[^ ]/{f=0} f&&NF==3{print $1, $2, $3}' "$dsc")

# What the zip carries, and what mqtool.exe says of its Qt.
top="MqTool-$version"
notice=$(unzip -p "$zip" "$top/THIRD-PARTY.txt" 2>/dev/null | tr -d '\r' || true)
[ -n "$notice" ] || bad "$zip has no $top/THIRD-PARTY.txt"
unzip -p "$zip" "$top/LICENSE.txt" 2>/dev/null | grep -q 'MIT License' || bad "$zip has no MIT $top/LICENSE.txt"
build=$(unzip -p "$zip" "$top/mqtool.exe" 2>/dev/null | grep -a -o -m1 'Qt [0-9][0-9.]* ([^)]*build[^)]*)' | head -n1 || true)
qt=$(echo "$build" | sed -n 's/^Qt \([0-9][0-9.]*\) .*/\1/p')
if [ -z "$qt" ]; then
  bad "mqtool.exe in $zip reports no Qt build"
else
  grep -q "Qt $qt " <<<"$notice" || bad "THIRD-PARTY.txt does not name Qt $qt, which mqtool.exe reports ($build)"
  upstream=${deb_version#*:}
  upstream=${upstream%%+*}
  upstream=${upstream%%-*}
  [ "$upstream" = "$qt" ] || bad "mqtool.exe reports Qt $qt, the source beside it is qt6-base $deb_version"
fi
for name in "$(basename "$dsc")" $(awk '/^Files:/{f=1;next} /^[^ ]/{f=0} f&&NF==3{print $3}' "$dsc") "$(basename "$record")"; do
  grep -qF "$name" <<<"$notice" || bad "THIRD-PARTY.txt does not name $name"
done

if [ "$fail" = 0 ]; then
  echo "check-windows-dist: $setup, $zip and Qt's source ($checks archives, sums match); mqtool.exe: $build"
fi
exit $fail
