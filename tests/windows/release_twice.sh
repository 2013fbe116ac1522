#!/usr/bin/env bash
# Builds the release twice, from two copies of the sources in directories of
# different paths, at different times, under different time zones, locales
# and umasks, and fails unless both give the same files, byte for byte; the
# program is the very one the tests ran and the one inside the MSI; and the
# SBOM is valid CycloneDX that names the program's hash.
#
#   release_twice.sh PROJECT_ROOT WORK_DIRECTORY TESTED_PROGRAM NODE
set -euo pipefail
root=$1
work=$2
tested=$3
node=$4

rm -rf "$work"
"$root/scripts/release" "$work/first" >/dev/null

# The second copy holds what the first one does, less its builds and its
# history; the commit's time comes along in SOURCE_DATE_EPOCH.
copy=$work/another/checkout
mkdir -p "$copy"
tar -C "$root" --exclude=./build --exclude=./.git --exclude=node_modules \
  -cf - . | tar -C "$copy" -xf -
epoch=$(git -C "$root" log -1 --format=%ct)
sleep 1
(umask 077 && SOURCE_DATE_EPOCH=$epoch TZ=CHAST-12:45 LC_ALL=C.UTF-8 \
  "$copy/scripts/release" "$work/second") >/dev/null

cd "$work/first"
status=0
for name in SHA256SUMS $(awk '{print $2}' SHA256SUMS); do
  if ! cmp "$name" "../second/$name"; then
    echo "$name differs between two builds" >&2
    status=1
  fi
done
if ! cmp svcentry.exe "$tested"; then
  echo "the released svcentry.exe is not the tested $tested" >&2
  status=1
fi
msiextract -C "$work" svcentry-*-x64.msi >/dev/null
for name in svcentry.exe LICENSE THIRD-PARTY-NOTICES.txt; do
  if ! cmp "$name" "$work/svcentry/$name"; then
    echo "the MSI holds another $name" >&2
    status=1
  fi
done
sbom=$(ls svcentry-*.cdx.json)
"$node" "$root/tests/validators/validate-sbom.mjs" "$sbom" || status=1
if ! grep -q "\"$(sha256sum <svcentry.exe | cut -d' ' -f1)\"" "$sbom"; then
  echo "$sbom does not name the SHA-256 of svcentry.exe" >&2
  status=1
fi
cat SHA256SUMS
exit $status
