#!/usr/bin/env bash
# Checks what the README and the guides say that a machine can check, so that
# they cannot drift from what is built:
# - each release file they name has the name of one the release makes, with
#   the version CMakeLists.txt gives; what the reproducible check names
#   (its downloads, --check, build/release-VERSION, releases/VERSION) is the
#   newest record; the supported versions name the current minor version;
# - every GUID is the MSI's product code where a line names the product code
#   or uninstalls by it, its upgrade code where a line names that, and
#   otherwise one of the two, or stands in a line of the WiX source shown
#   as it is;
# - every file path the documents show as code exists in the repository or
#   in the release's zip (a name of no path there, only when the project's
#   own code writes it), and each path the download table says the zip
#   holds, it holds;
# - each file a guide quotes whole is that member of the release's zip, as
#   the mark before its block names it, and no block in a language of those
#   files goes unmarked.
#
#   document_facts.sh PROJECT_ROOT VERSION MSIINFO MSI RELEASE_DIRECTORY
set -euo pipefail
cd "$1"
version=$2
msiinfo=$3
msi=$4
release=$5
guides=(README.md docs/*.md)
documents=("${guides[@]}" SECURITY.md releases/README.md)
problems=0

problem() {
  echo "$*" >&2
  problems=$((problems + 1))
}

# section_lines: the numbers of the heading lines that start and end the
# README's reproducible check, the one place that names the record's version.
section_lines() {
  awk '/^### Check that it is the reproducible build$/ { first = NR; next }
    first && /^(#|##|###) / { print first, NR; exit }' README.md
}

# release_shapes: the names of the files a release makes, its label made
# VERSION, and the self-test kit's, which scripts/selftest-kit makes of it.
release_shapes() {
  local label name
  label=${zip##*/svcentry-}
  label=${label%-windows-x86_64.zip}
  while IFS= read -r name; do
    echo "${name/-"$label"/-VERSION}"
  done < <(find "$release" -maxdepth 1 -name "svcentry-$label*" -printf '%f\n')
  echo svcentry-VERSION-selftest.zip
}

# check_versions: each name of a release file, and each version a name or
# a command carries, against the version the line should name.
check_versions() {
  local newest shapes first last line file number text found expected
  newest=$(find releases -mindepth 1 -maxdepth 1 -type d -name '[0-9]*' \
    -printf '%f\n' | sort -V | tail -n 1)
  shapes=$(release_shapes)
  read -r first last < <(section_lines) || true
  while IFS=: read -r file number text; do
    found=$(grep -oE '^[^0-9]*[0-9]+(\.[0-9]+)+' <<<"$text" | grep -oE '[0-9.]+$')
    expected=$version
    if [[ $text =~ ^(--check|release) ]] ||
      { [ "$file" = README.md ] && [ "$number" -gt "${first:-0}" ] &&
        [ "$number" -lt "${last:-0}" ]; }; then
      expected=$newest
    fi
    [ "$found" = "$expected" ] ||
      problem "$file:$number: names version $found, not $expected: $text"
    if [[ $text == svcentry-* ]] && ! grep -qxF -- "${text/$found/VERSION}" <<<"$shapes"; then
      problem "$file:$number: $text is the name of no file of the release"
    fi
  done < <(grep -noE -- 'svcentry-[0-9][0-9A-Za-z.+_-]*\.(zip|msi|json)|-D Version=[0-9.]+[0-9]|releases?[-/][0-9.]+[0-9]|[0-9]+\.[0-9]+\.[0-9]+\+(g|unverified)|ProductCode of [0-9.]+[0-9]|--check [0-9.]+[0-9]' "${guides[@]}")
  grep -qE "^\| ${version%.*}\.x \| yes" SECURITY.md ||
    problem "SECURITY.md does not name ${version%.*}.x as supported"
}

# msi_code NAME: the MSI's code NAME (ProductCode, UpgradeCode), without
# its braces.
msi_code() {
  "$msiinfo" export "$msi" Property |
    awk -F '\t' -v name="$1" '$1 == name { gsub(/[{}\r]/, "", $2); print $2 }'
}

check_codes() {
  local product upgrade file number code text want
  product=$(msi_code ProductCode)
  upgrade=$(msi_code UpgradeCode)
  if [ -z "$product" ] || [ -z "$upgrade" ]; then
    problem "$msi gives no product code or no upgrade code"
    return
  fi
  while IFS=: read -r file number code; do
    if ! [[ $code =~ ^[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}$ ]]; then
      problem "$file:$number: $code is not a GUID"
      continue
    fi
    text=$(sed -n "${number}p" "$file")
    want="$product $upgrade"
    [[ $text == *UpgradeCode* ]] && want=$upgrade
    [[ $text == *ProductCode* || $text == */x\ * ]] && want=$product
    [[ " $want " == *" $code "* ]] && continue
    grep -qxF -- "$text" windows/svcentry.wxs && continue
    problem "$file:$number: $code is not the MSI's ${want// / or }"
  done < <(grep -noE '\b[0-9A-Fa-f]{6,}(-[0-9A-Fa-f]+){3,}\b' "${documents[@]}")
}

# code_tokens FILE...: "FILE:LINE:TOKEN" for each word of the documents'
# code: the lines of fenced blocks, and the inline code spans elsewhere. A
# relative path in a block is a command's, run from the project's root, and
# so is one that begins "./" anywhere: such a path is marked "@", to be
# found from the root.
code_tokens() {
  awk '/^ *```/ { fenced = !fenced; next }
    {
      code = fenced ? $0 : ""
      rest = fenced ? "" : $0
      while (match(rest, /`[^`]+`/)) {
        code = code " " substr(rest, RSTART + 1, RLENGTH - 2)
        rest = substr(rest, RSTART + RLENGTH)
      }
      n = split(code, words, /[ \t"'"'"'()<>|;,=]+/)
      for (i = 1; i <= n; i++) {
        if (words[i] == "") continue
        if (words[i] ~ /^\.\// || (fenced && words[i] ~ /^[^\/$~.][^\/]*\//))
          sub(/^(\.\/)?/, "@", words[i])
        print FILENAME ":" FNR ":" words[i]
      }
    }' "$@"
}

# path_candidates: of code_tokens' lines, those that name a file of the
# project: a relative path, or a name with a source file's ending. Left out:
# absolute, home and Windows paths, options, variables, ports, addresses,
# the outputs of a build (build/, and what a block extracts into signed/),
# and paths with a placeholder (VERSION, _TARGET) or an ellipsis in them.
path_candidates() {
  awk -F: '{ word = substr($0, length($1) + length($2) + 3); sub(/^@/, "", word) }
    word ~ /^([\/~$-]|\.\.|\.$)|[\\:…]|^[0-9]+\/|^(build|signed)\/|(^|[\/_-])[A-Z][A-Z_]+(\/|$)/ { next }
    word ~ /\// || word ~ /\.(md|cmd|nsi|iss|wxs|sh|cmake|cpp|h|txt|json|awk)$/'
}

# unresolved KNOWN: of path_candidates' lines, those whose path is not in
# the file KNOWN (a path a line): not one of its paths or directories, nor,
# unless marked "@", a file or directory at the end of one; a * matches
# within a name.
unresolved() {
  awk -F: 'NR == FNR { known["/" $0 "/"]; next }
    {
      word = substr($0, length($1) + length($2) + 3)
      pattern = word
      sub(/^@/, "", pattern)
      sub(/\/$/, "", pattern)
      gsub(/[][.+?(){}^$|]/, "\\\\&", pattern)
      gsub(/\*/, "[^/]*", pattern)
      pattern = (word ~ /^@/ ? "^/" : "/") pattern "/"
      for (path in known) if (path ~ pattern) next
      print
    }' "$1" -
}

check_paths() {
  local known=$work/known line word
  { git ls-files; unzip -Z1 "$zip"; } >"$known"
  while IFS= read -r line; do
    word=${line#*:*:}
    word=${word#@}
    # A name of no path here is an output, which the project's code names.
    [[ $word != */* ]] && git grep -qwF -e "$word" -- ':!*.md' && continue
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
  # A directory, as its name ends in "/", holds a member; a file is one.
  while IFS= read -r span; do
    awk -v span="$span" '$0 == span || (span ~ /\/$/ && index($0, span) == 1) {
      found = 1 } END { exit !found }' <<<"$members" ||
      problem "README.md: the zip is said to hold $span, and does not"
  done < <(grep -oE '`[^`]+`' <<<"$row" | tr -d '`' | tail -n +2)
}

# quoted_blocks FILE...: "FILE:LINE:MEMBER" for each fenced block that a mark
# "<!-- MEMBER, as the zip holds it -->" right before its fence names, and
# for each unmarked one in a language of the files quoted (MEMBER empty).
quoted_blocks() {
  awk 'FNR == 1 { fenced = 0; marked = 0 }
    /^<!-- [^ ]+, as the zip holds it -->$/ { member = $2; sub(/,$/, "", member)
      marked = FNR + 1; next }
    /^ *```/ && !fenced && FNR == marked { print FILENAME ":" FNR ":" member }
    /^ *```(xml|nsis|ini|bat)$/ && !fenced && FNR != marked {
      print FILENAME ":" FNR ":" }
    /^ *```/ { fenced = !fenced }' "$@"
}

# block_text FILE LINE: the lines of the fenced block whose fence is LINE.
block_text() {
  awk -v fence="$2" 'FNR > fence { if (/^ *```/) exit; print }' "$1"
}

check_quotes() {
  local members file number member
  # Listed once: grep -q would end the listing early, a failed pipe.
  members=$(unzip -Z1 "$zip")
  while IFS=: read -r file number member; do
    if [ -z "$member" ]; then
      problem "$file:$number: a block in the language of a quoted file names no zip member"
    elif ! grep -qxF -- "$member" <<<"$members"; then
      problem "$file:$number: the release's zip holds no $member"
    elif ! cmp -s <(block_text "$file" "$number") \
      <(unzip -p "$zip" "$member" | sed 's/\r$//'); then
      problem "$file:$number: the block is not $member as the release's zip holds it"
    fi
  done < <(quoted_blocks "${guides[@]}")
}

zip=$(find "$release" -maxdepth 1 -name 'svcentry-*-windows-x86_64.zip' 2>/dev/null | head -n 1)
[ -n "$zip" ] || { echo "no release zip in $release" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check_versions
check_codes
check_paths
check_zip_row
check_quotes
if [ $problems -gt 0 ]; then
  echo "$problems facts of the documents do not hold" >&2
  exit 1
fi
echo "The documents' versions, codes, paths and quoted files hold"
