#!/usr/bin/env bash
# End-to-end runs of the built upgrade program on copies of the sample upgrade package: from
# the CD in copy mode, with failing devices, and in cleanup mode from a temporary folder and
# from the CD.
#   upgrade_flow.sh <directory of the built programs> <source root>
set -euo pipefail
bin="$1/upgrade"
[ -x "$bin" ] || bin="$1/../upgrade/upgrade"
sample="$2/samples/upgrade-package"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

check() {  # check <description> <command...>
  local what="$1"; shift
  "$@" || { echo "FAILED: $what"; failures=$((failures + 1)); }
}

fresh() {  # fresh <name> <folder>: a copy of the sample with the program in the folder (and,
  # when that is not the CD's package folder, a copy of the package and the demos beside it)
  local m="$work/$1" folder="$2"
  cp -r "$sample" "$m"
  if [ "$folder" != d/PELLAM ]; then
    mkdir -p "$m/$folder" && cp -r "$m/d/PELLAM/." "$m/$folder/" && cp -r "$m/d/ZX7Demos" "$m/$folder/.."
  fi
  cp "$bin" "$m/$folder/UPGRADE.EXE"
  echo "$m"
}

run() {  # run <machine> <folder> [arguments...]: keeps <machine>.before, runs from the folder
  local m="$1" folder="$2"; shift 2
  cp -r "$m" "$m.before"
  (cd "$m/$folder" && HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS=ok ./UPGRADE.EXE "$@")
}

events() {  # events <machine> <event>: that event's journal lines, less the event name
  grep "\"event\":\"$2\"" "$1/journal.jsonl" | cut -d, -f2- || true
}

# placed_everything <machine> <package folder> <demos folder>: every package file reached its
# journaled destination with its contents, and nothing else of the machine changed apart from
# the setup program's log and what left the package folders.
placed_everything() {
  python3 - "$@" <<'PY'
import json, os, sys
after, *folders = sys.argv[1:]
def files(root):
    return {os.path.relpath(os.path.join(b, n), root): open(os.path.join(b, n), "rb").read()
            for b, _, names in os.walk(root) for n in names
            if os.path.relpath(os.path.join(b, n), root) not in ("journal.jsonl", "shortnames.txt")}
fb, fa = files(after + ".before"), files(after)
placed = {}
for e in map(json.loads, open(os.path.join(after, "journal.jsonl"), encoding="latin-1")):
    if e["event"] in ("file-copy", "file-move") and e["ok"]:
        placed[e["to"].split("\\")[-1].lower()] = e["to"][0].lower() + "/" + e["to"][3:].replace("\\", "/")
sources = {r: d for r, d in fb.items() if os.path.dirname(r) in folders and not r.endswith("UPGRADE.EXE")}
bad = sorted(r for r, d in sources.items() if fa.get(placed.get(os.path.basename(r).lower())) != d)
changed = {r for r in fa if fb.get(r) != fa[r]} - set(placed.values()) - {"c/WINDOWS/BR10SETP.LOG"}
gone = {r for r in fb if r not in fa and os.path.dirname(r) not in folders}
for what, names in (("not placed", bad), ("changed", changed), ("removed", gone)):
    if names: print(what, sorted(names))
sys.exit(1 if bad or changed or gone else 0)
PY
}

# Where each file goes, in placement order: the driver table, then the support table. Each line
# is a directory and the files placed there one after the other (a pattern's matches sorted).
placements='C:\WINDOWS br10dos.ini br10dos.com
C:\WINDOWS\SYSTEM hxlnk.vxd br10appy.vxd br10core.vxd br10init.vxd br10joys.vxd br10midi.vxd
C:\WINDOWS\SYSTEM br10mix.vxd br10port.vxd br10sbfm.vxd br10wave.vxd br10wt.vxd br10setp.vxd
C:\WINDOWS\SYSTEM zx7.vxd zx7.dll zx7api.dll
C:\WINDOWS zx7splsh.exe
C:\WINDOWS\SYSTEM br10midi.drv br10mix.drv br10wave.drv br10wt.drv br10thru.dll br10gm.arl
C:\WINDOWS\INF br10codc.inf br10com.inf br10core.inf br10mm.inf br10mmdv.inf br10port.inf
C:\WINDOWS\INF br10mult.inf
C:\WINDOWS\CATROOT br10codc.cat br10com.cat br10core.cat br10mm.cat br10port.cat br10mult.cat
C:\WINDOWS\SYSTEM br10aud.vxd
C:\WINDOWS br4410.reg
C:\pellapps Pel10App.exe ZX7Demos.exe
C:\WINDOWS br10setp.exe
C:\WINDOWS\SYSTEM motvcd.vxd kmq4dfv1.vxd kmq4_ctl.vxd
C:\WINDOWS\INF br10ser.inf Sm56.reg
C:\WINDOWS\SYSTEM tqa.hlp tqa.gid tqa.cpl
C:\WINDOWS unpellam.exe'
placed_in_order() {  # placed_in_order <machine>: "directory name" of every placement, in order
  python3 - "$1/journal.jsonl" <<'PY'
import json, sys
for e in map(json.loads, open(sys.argv[1], encoding="latin-1")):
    if e["event"] in ("file-copy", "file-move") and e["ok"]:
        print(*e["to"].rsplit("\\", 1))
PY
}
in_table_order() {  # in_table_order <machine>
  test "$(placed_in_order "$1")" = "$(printf '%s\n' "$placements" | awk '{ for (i = 2; i <= NF; i++) print $1, $i }')"
}

# Copy mode from the CD: every file placed, both handshakes with each word handed on, the
# setup program run with 15, no box, no self-removal.
m="$(fresh copy d/PELLAM)"
run "$m" d/PELLAM 2>"$work/copy.err"
check "copy: every file placed" placed_everything "$m" d/PELLAM d/ZX7Demos
check "copy: each file to its directory, in table order" in_table_order "$m"
check "copy: both handshakes in order, each word handed on" test "$(events "$m" device-control)" = \
'"device":"br10core.vxd","code":"0x1D2A68","output":"0xA100001","ok":true}
"device":"br10setp.vxd","code":"0x10002","input":"0xA100001","output":"0xA100002","ok":true}
"device":"br10setp.vxd","code":"0x10001","input":"0xA100002","output":"0xA100002","ok":true}
"device":"br10setp.vxd","code":"0x10004","output":"0xA100004","ok":true}
"device":"br10setp.vxd","code":"0x10003","input":"0xA100004","ok":true}'
check "copy: no box" test -z "$(events "$m" msgbox)" -a ! -s "$work/copy.err"
check "copy: setup program run with 15" grep -qx "br10setp.exe started with: 15" "$m/c/WINDOWS/BR10SETP.LOG"
check "copy: setup program started in the package folder" test \
  "$(events "$m" process-start | grep -c '"directory":"D:\\\\PELLAM","kind":"simulated program"')" -eq 1
check "copy: no self-removal" test -z "$(events "$m" process-create)"
# The CD's files are read-only and keep that bit; their copies are left without it.
check "copy: placed copies writable, the CD's attributes refused" test ! -e "$m/attributes.txt" -a \
  "$(events "$m" file-attributes | grep -c '"path":"D:.*"ok":false,"error":5')" -eq "$(events "$m" file-copy | wc -l)"

# Failing devices: the reboot box; with no core device (code 2) only when the second
# handshake fails too.
box='"caption":"Pellam Upgrade","text":"You will need to re-boot to continue..","style":48,"answer":"ok"}'
reboot_case() {  # reboot_case <name> <core device> <failing setup code or ""> <boxes>
  local m; m="$(fresh "$1" d/PELLAM)"
  sed -i "s/^br10core.vxd=installed/br10core.vxd=$2/" "$m/machine.ini"
  [ -z "$3" ] || printf 'br10setp.vxd.fail=%s\n' "$3" >> "$m/machine.ini"
  run "$m" d/PELLAM 2>/dev/null
  check "$1: boxes" test "$(events "$m" msgbox)" = "$4"
}
reboot_case failing installed 0x10001 "$box"
reboot_case nocore missing "" ""
reboot_case nocore-failing missing 0x10003 "$box"

# Cleanup from a copy of the package in a temporary folder: the files move, and after the
# program has ended the batch removes the program, its folder and itself.
m="$(fresh cleanup c/WINDOWS/TEMP/PELLAM)"
run "$m" c/WINDOWS/TEMP/PELLAM cLeAnUp 2>/dev/null
for _ in $(seq 1 300); do
  [ -e "$m/c/PellamUpgradeDelUS.bat" ] || [ -e "$m/c/WINDOWS/TEMP/PELLAM" ] || break
  sleep 0.1
done
check "cleanup: every file placed" placed_everything "$m" c/WINDOWS/TEMP/PELLAM c/WINDOWS/TEMP/ZX7Demos
check "cleanup: each file moved to its directory, in table order" in_table_order "$m"
check "cleanup: program, its folder and the batch removed, the demos moved out" test ! -e \
  "$m/c/WINDOWS/TEMP/PELLAM" -a ! -e "$m/c/PellamUpgradeDelUS.bat" -a -z "$(ls "$m/c/WINDOWS/TEMP/ZX7Demos")"
check "cleanup: batch ended after the program" \
  test "$(grep -oE '"event":"(exit|batch-end)"' "$m/journal.jsonl")" = '"event":"exit"
"event":"batch-end"'

# Cleanup from the CD: the files are copied, and since the program
# cannot delete itself there no batch is written or started.
m="$(fresh cleanup-cd d/PELLAM)"
run "$m" d/PELLAM Cleanup 2>/dev/null
check "cleanup on CD: files placed" placed_everything "$m" d/PELLAM d/ZX7Demos
check "cleanup on CD: no batch" test -z "$(events "$m" process-create)" -a ! -e "$m/c/PellamUpgradeDelUS.bat" \
  -a ! -e "$m/d/PellamUpgradeDelUS.bat"
check "cleanup on CD: every copy writable, every CD file kept" test ! -e "$m/attributes.txt" -a \
  "$(events "$m" file-delete | grep -c '"path":"D:.*"ok":false')" -eq "$(events "$m" file-copy | wc -l)"

echo "$failures failed"
test "$failures" -eq 0
