# Records, releases/VERSION/: `commit`, `SHA256SUMS` (unsigned files), `packages`.
# shellcheck shell=bash
records_directory=$project_root/releases
recorded_commit() { tr -d '\r\n' <"$records_directory/$1/commit"; }
commit_time() { git -C "$project_root" log -1 --format=%ct "$1" --; }

# differing_files RECORD DIRECTORY: the files not as RECORD/SHA256SUMS lists them.
differing_files() {
  local result
  result=$(cd "$2" && tr -d '\r' <"$1/SHA256SUMS" | sha256sum --check --strict --quiet 2>&1) &&
    return 0
  sed -n 's/: FAILED\( open or read\)\{0,1\}$//p' <<<"$result" | grep . && return
  echo "release: $1/SHA256SUMS cannot be checked: $result" >&2 && return 2
}

# package_closure PACKAGE...: "NAME<TAB>VERSION" of the PACKAGEs and what they depend
# on, installed, as .buildinfo lists Installed-Build-Depends (with virtual packages'
# providers, of this machine's architecture).
package_closure() {
  dpkg-query -W -f='${db:Status-Abbrev}\t${Package}\t${Architecture}\t${Version}\t${Provides}\t${Pre-Depends},${Depends}\n' |
    awk -F '\t' -v arch="$(dpkg --print-architecture)" -v wanted="$*" '
      function add(list, separator,  items, i) {
        for (i = split(list, items, separator); i > 0; i--)
          if (gsub(/\(.*\)|:[a-z0-9]+| /, "", items[i]) >= 0 && items[i] != "") queue[++queued] = items[i]
      }
      $1 ~ /^ii/ && ($3 == arch || $3 == "all") {
        version[$2] = $4; depends[$2] = $6
        for (i = split($5, provided, ","); i > 0; i--)
          if (gsub(/\(.*\)| /, "", provided[i]) >= 0) providers[provided[i]] = providers[provided[i]] "," $2
      }
      END {
        for (add(wanted, " "); ++next_name <= queued; seen[name] = 1)
          if (!((name = queue[next_name]) in seen) && !(name in version)) add(providers[name], ",")
          else if (!(name in seen)) { print name "\t" version[name]; add(depends[name], "[,|]") }
      }' | LC_ALL=C sort
}

# write_record VERSION DIRECTORY COMMIT: records DIRECTORY's files, whole or not at all.
write_record() {
  local partial
  partial=$(mktemp -d "$records_directory/.partial.XXXXXX")
  echo "$3" >"$partial/commit" && cp "$2/packages" "$2/SHA256SUMS" "$partial/"
  chmod 0755 "$partial" && mv -T "$partial" "$records_directory/$1"
  echo "Recorded release $1 in releases/$1: commit it there"
}
