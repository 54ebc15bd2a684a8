#!/usr/bin/env bash
# Exits 0 when this host's kernel runs 32-bit x86 programs, 1 when it does not. Wine's loader is
# one, so where this fails Wine cannot start, whatever is installed. It runs a 93-byte i386 ELF
# program that only calls exit(0); nothing needs to be installed for the check.
# PELLAM_RUNS_32BIT=yes or =no overrides the check (e.g. to leave Wine out on purpose).
set -uo pipefail
case "${PELLAM_RUNS_32BIT:-}" in
  yes) exit 0 ;;
  no) exit 1 ;;
esac
[ "$(uname -m)" = x86_64 ] || [ "$(uname -m)" = i686 ] || exit 1
# In the source tree rather than /tmp, which may be mounted noexec.
mkdir -p "$(dirname "$0")/../build"
program="$(mktemp "$(dirname "$0")/../build/.runs-32bit.XXXXXX")"
trap 'rm -f "$program"' EXIT
# ELF header, one loadable segment, then: mov eax,1; xor ebx,ebx; int 0x80.
printf '%b' '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$program"
chmod +x "$program"
"$program" 2>/dev/null
