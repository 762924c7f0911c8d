#!/usr/bin/env bash
# shellcheck disable=SC2016 # the checks are strings for eval
# The root scripts of the data folder against what its users may plant in
# it: packaging/data-folder.sh (cmake --install, scripts/run.sh), the
# package's postinst (configure) and postrm (purge).
#
#   bash scripts/data-folder-test.sh [packaging folder]     (as root; CTest: data_folder_scripts)
#
# A member of dialout (nobody, with the group dialout) plants MqTool.ini,
# MqTool.sib, ports and ports/COM3 as links to a root-owned 0600 file; after
# every script the file's owner, group, mode and content are unchanged and
# the links are still links. A path with a link in it, or a folder above
# the data folder that others can change, is refused with a message that
# names it, and nothing changes. Purge removes the folder and leaves what
# its links point to.
#
# Runs in a mount namespace of its own with empty file systems on /var/lib
# and /usr/libexec, so the package's fixed paths are tried without touching
# the machine's. Ends with 77 (skipped) when not root.
set -euo pipefail
PKG=$(cd "${1:-$(dirname "$0")/../packaging}" && pwd)
if [ "$(id -u)" -ne 0 ]; then
  echo "data-folder-test: needs root (it changes owners); skipped"
  exit 77
fi
if [ -z "${MQ_DATA_FOLDER_TEST_NS:-}" ]; then
  exec unshare --mount --propagation private env MQ_DATA_FOLDER_TEST_NS=1 bash "$0" "$PKG"
fi
mount -t tmpfs -o mode=0755 tmpfs /var/lib
mkdir -p /usr/libexec
mount -t tmpfs -o mode=0755 tmpfs /usr/libexec
install -D -m 0755 "$PKG/data-folder.sh" /usr/libexec/mqtool/data-folder.sh
cd /var/lib  # a relative path, wrongly taken, lands where the checks see it

failures=0
ok() { echo "  ok: $*"; }
bad() { echo "  FAILED: $*"; failures=$((failures + 1)); }
expect() {  # expect <description> <command...>
  local what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}

SECRET=/var/lib/secret
SECRET_DIR=/var/lib/secret-folder
printf 'root:only\n' >"$SECRET"
chmod 0600 "$SECRET"
mkdir -m 0700 "$SECRET_DIR"
touch "$SECRET_DIR/kept"
state() { stat -c '%u:%g %a %s' "$SECRET" "$SECRET_DIR" "$SECRET_DIR/kept"; md5sum <"$SECRET"; }
STATE=$(state)
untouched() { [ "$(state)" = "$STATE" ]; }
as_member() { setpriv --reuid=nobody --regid=dialout --clear-groups "$@"; }
mode_of() { stat -c '%U:%G %a' "$1"; }

# plant <folder> <ports as: link | folder>: links to the secret file, made
# by a member of dialout.
plant() {
  as_member ln -s "$SECRET" "$1/MqTool.ini"
  as_member ln -s "$SECRET" "$1/MqTool.sib"
  if [ "$2" = link ]; then
    as_member ln -s "$SECRET" "$1/ports"
  else
    as_member mkdir "$1/ports"
    as_member ln -s "$SECRET" "$1/ports/COM3"
  fi
}
links_kept() {
  [ -L "$1/MqTool.ini" ] && [ -L "$1/MqTool.sib" ] && { [ -L "$1/ports" ] || [ -L "$1/ports/COM3" ]; }
}

echo "data-folder.sh"
run() { sh "$PKG/data-folder.sh" "$@" >/var/lib/out.txt 2>&1; }
F=/var/lib/a/Corvane/Ledgerkit
expect "makes a new folder root:dialout 2775 under root's 0755 folders" \
  eval 'run "$F/" && [ "$(mode_of "$F")" = "root:dialout 2775" ] && [ "$(mode_of /var/lib/a/Corvane)" = "root:root 755" ]'
expect "says which folder it set up" grep -qF "$F" /var/lib/out.txt
for ports in link folder; do
  plant "$F" "$ports"
  expect "an existing folder with planted links (ports as a $ports): the linked file unchanged" \
    eval 'run "$F" && untouched && links_kept "$F" && [ "$(mode_of "$F")" = "root:dialout 2775" ]'
  rm -rf "${F:?}"/*
done
W=/var/lib/b/Corvane/Ledgerkit
mkdir -p "$W"
chmod 1777 "$W"
chown nobody:nogroup "$W"
plant "$W" folder
expect "a world-writable folder of an older set-up becomes root:dialout 2775, its links left alone" \
  eval 'run "$W" && [ "$(mode_of "$W")" = "root:dialout 2775" ] && untouched && links_kept "$W"'

# refused <description> <path> <named in the message>: exit 1, nothing changed.
refused() {
  local before after rc=0
  before=$(state; find /var/lib -path /var/lib/out.txt -prune -o -printf '%p %U:%G %m %l\n' | sort)
  run "$2" || rc=$?
  after=$(state; find /var/lib -path /var/lib/out.txt -prune -o -printf '%p %U:%G %m %l\n' | sort)
  if [ "$rc" = 1 ] && grep -qF "$3" /var/lib/out.txt && [ "$before" = "$after" ]; then
    ok "refuses $1"
  else
    bad "refuses $1 (exit $rc: $(cat /var/lib/out.txt))"
  fi
}
mkdir -p /var/lib/c/real/Ledgerkit
ln -s /var/lib/c/real /var/lib/c/Corvane
refused "a link in the path" /var/lib/c/Corvane/Ledgerkit /var/lib/c/Corvane
ln -s "$SECRET_DIR" /var/lib/c/real/Linked
refused "a link as the folder itself" /var/lib/c/real/Linked /var/lib/c/real/Linked
mkdir -p /var/lib/d/Corvane
chown nobody /var/lib/d/Corvane
refused "a parent owned by another user" /var/lib/d/Corvane/Ledgerkit /var/lib/d/Corvane
chown root /var/lib/d/Corvane
chmod 0777 /var/lib/d/Corvane
refused "a parent that others may write" /var/lib/d/Corvane/Ledgerkit /var/lib/d/Corvane
refused "a relative path" var/lib/e "absolute"

echo "postinst configure (first install) over a planted folder"
D=/var/lib/Corvane/Ledgerkit
mkdir -p "$D"
chown root:dialout "$D"
chmod 2775 "$D"
plant "$D" folder
expect "the folder root:dialout 2775, the linked file unchanged" \
  eval 'sh "$PKG/deb/postinst" configure "" >/var/lib/out.txt 2>&1 && [ "$(mode_of "$D")" = "root:dialout 2775" ] && untouched && links_kept "$D"'
chmod 00777 "$D"
expect "an upgrade leaves the folder as the administrator set it" \
  eval 'sh "$PKG/deb/postinst" configure 1.0 >/dev/null 2>&1 && [ "$(stat -c %a "$D")" = 777 ]'

echo "postrm purge"
as_member ln -s "$SECRET_DIR" "$D/outside"
as_member mkdir -p "$D/deep/er"
as_member ln -s "$SECRET_DIR/kept" "$D/deep/er/kept"
expect "removes the folder and its parent, not what the links point to" \
  eval 'sh "$PKG/deb/postrm" purge && [ ! -e /var/lib/Corvane ] && [ ! -L /var/lib/Corvane ] && untouched'
mkdir -p /var/lib/elsewhere/Ledgerkit
touch /var/lib/elsewhere/Ledgerkit/kept
ln -s /var/lib/elsewhere /var/lib/Corvane
expect "leaves a parent that is a link, and what it points to" \
  eval 'sh "$PKG/deb/postrm" purge 2>/var/lib/out.txt && [ -f /var/lib/elsewhere/Ledgerkit/kept ] && grep -q "symbolic link" /var/lib/out.txt'
expect "postinst refuses a data folder reached through a link" \
  eval '! sh "$PKG/deb/postinst" configure "" >/var/lib/out.txt 2>&1 && grep -q "symbolic link" /var/lib/out.txt && [ "$(stat -c %G /var/lib/elsewhere/Ledgerkit)" = root ]'

if [ "$failures" -ne 0 ]; then
  echo "data-folder-test: $failures failed"
  exit 1
fi
echo "data-folder-test: passed"
