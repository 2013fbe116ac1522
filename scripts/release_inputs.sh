# The Debian packages a release's bytes come from, derived from the tools
# themselves rather than listed by hand: the cross compiler and what it runs,
# the headers, import libraries and libgcc it builds with, binutils, CMake
# and its modules (CMake writes the notices and the SBOM), zip, wixl and
# msibuild (the MSI and its cabinet), faketime, and every shared library
# those programs load.
# shellcheck shell=bash

# cmake_root: where CMake keeps its modules. A script asks CMake itself; a
# dummy configure would need make, and a directory of its own.
cmake_root() {
  local script status=0
  script=$(mktemp)
  # shellcheck disable=SC2016 # CMake's variable, not the shell's
  printf 'message("${CMAKE_ROOT}")\n' >"$script"
  cmake -P "$script" 2>&1 || status=$?
  rm -f "$script"
  return $status
}

# release_input_files: prints the path of each program, library or header
# whose version can change the release's bytes, one a line.
release_input_files() {
  local gxx=x86_64-w64-mingw32-g++-posix
  local programs=() tool part
  for tool in "$gxx" x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-windres \
    x86_64-w64-mingw32-objdump x86_64-w64-mingw32-strip cmake zip wixl \
    msibuild faketime; do
    programs+=("$(command -v "$tool")")
  done
  for part in cc1plus cc1 collect2 as ld lto-wrapper; do
    programs+=("$("$gxx" -print-prog-name="$part")")
  done
  programs+=(/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1)
  printf '%s\n' "${programs[@]}" "$("$gxx" -print-libgcc-file-name)" \
    "$("$gxx" -print-file-name=libmsvcrt.a)" \
    "$(echo '#include <windows.h>' | "$gxx" -x c++ -M - | grep -o '[^ ]*/windows\.h')" \
    "$(cmake_root)/Modules/CMakeCXXInformation.cmake"
  # What the dynamic loader maps into each program: ldd's "=> PATH" lines
  # and the loader itself.
  ldd "${programs[@]}" 2>/dev/null |
    sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'
}

# release_inputs: prints "PACKAGE<TAB>VERSION" for each package the
# release's bytes come from, in byte order; fails when no package holds one
# of the files. Debian 12's package database names files under /lib and
# /bin, which the merged /usr also shows under /usr/lib and /usr/bin, so
# each file is asked for under both names.
release_inputs() {
  local files=() names=() owners file name i
  mapfile -t files < <(release_input_files | LC_ALL=C sort -u)
  # Three names a file: as given, resolved, and resolved without /usr.
  for file in "${files[@]}"; do
    name=$(realpath -m "$file")
    names+=("$file" "$name" "${name#/usr}")
  done
  # "PACKAGE[, PACKAGE]: PATH" lines, not those of diversions.
  owners=$(dpkg-query -S "${names[@]}" 2>/dev/null |
    grep -E '^[a-z0-9][a-z0-9.+:-]*(, [a-z0-9][a-z0-9.+:-]*)*: ') || true
  for ((i = 0; i < ${#names[@]}; i += 3)); do
    if ! awk -F ': ' -v a="${names[i]}" -v b="${names[i + 1]}" \
      -v c="${names[i + 2]}" \
      '$2 == a || $2 == b || $2 == c { found = 1 } END { exit !found }' \
      <<<"$owners"; then
      echo "release: no package holds ${names[i]}" >&2
      return 1
    fi
  done
  sed 's/: .*//; s/, /\n/g' <<<"$owners" | LC_ALL=C sort -u |
    xargs dpkg-query -W -f='${binary:Package}\t${Version}\n'
}
