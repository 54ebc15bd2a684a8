#!/usr/bin/env bash
# Builds the host programs with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test (unit, conformance and end-to-end runs on copies of the sample machines, and the release
# media made from the Windows build).
set -euo pipefail
cd "$(dirname "$0")/.."
# The release media tests take the Windows programs; without the cross compiler they skip.
if command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32
fi
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan
