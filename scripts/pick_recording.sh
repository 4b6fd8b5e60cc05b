#!/usr/bin/env bash
# Stands in for the board's file manager: lists the recordings (.rec) of the storage root's
# "logger" folder of a simulated-board root (the SD card's when it is inserted), newest first,
# lets the user pick one on the terminal (the newest without an answer or without a terminal) and
# links it into <root>/media/private/batch, where benchview's batch recall opens it in the viewer.
# Usage: pick_recording.sh <root>
set -euo pipefail

root="$1"
if [ -d "$root/media/user/sdcard_p1" ]; then
  storage="sdcard_p1/logger"
else
  storage="logger"
fi
folder="$root/media/user/$storage"
mapfile -t files < <(cd "$folder" 2>/dev/null && ls -1t -- *.rec 2>/dev/null || true)
if [ "${#files[@]}" -eq 0 ]; then
  echo "No recording in $folder."
  exit 0
fi

choice=0
if [ -e /dev/tty ] && { : </dev/tty; } 2>/dev/null; then
  for i in "${!files[@]}"; do
    echo "  $((i + 1)) ${files[$i]}"
  done
  read -r -p "Recording to open [1]: " answer </dev/tty || answer=""
  if [[ "$answer" =~ ^[0-9]+$ ]] && [ "$answer" -ge 1 ] && [ "$answer" -le "${#files[@]}" ]; then
    choice=$((answer - 1))
  fi
fi
name="${files[$choice]}"
batch="$root/media/private/batch"
mkdir -p "$batch"
# Relative to the batch folder: an absolute board path would point outside the root on the host.
ln -sfn "../../user/$storage/$name" "$batch/$name"
echo "Opening $name in the viewer."
