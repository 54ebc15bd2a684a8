#!/usr/bin/env bash
# Builds the host programs with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test (unit, conformance and end-to-end runs on copies of the sample machines).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
ctest --preset host-asan
