#!/usr/bin/env bash
# The release media in use (scripts/release.sh on build/win32): the floppy read back and unpellam
# run from it as A:, the package on an ISO 9660 + Joliet CD image read back as the CD-ROM D: and
# upgrade run from it, the zip, and a second release equal byte for byte. Skipped (77) without the
# Windows build, except in CI. PELLAM_PE_RUNNER ("hostwin run": MACHINE -- PROGRAM.EXE ARGS) runs
# the .exe itself; without it the host build stands in for the .exe at the same place.
#   release_media.sh <directory of the built unpellam> <source root> floppy|cd|zip
set -euo pipefail
bins="$(cd "$1/.." && pwd)" root="$2" win="$2/build/win32" work="$(mktemp -d)"
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
export TZ=UTC MTOOLS_SKIP_CHECK=1 PATH="$PATH:/usr/sbin:/sbin"
if [ ! -f "$win/uninstaller/unpellam.exe" ] || [ ! -f "$win/upgrade/upgrade.exe" ]; then
  echo "no Windows build in $win (the win32 preset needs i686-w64-mingw32-g++)"
  [ "${CI:-}" != true ] || exit 1; echo "SKIPPED"; exit 77
fi
"$root/scripts/release.sh" --no-build --out "$work/dist" >/dev/null
zip="$(echo "$work"/dist/*.zip)" img="$(echo "$work"/dist/*.img)" ref="$work/ref" && mkdir "$ref" "$work/back"
cp "$win/uninstaller/unpellam.exe" "$ref/UNPELLAM.EXE" && cp "$win/upgrade/upgrade.exe" "$ref/UPGRADE.EXE"
version="${zip##*-}" && python3 "$root/scripts/readme-text.py" "$root/README.md" "${version%.zip}" "$ref/README.TXT"
failures=0
check() { local what="$1"; shift; "$@" || { echo "FAILED: $what"; failures=$((failures + 1)); }; }
run_exe() {  # run_exe <machine> <folder> <NAME.EXE> <host build> [arguments], from the folder
  local m="$1" dir="$2" exe="$3"; [ -n "${PELLAM_PE_RUNNER:-}" ] || install -m 755 "$4" "$m/$dir/$exe"
  shift 4; (cd "$m/$dir" && HOSTWIN_MACHINE="$m" ${PELLAM_PE_RUNNER:+$PELLAM_PE_RUNNER "$m" --} "./$exe" "$@")
}
case "$3" in
floppy)
  mcopy -i "$img" -n '::/*' "$work/back/"
  check "floppy: 1.44 MB, labelled" test "$(stat -c %s "$img")" = 1474560 -a "$(mlabel -i "$img" -s ::)" = " Volume label is PELLAMTOOLS"
  check "floppy: the files as built" diff -r "$ref" "$work/back"
  for m in "$work/a" "$work/windows"; do  # unpellam from A: against it from the Windows directory
    cp -r "$root/samples/win98-machine" "$m" && mkdir "$m/a" && mcopy -i "$img" -n '::/*' "$m/a/"
    printf '[drives]\na=removable write-protected\n' >> "$m/machine.ini"
  done
  HOSTWIN_ANSWERS=ok run_exe "$work/a" a UNPELLAM.EXE "$bins/uninstaller/unpellam" all now 2>/dev/null
  HOSTWIN_MACHINE="$work/windows" HOSTWIN_ANSWERS=ok "$bins/uninstaller/unpellam" all now 2>/dev/null
  check "floppy: run from A:, removing" test -n "$(grep '"event":"start",.*"A:\\\\UNPELLAM.EXE' "$work/a/journal.jsonl")" -a ! -e "$work/a/c/WINDOWS/SYSTEM/MOTVCD.VXD"
  rm -rf "$work/a/a" "$work/windows/a"
  check "floppy: as from the Windows directory" bash -c '"$0" diff "$1" "$2" >/dev/null' "$bins/hostwin/tool/hostwin" "$work/windows" "$work/a" ;;
cd)
  cp -r "$root/samples/upgrade-package/d" "$work/package" && unzip -q "$zip" UPGRADE.EXE -d "$work/package/PELLAM"
  genisoimage -quiet -iso-level 1 -J -V PELLAM -o "$work/cd.iso" "$work/package"
  check "cd: Joliet names too" grep -qx /PELLAM/Pel10App.exe <(isoinfo -J -f -i "$work/cd.iso")
  m="$work/copy" && cp -r "$root/samples/upgrade-package" "$m" && rm -r "$m/d"
  xorriso -osirrox on -read_fs ecma119 -indev "$work/cd.iso" -extract / "$m/d" 2>/dev/null && chmod -R u+w "$m/d"
  check "cd: ISO 9660 level-1 names" test -z "$(cd "$m/d" && find . -mindepth 1 | cut -c2- | grep -vE '^(/[A-Z0-9_]{1,8}(\.[A-Z0-9_]{1,3})?)+$')"
  check "cd: the program as built, on a CD-ROM" test "$(cmp "$m/d/PELLAM/UPGRADE.EXE" "$ref/UPGRADE.EXE" && grep -x d=cdrom "$m/machine.ini")" = d=cdrom
  cp -r "$m" "$work/cleanup" && cp -r "$m" "$work/before"
  HOSTWIN_ANSWERS=ok run_exe "$m" d/PELLAM UPGRADE.EXE "$bins/upgrade/upgrade" 2>/dev/null
  check "cd: every file of both tables placed whole" python3 - "$m" <<'PY'
import filecmp, json, os, sys
m = sys.argv[1]
to = {e["to"].rsplit("\\", 1)[1].upper(): os.path.join(m, e["to"][0].lower(), *e["to"][3:].split("\\"))
      for e in map(json.loads, open(m + "/journal.jsonl", encoding="latin-1")) if e["event"] == "file-copy" and e["ok"]}
cd = [(b, n) for b, _, names in os.walk(m + "/d") for n in names if n != "UPGRADE.EXE"]
bad = [n for b, n in cd if not os.path.isfile(to.get(n, "")) or not filecmp.cmp(os.path.join(b, n), to[n], shallow=False)]
bad and print(*bad); sys.exit(bool(bad) or len(cd) < 50)
PY
  HOSTWIN_ANSWERS=ok run_exe "$work/cleanup" d/PELLAM UPGRADE.EXE "$bins/upgrade/upgrade" Cleanup 2>/dev/null
  check "cd: Cleanup starts no batch" test -z "$(grep '"event":"process-create"' "$work/cleanup/journal.jsonl"; find "$work/cleanup" -iname '*.bat')"
  check "cd: the CD unchanged" diff -r -x UPGRADE.EXE "$work/before/d" "$work/cleanup/d" ;;
zip)
  check "zip: exactly the three files, 8.3 names" test "$(unzip -l "$zip" | awk 'NF == 4 && $1 ~ /^[0-9]+$/ { print $4 }' | tr '\n' ' ')" = "UNPELLAM.EXE UPGRADE.EXE README.TXT "
  unzip -q "$zip" -d "$work/back" && check "zip: the files as built" diff -r "$ref" "$work/back"
  check "zip: README.TXT plain ASCII with CR/LF" python3 -c "import sys; t = open(sys.argv[1], 'rb').read()
sys.exit(max(t) > 126 or t.count(b'\n') != t.count(b'\r\n') or t.count(b'\r') != t.count(b'\r\n') or not t.endswith(b'\r\n'))" "$work/back/README.TXT"
  check "zip: checksums hold" bash -c "cd '$work/dist' && sha256sum --quiet -c SHA256SUMS"
  sleep 2  # past the 2-second step of DOS times, so that a time stamp taken from the clock shows
  "$root/scripts/release.sh" --no-build --out "$work/again" >/dev/null
  check "two releases in a row give the same bytes" cmp "$work/dist/SHA256SUMS" "$work/again/SHA256SUMS" ;;
esac
echo "$failures failed"
test "$failures" -eq 0
