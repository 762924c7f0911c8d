#!/bin/sh
# Sets up the machine-wide data folder of MqTool: owner root, group dialout,
# mode 2775. The users allowed to open serial ports (group dialout) share
# the settings; the set-group-ID bit gives new files the group dialout, and
# the program writes them group-writable. A settings file left by an older
# set-up gets the same group and group write access. Says what it does.
#   data-folder.sh <folder>     (as root)
set -eu
folder=${1%/}
if [ -z "$folder" ]; then
  echo "usage: data-folder.sh <folder>" >&2
  exit 2
fi
if [ ! -d "$folder" ]; then
  echo "Creating the data folder $folder (owner root, group dialout, mode 2775)"
  mkdir -p "$folder"
else
  echo "Data folder $folder: owner root, group dialout, mode 2775"
fi
chown root:dialout "$folder"
chmod 2775 "$folder"
if [ -f "$folder/MqTool.ini" ]; then
  chgrp dialout "$folder/MqTool.ini"
  chmod g+rw,o-w "$folder/MqTool.ini"
fi
