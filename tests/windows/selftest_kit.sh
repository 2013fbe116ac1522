#!/usr/bin/env bash
# The self-test kit as a user runs it: made from a fresh release, unpacked
# onto the C: drive of a fresh Wine prefix, and run there with Wine's cmd.
# Every row must pass, and the prefix must be as it was: the services file,
# its attributes and the installed products. A kit whose svcentry.exe prints
# another message, and one whose tests run nothing, must fail, the first
# with its rows named.
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
# Unpacked twice into the downloads of a user whose name has a space, as
# Explorer's "Extract All" names the second folder; Wine's drive Z:, the
# host's root, goes, so that nothing the kit lacks is found there.
downloads="users/Test User/Downloads"
mkdir -p "$prefix/drive_c/$downloads/planted"
unzip -q -d "$prefix/drive_c/$downloads/planted" "$zip"
mv "$prefix/drive_c/$downloads/planted/$kit" "$prefix/drive_c/$downloads/$kit (1)"
unzip -q -d "$prefix/drive_c/$downloads/planted" "$zip"
rm "$prefix/dosdevices/z:"
(cd "$prefix/drive_c/$downloads/$kit (1)" && sha256sum --check --strict --quiet SHA256SUMS) ||
  { echo "the kit's files are not those its SHA256SUMS names" >&2 && exit 1; }
# The planted kit's svcentry.exe does all the real one does, but one byte of
# its message is another; the one beside the batch example too.
planted=$prefix/drive_c/$downloads/planted/$kit
for program in "$planted/svcentry.exe" "$planted/examples/batch/svcentry.exe"; do
  LC_ALL=C sed -i 's/successfully added/successfullY added/' "$program"
done
# A kit whose test program runs nothing and succeeds.
empty=$prefix/drive_c/$downloads/empty
cp -r "$planted" "$empty"
cp "$empty/exit_code.exe" "$empty/svcentry_windows_tests.exe"

# state: what a run must leave as it was. The services file is hidden
# first, which the tests' own putting back does not restore.
services='C:\windows\system32\drivers\etc\services'
# in_prefix COMMAND...: runs a Windows program from C:, as drive Z:, where
# the host's working directory lies, is gone.
in_prefix() {
  (cd "$prefix/drive_c" && "$wine" "$prefix" "$@")
}
in_prefix 'C:\windows\system32\attrib.exe' +h "$services" >/dev/null
state() {
  sha256sum <"$prefix/drive_c/windows/system32/drivers/etc/services"
  in_prefix 'C:\windows\system32\attrib.exe' "$services"
  in_prefix reg query \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>&1 || true
}
# run_kit FOLDER: runs the kit in FOLDER of the downloads as a user does,
# typing selftest.cmd /y at a prompt there, and prints its exit code.
run_kit() {
  local status=0
  (cd "$prefix/drive_c/$downloads/$1" &&
    "$wine" "$prefix" cmd.exe /c selftest.cmd /y) \
    >"$work/${1//[^A-Za-z0-9]/_}.log" 2>&1 || status=$?
  echo $status
}
# expect_kept CASE: fails unless the run left the prefix as it was.
expect_kept() {
  local after
  after=$(state)
  [ "$after" = "$before" ] && return
  echo "$1 did not leave the prefix as it was:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  status=1
}

status=0
before=$(state)
passed=$(run_kit "$kit (1)")
report="$prefix/drive_c/$downloads/$kit (1)/selftest-report.txt"
cat "$report"
if [ "$passed" != 0 ] || ! tail -n 1 "$report" | grep -Eq '^[0-9]+ passed, 0 failed'; then
  echo "the kit did not pass: exit code $passed" >&2
  status=1
fi
if grep -Eq '^(failed|skipped) ' "$report"; then
  echo "the kit's report names rows that did not pass" >&2
  status=1
fi
expect_kept "the kit's run"

failing=$(run_kit "planted/$kit")
report=$planted/selftest-report.txt
if [ "$failing" = 0 ] || ! grep -q '^failed  ServicesFile/EndToEnd' "$report" ||
  ! grep -q 'seen: svcentry.exe: exit code 0, output "String .* successfullY added' "$report" ||
  tail -n 1 "$report" | grep -Eq ', 0 failed'; then
  echo "a kit whose svcentry.exe says another message passed: exit code $failing" >&2
  cat "$report" >&2
  status=1
fi
expect_kept "the planted kit's run"

nothing=$(run_kit empty)
if [ "$nothing" = 0 ] || ! grep -q 'no results in' "$empty/selftest-report.txt"; then
  echo "a kit whose tests ran nothing passed: exit code $nothing" >&2
  status=1
fi
expect_kept "the empty kit's run"
exit $status
