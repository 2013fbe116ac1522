#!/usr/bin/env bash
# The self-test kit as a user runs it: made from a fresh release, unpacked
# onto the C: drive of a fresh Wine prefix, the throwaway machine, and run
# there with Wine's cmd. Without /disposable it must refuse and change
# nothing; with it, every row must pass. A kit whose svcentry.exe prints
# another message, and one whose test program runs nothing and exits 0,
# must fail, the first with its rows named.
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
# Its README.txt says whose files they are: no placeholder is left.
! grep -q @ "$prefix/drive_c/$downloads/$kit (1)/README.txt" ||
  { echo "the kit's README.txt keeps a placeholder" >&2 && exit 1; }
# The planted kit's svcentry.exe does all the real one does, but one byte of
# its message is another; the one beside the batch example too.
planted=$prefix/drive_c/$downloads/planted/$kit
for program in "$planted/svcentry.exe" "$planted/examples/batch/svcentry.exe"; do
  LC_ALL=C sed -i 's/successfully added/successfullY added/' "$program"
done
# A kit whose test program runs nothing and succeeds, with
# SVCENTRY_EXIT_CODE=0.
empty=$prefix/drive_c/$downloads/empty
cp -r "$planted" "$empty"
cp "$empty/exit_code.exe" "$empty/svcentry_windows_tests.exe"

# state: what a refused run must leave as it was: the services file and
# the installed products.
# in_prefix COMMAND...: runs a Windows program from C:, as drive Z:, where
# the host's working directory lies, is gone.
in_prefix() {
  (cd "$prefix/drive_c" && "$wine" "$prefix" "$@")
}
state() {
  sha256sum <"$prefix/drive_c/windows/system32/drivers/etc/services"
  in_prefix reg query \
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>&1 || true
}
# run_kit FOLDER OPTION...: runs the kit in FOLDER of the downloads as a
# user does, typing selftest.cmd OPTION... at a prompt there, and prints its
# exit code.
run_kit() {
  local folder=$1 status=0
  shift
  (cd "$prefix/drive_c/$downloads/$folder" &&
    "$wine" "$prefix" cmd.exe /c selftest.cmd "$@") \
    >"$work/${folder//[^A-Za-z0-9]/_}.log" 2>&1 || status=$?
  echo $status
}
# expect CONDITION MESSAGE: fails the test with MESSAGE unless CONDITION
# holds.
expect() {
  eval "$1" && return
  echo "$2" >&2
  status=1
}

status=0
folder="$kit (1)"
report="$prefix/drive_c/$downloads/$folder/selftest-report.txt"
before=$(state)
refused=$(run_kit "$folder")
expect '[ "$refused" = 3 ] && [ "$(state)" = "$before" ] && [ ! -e "$report" ]' \
  "without /disposable, the kit did not refuse (exit code $refused), or changed the prefix"
grep -h 'Nothing was changed' "$work/${folder//[^A-Za-z0-9]/_}.log" || true

passed=$(run_kit "$folder" /disposable)
cat "$report"
expect '[ "$passed" = 0 ] && tail -n 1 "$report" | grep -Eq "^[0-9]+ passed, 0 failed, 0 skipped"' \
  "the kit did not pass: exit code $passed"
expect '! grep -Eq "^(failed|skipped) " "$report"' \
  "the kit's report names rows that did not pass"

failing=$(run_kit "planted/$kit" /disposable)
report=$planted/selftest-report.txt
expect '[ "$failing" != 0 ] && grep -q "^failed  ServicesFile/EndToEnd" "$report" &&
  grep -q "seen: svcentry.exe: exit code 0, output \"String .* successfullY added" "$report" &&
  ! tail -n 1 "$report" | grep -q ", 0 failed"' \
  "a kit whose svcentry.exe says another message passed: exit code $failing"

export SVCENTRY_EXIT_CODE=0
nothing=$(run_kit empty /disposable)
unset SVCENTRY_EXIT_CODE
report=$empty/selftest-report.txt
expect '[ "$nothing" != 0 ] && grep -q "^Test program: .*, exit code 0.\?$" "$report" &&
  grep -q "wrote no results" "$report"' \
  "a kit whose tests ran nothing and exited 0 passed: exit code $nothing"
[ $status -eq 0 ] || cat "$planted/selftest-report.txt" "$empty/selftest-report.txt" >&2
exit $status
