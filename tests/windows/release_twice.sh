#!/usr/bin/env bash
# Builds the release twice, in two fresh directories of different paths and
# at different times, and fails unless both give the same svcentry.exe and
# zip, byte for byte, and the program is the very one the tests ran and the
# one inside the MSI.
#
#   release_twice.sh RELEASE_SCRIPT WORK_DIRECTORY TESTED_PROGRAM
set -euo pipefail
release=$1
work=$2
tested=$3

rm -rf "$work"
"$release" "$work/first" >/dev/null
sleep 1
"$release" "$work/the-second-build-elsewhere" >/dev/null

cd "$work/first"
status=0
for name in svcentry.exe svcentry-*-windows-x86_64.zip; do
  if ! cmp "$name" "../the-second-build-elsewhere/$name"; then
    echo "$name differs between two builds" >&2
    status=1
  fi
done
if ! cmp svcentry.exe "$tested"; then
  echo "the released svcentry.exe is not the tested $tested" >&2
  status=1
fi
msiextract -C "$work" svcentry-*-x64.msi >/dev/null
if ! cmp svcentry.exe "$work/svcentry/svcentry.exe"; then
  echo "the MSI holds another svcentry.exe" >&2
  status=1
fi
sha256sum svcentry.exe svcentry-*-windows-x86_64.zip
exit $status
