#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
set -euo pipefail
packages=(cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 python3
          clang libclang-rt-14-dev libfuzzer-14-dev
          libcreg-dev libcreg-utils mtools dosfstools zip unzip genisoimage xorriso)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
bash "$(dirname "$0")/install-wine.sh"
