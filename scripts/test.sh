#!/usr/bin/env bash
# Builds the host programs with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test (unit, conformance and end-to-end runs on copies of the sample machines, the release
# media made from the Windows build, and the Windows build's programs run by hostwin-pe against
# the host build).
set -euo pipefail
cd "$(dirname "$0")/.."
# The Windows build first: the release media and the pe tests take its programs; without the
# cross compiler they skip.
if command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32
fi
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan
