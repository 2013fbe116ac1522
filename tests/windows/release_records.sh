#!/usr/bin/env bash
# The rules of a release's name and record, case by case. First with builds,
# in a clone whose HEAD is the newest recorded commit with today's release
# scripts and that record, a commit after the recorded one as a record's own
# is: the recorded bytes take the plain name and the recorded commit's time;
# against the record with one hash changed, the files take the commit's name
# and time and the release says which differ; uncommitted changes are built as
# they stand, named .dirty. Then, without builds: a rebuild's files are checked
# against a record as sha256sum checks a download, with diffoscope saying how
# one differs, and the recorded packages not installed at their versions are
# named.
#
#   release_records.sh PROJECT_ROOT WORK_DIRECTORY
set -euo pipefail
root=$1 work=$2 status=0
rm -rf "$work" && mkdir -p "$work"
newest=$(cd "$root/releases" && ls -d [0-9]* | sort -V | tail -n 1)
recorded=$(tr -d '\r\n' <"$root/releases/$newest/commit")
if ! git -C "$root" cat-file -e "$recorded^{commit}" 2>/dev/null; then
  echo "skipped: release $newest's commit $recorded is not in this clone"
  exit 77
fi
project=$work/project
git clone -q --no-checkout "$root" "$project" && cd "$project"
git checkout -q --detach "$recorded" && git config user.email test@example.invalid &&
  git config user.name test
rm -rf scripts && cp -r "$root/scripts" . && cp -r "$root/releases/$newest" releases/
git add -A && GIT_COMMITTER_DATE=@2000000000 git commit -qm "today's release scripts, and the record"

# release_as CASE EXPECTED PATTERN...: the release of the clone is named
# EXPECTED, and says lines that match each PATTERN.
release_as() {
  local case=$1 expected=$2 got pattern
  shift 2
  "$project/scripts/release" "$work/out" >"$work/out.log" 2>&1 || got=failed
  got=${got:-$(sed -n 's/^Built \([^,]*\),.*/\1/p' "$work/out.log")} named=$got
  [ "$got" = "$expected" ] || { echo "$case: named $got, not $expected" >&2 && status=1; }
  for pattern in "$@"; do
    grep -q -- "$pattern" "$work/out.log" || { echo "$case: no line \"$pattern\"" >&2 && status=1; }
  done
}
scripts() {
  (project_root=$project && source "$root/scripts/records.sh" &&
    source "$root/scripts/record_check.sh" && "$@")
}
release_as "the recorded bytes" "$newest" "SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$recorded"))"
# Other packages may give other bytes, rightly not named as the release.
if [ "$named" != "$newest" ] && [ -n "$(scripts changed_packages "releases/$newest")" ]; then
  echo "Not tried: the recorded bytes, as the packages of release $newest are not all installed"
  status=0
fi
sed -i -E '1s/^0/1/; t; 1s/^./0/' "releases/$newest/SHA256SUMS"
GIT_COMMITTER_DATE=@2000000100 git commit -qam "one hash changed"
release_as "one hash changed" "$newest+g$(git rev-parse --short=12 HEAD)" "SOURCE_DATE_EPOCH=2000000100)" \
  "differ from releases/$newest/: $(sed -n '1s/.*  //p' "releases/$newest/SHA256SUMS") "
echo "a change not committed" >>README.md
release_as "a change not committed" "$newest+g$(git rev-parse --short=12 HEAD).dirty" \
  "and changes not committed"
unzip -p "$work"/out/svcentry-*.zip README.md | grep -q "^a change not committed$" ||
  { echo "the dirty build's zip does not hold the README as it stands" >&2 && status=1; }

# check CASE EXPECTED_STATUS EXPECTED: the files in $work/rebuilt that are not as
# the record in $work/record lists them, ";"-separated.
check() {
  local got=0 output
  output=$(scripts differing_files "$work/record" "$work/rebuilt" 2>&1 | paste -sd ';') || got=$?
  if [ "$got" != "$2" ] || [[ $output != $3 ]]; then
    printf '%s: status %s, not %s, and "%s", not "%s"\n' "$1" "$got" "$2" "$output" "$3" >&2
    status=1
  fi
}
mkdir -p "$work/released" "$work/record"
printf 'MZ\x90\x00program' >"$work/released/svcentry.exe"
printf 'the notices\n' >"$work/released/NOTICES.txt"
(cd "$work/released" && sha256sum svcentry.exe NOTICES.txt) >"$work/record/SHA256SUMS"
cp -r "$work/released" "$work/rebuilt"
check "the same files" 0 ""
sed -i 's/$/\r/' "$work/record/SHA256SUMS"
check "a record checked out with CR LF" 0 ""
printf '%s' "$(tr -d '\r' <"$work/record/SHA256SUMS")" >"$work/record/SHA256SUMS"
printf 'the notices!\n' >"$work/rebuilt/NOTICES.txt"
check "the last line without its line end, and its file changed" 0 NOTICES.txt
cp "$work/released/NOTICES.txt" "$work/rebuilt/" && rm "$work/rebuilt/svcentry.exe"
check "a file not rebuilt" 0 svcentry.exe
printf 'MZ\x91\x00program' >"$work/rebuilt/svcentry.exe"
if command -v diffoscope >/dev/null; then
  got=$(scripts explain "$work/rebuilt" "$work/released" svcentry.exe)
  grep -q '^  --- .*released/svcentry.exe' <<<"$got" &&
    grep -q '^+++ .*rebuilt/svcentry.exe' "$work/rebuilt/diffoscope.txt" ||
    { echo "one byte changed: no diffoscope report: $got" >&2 && status=1; }
fi
cp "$work/released/svcentry.exe" "$work/rebuilt/"
printf '\nnot a line of sha256sum\n' >>"$work/record/SHA256SUMS"
check "a record that cannot be read" 2 "*cannot be checked*"

# The recorded packages not installed at their recorded versions: names as
# dpkg-query gives them with or without an architecture, and CR LF line ends.
version() { dpkg-query -W -f='${Version}' "$1"; }
printf '%s\t%s\r\n' cmake "$(version cmake)" "libc6:$(dpkg --print-architecture)" \
  "$(version "libc6:$(dpkg --print-architecture)")" zip 0.0-1 no-such-package 1.0 \
  >"$work/record/packages"
got=$(scripts changed_packages "$work/record" | paste -sd ';')
if [ "$got" != "  zip: recorded 0.0-1, installed $(version zip);  no-such-package: recorded 1.0, installed none" ]
then
  echo "an update and a package not installed: $got" >&2
  status=1
fi
exit $status
