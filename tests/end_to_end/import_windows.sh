#!/usr/bin/env bash
# hostwin import-windows on a disk image of the sample Windows 98 machine: the image (made here
# with mkfs.fat and mtools: an MBR disk with one FAT32 partition holding C:\WINDOWS with the
# driver installed, its hives and MSDOS.SYS) is imported, and previewing unpellam on the import
# shows exactly what previewing it on the same machine written by hand shows. Also the
# command's exit codes, and that the image is never written.
#   import_windows.sh <directory of the built unpellam> <source root>
set -euo pipefail
tool="$1/../hostwin/tool/hostwin"
make_hives="$1/../tests/make_test_hives"
sample="$2/samples/win98-machine"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null
failures=0
passes=0
check() {  # check <description> <command...>
  local what="$1"; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
code() {  # code <command...>: runs it, output to $work/out and $work/err, prints the exit code
  set +e; "$@" >"$work/out" 2>"$work/err"; echo $?; set -e
}

# The same machine written by hand: the sample, with nothing held open (nothing runs on a disk)
# and the default user's keys under HKEY_USERS\.DEFAULT too, where Windows 9x keeps them.
cp -r "$sample" "$work/by-hand"
printf '[system]\nversion=win98\nwindir=C:\\WINDOWS\n' >"$work/by-hand/machine.ini"
"$tool" export "$work/by-hand" HKEY_CURRENT_USER |
  sed 's/^\[HKEY_CURRENT_USER/[HKEY_USERS\\.DEFAULT/' >"$work/default-user.reg"
"$tool" import "$work/by-hand" "$work/default-user.reg"

# Its system drive: C:\ of the sample, MSDOS.SYS, the hives made from its registry.
cp -r "$sample/c" "$work/drive"
printf '[Paths]\r\nWinDir=C:\\WINDOWS\r\nWinBootDir=C:\\WINDOWS\r\nHostWinBootDrv=C\r\n' >"$work/drive/MSDOS.SYS"
"$make_hives" "$sample/registry.reg" "$work/drive/WINDOWS/SYSTEM.DAT" "$work/drive/WINDOWS/USER.DAT"
cp "$work/drive/WINDOWS/"*.DAT "$work/by-hand/c/WINDOWS/"

# The disk: an MBR with one active FAT32 partition at sector 2048.
mkfs.fat -C -F 32 "$work/part.img" 34000 >/dev/null
(cd "$work/drive" && mcopy -s -i "$work/part.img" ./* ::/)
mattrib -i "$work/part.img" -a -/ ::/
while IFS=$'\t' read -r bits path; do
  target="::/$(printf '%s' "${path#C:\\}" | tr '\\' '/')"
  (( 0x$bits & 1 )) && mattrib -i "$work/part.img" +r "$target"
done <"$sample/attributes.txt"
python3 - "$work/part.img" "$work/disk.img" <<'PY'
import struct, sys
part = open(sys.argv[1], 'rb').read()
mbr = bytearray(2048 * 512)
mbr[446:462] = struct.pack('<B3sB3sII', 0x80, b'\0' * 3, 0x0C, b'\0' * 3, 2048, len(part) // 512)
mbr[510:512] = b'\x55\xaa'
open(sys.argv[2], 'wb').write(bytes(mbr) + part)
PY
sum_before="$(sha256sum <"$work/disk.img")"

check "import-windows: exit 0" test "$(code "$tool" import-windows "$work/imported" --from "$work/disk.img")" -eq 0
check "import-windows: summary" grep -q "version win98, Windows directory C:\\\\WINDOWS, drives c:" "$work/out"
check "import-windows: image unchanged" test "$(sha256sum <"$work/disk.img")" = "$sum_before"
check "import-windows: attributes" cmp -s "$sample/attributes.txt" "$work/imported/attributes.txt"

# The preview of the import shows exactly what the preview of the hand-written machine shows.
for machine in by-hand imported; do
  set +e
  "$tool" preview "$work/$machine" -- unpellam all now >"$work/$machine.preview" 2>&1
  echo "exit $?" >>"$work/$machine.preview"
  set -e
done
check "preview: removes the driver" grep -q "BR10X.INF" "$work/imported.preview"
check "preview: the same as by hand" diff -u "$work/by-hand.preview" "$work/imported.preview"

# Bad sources: exit code 2, a message, nothing made.
head -c 4096 /dev/zero >"$work/zero.img"
check "import-windows: no FAT partition" test "$(code "$tool" import-windows "$work/none" --from "$work/zero.img")" -eq 2
check "import-windows: says why" grep -q "neither a FAT file system nor a disk" "$work/err"
check "import-windows: nothing made" test ! -e "$work/none"
check "import-windows: --from needed" test "$(code "$tool" import-windows "$work/none")" -eq 2
check "import-windows: existing folder refused" test "$(code "$tool" import-windows "$work/imported" --from "$work/disk.img")" -eq 2

echo "import_windows: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
