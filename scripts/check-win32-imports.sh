#!/usr/bin/env bash
# Checks that the Windows programs import only DLLs that every Windows 95/98/ME system has, so
# that nothing of the MinGW runtime needs to be shipped beside them.
#   scripts/check-win32-imports.sh build/win32
set -euo pipefail
build="${1:-build/win32}"
allowed="ADVAPI32.dll KERNEL32.dll SHELL32.dll USER32.dll"
status=0
for exe in "$build/uninstaller/unpellam.exe" "$build/upgrade/upgrade.exe"; do
  for dll in $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort -u); do
    case " $allowed " in
      *" $dll "*) ;;
      *) echo "$exe imports $dll, which Windows 9x does not provide"; status=1 ;;
    esac
  done
  i686-w64-mingw32-objdump -f "$exe" | grep -q "pei-i386" || { echo "$exe is not an i386 program"; status=1; }
done
[ "$status" -eq 0 ] && echo "Windows programs import only system DLLs: $allowed"
exit "$status"
