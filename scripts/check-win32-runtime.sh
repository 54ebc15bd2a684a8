#!/usr/bin/env bash
# Runs the Windows runtime check (tests/win32/runtime_check.cpp) under Wine: C++ exceptions,
# static constructors, heap, formatting and WinMain's command-line tail (no-blank form).
# Skips with a message when Wine is not installed.
#   scripts/check-win32-runtime.sh build/win32
set -euo pipefail
build="${1:-build/win32}"
check="$(cd "$build/tests/win32" && pwd)/runtime_check.exe"
if ! command -v wine >/dev/null 2>&1; then
  echo "Windows runtime check skipped: wine is not installed"
  exit 0
fi
# Wine's loader is a 32-bit program, which some hosts' kernels cannot run at all.
if ! wine --version >/dev/null 2>&1; then
  echo "Windows runtime check skipped: Wine cannot start on this host (it runs no 32-bit programs)"
  exit 0
fi
prefix="$(mktemp -d)"
trap 'WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"' EXIT
status=0
WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  timeout 300 wine "$check" </dev/null >/dev/null 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  echo "Windows runtime check failed under Wine: check $status (see tests/win32/runtime_check.cpp)"
  exit 1
fi
echo "Windows runtime check passed under Wine"
