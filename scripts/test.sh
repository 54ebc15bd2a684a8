#!/usr/bin/env bash
# Builds the host programs with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test (unit, conformance and end-to-end runs on copies of the sample machines, and the Windows
# build's programs run by hostwin-pe against the host build).
set -euo pipefail
cd "$(dirname "$0")/.."
# The Windows build first: the pe tests run its programs in hostwin-pe against the host ones.
cmake --preset win32 >/dev/null
cmake --build --preset win32
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan
