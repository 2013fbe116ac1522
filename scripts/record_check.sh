# --check: a recorded release's commit is built again with its own scripts, in
# the release's clean environment, and judged by its files' bytes.
# shellcheck shell=bash

# changed_packages RECORD: "  NAME: recorded X, installed Y" where they differ.
changed_packages() {
  package_closure $(cut -f 1 "$1/packages") | awk -F '\t' 'NR == FNR { now[$1] = $2; next }
    { sub(/\r$/, ""); name = $1; sub(/:.*/, "", name); v = name in now ? now[name] : "none" }
    v != $2 { printf "  %s: recorded %s, installed %s\n", $1, $2, v }' - "$1/packages"
}

# explain DIRECTORY DOWNLOADS NAME...: diffoscope on DOWNLOADS/NAME and DIRECTORY/NAME.
explain() {
  local report=$1/diffoscope.txt against=$2 name
  shift 2
  [ -n "$against" ] && command -v diffoscope >/dev/null || { echo "To see how, give the" \
    "released files (--against DOWNLOADS), with diffoscope (diffoscope-minimal)" && return; }
  for name in "$@"; do diffoscope "$against/$name" "${report%/*}/$name" 2>&1 || true; done >"$report"
  echo "diffoscope, the released file first, then the rebuilt one:"
  head -n 20 "$report" | sed 's/^/  /' && echo "The whole report: $report"
}

# rebuild COMMIT RECORD SCRATCH: COMMIT's own scripts, given its record, build SCRATCH/release.
rebuild() {
  local into=$3/source/releases/${2##*/} name
  git -C "$project_root" worktree prune
  git -C "$project_root" worktree add --detach -q "$3/source" "$1" && mkdir -p "$into" || return 2
  for name in commit packages SHA256SUMS; do tr -d '\r' <"$2/$name" >"$into/$name" || return 2; done
  epoch=$(commit_time "$1") signed=0
  (cd "$3/source" && clean_env ./scripts/release "$3/release") >"$3/log" 2>&1 && return
  cat "$3/log" >&2 && echo "release: commit $1 did not build" >&2 && return 2
}

# check_release VERSION DIRECTORY DOWNLOADS: rebuilds release VERSION into DIRECTORY:
# 0 when each file is the recorded one, 1 when one is not, 2 when it cannot rebuild or
# read the record, 3 when it cannot tell (a package differs too, or no commit).
check_release() {
  local record=$records_directory/$1 commit differ changes
  [ -s "$record/SHA256SUMS" ] && [ -f "$record/packages" ] && commit=$(recorded_commit "$1") ||
    { echo "release: no whole record of $1 in releases/$1" >&2 && return 2; }
  install_part "the release tools" "${release_packages[@]}" || return 2
  git -C "$project_root" cat-file -e "$commit^{commit}" 2>/dev/null ||
    { echo "Cannot tell: release $1's commit $commit is not in this clone" && return 3; }
  scratch=$(realpath "$(mktemp -d)")
  trap 'git -C "$project_root" worktree remove --force "$scratch/source" 2>/dev/null
    rm -rf "$scratch"' EXIT
  rebuild "$commit" "$record" "$scratch" || return 2
  differ=$(differing_files "$record" "$scratch/release") || return 2
  package_closure "${release_packages[@]}" >"$scratch/release/packages"
  publish "$scratch/release" "$2"
  [ -n "$differ" ] || { echo "Release $1 rebuilt from commit $commit into $2: each of its" \
    "$(grep -c . "$record/SHA256SUMS") recorded files is the same" && return 0; }
  changes=$(changed_packages "$record")
  [ -z "$changes" ] || { echo "The packages release $1 was built with are not all installed" \
    "at their recorded versions:" && echo "$changes"; }
  printf '%s\n' "These files differ from the record, or are missing:" $differ | sed '2,$s/^/  /'
  explain "$2" "$3" $differ
  [ -n "$changes" ] || return 1
  echo "Cannot tell: a file differs, and so do the packages named first" && return 3
}
