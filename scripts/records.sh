# The record of each release, kept in the repository as releases/VERSION/:
# `commit` (the commit it was built from), `packages` (the Debian packages
# its bytes come from, as release_inputs prints them) and `SHA256SUMS` (its
# unsigned files). A build is release VERSION only when it comes from that
# commit, or from one that differs from it in releases/ alone; any other
# build of VERSION carries its commit in its name, so that two different sets
# of files never pass for the same release.
# shellcheck shell=bash

records_directory=$project_root/releases

# own_repository: whether the project is a git checkout of its own, not a
# copy that merely lies inside another checkout.
own_repository() {
  [ "$(git -C "$project_root" rev-parse --show-toplevel 2>/dev/null)" = \
    "$project_root" ]
}

# release_name VERSION: prints the name this build's files take, VERSION or
# VERSION+gCOMMIT, and says on standard error which it is and why. Outside a
# checkout of its own, SVCENTRY_RELEASE_NAME gives the name, as
# SOURCE_DATE_EPOCH gives the time.
release_name() {
  local version=$1 record=$records_directory/$1 recorded short
  if [ ! -f "$record/commit" ]; then
    echo "release: $version has no record yet (releases/$version);" \
      "'scripts/release --record' makes this build the release" >&2
    echo "$version"
    return
  fi
  recorded=$(<"$record/commit")
  if ! own_repository; then
    echo "release: not a checkout of its own, so not known to be" \
      "release $version (commit $recorded)" >&2
    echo "${SVCENTRY_RELEASE_NAME:-$version+unverified}"
    return
  fi
  if git -C "$project_root" diff --quiet "$recorded" -- . ':!releases' \
    2>/dev/null && git -C "$project_root" diff --quiet HEAD; then
    echo "release: this is release $version, as recorded (commit $recorded)" >&2
    echo "$version"
    return
  fi
  short=$(git -C "$project_root" rev-parse --short=12 HEAD)
  git -C "$project_root" diff --quiet HEAD || short+=.dirty
  echo "release: not release $version, which is commit $recorded:" \
    "these files are named $version+g$short" >&2
  echo "$version+g$short"
}

# write_record VERSION DIRECTORY: records the unsigned release in DIRECTORY,
# built from the checked-out commit, as release VERSION.
write_record() {
  local record=$records_directory/$1
  mkdir -p "$record"
  git -C "$project_root" rev-parse HEAD >"$record/commit"
  release_inputs >"$record/packages"
  cp "$2/SHA256SUMS" "$record/SHA256SUMS"
  echo "Recorded release $1 in releases/$1: commit it there"
}

# check_release VERSION DIRECTORY: rebuilds release VERSION from its recorded
# commit, in a scratch worktree, into DIRECTORY, and compares every file with
# the record. Says first when the packages installed differ from the
# recorded ones. Returns 0 when every file is the same, 1 when one differs,
# 2 when it cannot rebuild, and 3 when it cannot tell: a file differs while
# the packages differ too, or the commit is not in this clone.
check_release() {
  local version=$1 output=$2 record=$records_directory/$1
  if [ ! -f "$record/commit" ]; then
    echo "release: no record of $version; recorded:" \
      "$(find "$records_directory" -mindepth 1 -maxdepth 1 -type d \
        -printf '%f\n' | sort -V | tr '\n' ' ')" >&2
    return 2
  fi
  install_missing "${release_packages[@]}"
  local commit packages_differ=0
  commit=$(<"$record/commit")
  local changes
  changes=$(join -t $'\t' -a 1 -a 2 -e none -o 0,1.2,2.2 "$record/packages" \
    <(release_inputs) | awk -F '\t' '$2 != $3 {
      printf "  %s: recorded %s, installed %s\n", $1, $2, $3 }')
  if [ -n "$changes" ]; then
    packages_differ=1
    echo "The installed packages differ from those release $version was" \
      "built with:"
    echo "$changes"
  fi
  if ! git -C "$project_root" cat-file -e "$commit^{commit}" 2>/dev/null; then
    echo "Cannot tell: release $version's commit $commit is not in this clone"
    return 3
  fi

  local scratch
  scratch=$(mktemp -d)
  # shellcheck disable=SC2064 # the paths are fixed now
  trap "git -C '$project_root' worktree remove --force '$scratch/source'
    rm -rf '$scratch'" EXIT
  git -C "$project_root" worktree add --detach -q "$scratch/source" "$commit"
  # The recorded files are unsigned, and their time is the commit's.
  if ! env -u SOURCE_DATE_EPOCH -u SVCENTRY_SIGN_CERT -u SVCENTRY_SIGN_KEY \
    "$scratch/source/scripts/release" "$output" >"$scratch/log" 2>&1; then
    cat "$scratch/log" >&2
    echo "release: release $version did not build from commit $commit" >&2
    return 2
  fi

  local hash name differ=()
  while read -r hash name; do
    if [ ! -f "$output/$name" ]; then
      differ+=("$name (not built)")
    elif [ "$(sha256sum <"$output/$name" | cut -d' ' -f1)" != "$hash" ]; then
      differ+=("$name")
    fi
  done <"$record/SHA256SUMS"
  if [ ${#differ[@]} -eq 0 ]; then
    echo "Release $version rebuilt from commit $commit in $output: same"
    return 0
  fi
  echo "Release $version rebuilt from commit $commit in $output differs" \
    "from its record:"
  printf '  %s\n' "${differ[@]}"
  [ $packages_differ -eq 1 ] && return 3
  return 1
}
