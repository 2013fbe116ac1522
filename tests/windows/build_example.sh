#!/usr/bin/env bash
# Builds an example installer as its author would: the files it packs and
# its script alone in a directory, and the compiler run there. The directory
# is emptied first, so that a build that is skipped or fails leaves no
# installer of an earlier build behind for the tests to run. A build that
# is skipped (exit status 77) leaves the reason it gave in skipped.txt
# there instead, for the tests that would have run the installer.
#
#   build_example.sh DIRECTORY FILE... -- COMMAND [ARGUMENT...]
set -euo pipefail
directory=$1
shift
files=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  files+=("$1")
  shift
done
shift
rm -rf "$directory"
mkdir -p "$directory"
cp "${files[@]}" "$directory"
cd "$directory"
status=0
output=$("$@" 2>&1) || status=$?
[ -z "$output" ] || printf '%s\n' "$output"
if [ $status -eq 77 ]; then
  grep '^skipped: ' <<<"$output" >skipped.txt
fi
exit $status
