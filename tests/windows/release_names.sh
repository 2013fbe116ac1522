#!/usr/bin/env bash
# The names scripts/records.sh gives a release's files, case by case, in a
# scratch repository: only the recorded commit, or one that differs from it
# in releases/ alone, with nothing uncommitted, takes the plain version.
#
#   release_names.sh PROJECT_ROOT WORK_DIRECTORY
set -euo pipefail
root=$1
work=$2

rm -rf "$work"
mkdir -p "$work/project"
cd "$work/project"
git init -q
git config user.email test@example.invalid
git config user.name test
echo one >source.txt
git add source.txt
git commit -qm first
first=$(git rev-parse HEAD)

status=0
# expect CASE EXPECTED [DIRECTORY]: the name release_name gives version 9.9.9
# of the project at DIRECTORY (the scratch repository unless given).
expect() {
  local got
  got=$(project_root=${3:-$work/project} &&
    source "$root/scripts/records.sh" && release_name 9.9.9 2>/dev/null)
  if [ "$got" != "$2" ]; then
    echo "$1: named $got, not $2" >&2
    status=1
  fi
}
record() {
  mkdir -p releases/9.9.9
  echo "$1" >releases/9.9.9/commit
}
short() {
  git rev-parse --short=12 HEAD
}

expect "no record yet" "9.9.9+g$(short)"
record "$first"
expect "the recorded commit" 9.9.9
git add releases
git commit -qm record
expect "the record committed after it" 9.9.9
echo two >source.txt
expect "uncommitted changes" "9.9.9+g$(short).dirty"
git commit -qam second
expect "a later commit" "9.9.9+g$(short)"
record 0123456789abcdef0123456789abcdef01234567
git commit -qam "record a commit the clone lacks"
expect "a commit not in the clone" "9.9.9+g$(short)"

# A copy without a repository of its own, inside another one.
record "$first"
mkdir -p "$work/project/copy/releases"
cp -r releases/9.9.9 "$work/project/copy/releases/"
expect "a copy" 9.9.9+unverified "$work/project/copy"
SVCENTRY_RELEASE_NAME=9.9.9+gabc expect "a copy, named" 9.9.9+gabc \
  "$work/project/copy"
SVCENTRY_RELEASE_NAME=9.9.9 expect "a checkout, named" "9.9.9+g$(short).dirty"
exit $status
