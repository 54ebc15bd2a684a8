#!/usr/bin/env bash
# Checks the release-built Windows programs for what a Windows 95 machine needs of them:
# - they are i386 GUI programs;
# - they import only from KERNEL32, USER32, ADVAPI32 and SHELL32, and only functions listed in
#   scripts/win32-imports.txt under that DLL (the list gives each one's family and why Windows 95
#   has it); the list itself holds no W function and none that Windows 95 lacks;
# - they stay within their size aims (unpellam.exe 32 KiB, upgrade.exe 64 KiB);
# - they hold no instruction of the Pentium Pro or later, which the Pentium, Pentium MMX, K6 and
#   486 that Windows 9x runs on lack; only upgrade.exe may hold conditional moves (CMOVcc), from
#   the prebuilt C++ exception support, which winrt/conditional_move_filter.cpp carries out there.
#   scripts/check-win32-imports.sh build/win32
set -euo pipefail
build="${1:-build/win32}"
here="$(cd "$(dirname "$0")" && pwd)"
allowlist="$here/win32-imports.txt"
dlls="ADVAPI32.dll KERNEL32.dll SHELL32.dll USER32.dll"
# Functions that Windows 95 does not export (later releases added them); a W function is
# refused by its name.
later="GetFileAttributesExA InterlockedCompareExchange InterlockedExchangeAdd IsDebuggerPresent
GetFileSizeEx SetFilePointerEx MoveFileExA CopyFileExA FindFirstFileExA GetLongPathNameA
GetDiskFreeSpaceExA TryEnterCriticalSection SwitchToThread IsProcessorFeaturePresent
InitializeCriticalSectionAndSpinCount GetModuleHandleExA AddVectoredExceptionHandler
CreateWaitableTimerA SignalObjectAndWait QueueUserAPC VirtualAllocEx OpenThread"
status=0
fail() { echo "$*"; status=1; }

# The allowlist: "DLL function family reason...", comments and blank lines ignored.
allowed="$(awk '!/^#/ && NF {print $1, $2}' "$allowlist")"
while read -r dll fn family reason; do
  [ -n "$reason" ] || fail "$allowlist: $dll $fn needs a family and a reason"
  case " $dlls " in *" $dll "*) ;; *) fail "$allowlist: $dll is not a Windows 95 system DLL" ;; esac
  case "$fn" in *W) fail "$allowlist: $fn is a W function (a failing stub on Windows 9x)" ;; esac
  for l in $later; do [ "$fn" != "$l" ] || fail "$allowlist: $fn came after Windows 95"; done
done < <(awk '!/^#/ && NF' "$allowlist")

check_program() {
  local exe="$1" aim="$2" allow_cmov="$3"
  [ -f "$exe" ] || { fail "$exe is missing"; return; }
  i686-w64-mingw32-objdump -f "$exe" | grep -q "pei-i386" || fail "$exe is not an i386 program"
  local imports
  imports="$(i686-w64-mingw32-objdump -p "$exe" | awk '
    /DLL Name:/ {dll = $3; next}
    dll != "" && NF == 0 {dll = ""}
    dll != "" && $1 ~ /^[0-9a-f]+$/ && NF >= 3 {print dll, $3}
    dll != "" && /<none>|Ordinal/ {print dll, "(by ordinal)"}')"
  [ -n "$imports" ] || fail "$exe: no imports found"
  while read -r dll fn; do
    [ -n "$dll" ] || continue
    case " $dlls " in *" $dll "*) ;; *) fail "$exe imports from $dll, which is not one of $dlls"; continue ;; esac
    grep -qxF "$dll $fn" <<<"$allowed" || fail "$exe imports $dll $fn, which scripts/win32-imports.txt does not list"
  done <<<"$imports"
  local newer="fcmov[a-z]*|f[u]?comip?|nop[lw]"
  [ "$allow_cmov" = yes ] || newer="cmov[a-z]*|$newer"
  local found
  found="$(i686-w64-mingw32-objdump -d "$exe" | grep -oE "\s($newer)\s" | sort | uniq -c | tr -s ' \t\n' ' ')" || true
  [ -z "$found" ] || fail "$exe holds instructions that older processors lack:$found"
  local size
  size=$(stat -c %s "$exe")
  [ "$size" -le "$aim" ] || fail "$exe is $size bytes, past its aim of $aim"
  echo "$(basename "$exe"): $size bytes (aim $aim), $(wc -l <<<"$imports") imports from $(awk '{print $1}' <<<"$imports" | sort -u | tr '\n' ' ')"
}

check_program "$build/uninstaller/unpellam.exe" 32768 no
check_program "$build/upgrade/upgrade.exe" 65536 yes
[ "$status" -eq 0 ] && echo "Windows programs import only allowlisted functions of $dlls"
exit "$status"
