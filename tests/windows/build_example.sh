#!/usr/bin/env bash
# Builds an example installer as its author would: the files it packs and
# its script alone in a directory, and the compiler run there. The directory
# is emptied first, so that a build that is skipped or fails leaves no
# installer of an earlier build behind for the tests to run.
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
exec "$@"
