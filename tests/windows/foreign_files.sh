#!/usr/bin/env bash
# The scripts delete only what they made. A Wine prefix of a user's own that
# would have to be made anew, and a directory that fresh-root did not make,
# keep every file: the script says why it refuses, and exits non-zero.
#
#   foreign_files.sh PROJECT_ROOT WORK_DIRECTORY
set -euo pipefail
root=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
status=0

# refused CASE FILE COMMAND...: COMMAND must fail and leave FILE; prints
# its last line, which says why.
refused() {
  local case=$1 file=$2 output
  shift 2
  if output=$("$@" 2>&1); then
    echo "$case: it succeeded" >&2
    status=1
  fi
  if [ ! -f "$file" ]; then
    echo "$case: $file is gone" >&2
    status=1
  fi
  echo "$case: $(tail -n 1 <<<"$output")"
}

# A user's 64-bit prefix, booted before Wine's 32-bit side came, which a
# 32-bit loader that starts stands for.
user=$work/userpfx
mkdir -p "$user/drive_c/users/me/Documents" "$work/wine"
echo work >"$user/drive_c/users/me/Documents/work.txt"
touch "$user/system.reg"
ln -s /usr/lib/wine/* "$work/wine/"
rm "$work/wine/wine"
printf '#!/bin/sh\necho wine-8.0\n' >"$work/wine/wine"
chmod +x "$work/wine/wine"
refused "a user's prefix" "$user/drive_c/users/me/Documents/work.txt" \
  env WINE_DIRECTORY="$work/wine" "$root/scripts/wine" "$user" --32-bit

mkdir -p "$work/srv"
echo data >"$work/srv/file"
refused "a directory of others" "$work/srv/file" \
  "$root/scripts/fresh-root" "$work/srv"
exit $status
