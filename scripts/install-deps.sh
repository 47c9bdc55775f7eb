#!/usr/bin/env bash
# Installs the Debian packages both builds and the Wine test platform need.
# Safe to run repeatedly: only missing packages are fetched.
set -euo pipefail

packages=(
  cmake ninja-build make g++ git
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools
  libwine-dev libz-mingw-w64-dev wine wine64 xvfb xauth x11-utils
  googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
  openssl imagemagick ghostscript binutils-mingw-w64-x86-64 python3 fonts-wqy-zenhei
  gcovr
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
