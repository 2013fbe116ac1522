# The record of each release, kept in the repository as releases/VERSION/:
# `commit` (the commit it was built from), `packages` (the Debian packages
# its build used, as release_inputs prints them) and `SHA256SUMS` (its
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

# release_name VERSION COMMIT: prints the name the files that this build of
# COMMIT makes take, VERSION or VERSION+gCOMMIT, and says on standard error
# which it is and why. Outside a
# checkout of its own, which cannot tell, SVCENTRY_RELEASE_NAME gives the
# name, as SOURCE_DATE_EPOCH gives the time.
release_name() {
  local version=$1 recorded="" short
  if [ -f "$records_directory/$version/commit" ]; then
    recorded=$(tr -d '\r\n' <"$records_directory/$version/commit")
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
  short=$(git -C "$project_root" rev-parse --short=12 "$2")
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

# release_time LABEL VERSION COMMIT: prints the time that files named LABEL,
# built from COMMIT, carry: that of the commit their name stands for, so a
# recorded release keeps its commit's time when a later commit only adds
# records. An exported SOURCE_DATE_EPOCH must be that time. Only a copy
# outside a checkout of its own, which has no commit to ask, takes
# SOURCE_DATE_EPOCH as given.
release_time() {
  local given=${SOURCE_DATE_EPOCH:-} dated=$3 time
  if ! own_repository; then
    [ -n "$given" ] || fail "not a checkout of its own: set" \
      "SOURCE_DATE_EPOCH to the time of the commit these sources are"
    echo "$given"
    return
  fi
  if [ "$1" = "$2" ] && [ -f "$records_directory/$2/commit" ]; then
    dated=$(tr -d '\r\n' <"$records_directory/$2/commit")
  fi
  time=$(git -C "$project_root" log -1 --format=%ct "$dated") ||
    fail "cannot read the time of commit $dated"
  [ -z "$given" ] || [ "$given" = "$time" ] || fail "SOURCE_DATE_EPOCH=$given" \
    "is not $time, the time of commit $dated, which files named $1 carry:" \
    "unset it"
  echo "$time"
}

# write_record VERSION DIRECTORY PACKAGES COMMIT: records the unsigned
# release in DIRECTORY, built from COMMIT with the packages listed in the
# file PACKAGES, as release VERSION. The record appears whole or not at all.
write_record() {
  local partial
  [ -n "$1" ] && [ ! -e "$records_directory/$1" ] ||
    fail "no release to record, or one recorded already: '$1'"
  mkdir -p "$records_directory"
  partial=$(mktemp -d "$records_directory/.partial.XXXXXX")
  echo "$4" >"$partial/commit"
  cp "$3" "$partial/packages"
  cp "$2/SHA256SUMS" "$partial/SHA256SUMS"
  chmod 0755 "$partial"
  mv -T "$partial" "$records_directory/$1"
  echo "Recorded release $1 in releases/$1: commit it there"
}

