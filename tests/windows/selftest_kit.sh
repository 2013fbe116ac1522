#!/usr/bin/env bash
# The self-test kit as a user runs it: made from a fresh release, unpacked
# onto the C: drive of a fresh Wine prefix, and run there with Wine's cmd.
# Every row must pass, and the prefix must be as it was: the services file,
# its attributes and the installed products. A kit whose svcentry.exe says
# nothing and always succeeds must be reported row by row, and fail.
#
#   selftest_kit.sh PROJECT_ROOT WORK_DIRECTORY TESTS_DIRECTORY
#
# TESTS_DIRECTORY: where the Windows test programs are built.
set -euo pipefail
root=$1
work=$2
tests=$3
wine=$root/scripts/wine
prefix=$work/prefix

rm -rf "$work"
mkdir -p "$work"
"$root/scripts/release" "$work/release" >"$work/release.log"
"$root/scripts/selftest-kit" --release "$work/release" --tests "$tests" \
  --output "$work" >"$work/kit.log"
zip=$(ls "$work"/svcentry-*-selftest.zip)
kit=$(basename "$zip" .zip)
"$wine" "$prefix" --start
trap '"$wine" "$prefix" --stop' EXIT
unzip -q -d "$prefix/drive_c" "$zip"
cp -r "$prefix/drive_c/$kit" "$prefix/drive_c/planted"
cp "$prefix/drive_c/planted/exit_code.exe" "$prefix/drive_c/planted/svcentry.exe"

# state: what a run must leave as it was.
state() {
  sha256sum <"$prefix/drive_c/windows/system32/drivers/etc/services"
  "$wine" "$prefix" cmd.exe /c attrib \
    'C:\windows\system32\drivers\etc\services'
  "$wine" "$prefix" reg query \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>&1 || true
}
# run_kit FOLDER: runs the kit in C:\FOLDER as a user does, and prints its
# exit code.
run_kit() {
  local status=0
  "$wine" "$prefix" cmd.exe /c "C:\\$1\\selftest.cmd" /y \
    >"$work/$1.log" 2>&1 || status=$?
  echo $status
}

status=0
before=$(state)
passed=$(run_kit "$kit")
report=$prefix/drive_c/$kit/selftest-report.txt
cat "$report"
if [ "$passed" != 0 ] || ! tail -n 1 "$report" | grep -Eq '^[0-9]+ passed, 0 failed'; then
  echo "the kit did not pass: exit code $passed" >&2
  status=1
fi
if grep -Eq '^(failed|skipped) ' "$report"; then
  echo "the kit's report names rows that did not pass" >&2
  status=1
fi
[ "$(state)" = "$before" ] ||
  { echo "the kit's run did not leave the prefix as it was" >&2 && status=1; }

planted=$(SVCENTRY_EXIT_CODE=0 run_kit planted)
report=$prefix/drive_c/planted/selftest-report.txt
if [ "$planted" = 0 ] || ! grep -q '^failed ' "$report" ||
  tail -n 1 "$report" | grep -Eq ', 0 failed'; then
  echo "a kit whose svcentry.exe says nothing passed: exit code $planted" >&2
  cat "$report" >&2
  status=1
fi
[ "$(state)" = "$before" ] ||
  { echo "the planted kit did not leave the prefix as it was" >&2 && status=1; }
exit $status
