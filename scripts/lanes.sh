# The lanes of scripts/test, each run whatever came before it, and the
# summary of all of them.
# shellcheck shell=bash

lane_lines=()
skipped_lines=()
skipped_count=0
failed=0

# ctest_lane PRESET: builds the preset and runs its tests, then counts what
# passed, failed and was skipped, and why each skip was.
ctest_lane() {
  local preset=$1
  local output=$project_root/build/$preset/ctest-output.txt
  echo "=== $preset" >&2
  if ! build_preset "$preset"; then
    lane_lines+=("$preset: could not be built")
    failed=1
    return
  fi
  ctest --preset "$preset" 2>&1 | tee "$output" >&2 || true
  count_lane "$preset" "$output"
}

# count_lane PRESET OUTPUT: reads CTest's OUTPUT of the preset's run.
count_lane() {
  local total failures skipped
  total=$(sed -n 's/.* failed out of \([0-9]*\)$/\1/p' "$2")
  failures=$(sed -n 's/.*, \([0-9]*\) tests\{0,1\} failed out of .*/\1/p' "$2")
  if [ -z "$total" ] || [ -z "$failures" ]; then
    lane_lines+=("$1: its tests did not run")
    failed=1
    return
  fi
  mapfile -t skipped < <(sed -n 's/^\t *[0-9]* - \(.*\) (Skipped)$/\1/p' "$2")
  lane_lines+=("$1: $((total - failures - ${#skipped[@]})) passed, $failures failed, ${#skipped[@]} skipped")
  [ "$failures" -eq 0 ] || failed=1
  skipped_count=$((skipped_count + ${#skipped[@]}))
  [ ${#skipped[@]} -eq 0 ] ||
    skip_reasons "$1" "$project_root/build/$1/Testing/Temporary/LastTest.log" \
      "${skipped[@]}"
}

# skip_reasons PRESET LOG NAME...: each skipped test NAME with the reason it
# gave: its output's first line that begins "skipped: ", or, from
# GoogleTest, the line after "FILE:LINE: Skipped".
skip_reasons() {
  local preset=$1 log=$2 line
  shift 2
  while IFS= read -r line; do
    skipped_lines+=("$preset/$line")
  done < <(awk -v names="$*" '
    BEGIN { split(names, list, " "); for (i in list) wanted[list[i]] = 1 }
    /^[0-9]+\/[0-9]+ Test: / { name = $3; reason_next = 0; next }
    !(name in wanted) || (name in given) { next }
    reason_next { given[name] = 1; print name ": " $0; next }
    /^[^ ]+:[0-9]+: Skipped$/ { reason_next = 1; next }
    /^skipped: / { given[name] = 1; print name ": " substr($0, 10) }' "$log")
}

# command_lane NAME COMMAND...: a lane of one command, passed or failed.
command_lane() {
  local name=$1
  shift
  echo "=== $name" >&2
  if "$@" >&2; then
    lane_lines+=("$name: passed")
  else
    lane_lines+=("$name: failed")
    failed=1
  fi
}

# summarize_lanes: prints the summary and exits as scripts/test says.
summarize_lanes() {
  local line require_all=${SVCENTRY_REQUIRE_ALL:-0}
  echo
  echo "Summary"
  for line in "${not_installed_parts[@]}"; do echo "  not installed: $line"; done
  for line in "${lane_lines[@]}"; do echo "  $line"; done
  [ $skipped_count -eq 0 ] || echo "Skipped:"
  for line in "${skipped_lines[@]}"; do echo "  $line"; done
  if [ $failed -ne 0 ]; then
    echo "FAILED: a test failed, or a lane could not be built or run."
    exit 1
  fi
  if [ $skipped_count -eq 0 ] && [ ${#not_installed_parts[@]} -eq 0 ]; then
    echo "Every test ran and passed."
    exit 0
  fi
  if [ "$require_all" = 1 ]; then
    echo "FAILED: SVCENTRY_REQUIRE_ALL=1, and $skipped_count tests were" \
      "skipped, ${#not_installed_parts[@]} parts not installed."
    exit 1
  fi
  echo "Every test that ran passed; $skipped_count were skipped, as named above."
  exit 0
}
