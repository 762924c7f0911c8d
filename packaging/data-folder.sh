#!/bin/sh
# Sets up the machine-wide data folder of MqTool: owner root, group dialout,
# mode 2775. The users allowed to open serial ports (group dialout) share
# the settings; the set-group-ID bit gives new files the group dialout, and
# the program writes them group-writable. Says what it does.
#   data-folder.sh <folder>     (as root; an absolute path)
#
# Everything inside the folder belongs to its users: any member of dialout
# can create, replace and link files there. So this script, which runs as
# root, changes the folder itself and nothing in it, and it follows no
# symbolic link: every part of the path must be a real folder, and every
# folder above the data folder must be one that only root can change (owned
# by root, not writable by group or others unless sticky), so that nobody
# can put a link in place of a part of the path between the check and the
# change. Otherwise it refuses, says why, changes nothing and ends with 1.
# Missing folders are made one at a time (mkdir never follows a link).
set -eu
umask 022

refuse() {
  echo "data-folder.sh: $*; nothing was changed" >&2
  exit 1
}

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: data-folder.sh <folder>" >&2
  exit 2
fi
case "$1" in
  /*) ;;
  *) refuse "$1: the data folder must be given as an absolute path" ;;
esac
getent group dialout >/dev/null || refuse "there is no group dialout on this machine"

# The path's parts, without empty ones (// and a trailing /); . and .. would
# make the walk below check other folders than those the path names.
parts=$(printf '%s\n' "$1" | tr '/' '\n' | grep -v '^$' || true)
[ -n "$parts" ] || refuse "$1: the root folder cannot be the data folder"
if printf '%s\n' "$parts" | grep -qx -e '\.' -e '\.\.'; then
  refuse "$1: the path contains . or .."
fi
folder=/$(printf '%s\n' "$parts" | paste -s -d/ -)
count=$(printf '%s\n' "$parts" | wc -l)

# only_root_can_change <folder>: owned by root, and not writable by group or
# others (a sticky folder, like /tmp, keeps others from renaming root's entries).
only_root_can_change() {
  [ "$(stat -c %u -- "$1")" -eq 0 ] || return 1
  mode=$((0$(stat -c %a -- "$1")))
  [ $((mode & 022)) -eq 0 ] || [ $((mode & 01000)) -ne 0 ]
}

created=""
path=""
i=0
IFS='
'
for part in $parts; do
  i=$((i + 1))
  path="$path/$part"
  if [ ! -e "$path" ] && [ ! -L "$path" ]; then
    mkdir -- "$path" || refuse "$path could not be made"
    created=1
  fi
  [ ! -L "$path" ] || refuse "$path is a symbolic link: the data folder is set up only on a path of real folders"
  [ -d "$path" ] || refuse "$path is not a folder"
  if [ "$i" -lt "$count" ] && ! only_root_can_change "$path"; then
    refuse "$path can be changed by users other than root ($(stat -c '%U:%G %A' -- "$path")): a part of the path could be replaced by a link"
  fi
done

if [ -n "$created" ]; then
  echo "Created the data folder $folder (owner root, group dialout, mode 2775)"
else
  echo "Data folder $folder: owner root, group dialout, mode 2775 (what is in it is left as it is)"
fi
chown -h root:dialout -- "$folder"
chmod 2775 -- "$folder"
