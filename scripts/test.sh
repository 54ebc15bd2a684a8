#!/usr/bin/env bash
# Installs what building and testing need (Wine only where this host's kernel can run it),
# builds the Windows programs and the host programs (with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs the fast suite: unit, conformance and end-to-end runs on
# copies of the sample machines, the release media made from the Windows build, the Windows
# build's programs run by hostwin-pe against the host build, one short round of the concurrent
# programs and a sample of the fault walk. The soaks (label "soak": the whole fault walk, 100
# rounds of 8 programs, the raced link swaps) are left out: scripts/test.sh --soak runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test win32 wine
# The Windows build first: the release media and the pe tests take its programs; without the
# cross compiler they skip.
if command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32
fi
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
if [ "${1:-}" = --soak ]; then
  ctest --preset host-asan -L soak
else
  ctest --preset host-asan -LE soak
fi
