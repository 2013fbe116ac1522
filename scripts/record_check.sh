# Checking a recorded release (releases/VERSION/, scripts/records.sh): its
# commit is built again, with that commit's own scripts, and every file is
# compared with the record.
# shellcheck shell=bash

# changed_packages RECORD USED: prints "  PACKAGE: recorded X, installed Y"
# for each package in the file USED (what a rebuild used, as release_inputs
# prints it) whose version is not the one in RECORD/packages, or "not
# recorded" for one the record lacks (those of 1.0.0 and 1.1.0 were listed
# another way).
changed_packages() {
  LC_ALL=C join -t $'\t' -a 2 -e '' -o 0,1.2,2.2 \
    <(tr -d '\r' <"$1/packages" | LC_ALL=C sort) <(LC_ALL=C sort "$2") |
    awk -F '\t' '$2 == "" { printf "  %s: not recorded, installed %s\n", $1, $3 }
      $2 != "" && $2 != $3 {
        printf "  %s: recorded %s, installed %s\n", $1, $2, $3 }'
}

# rebuild_recorded COMMIT RECORD SCRATCH: builds the release of COMMIT into
# SCRATCH/release with that commit's own scripts, in a worktree, traced
# into SCRATCH/trace. With its record beside it, the commit's own release
# script knows that it builds the release. The recorded files are
# unsigned, and their time is the commit's.
rebuild_recorded() {
  git -C "$project_root" worktree prune
  if ! git -C "$project_root" worktree add --detach -q "$3/source" "$1"; then
    echo "release: no worktree of commit $1" >&2
    return 2
  fi
  # As the commit's own scripts read it, without the CRs of a checkout
  # that gave its lines CR LF ends.
  local name
  mkdir -p "$3/source/releases/${2##*/}" || return 2
  for name in commit packages SHA256SUMS; do
    tr -d '\r' <"$2/$name" >"$3/source/releases/${2##*/}/$name" || return 2
  done
  if ! (unset SOURCE_DATE_EPOCH SVCENTRY_SIGN_CERT SVCENTRY_SIGN_KEY \
    SVCENTRY_RELEASE_NAME && export SVCENTRY_RELEASE_TRACED_BY_CALLER=1 &&
    traced "$3/trace" "$3/source/scripts/release" "$3/release") \
    >"$3/log" 2>&1; then
    cat "$3/log" >&2
    echo "release: the release did not build from commit $1" >&2
    return 2
  fi
}

# explain_differences DIRECTORY DOWNLOADS REPORT NAME...: writes
# diffoscope's report of how each file NAME in DIRECTORY differs from the
# one in DOWNLOADS into the file REPORT, and prints its first lines.
explain_differences() {
  local directory=$1 against=$2 report=$3 name
  shift 3
  if [ -z "$against" ]; then
    echo "To see how they differ from the released files, give those too:" \
      "--against DOWNLOADS"
    return
  fi
  if ! command -v diffoscope >/dev/null; then
    echo "To see how they differ, install diffoscope: apt-get install" \
      "diffoscope-minimal (or diffoscope, which knows more formats)"
    return
  fi
  : >"$report"
  for name in "$@"; do
    if [ -f "$against/$name" ] && [ -f "$directory/$name" ]; then
      diffoscope "$against/$name" "$directory/$name" >>"$report" 2>&1 || true
    else
      echo "$name is not in both $against and $directory" >>"$report"
    fi
  done
  echo "diffoscope, the released file first and the rebuilt one second:"
  head -n 20 "$report" | sed 's/^/  /'
  echo "The whole report: $report"
}

# compare_files RECORD DIRECTORY DOWNLOADS REPORT: checks the files in
# DIRECTORY with sha256sum against RECORD/SHA256SUMS, as a user checks a
# download, and explains those that differ, diffoscope's report going to
# REPORT. Returns 1 when one differs or is missing, and 2 when the record
# cannot be read.
compare_files() {
  local result differ=()
  if result=$(cd "$2" && tr -d '\r' <"$1/SHA256SUMS" |
    sha256sum --check --strict --quiet 2>&1); then
    return 0
  fi
  mapfile -t differ < <(sed -n 's/: FAILED\( open or read\)\{0,1\}$//p' \
    <<<"$result")
  if [ ${#differ[@]} -eq 0 ]; then
    echo "release: $1/SHA256SUMS cannot be checked: $result" >&2
    return 2
  fi
  echo "These files differ from the record, or are missing:"
  printf '  %s\n' "${differ[@]}"
  explain_differences "$2" "$3" "$4" "${differ[@]}"
  return 1
}

# whole_record VERSION: whether release VERSION has a whole record; says
# which releases have one when it has not.
whole_record() {
  local record=$records_directory/$1
  [ -f "$record/commit" ] && [ -f "$record/packages" ] &&
    [ -s "$record/SHA256SUMS" ] && return 0
  echo "release: no whole record of $1; recorded:" \
    "$(find "$records_directory" -mindepth 1 -maxdepth 1 -type d \
      -name '[0-9]*' -printf '%f\n' | sort -V | tr '\n' ' ')" >&2
  return 1
}

# report_packages RECORD SCRATCH DIRECTORY: lists in DIRECTORY/packages the
# packages the rebuild traced in SCRATCH used, and prints those that are not
# at RECORD's versions. Returns 0 when all are, 1 when one is not, and 2
# when the trace cannot be read.
report_packages() {
  local changes
  if ! release_inputs "$2/trace" "$2/release" >"$3/packages"; then
    echo "release: cannot tell which packages the rebuild used" >&2
    return 2
  fi
  changes=$(changed_packages "$1" "$3/packages")
  [ -n "$changes" ] || return 0
  echo "The packages the rebuild used differ from those release" \
    "${1##*/} was built with:"
  echo "$changes"
  return 1
}

# check_release VERSION DIRECTORY DOWNLOADS: rebuilds release VERSION from
# its recorded commit, leaves the files and the packages the rebuild used
# in DIRECTORY, and compares the files with the record. Says first when
# those packages are not the recorded ones. Returns 0 when every file is
# the same, 1 when one differs, 2 when it cannot rebuild, and 3 when it
# cannot tell: a file differs while a package the build used differs too,
# or the commit is not in this clone.
check_release() {
  local version=$1 output=$2 record=$records_directory/$1
  whole_record "$version" || return 2
  install_part "the release tools" "${release_packages[@]}" || return 2
  local commit scratch changed=0 status=0
  commit=$(tr -d '\r\n' <"$record/commit")
  if ! git -C "$project_root" cat-file -e "$commit^{commit}" 2>/dev/null; then
    echo "Cannot tell: release $version's commit $commit is not in this clone"
    return 3
  fi
  scratch=$(realpath "$(mktemp -d)")
  # shellcheck disable=SC2064 # the paths are fixed now
  trap "git -C $(printf %q "$project_root") worktree remove --force \
    $(printf %q "$scratch/source") 2>/dev/null || true
    rm -rf $(printf %q "$scratch")" EXIT
  rebuild_recorded "$commit" "$record" "$scratch" || return 2
  # The rebuild is checked where it was built, with nothing of an earlier
  # check beside it, and kept in DIRECTORY in place of the last one.
  mkdir -p "$output" && (cd "$output" && rm -f SHA256SUMS packages \
    diffoscope.txt svcentry.exe svcentry-msi.dll svcentry-*.zip \
    svcentry-*.msi svcentry-*.cdx.json LICENSE THIRD-PARTY-NOTICES.txt) ||
    return 2
  find "$scratch/release" -maxdepth 1 -type f -exec cp -t "$output" {} + ||
    return 2
  report_packages "$record" "$scratch" "$output" || changed=$?
  [ $changed -ne 2 ] || return 2
  compare_files "$record" "$scratch/release" "$3" "$output/diffoscope.txt" ||
    status=$?
  if [ $status -eq 0 ]; then
    echo "Release $version rebuilt from commit $commit into $output: each of" \
      "its $(grep -c . "$record/SHA256SUMS") recorded files is the same"
  elif [ $status -eq 1 ] && [ $changed -eq 1 ]; then
    echo "Cannot tell: a file differs, and so do the packages named first"
    status=3
  fi
  return $status
}
