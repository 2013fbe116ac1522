# Shared by the scripts: where the project is, and installing what is missing.
# shellcheck shell=bash
set -euo pipefail

project_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
# The native build's Debian 12 packages; then its tests' and benchmarks'.
native_packages=(cmake ninja-build g++)
native_test_packages=(googletest libbenchmark-dev)
# The sanitizer and fuzzing builds use clang and its runtime libraries.
checking_packages=(clang libclang-rt-14-dev)
# What the release is built with (make for the scripts of 1.2.1 and before, which --check runs).
release_packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wixl msitools
  faketime zip git openssl osslsigncode libengine-pkcs11-openssl make)

# fail MESSAGE...: says what stops the script, in its name, and exits 1.
fail() { echo "${0##*/}: $*" >&2 && exit 1; }

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
package_lists_updated=0

# What could not be installed, a line each, with the reason.
not_installed_parts=()

# not_installed LINE: says on one line what could not be installed and why,
# keeps it for the summary, and returns 1.
not_installed() {
  echo "Could not install $1" >&2
  not_installed_parts+=("$1")
  return 1
}

# update_package_lists: apt-get update, once. A mirror caught mid-sync fails
# one index; what the others hold may still be enough, and apt-get install
# says so when it is not.
update_package_lists() {
  [ $package_lists_updated -eq 0 ] || return 0
  package_lists_updated=1
  "${sudo[@]}" apt-get update -qq >&2 ||
    echo "apt-get update failed; installing from the lists there are" >&2
}

# install_part NAME PACKAGE...: apt-get installs those of the packages that
# NAME needs and that are not installed yet. When they cannot be had, says
# so on one line, with apt's reason, and returns 1.
install_part() {
  local name=$1 missing=() package
  shift
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing $name: ${missing[*]}" >&2
  update_package_lists
  local output
  if output=$(DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install \
    -y -qq --no-install-recommends "${missing[@]}" 2>&1); then
    return 0
  fi
  # apt's last error line says why; the lines before it, what it tried.
  local reason
  reason=$(grep '^E: ' <<<"$output" | tail -n 1)
  not_installed "$name (${missing[*]}): ${reason:-$(tail -n 1 <<<"$output")}"
}

# install_wine32: Wine's 32-bit side (wine32:i386), which runs 32-bit Windows
# programs, NSIS and Inno Setup installers among them, in a 64-bit prefix.
install_wine32() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed' &&
    return 0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture for wine32" >&2
    "${sudo[@]}" dpkg --add-architecture i386
    # The package lists must now hold i386's too.
    package_lists_updated=0
  fi
  install_part "Wine's 32-bit side" wine32:i386
}

# install_node_modules NAME DIRECTORY: installs the npm packages that
# DIRECTORY/package-lock.json pins (npm first, when missing), unless in
# place already. When they cannot be had, says so on one line; returns 1.
install_node_modules() {
  command -v npm >/dev/null || install_part "npm" nodejs npm || return 1
  # npm reaches its registry over TLS, which needs the root certificates.
  install_part "the root certificates" ca-certificates || return 1
  [ "$2/package-lock.json" -nt "$2/node_modules/.package-lock.json" ] ||
    return 0
  local output
  if ! output=$(npm ci --prefix "$2" --ignore-scripts --no-audit --no-fund 2>&1); then
    # npm's first error line after its code says why.
    local reason
    reason=$(grep -E '^npm (ERR!|error) ' <<<"$output" | grep -v ' code ' |
      head -n 1)
    not_installed "$1 (npm ci --prefix $2): ${reason:-$(tail -n 1 <<<"$output")}"
  fi
}

# build_preset NAME [TARGET...]: configures and builds a CMake preset, or
# only its TARGETs. It configures every time, so that a tool installed since
# is found, and a test skipped for the lack of it runs.
build_preset() {
  cd "$project_root"
  local preset=$1
  shift
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  # Its progress is of no interest; warnings and errors go to standard
  # error.
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" "${targets[@]}" >&2
}
