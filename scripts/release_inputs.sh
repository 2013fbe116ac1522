# The Debian packages a release's bytes come from, derived from the tools
# themselves rather than listed by hand: the cross compiler and what it runs,
# the import libraries and libgcc it links, binutils, CMake (which writes the
# notices and the SBOM), zip, wixl and msibuild (the MSI and its cabinet),
# faketime, and every shared library those programs load.
# shellcheck shell=bash

# release_input_files: prints the path of each program and library whose
# version can change the release's bytes, one a line. CMake's own libraries
# (curl, TLS, archives) take no part in the text it writes, so only CMake
# itself is named.
release_input_files() {
  local gxx=x86_64-w64-mingw32-g++-posix
  local programs=() tool part
  for tool in "$gxx" x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-windres \
    x86_64-w64-mingw32-objdump x86_64-w64-mingw32-strip zip wixl msibuild \
    faketime; do
    programs+=("$(command -v "$tool")")
  done
  for part in cc1plus cc1 collect2 as ld lto-wrapper; do
    programs+=("$("$gxx" -print-prog-name="$part")")
  done
  programs+=(/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1)
  printf '%s\n' "${programs[@]}" "$(command -v cmake)" \
    "$("$gxx" -print-libgcc-file-name)" "$("$gxx" -print-file-name=libmsvcrt.a)"
  # What the dynamic loader maps into each program: ldd's "=> PATH" lines
  # and the loader itself.
  ldd "${programs[@]}" 2>/dev/null |
    sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) (.*/\1/p'
}

# release_inputs: prints "PACKAGE<TAB>VERSION" for each package the
# release's bytes come from, sorted; fails when no package holds one of
# the files. Debian 12's package database names files under /lib and /bin,
# which the merged /usr also shows under /usr/lib and /usr/bin, so each
# file is asked for under every name it has.
release_inputs() {
  local files=() names=() owners file name found
  mapfile -t files < <(release_input_files | sort -u)
  for file in "${files[@]}"; do
    name=$(realpath -m "$file")
    names+=("$file" "$name" "${name#/usr}" "/usr$name")
  done
  owners=$(dpkg-query -S "${names[@]}" 2>/dev/null | grep -v '^diversion by') ||
    true
  for file in "${files[@]}"; do
    name=$(realpath -m "$file")
    found=0
    for candidate in "$file" "$name" "${name#/usr}" "/usr$name"; do
      grep -qF ": $candidate" <<<"$owners" && found=1
    done
    if [ $found -eq 0 ]; then
      echo "release: no package holds $file" >&2
      return 1
    fi
  done
  sed 's/: .*//; s/, /\n/g' <<<"$owners" | sort -u |
    xargs dpkg-query -W -f='${binary:Package}\t${Version}\n'
}
