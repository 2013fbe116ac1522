# Shared by the scripts: where the project is, and installing what is missing.
# shellcheck shell=bash
set -euo pipefail

project_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
# Debian 12 packages the native build needs.
native_packages=(cmake ninja-build g++ googletest libbenchmark-dev)
# The sanitizer and fuzzing builds use clang and its runtime libraries.
checking_packages=(clang libclang-rt-14-dev)
# What the Windows lane needs on top: the cross compiler, Wine to run what it
# builds, and what the release and its tests use: wixl, msitools and faketime
# for the MSI, NSIS, zip and unzip, git, osslsigncode with a PKCS#11 token
# (SoftHSM2) for the signatures, and Node.js for the validators and Inno
# Setup's compiler. Wine's 32-bit side (install_wine32) runs the installers
# that are 32-bit programs.
windows_packages=(g++-mingw-w64-x86-64-posix wine64 wixl msitools faketime nsis
  zip unzip git openssl osslsigncode libengine-pkcs11-openssl softhsm2)
# What the release needs: the cross build, the MSI, the zip, the date of the
# last commit, and the tools that sign.
release_packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wixl msitools
  faketime zip git openssl osslsigncode libengine-pkcs11-openssl)

# install_missing PACKAGE...: apt-get installs those not installed yet.
install_missing() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # A mirror caught mid-sync fails one index; what the others hold may
  # still be enough, and apt-get install says so when it is not.
  "${sudo[@]}" apt-get update -qq ||
    echo "apt-get update failed; installing from the lists there are" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >&2
}

# install_wine32: Wine's 32-bit side (wine32 of the i386 architecture), which
# runs 32-bit Windows programs, NSIS and Inno Setup installers among them, in
# a 64-bit prefix.
install_wine32() {
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed' &&
    return 0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Adding the i386 architecture for wine32" >&2
    "${sudo[@]}" dpkg --add-architecture i386
  fi
  # install_missing updates the package lists, which now hold i386's.
  install_missing wine32:i386
}

# install_node_modules DIRECTORY: installs the npm packages that
# DIRECTORY/package-lock.json pins (Node.js first, when it is missing), unless
# they are in place already.
install_node_modules() {
  command -v npm >/dev/null || install_missing nodejs npm
  if [ "$1/package-lock.json" -nt "$1/node_modules/.package-lock.json" ]; then
    npm ci --prefix "$1" --ignore-scripts --no-audit --no-fund >&2
  fi
}

# build_preset NAME: configures (once) and builds a CMake preset.
build_preset() {
  cd "$project_root"
  [ -f "build/$1/CMakeCache.txt" ] || cmake --preset "$1" >&2
  cmake --build --preset "$1" >&2
}
