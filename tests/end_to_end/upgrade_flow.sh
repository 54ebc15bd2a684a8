#!/usr/bin/env bash
# End-to-end runs of the built upgrade program on copies of the sample upgrade package: from
# the CD in copy mode, with failing devices, and in cleanup mode from a temporary folder, where
# the self-removal batch finishes after the program has ended.
#   upgrade_flow.sh <directory of the built programs> <source root>
set -euo pipefail
bin="$1/upgrade"
[ -x "$bin" ] || bin="$1/../upgrade/upgrade"
sample="$2/samples/upgrade-package"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

check() {  # check <description> <command...>
  local what="$1"; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

fresh() {  # fresh <name>: a new copy of the sample with the program on its CD
  rm -rf "$work/$1"
  cp -r "$sample" "$work/$1"
  cp "$bin" "$work/$1/d/PELLAM/UPGRADE.EXE"
  echo "$work/$1"
}

run() {  # run <machine> <folder of the machine> [arguments...]: the program from that folder
  local m="$1" folder="$2"; shift 2
  (cd "$m/$folder" && HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS=ok ./UPGRADE.EXE "$@")
}

journal() {  # journal <machine> <what>: facts drawn from the journal, one per line
  python3 - "$1/journal.jsonl" "$2" <<'PY'
import json, sys
events = [json.loads(l) for l in open(sys.argv[1], encoding="latin-1")]
what = sys.argv[2]
for e in events:
    if what == "codes" and e["event"] == "device-control":
        print("%s %s>%s%s" % (e["code"], e.get("input", "-"), e.get("output", "-"),
                              "" if e["ok"] else " failed"))
    elif what == "boxes" and e["event"] == "msgbox":
        print("%s|%s" % (e["caption"], e["text"]))
    elif what == "placed" and e["event"] in ("file-copy", "file-move") and e["ok"]:
        print(e["to"])
    elif what == "batch" and e["event"] in ("process-create", "batch-start", "batch-end"):
        print(e["event"])
PY
}

# Every package file reached exactly one destination with its contents, and nothing else of
# the machine changed apart from the setup program's log.
placed_everything() {  # placed_everything <before> <after> <package folder> <demos folder>
  python3 - "$@" <<'PY'
import json, os, sys
before, after, package, demos = sys.argv[1:]
def files(root):
    out = {}
    for base, _, names in os.walk(root):
        for n in names:
            p = os.path.join(base, n)
            out[os.path.relpath(p, root)] = open(p, "rb").read()
    return out
fb, fa = files(before), files(after)
destinations = {}
for line in open(os.path.join(after, "journal.jsonl"), encoding="latin-1"):
    e = json.loads(line)
    if e["event"] in ("file-copy", "file-move") and e["ok"]:
        rel = e["to"][0].lower() + "/" + e["to"][3:].replace("\\", "/")
        destinations[e["to"].split("\\")[-1].lower()] = rel
sources = {}
for folder in (package, demos):
    for n in os.listdir(os.path.join(before, folder)):
        if n != "UPGRADE.EXE":
            sources[n.lower()] = fb[os.path.join(folder, n)]
ok = True
for name, data in sorted(sources.items()):
    rel = destinations.get(name)
    if rel is None or fa.get(rel) != data:
        print("not placed:", name, rel); ok = False
changed = {r for r in fa if fb.get(r) != fa[r] and r != "journal.jsonl"}
expected = set(destinations.values()) | {"c/WINDOWS/BR10SETP.LOG"}
gone = {r for r in fb if r not in fa}
if changed - expected:
    print("changed unexpectedly:", sorted(changed - expected)); ok = False
if gone - {os.path.join(package, n) for n in os.listdir(os.path.join(before, package))} \
        - {os.path.join(demos, n) for n in os.listdir(os.path.join(before, demos))}:
    print("removed unexpectedly:", sorted(gone)); ok = False
sys.exit(0 if ok else 1)
PY
}

handshakes="0x1D2A68 ->0xA100001
0x10002 0xA100001>0xA100002
0x10001 0xA100002>0xA100002
0x10004 ->0xA100004
0x10003 0xA100004>-"

# Copy mode from the CD: every file placed, both handshakes, the setup program run with 15,
# no box.
m="$(fresh copy)"
cp -r "$m" "$work/copy-before"
run "$m" d/PELLAM 2>"$work/copy.err"
check "copy: every file placed" placed_everything "$work/copy-before" "$m" d/PELLAM d/ZX7Demos
check "copy: both handshakes in order, each word handed on" test "$(journal "$m" codes)" = "$handshakes"
check "copy: no box" test -z "$(journal "$m" boxes)"
check "copy: no box printed" test ! -s "$work/copy.err"
check "copy: setup program run with 15" grep -qx "br10setp.exe started with: 15" "$m/c/WINDOWS/BR10SETP.LOG"
check "copy: the package stays on the CD" diff -r "$work/copy-before/d" "$m/d"
check "copy: no self-removal" test -z "$(journal "$m" batch)"
check "copy: exit journaled" grep -q '"event":"exit","program":"UPGRADE","code":0' "$m/journal.jsonl"

# A failing setup device in the first handshake: the reboot box, no second handshake.
m="$(fresh failing)"
printf 'br10setp.vxd.fail=0x10001\n' >> "$m/machine.ini"
run "$m" d/PELLAM 2>/dev/null
check "failing: reboot box" test "$(journal "$m" boxes)" = "Pellam Upgrade|You will need to re-boot to continue.."
check "failing: second handshake not run" test "$(journal "$m" codes | tail -1)" = "0x10001 0xA100002>- failed"
check "failing: files placed all the same" test "$(journal "$m" placed | wc -l)" -eq $(( $(ls "$sample/d/PELLAM" | wc -l) + 1 ))

# No core device (code 2): the second handshake decides.
m="$(fresh nocore)"
sed -i 's/^br10core.vxd=installed/br10core.vxd=missing/' "$m/machine.ini"
run "$m" d/PELLAM 2>/dev/null
check "no core device, second succeeds: no box" test -z "$(journal "$m" boxes)"
check "no core device: only the second handshake" test "$(journal "$m" codes)" = "0x10004 ->0xA100004
0x10003 0xA100004>-"
m="$(fresh nocore-fail)"
sed -i 's/^br10core.vxd=installed/br10core.vxd=missing/' "$m/machine.ini"
printf 'br10setp.vxd.fail=0x10003\n' >> "$m/machine.ini"
run "$m" d/PELLAM 2>/dev/null
check "no core device, second fails: box" test "$(journal "$m" boxes)" = "Pellam Upgrade|You will need to re-boot to continue.."

# Cleanup from a copy of the package in a temporary folder (with a % in its name): the files
# move, and after the program has ended the batch removes the program, its folder and itself.
for folder in "PELLAM" "50%OFF"; do
  m="$(fresh "cleanup-$folder")"
  mkdir -p "$m/c/WINDOWS/TEMP/$folder"
  cp -r "$m/d/PELLAM/." "$m/c/WINDOWS/TEMP/$folder/"
  cp -r "$m/d/ZX7Demos" "$m/c/WINDOWS/TEMP/"
  cp -r "$m" "$work/cleanup-before"
  run "$m" "c/WINDOWS/TEMP/$folder" cLeAnUp 2>/dev/null
  check "cleanup $folder: every file placed" placed_everything "$work/cleanup-before" "$m" "c/WINDOWS/TEMP/$folder" c/WINDOWS/TEMP/ZX7Demos
  rm -rf "$work/cleanup-before"
  for _ in $(seq 1 300); do
    [ -e "$m/c/PellamUpgradeDelUS.bat" ] || [ -e "$m/c/WINDOWS/TEMP/$folder" ] || break
    sleep 0.1
  done
  check "cleanup $folder: program folder removed" test ! -e "$m/c/WINDOWS/TEMP/$folder"
  check "cleanup $folder: batch file removed" test ! -e "$m/c/PellamUpgradeDelUS.bat"
  check "cleanup $folder: demos moved out" test -z "$(ls "$m/c/WINDOWS/TEMP/ZX7Demos")"
  check "cleanup $folder: batch ran to its end" test "$(journal "$m" batch)" = "process-create
batch-start
batch-end"
  check "cleanup $folder: batch ended after the program" python3 - "$m/journal.jsonl" <<'PY'
import json, sys
events = [json.loads(l)["event"] for l in open(sys.argv[1], encoding="latin-1")]
sys.exit(0 if events.index("exit") < events.index("batch-end") else 1)
PY
done

# Cleanup from the CD: the files are copied (the CD keeps its own), the program cannot delete
# itself there, so no batch is written or started, and nothing waits for ever.
m="$(fresh cleanup-cd)"
cp -r "$m" "$work/cd-before"
start=$(date +%s)
run "$m" d/PELLAM Cleanup 2>/dev/null
check "cleanup on CD: done at once" test $(( $(date +%s) - start )) -lt 20
check "cleanup on CD: files placed" placed_everything "$work/cd-before" "$m" d/PELLAM d/ZX7Demos
check "cleanup on CD: no batch" test -z "$(journal "$m" batch)"
check "cleanup on CD: no batch file" test ! -e "$m/c/PellamUpgradeDelUS.bat" -a ! -e "$m/d/PellamUpgradeDelUS.bat"
check "cleanup on CD: the CD is unchanged" diff -r "$work/cd-before/d" "$m/d"

echo "$passes passed, $failures failed"
test "$failures" -eq 0
