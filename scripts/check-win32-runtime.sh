#!/usr/bin/env bash
# Runs the Windows runtime check (tests/win32/runtime_check.cpp): C++ exceptions, static
# constructors, heap, formatting and WinMain's command-line tail (no-blank form). Under Wine when
# it can run here, else in hostwin-pe (the Unicorn runner, on a 486 so the conditional moves of
# the exception support go through the program's filter); skips with a message when neither can.
#   scripts/check-win32-runtime.sh build/win32 [hostwin-pe]
set -euo pipefail
build="${1:-build/win32}"
check="$(cd "$build/tests/win32" && pwd)/runtime_check.exe"
root="$(cd "$(dirname "$0")/.." && pwd)"

# In hostwin-pe on a copy of the sample machine: the check, whose copy of itself is played by
# the machine (a described program ending with 0), then that copy's own run with the tail "now".
run_in_hostwin_pe() {
  local runner="$1" machine
  machine="$(mktemp -d)/machine"
  trap 'rm -rf "$(dirname "$machine")"' RETURN
  cp -r "$root/samples/win98-machine" "$machine"
  cp "$check" "$machine/c/WINDOWS/RUNCHECK.EXE"
  printf '\n[programs]\nC:\\WINDOWS\\RUNCHECK.EXE.exit=0\n' >> "$machine/machine.ini"
  local status=0
  HOSTWIN_MACHINE="$machine" timeout 300 "$runner" --cpu 486 'C:\WINDOWS\RUNCHECK.EXE' \
    </dev/null >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    HOSTWIN_MACHINE="$machine" HOSTWIN_CMDLINE='"C:\WINDOWS\RUNCHECK.EXE"now' timeout 300 \
      "$runner" --cpu 486 'C:\WINDOWS\RUNCHECK.EXE' </dev/null >/dev/null 2>&1 || status=$?
  fi
  if [ "$status" -ne 0 ]; then
    echo "Windows runtime check failed in hostwin-pe: check $status (see tests/win32/runtime_check.cpp)"
    exit 1
  fi
  echo "Windows runtime check passed in hostwin-pe"
  exit 0
}

if ! command -v wine >/dev/null 2>&1 || ! wine --version >/dev/null 2>&1; then
  # Wine's loader is a 32-bit program, which some hosts' kernels cannot run at all. The check
  # throws ten thousand exceptions, so it runs on the optimised runner (built when missing).
  runner="${2:-$root/build/host/hostwin/pe/hostwin-pe}"
  if [ ! -x "$runner" ]; then
    (cd "$root" && cmake --preset host >/dev/null && cmake --build --preset host --target hostwin_pe_runner >/dev/null) || true
  fi
  [ ! -x "$runner" ] || run_in_hostwin_pe "$runner"
  echo "Windows runtime check skipped: Wine cannot run here and hostwin-pe cannot be built"
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
