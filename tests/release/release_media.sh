#!/usr/bin/env bash
# The release media in use, from scripts/release.sh on the Windows build (build/win32):
#   floppy  read back with mtools; unpellam run from it as drive A: of the sample machine
#   cd      the sample package with UPGRADE.EXE on an ISO 9660 + Joliet CD image, read back as
#           the CD-ROM drive D:, upgrade run from it in copy mode and with Cleanup
#   zip     its listing and contents; a second release gives the same bytes
#   release_media.sh <directory of the built unpellam> <source root> floppy|cd|zip
# Without the Windows build the test is skipped (exit 77); in CI (CI=true) it fails instead.
# PELLAM_PE_RUNNER, a command taking "MACHINE -- PROGRAM.EXE ARGS" (hostwin run), runs the .exe
# itself; without it the host build of the program stands in for the .exe at the same place.
set -euo pipefail
bins="$(cd "$1/.." && pwd)" root="$2" win="$2/build/win32"
work="$(mktemp -d)"
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export TZ=UTC MTOOLS_SKIP_CHECK=1 PATH="$PATH:/usr/sbin:/sbin"
if [ ! -f "$win/uninstaller/unpellam.exe" ] || [ ! -f "$win/upgrade/upgrade.exe" ]; then
  echo "no Windows build in $win (the win32 preset needs i686-w64-mingw32-g++)"
  [ "${CI:-}" != true ] || exit 1
  echo "SKIPPED"; exit 77
fi
"$root/scripts/release.sh" --no-build --out "$work/dist" >/dev/null
zip="$(echo "$work"/dist/*.zip)" img="$(echo "$work"/dist/*.img)"
failures=0
check() { local what="$1"; shift; "$@" || { echo "FAILED: $what"; failures=$((failures + 1)); }; }

run_exe() {  # run_exe <machine> <folder> <NAME.EXE> <host build> [arguments]: run from the folder
  local m="$1" dir="$2" exe="$3" host="$4"; shift 4
  if [ -n "${PELLAM_PE_RUNNER:-}" ]; then
    (cd "$m/$dir" && $PELLAM_PE_RUNNER "$m" -- "$m/$dir/$exe" "$@")
  else
    chmod u+w "$m/$dir" && install -m 755 "$host" "$m/$dir/$exe"
    (cd "$m/$dir" && HOSTWIN_MACHINE="$m" "./$exe" "$@")
  fi
}

case "$3" in
floppy)
  mkdir "$work/back" && mcopy -i "$img" -n '::/*' "$work/back/"
  check "floppy: 1.44 MB, labelled" test "$(stat -c %s "$img")" = 1474560 -a "$(mlabel -i "$img" -s ::)" = " Volume label is PELLAMTOOLS"
  check "floppy: programs as built" cmp "$work/back/UNPELLAM.EXE" "$win/uninstaller/unpellam.exe"
  check "floppy: upgrade as built" cmp "$work/back/UPGRADE.EXE" "$win/upgrade/upgrade.exe"
  check "floppy: README.TXT as in the zip" cmp "$work/back/README.TXT" <(unzip -p "$zip" README.TXT)
  # unpellam from A: must remove what the same run from the Windows directory removes.
  for m in "$work/a" "$work/windows"; do
    cp -r "$root/samples/win98-machine" "$m" && mkdir "$m/a" && mcopy -i "$img" -n '::/*' "$m/a/"
    printf '[drives]\na=removable write-protected\n' >> "$m/machine.ini"
  done
  HOSTWIN_ANSWERS=ok run_exe "$work/a" a UNPELLAM.EXE "$bins/uninstaller/unpellam" all now 2>/dev/null
  HOSTWIN_MACHINE="$work/windows" HOSTWIN_ANSWERS=ok "$bins/uninstaller/unpellam" all now 2>/dev/null
  check "floppy: run from A:" grep -q '"event":"start",.*"A:\\\\UNPELLAM.EXE' "$work/a/journal.jsonl"
  check "floppy: removed" test ! -e "$work/a/c/WINDOWS/SYSTEM/MOTVCD.VXD"
  rm -rf "$work/a/a" "$work/windows/a"
  check "floppy: as from the Windows directory" bash -c '"$0" diff "$1" "$2" >/dev/null' "$bins/hostwin/tool/hostwin" "$work/windows" "$work/a" ;;
cd)
  cp -r "$root/samples/upgrade-package/d" "$work/package" && unzip -q "$zip" UPGRADE.EXE -d "$work/package/PELLAM"
  genisoimage -quiet -iso-level 1 -J -V PELLAM -o "$work/cd.iso" "$work/package"
  check "cd: Joliet names too" grep -qx /PELLAM/Pel10App.exe <(isoinfo -J -f -i "$work/cd.iso")
  m="$work/copy" && cp -r "$root/samples/upgrade-package" "$m" && rm -r "$m/d"
  xorriso -osirrox on -read_fs ecma119 -indev "$work/cd.iso" -extract / "$m/d" 2>/dev/null
  check "cd: ISO 9660 level-1 names" test -z "$(cd "$m/d" && find . -mindepth 1 | cut -c2- | grep -vE '^(/[A-Z0-9_]{1,8}(\.[A-Z0-9_]{1,3})?)+$')"
  check "cd: the program as built" cmp "$m/d/PELLAM/UPGRADE.EXE" "$win/upgrade/upgrade.exe"
  check "cd: a CD-ROM drive" grep -qx d=cdrom "$m/machine.ini"
  cp -r "$m" "$work/cleanup" && cp -r "$m" "$work/before"
  HOSTWIN_ANSWERS=ok run_exe "$m" d/PELLAM UPGRADE.EXE "$bins/upgrade/upgrade" 2>/dev/null
  check "cd: every file of both tables placed whole" python3 - "$m" <<'PY'
import json, os, sys
m = sys.argv[1]
to = {e["to"].rsplit("\\", 1)[1].lower(): os.path.join(m, e["to"][0].lower(), *e["to"][3:].split("\\"))
      for e in map(json.loads, open(os.path.join(m, "journal.jsonl"), encoding="latin-1"))
      if e["event"] == "file-copy" and e["ok"]}
cd = [os.path.join(b, n) for b, _, names in os.walk(os.path.join(m, "d")) for n in names if n != "UPGRADE.EXE"]
bad = [f for f in cd if open(f, "rb").read() != open(to.get(os.path.basename(f).lower(), f + ".none"), "rb").read()
       ] if all(os.path.exists(to.get(os.path.basename(f).lower(), "")) for f in cd) else cd
print(*bad); sys.exit(len(bad) > 0 or len(cd) < 50)
PY
  HOSTWIN_ANSWERS=ok run_exe "$work/cleanup" d/PELLAM UPGRADE.EXE "$bins/upgrade/upgrade" Cleanup 2>/dev/null
  check "cd: Cleanup starts no batch" test -z "$(grep '"event":"process-create"' "$work/cleanup/journal.jsonl"; find "$work/cleanup" -iname '*.bat')"
  check "cd: the CD unchanged" diff -r -x UPGRADE.EXE "$work/before/d" "$work/cleanup/d" ;;
zip)
  check "zip: exactly the three files, 8.3 names" test "$(unzip -l "$zip" | awk 'NF == 4 && $1 ~ /^[0-9]+$/ { print $4 }')" = \
    "$(printf 'UNPELLAM.EXE\nUPGRADE.EXE\nREADME.TXT')"
  check "zip: programs as built" cmp <(unzip -p "$zip" UNPELLAM.EXE UPGRADE.EXE) <(cat "$win/uninstaller/unpellam.exe" "$win/upgrade/upgrade.exe")
  check "zip: README.TXT plain ASCII with CR/LF" python3 -c "import sys; t = sys.stdin.buffer.read()
sys.exit(not t.endswith(b'\r\n') or max(t) > 126 or t.count(b'\n') != t.count(b'\r\n') or t.count(b'\r') != t.count(b'\r\n'))" < <(unzip -p "$zip" README.TXT)
  check "zip: checksums hold" bash -c "cd '$work/dist' && sha256sum --quiet -c SHA256SUMS"
  sleep 2  # past the 2-second step of DOS times, so a time stamp taken from the clock shows
  "$root/scripts/release.sh" --no-build --out "$work/again" >/dev/null
  check "two releases in a row give the same bytes" cmp "$work/dist/SHA256SUMS" "$work/again/SHA256SUMS" ;;
*) echo "usage: release_media.sh <directory of the built unpellam> <source root> floppy|cd|zip" >&2; exit 2 ;;
esac
echo "$failures failed"
test "$failures" -eq 0
