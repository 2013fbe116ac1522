#!/usr/bin/env bash
# Runs a test when what it needs is here; otherwise says what is missing and
# exits 77, which CTest reports as a skip (SKIP_RETURN_CODE). A missing tool
# never passes and never fails a test: only a tool that is here and fails
# does.
#
#   requires.sh NEED... -- COMMAND [ARGUMENT...]
#
# where each NEED is one of
#   --command NAME WHERE   NAME on the PATH; WHERE says where it comes from
#   --file PATH WHERE      PATH exists
#   --wine32 PREFIX        the Wine prefix PREFIX runs 32-bit programs; a
#                          32-bit Wine that is there but fails fails the
#                          test (exit 1) instead
set -euo pipefail

missing=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  case "$1" in
    --command)
      command -v "$2" >/dev/null || missing+=("no $2 on the PATH ($3)")
      shift 3
      ;;
    --file)
      [ -e "$2" ] || missing+=("no $2 ($3)")
      shift 3
      ;;
    --wine32)
      status=0
      reason=$("$(dirname "$0")/../scripts/wine" "$2" --32-bit 2>&1) ||
        status=$?
      if [ $status -eq 77 ]; then
        missing+=("$reason")
      elif [ $status -ne 0 ]; then
        echo "$reason" >&2
        exit 1
      fi
      shift 2
      ;;
    *)
      echo "$0: unknown need $1" >&2
      exit 2
      ;;
  esac
done
if [ ${#missing[@]} -gt 0 ]; then
  reasons=$(printf '%s; ' "${missing[@]}")
  echo "skipped: ${reasons%; }"
  exit 77
fi
[ $# -ge 2 ] || {
  echo "usage: $0 NEED... -- COMMAND [ARGUMENT...]" >&2
  exit 2
}
shift
exec "$@"
