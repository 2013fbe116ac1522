#!/usr/bin/env bash
# Checks what the README and the guides say that a machine can check, so that
# they cannot drift from what is built:
# - the release's file names carry the version CMakeLists.txt gives, the
#   reproducible check names the newest record, and the supported versions
#   name the current minor version;
# - every GUID is the MSI's product or upgrade code, or one that the WiX
#   source gives;
# - every file path the documents show as code exists in the repository or
#   in the release's zip (a name of no path there, only when the project's
#   own code writes it), and each path the download table says the zip
#   holds, it holds.
#
#   document_facts.sh PROJECT_ROOT VERSION MSIINFO MSI RELEASE_DIRECTORY
set -euo pipefail
cd "$1"
version=$2
msiinfo=$3
msi=$4
zip=$(find "$5" -maxdepth 1 -name 'svcentry-*-windows-x86_64.zip' | head -n 1)
guides=(README.md docs/*.md)
documents=("${guides[@]}" SECURITY.md releases/README.md)
problems=0

problem() {
  echo "$*" >&2
  problems=$((problems + 1))
}

# named VERSION WHAT LINE...: a problem for each "FILE:LINE:MATCH" whose
# version is not VERSION.
named() {
  local expected=$1 what=$2 line found
  shift 2
  for line in "$@"; do
    found=$(grep -oE '[0-9]+(\.[0-9]+)+' <<<"${line#*:*:}" | head -n 1)
    [ "$found" = "$expected" ] ||
      problem "${line%:*}: $what $found, not $expected: ${line#*:*:}"
  done
}

check_versions() {
  local newest names checks
  newest=$(find releases -mindepth 1 -maxdepth 1 -type d -name '[0-9]*' \
    -printf '%f\n' | sort -V | tail -n 1)
  mapfile -t names < <(grep -noE 'svcentry-[0-9.]+[0-9]((-windows-x86_64|-selftest)\.zip|-x64\.msi|\.cdx\.json)|-D Version=[0-9.]+[0-9]|release-[0-9.]+[0-9]|[0-9]+\.[0-9]+\.[0-9]+\+(g|unverified)|ProductCode of [0-9.]+[0-9]' "${guides[@]}")
  named "$version" "names version" "${names[@]}"
  mapfile -t checks < <(grep -noE -- '--check [0-9.]+[0-9]|releases/[0-9.]+[0-9]/' "${guides[@]}")
  named "$newest" "names the record of" "${checks[@]}"
  grep -qE "^\| ${version%.*}\.x \| yes" SECURITY.md ||
    problem "SECURITY.md does not name ${version%.*}.x as supported"
}

check_codes() {
  local properties allowed line code
  properties=$("$msiinfo" export "$msi" Property)
  allowed=$(grep -oE '(ProductCode|UpgradeCode)[[:space:]]+\{?[-0-9A-F]{36}' \
    <<<"$properties" | grep -oE '[-0-9A-F]{36}')
  [ "$(wc -l <<<"$allowed")" -eq 2 ] || problem "$msi gives no product or upgrade code"
  allowed+=$'\n'$(grep -oiE '[-0-9a-f]{36}' windows/svcentry.wxs)
  while IFS= read -r line; do
    code=${line#*:*:}
    grep -qixF -- "$code" <<<"$allowed" ||
      problem "${line%:*}: $code is neither the MSI's product or upgrade code nor one of windows/svcentry.wxs"
  done < <(grep -noiE '[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}' "${documents[@]}")
}

# code_tokens FILE...: "FILE:LINE:TOKEN" for each word of the documents'
# code: the lines of fenced blocks, and the inline code spans elsewhere.
code_tokens() {
  awk '/^```/ { fenced = !fenced; next }
    {
      code = fenced ? $0 : ""
      rest = fenced ? "" : $0
      while (match(rest, /`[^`]+`/)) {
        code = code " " substr(rest, RSTART + 1, RLENGTH - 2)
        rest = substr(rest, RSTART + RLENGTH)
      }
      n = split(code, words, /[ \t"'"'"'()<>|;,=]+/)
      for (i = 1; i <= n; i++) if (words[i] != "") print FILENAME ":" FNR ":" words[i]
    }' "$@"
}

# path_candidates: of code_tokens' lines, those that name a file of the
# project, less "./": a relative path, or a name with a source file's ending.
# Left out: absolute, home and Windows paths, options, variables, ports,
# addresses, the outputs of a build (build/, and what a block extracts into
# signed/), and paths with a placeholder (VERSION, _TARGET) or an ellipsis
# in them.
path_candidates() {
  sed -E 's#^([^:]*:[0-9]+:)\./#\1#' |
    awk -F: '{ word = substr($0, length($1) + length($2) + 3) }
      word ~ /^[\/~$.…-]|[\\:…]|^[0-9]+\/|^(build|signed)\/|(^|[\/_-])[A-Z][A-Z_]+(\/|$)|\.\.\// { next }
      word ~ /\// || word ~ /\.(md|cmd|nsi|iss|wxs|sh|cmake|cpp|h|txt|json|awk)$/'
}

# unresolved KNOWN: of path_candidates' lines, those whose path is not in
# the file KNOWN (a path a line): not one of its paths, nor a file or
# directory at the end of one, nor, with a *, a match.
unresolved() {
  awk -F: 'NR == FNR { known["/" $0 "/"]; next }
    {
      word = substr($0, length($1) + length($2) + 3)
      pattern = word
      sub(/\/$/, "", pattern)
      gsub(/[][.+?(){}^$|]/, "\\\\&", pattern)
      gsub(/\*/, "[^/]*", pattern)
      pattern = "/" pattern "/"
      for (path in known) if (path ~ pattern) next
      print
    }' "$1" -
}

check_paths() {
  local known=$work/known line word
  { git ls-files; unzip -Z1 "$zip"; } >"$known"
  while IFS= read -r line; do
    word=${line#*:*:}
    # A name of no path here is an output, which the project's code names.
    [[ $word != */* ]] && git grep -qF -e "$word" -- ':!*.md' && continue
    problem "${line%:*}: no $word in the repository or in the release's zip"
  done < <(code_tokens "${documents[@]}" | path_candidates | unresolved "$known")
}

# check_zip_row: each path the README's download table says the zip holds
# (the code in the zip's row, after its name) is in the zip.
# shellcheck disable=SC2016 # the backquotes are Markdown's, not the shell's
check_zip_row() {
  local row members span
  row=$(grep -E '^\| `svcentry-[^`]+-windows-x86_64\.zip` \|' README.md) ||
    { problem "README.md: the download table has no row for the zip"; return; }
  members=$(unzip -Z1 "$zip")
  while IFS= read -r span; do
    grep -qE "^${span//./\\.}" <<<"$members" ||
      problem "README.md: the zip is said to hold $span, and does not"
  done < <(grep -oE '`[^`]+`' <<<"$row" | tr -d '`' | tail -n +2)
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "$zip" ] || { echo "no release zip in $5" >&2; exit 1; }
check_versions
check_codes
check_paths
check_zip_row
if [ $problems -gt 0 ]; then
  echo "$problems facts of the documents do not hold" >&2
  exit 1
fi
echo "The documents' versions, codes and paths hold"
