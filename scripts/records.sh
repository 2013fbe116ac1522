# The record of each release, kept in the repository as releases/VERSION/:
# `commit` (the commit it was built from), `packages` (the Debian packages
# its bytes come from, as release_inputs prints them) and `SHA256SUMS` (its
# unsigned files). Only a build of that commit, or of one that differs from
# it in releases/ alone, with nothing uncommitted, takes the plain name
# VERSION; so does the build that `scripts/release --record` records. Any
# other build carries its commit in its name, so that two different sets of
# files never pass for the same release.
# shellcheck shell=bash

records_directory=$project_root/releases

# own_repository: whether the project is a git checkout of its own, not a
# copy that merely lies inside another checkout.
own_repository() {
  local up
  up=$(git -C "$project_root" rev-parse --show-cdup 2>/dev/null) && [ -z "$up" ]
}

# clean_checkout: whether the project is a checkout of its own with nothing
# uncommitted.
clean_checkout() {
  own_repository && git -C "$project_root" diff --quiet HEAD
}

# release_name VERSION: prints the name this build's files take, VERSION or
# VERSION+gCOMMIT, and says on standard error which it is and why. Outside a
# checkout of its own, which cannot tell, SVCENTRY_RELEASE_NAME gives the
# name, as SOURCE_DATE_EPOCH gives the time.
release_name() {
  local version=$1 recorded="" short
  if [ -f "$records_directory/$version/commit" ]; then
    recorded=$(<"$records_directory/$version/commit")
  fi
  if ! own_repository; then
    if [ -n "${SVCENTRY_RELEASE_NAME:-}" ]; then
      echo "$SVCENTRY_RELEASE_NAME"
      return
    fi
    echo "release: not a checkout of its own, so not known to be any" \
      "commit's files" >&2
    echo "$version+unverified"
    return
  fi
  if [ -n "$recorded" ] && clean_checkout &&
    git -C "$project_root" diff --quiet "$recorded" -- . ':!releases' \
      2>/dev/null; then
    echo "release: this is release $version, as recorded (commit $recorded)" >&2
    echo "$version"
    return
  fi
  short=$(git -C "$project_root" rev-parse --short=12 HEAD)
  git -C "$project_root" diff --quiet HEAD || short+=.dirty
  if [ -z "$recorded" ]; then
    echo "release: $version has no record yet, so these files are named" \
      "$version+g$short; 'scripts/release --record' on a commit makes the" \
      "release" >&2
  elif ! git -C "$project_root" cat-file -e "$recorded^{commit}" 2>/dev/null; then
    echo "release: release $version's commit $recorded is not in this clone," \
      "so these files are named $version+g$short" >&2
  else
    echo "release: not release $version, which is commit $recorded:" \
      "these files are named $version+g$short" >&2
  fi
  echo "$version+g$short"
}

# write_record VERSION DIRECTORY PACKAGES: records the unsigned release in
# DIRECTORY, built from the checked-out commit with the packages listed in
# the file PACKAGES, as release VERSION. The record appears whole or not
# at all.
write_record() {
  local partial
  mkdir -p "$records_directory"
  partial=$(mktemp -d "$records_directory/.partial.XXXXXX")
  git -C "$project_root" rev-parse HEAD >"$partial/commit"
  cp "$3" "$partial/packages"
  cp "$2/SHA256SUMS" "$partial/SHA256SUMS"
  chmod 0755 "$partial"
  mv "$partial" "$records_directory/$1"
  echo "Recorded release $1 in releases/$1: commit it there"
}

# check_release VERSION DIRECTORY: rebuilds release VERSION from its recorded
# commit, in a scratch worktree, compares every file with the record, and
# leaves the rebuilt files in DIRECTORY. Says first when the packages
# installed differ from the recorded ones. Returns 0 when every file is the
# same, 1 when one differs, 2 when it cannot rebuild, and 3 when it cannot
# tell: a file differs while the packages differ too, or the commit is not
# in this clone.
check_release() {
  local version=$1 output=$2 record=$records_directory/$1
  if [ ! -f "$record/commit" ] || [ ! -f "$record/packages" ] ||
    [ ! -s "$record/SHA256SUMS" ]; then
    echo "release: no whole record of $version; recorded:" \
      "$(find "$records_directory" -mindepth 1 -maxdepth 1 -type d \
        -name '[0-9]*' -printf '%f\n' | sort -V | tr '\n' ' ')" >&2
    return 2
  fi
  install_part "the release tools" "${release_packages[@]}" || return 2
  local commit packages_differ=0 changes
  commit=$(<"$record/commit")
  changes=$(LC_ALL=C join -t $'\t' -a 1 -a 2 -e none -o 0,1.2,2.2 \
    "$record/packages" <(release_inputs) |
    awk -F '\t' '$2 != $3 {
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
  git -C "$project_root" worktree prune
  # shellcheck disable=SC2064 # the paths are fixed now
  trap "git -C $(printf %q "$project_root") worktree remove --force \
    $(printf %q "$scratch/source") 2>/dev/null || true
    rm -rf $(printf %q "$scratch")" EXIT
  if ! git -C "$project_root" worktree add --detach -q "$scratch/source" \
    "$commit"; then
    echo "release: no worktree of commit $commit" >&2
    return 2
  fi
  # With its record beside it, the commit's own release script knows that it
  # builds the release. The recorded files are unsigned, and their time is
  # the commit's.
  mkdir -p "$scratch/source/releases"
  cp -r "$record" "$scratch/source/releases/"
  if ! env -u SOURCE_DATE_EPOCH -u SVCENTRY_SIGN_CERT -u SVCENTRY_SIGN_KEY \
    "$scratch/source/scripts/release" "$scratch/release" >"$scratch/log" 2>&1; then
    cat "$scratch/log" >&2
    echo "release: release $version did not build from commit $commit" >&2
    return 2
  fi
  mkdir -p "$output"
  find "$scratch/release" -maxdepth 1 -type f -exec cp -f -t "$output" {} +

  local hash name differ=()
  while read -r hash name; do
    if [ ! -f "$scratch/release/$name" ]; then
      differ+=("$name (not built)")
    elif [ "$(sha256sum <"$scratch/release/$name" | cut -d' ' -f1)" != "$hash" ]
    then
      differ+=("$name")
    fi
  done <"$record/SHA256SUMS"
  if [ ${#differ[@]} -eq 0 ]; then
    echo "Release $version rebuilt from commit $commit into $output: each of" \
      "its $(wc -l <"$record/SHA256SUMS") recorded files is the same"
    return 0
  fi
  echo "Release $version rebuilt from commit $commit into $output differs" \
    "from its record:"
  printf '  %s\n' "${differ[@]}"
  [ $packages_differ -eq 1 ] && return 3
  return 1
}
