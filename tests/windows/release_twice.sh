#!/usr/bin/env bash
# Builds the release twice, from two copies of the sources in directories of
# different paths, at different times, under different time zones, locales
# and umasks, the second with compiler flags, compilers and CMake settings
# in its environment (the release's clean environment must leave all of
# them out), and fails unless both give the same files, byte for byte; files
# named as a recorded release are the ones it recorded; the
# program and the custom action are the very ones the tests ran and the ones
# inside the MSI; the zip carries the documents and installer examples as
# they stand; and the SBOM is valid CycloneDX that names both binaries'
# hashes.
#
#   release_twice.sh PROJECT_ROOT WORK_DIRECTORY TESTED_PROGRAM TESTED_ACTION
#                    NODE
set -euo pipefail
root=$1
work=$2
tested=$3
tested_action=$4
node=$5

rm -rf "$work"
mkdir -p "$work"
"$root/scripts/release" "$work/first" >"$work/first.out"

# The second copy holds what the first one does, less its builds and its
# history; the time and the name the first build took from the history come
# along in SOURCE_DATE_EPOCH and SVCENTRY_RELEASE_NAME.
copy=$work/another/checkout
mkdir -p "$copy"
tar -C "$root" --exclude=./build --exclude=./.git --exclude=node_modules \
  -cf - . | tar -C "$copy" -xf -
built=$(grep '^Built ' "$work/first.out")
epoch=${built#*SOURCE_DATE_EPOCH=}
epoch=${epoch%%)*}
label=$(cut -d' ' -f2 <<<"$built")
sleep 1
(umask 077 && SOURCE_DATE_EPOCH=$epoch SVCENTRY_RELEASE_NAME=$label \
  TZ=CHAST-12:45 LC_ALL=C.UTF-8 CXXFLAGS=-fno-inline \
  LDFLAGS=-Wl,--major-image-version=9 \
  CXX=false CC=false CMAKE_BUILD_TYPE=Debug LIBRARY_PATH=/nonexistent \
  "$copy/scripts/release" "$work/second") >/dev/null

cd "$work/first"
status=0
for name in SHA256SUMS $(awk '{print $2}' SHA256SUMS); do
  if ! cmp "$name" "../second/$name"; then
    echo "$name differs between two builds" >&2
    status=1
  fi
done
# Files that take a recorded release's name are that release's.
if [ -f "$root/releases/$label/SHA256SUMS" ] &&
  ! cmp SHA256SUMS "$root/releases/$label/SHA256SUMS"; then
  echo "these files are named $label but are not those it recorded" >&2
  status=1
fi
if ! cmp svcentry.exe "$tested" || ! cmp svcentry-msi.dll "$tested_action"; then
  echo "the released binaries are not the tested $tested, $tested_action" >&2
  status=1
fi
msi=$(ls svcentry-*-x64.msi)
msiextract -C "$work" "$msi" >/dev/null
for name in svcentry.exe LICENSE THIRD-PARTY-NOTICES.txt; do
  if ! cmp "$name" "$work/svcentry/$name"; then
    echo "the MSI holds another $name" >&2
    status=1
  fi
done
if ! msiinfo extract "$msi" Binary.SvcentryMsi | cmp - svcentry-msi.dll; then
  echo "the MSI's custom action is not svcentry-msi.dll" >&2
  status=1
fi
unzip -q -d "$work/zip" svcentry-*-windows-x86_64.zip
for name in svcentry.exe svcentry-msi.dll THIRD-PARTY-NOTICES.txt; do
  cmp "$name" "$work/zip/$name" || status=1
done
for name in README.md LICENSE CHANGELOG.md SECURITY.md docs/installers.md \
  examples/install.cmd examples/setup.iss examples/setup.nsi \
  windows/svcentry.wxs; do
  if ! cmp "$root/$name" "$work/zip/$name"; then
    echo "the zip does not carry $name as it stands" >&2
    status=1
  fi
done
sbom=$(ls svcentry-*.cdx.json)
"$node" "$root/tests/validators/validate-sbom.mjs" "$sbom" || status=1
for name in svcentry.exe svcentry-msi.dll; do
  if ! grep -q "\"$(sha256sum <"$name" | cut -d' ' -f1)\"" "$sbom"; then
    echo "$sbom does not name the SHA-256 of $name" >&2
    status=1
  fi
done
cat SHA256SUMS
exit $status
