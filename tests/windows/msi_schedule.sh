#!/usr/bin/env bash
# The MSI's WiX source, copied into a package that writes the registry too,
# as an installer author copies it: every action of the install sequence
# still has a number of its own, so their order is defined (ICE82).
#
#   msi_schedule.sh WXS WORK_DIRECTORY FILE...
#
# FILE...: the files the package holds (svcentry.exe, svcentry-msi.dll,
# LICENSE, THIRD-PARTY-NOTICES.txt).
set -euo pipefail
wxs=$1
work=$2
shift 2

rm -rf "$work"
mkdir -p "$work"
cp "$@" "$work/"
sed 's|<File Id="SvcentryExe" Source="svcentry.exe" KeyPath="yes"/>|&\
            <RegistryValue Root="HKLM" Key="Software\\Example" Name="Installed" Type="integer" Value="1"/>|' \
  "$wxs" >"$work/package.wxs"
grep -q RegistryValue "$work/package.wxs"
cd "$work"
wixl -a x64 -D Version=1.0.0 -D ProductCode='{4E3F6A5B-0000-4000-8000-000000000001}' \
  -o package.msi package.wxs
msiinfo export package.msi InstallExecuteSequence | tail -n +4 >sequence.txt
grep -q '^WriteRegistryValues' sequence.txt
shared=$(cut -f 3 sequence.txt | sort | uniq -d)
if [ -n "$shared" ]; then
  echo "actions that share a number, in no defined order:" >&2
  for number in $shared; do
    awk -F '\t' -v n="$number" '$3 == n { print "  " $1 " " n }' sequence.txt >&2
  done
  exit 1
fi
cat sequence.txt
