#!/usr/bin/env bash
# Installs what building and testing need (Wine only where this host's kernel can run it),
# builds the host programs with AddressSanitizer and UndefinedBehaviorSanitizer and runs the
# fast suite: unit, conformance and end-to-end runs on copies of the sample machines, one short
# round of the concurrent programs and a sample of the fault walk. The soaks (label "soak": the
# whole fault walk, 100 rounds of 8 programs) are left out: scripts/test.sh --soak runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test wine
cmake --preset host-asan >/dev/null
cmake --build --preset host-asan
if [ "${1:-}" = --soak ]; then
  ctest --preset host-asan -L soak
else
  ctest --preset host-asan -LE soak
fi
