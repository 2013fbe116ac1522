#!/usr/bin/env bash
# The release of the project as it stands, from a clone that also holds an
# untracked windows.h that stops any compile that reads it: built once with
# compiler flags, compilers, CMake settings and a time in the environment and
# strace hidden, and twice by reprotest under its variations, the second of
# those with the same flags, it gives the same files each time. Files named as
# a recorded release are the ones it recorded; the program and the custom
# action are the ones the tests ran and the ones inside the MSI; the zip
# carries the documents and installer examples as they stand; and the SBOM is
# valid CycloneDX that names both binaries' hashes.
#
# reprotest varies the environment, the build path, HOME, the kernel's name,
# ASLR, the CPUs, the time, the time zone, the locale, PATH and the umask. It
# leaves out user_group, which needs a second user that sudo may run as, and
# fileordering and domain_host, which need FUSE (disorderfs) and namespaces
# that a CI container may not have.
#
#   release_twice.sh PROJECT_ROOT WORK_DIRECTORY TESTED_PROGRAM TESTED_ACTION NODE
set -euo pipefail
root=$1 work=$2 tested=$3 tested_action=$4 node=$5
flags='CXXFLAGS=-fno-inline;CFLAGS=-O0;LDFLAGS=-Wl,--major-image-version=9;CC=false;CXX=false;CMAKE_BUILD_TYPE=Debug;CMAKE_CXX_COMPILER_LAUNCHER=false;SOURCE_DATE_EPOCH=1'

rm -rf "$work"
mkdir -p "$work"
git init -q "$work/source"
git -C "$work/source" fetch -q "$root" HEAD
git -C "$work/source" checkout -q --detach FETCH_HEAD
git -C "$root" diff --binary HEAD | git -C "$work/source" apply --allow-empty
echo '#error an untracked file reached the build' >"$work/source/windows.h"

# The flagged build, with strace hidden (in a mount namespace of its own, where
# one can be made) and first on PATH a strace that fails.
mkdir "$work/bin" && printf '#!/bin/sh\nexit 1\n' >"$work/bin/strace" && chmod +x "$work/bin/strace"
hide=() strace=$(PATH=/usr/sbin:/usr/bin:/sbin:/bin command -v strace || true)
if [ -n "$strace" ] && unshare -m true 2>/dev/null; then
  hide=(unshare -m sh -c 'mount --bind "$0" "$1" && shift 2 && exec "$@"' "$work/bin/strace" "$strace" --)
fi
(IFS=';' && export $flags PATH="$work/bin:$PATH" &&
  "${hide[@]}" "$work/source/scripts/release" "$work/first") >"$work/first.out"

status=0
(cd "$work/source" && reprotest --store-dir "$work/reprotest" \
  --vary=-user_group,-fileordering,-domain_host \
  --vary="environment.variables+=${flags//,/\\x2c}" \
  -c './scripts/release build/reprotest' . 'build/reprotest/*') \
  >"$work/reprotest.out" 2>&1 || { cat "$work/reprotest.out" >&2 && status=1; }
cmp "$work/first/SHA256SUMS" "$work/reprotest/control/source-root/build/reprotest/SHA256SUMS" ||
  { echo "the flagged build is not reprotest's" >&2 && status=1; }

cd "$work/first"
label=$(sed -n 's/^Built \([^,]*\),.*/\1/p' ../first.out)
if [ -f "$root/releases/$label/SHA256SUMS" ] && ! cmp SHA256SUMS "$root/releases/$label/SHA256SUMS"; then
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
