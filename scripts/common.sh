# Shared by the scripts: where the project is, and installing what is missing.
# shellcheck shell=bash
set -euo pipefail

project_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Debian 12 packages the native build needs.
native_packages=(cmake ninja-build g++ googletest libbenchmark-dev)
# The sanitizer and fuzzing builds use clang and its runtime libraries.
checking_packages=(clang libclang-rt-14-dev)
# What the Windows lane needs on top: the cross compiler, Wine to run what it
# builds, and what the release and the installer tests use: wixl and
# msitools for the MSI, NSIS, zip and git.
windows_packages=(g++-mingw-w64-x86-64-posix wine64 wixl msitools nsis zip git)
# What the release needs: the cross build, the MSI, the zip, and the date of
# the last commit.
release_packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wixl zip git)

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
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq \
    --no-install-recommends "${missing[@]}" >&2
}

# build_preset NAME: configures (once) and builds a CMake preset.
build_preset() {
  cd "$project_root"
  [ -f "build/$1/CMakeCache.txt" ] || cmake --preset "$1" >&2
  cmake --build --preset "$1" >&2
}
