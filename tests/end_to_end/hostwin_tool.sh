#!/usr/bin/env bash
# The hostwin command on the sample machines: every subcommand, its exit codes and what it
# leaves in the folders.
#   hostwin_tool.sh <directory of the built unpellam> <source root>
set -euo pipefail
tool="$1/../hostwin/tool/hostwin"
sample="$2/samples/win98-machine"
package="$2/samples/upgrade-package"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

check() {  # check <description> <command...>
  local what="$1"; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
code() {  # code <command...>: runs it, output to $work/out and $work/err, prints the exit code
  set +e; "$@" >"$work/out" 2>"$work/err"; echo $?; set -e
}
json() {  # json <python expression on d> < file: true when the expression holds
  python3 -c "import json,sys; d=json.load(sys.stdin); sys.exit(0 if ($1) else 1)"
}

# new: the Windows tree, machine.ini and an empty registry; refuses a folder with contents.
check "new: exit 0" test "$(code "$tool" new "$work/fresh")" -eq 0
for sub in SYSTEM INF INF/OTHER TEMP CATROOT; do
  check "new: WINDOWS/$sub" test -d "$work/fresh/c/WINDOWS/$sub"
done
check "new: win98" grep -qx "version=win98" "$work/fresh/machine.ini"
check "new: empty registry" test "$(cat "$work/fresh/registry.reg")" = "$(printf 'REGEDIT4\r\n\r')"
check "new: existing folder refused" test "$(code "$tool" new "$work/fresh")" -eq 2
check "new: nt4 in WINNT" test "$(code "$tool" new "$work/nt" --version nt4)" -eq 0
check "new: nt4 windir" grep -qx 'windir=C:\\WINNT' "$work/nt/machine.ini"
check "new: unknown version" test "$(code "$tool" new "$work/bad" --version win31)" -eq 2
check "new: nothing made for a bad version" test ! -e "$work/bad"
check "new: usable by the programs" test "$(code "$tool" run "$work/fresh" -- unpellam silent)" -eq 0

# import: keys, values and both kinds of deletion; a malformed file changes nothing.
cp -r "$sample" "$work/imported"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Zentrix\\Tool]\r\n"Mode"="fast"\r\n"Size"=dword:00000010\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\Brelox]\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"WaveDial"=-\r\n' >"$work/change.reg"
check "import: exit 0" test "$(code "$tool" import "$work/imported" "$work/change.reg")" -eq 0
code "$tool" diff --json "$sample" "$work/imported" >/dev/null
check "import: key added" json 'any(c["change"]=="added" and c["key"].endswith("Zentrix\\Tool") and c["values"]==2 for c in d["registry"])' <"$work/out"
check "import: key deleted" json 'any(c["change"]=="removed" and c["key"]=="HKEY_LOCAL_MACHINE\\Software\\Brelox" for c in d["registry"])' <"$work/out"
check "import: value deleted" json 'any(c["change"]=="removed" and c.get("value")=="WaveDial" for c in d["registry"])' <"$work/out"
check "import: files untouched" json 'd["files"]==[]' <"$work/out"
cp "$work/imported/registry.reg" "$work/imported.reg"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\New]\r\n"x"=dword:zz\r\n' >"$work/broken.reg"
check "import: malformed file" test "$(code "$tool" import "$work/imported" "$work/broken.reg")" -eq 2
check "import: file and line named" grep -q "broken.reg line 4" "$work/err"
check "import: registry untouched" cmp -s "$work/imported.reg" "$work/imported/registry.reg"
check "import: missing file" test "$(code "$tool" import "$work/imported" "$work/none.reg")" -eq 2
# import holds the folder lock from load to save, as the programs do: it waits for a holder.
cp -r "$sample" "$work/locked"
flock "$work/locked" sleep 2 &
sleep 0.3
started=$(date +%s%N)
"$tool" import "$work/locked" "$work/change.reg"
check "import: waits for the folder lock" test $(( ($(date +%s%N) - started) / 1000000 )) -ge 1200
wait

# export: the whole registry reads back as it was; one key with what is below it.
check "export: exit 0" test "$(code "$tool" export "$sample")" -eq 0
cp "$work/out" "$work/exported.reg"
"$tool" new "$work/reimported" >/dev/null
"$tool" import "$work/reimported" "$work/exported.reg"
check "export: imports into an empty machine unchanged" cmp -s "$work/exported.reg" "$work/reimported/registry.reg"
check "export: key" test "$(code "$tool" export "$sample" 'hkey_local_machine\Software\Brelox\')" -eq 0
check "export: key first, then its subkeys" test "$(tr -d '\r' <"$work/out" | sed -n '3p;5p')" = "[HKEY_LOCAL_MACHINE\\Software\\Brelox]
[HKEY_LOCAL_MACHINE\\Software\\Brelox\\Modem]"
check "export: only that key" bash -c "! grep -v '^\\[HKEY_LOCAL_MACHINE\\\\Software\\\\Brelox' '$work/out' | grep -q '^\\['"
check "export: no such key" test "$(code "$tool" export "$sample" 'HKEY_LOCAL_MACHINE\Nothing')" -eq 2

# run: the journal lines of the run only, the program's exit code, the folder changed.
cp -r "$sample" "$work/ran"
check "run: exit code of the program" test "$(HOSTWIN_ANSWERS=ok,cancel code "$tool" run "$work/ran" --json -- unpellam tunelink10)" -eq 0
check "run: start first, exit last" test "$(python3 -c 'import json,sys; l=[json.loads(x)["event"] for x in open(sys.argv[1])]; print(l[0], l[-1])' "$work/out")" = "start exit"
HOSTWIN_ANSWERS=ok,cancel "$tool" run "$work/ran" -- unpellam tunelink10 >"$work/out2" 2>/dev/null
check "run: only this run's lines" test "$(grep -c '^start ' "$work/out2")" -eq 1
check "run: the folder changed" test ! -e "$work/ran/c/WINDOWS/SYSTEM/MOTVCD.VXD"
check "run: no such program" test "$(code "$tool" run "$work/ran" -- no-such-program)" -eq 2

# diff: no differences, then those of the run above, as text and as JSON.
check "diff: same folders" test "$(code "$tool" diff "$sample" "$sample")" -eq 0
check "diff: says so" grep -qx "no differences" "$work/out"
check "diff: differences" test "$(code "$tool" diff "$sample" "$work/ran")" -eq 1
check "diff: removed file" grep -qF -- '- C:\WINDOWS\SYSTEM\MOTVCD.VXD  (20 bytes)' "$work/out"
check "diff: changed file" grep -qF -- '~ C:\WINDOWS\SYSTEM.INI  (238 -> ' "$work/out"
check "diff: removed key" grep -qF -- '- [HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\MOTVCD]' "$work/out"
check "diff: removed value" grep -qF -- '    - "WaveDial"="C:\\WINDOWS\\SYSTEM\\WAVEDIAL.EXE"' "$work/out"
cp -r "$sample" "$work/attrs"
printf '00000003\tC:\\WINDOWS\\INF\\BR10X.INF\n00000001\tC:\\WINDOWS\\SYSTEM\\MMSYSTEM.DLL\n' >"$work/attrs/attributes.txt"
code "$tool" diff "$sample" "$work/attrs" >/dev/null
check "diff: attributes" grep -qF -- '~ C:\WINDOWS\INF\BR10X.INF  (attributes read-only -> read-only hidden)' "$work/out"
code "$tool" diff --json "$sample" "$work/attrs" >/dev/null
check "diff: attributes as JSON" json 'd["files"]==[{"change":"changed","path":"C:\\WINDOWS\\INF\\BR10X.INF","before":{"folder":False,"size":66,"attributes":1},"after":{"folder":False,"size":66,"attributes":3},"contentsDiffer":False}]' <"$work/out"
check "diff: bad usage" test "$(code "$tool" diff "$sample")" -eq 2
check "diff: usage points to help" grep -q -- "--help" "$work/err"

# preview: the sample stays as it was; journal and changes are shown; the copy is gone.
snapshot="$(cd "$2/samples" && find win98-machine -type f -exec md5sum {} + | sort)"
check "preview: exit code of the program" test "$(HOSTWIN_ANSWERS=ok,cancel TMPDIR="$work" code "$tool" preview "$sample" -- unpellam all)" -eq 0
check "preview: journal shown" grep -q '^   exit  *program="unpellam", code=0' "$work/out"
check "preview: changes shown" grep -qF -- '- C:\WINDOWS\SYSTEM\MOTVCD.VXD' "$work/out"
check "preview: sample untouched" test "$(cd "$2/samples" && find win98-machine -type f -exec md5sum {} + | sort)" = "$snapshot"
check "preview: scratch copy removed" test -z "$(ls -d "$work"/hostwin-preview.* 2>/dev/null)"
HOSTWIN_ANSWERS=ok TMPDIR="$work" code "$tool" preview --json --keep "$package" -- unpellam >/dev/null
check "preview: JSON" json 'd["code"]==0 and d["journal"][0]["event"]=="start" and d["diff"]["registry"]==[]' <"$work/out"
check "preview: kept copy" test -d "$(ls -d "$work"/hostwin-preview.*/machine)"

# Nothing in a folder leads the command outside it.
# preview of a link to a folder works on a copy of the folder, never on the folder itself.
cp -r "$sample" "$work/real"
ln -s "$work/real" "$work/linked"
check "preview link: exit 0" test "$(HOSTWIN_ANSWERS=ok,cancel TMPDIR="$work" code "$tool" preview "$work/linked" -- unpellam all now)" -eq 0
check "preview link: changes shown" grep -qF -- '- C:\WINDOWS\SYSTEM\MOTVCD.VXD' "$work/out"
check "preview link: folder untouched" test "$(code "$tool" diff "$sample" "$work/real")" -eq 0
# a journal that is a link or a FIFO is refused before the program runs.
for kind in link fifo; do
  cp -r "$sample" "$work/journal-$kind"
  if [ $kind = link ]; then ln -s /dev/zero "$work/journal-$kind/journal.jsonl"; else mkfifo "$work/journal-$kind/journal.jsonl"; fi
  check "run: journal $kind refused" test "$(HOSTWIN_ANSWERS=ok,cancel timeout 60 "$tool" run "$work/journal-$kind" -- unpellam all now >/dev/null 2>"$work/err"; echo $?)" -eq 2
  check "run: journal $kind named" grep -q "journal.jsonl" "$work/err"
  check "run: nothing removed ($kind)" test -e "$work/journal-$kind/c/WINDOWS/SYSTEM/MOTVCD.VXD"
done
# diff lists links as links: none is followed, so /dev/zero and loops to .. end at once.
cp -r "$sample" "$work/links"
ln -s /etc "$work/links/c/ETC"; ln -s /dev/zero "$work/links/c/ZERO"
ln -s .. "$work/links/c/UP"; ln -s .. "$work/links/c/WINDOWS/UP"
check "diff links: differences" test "$(timeout 60 "$tool" diff "$sample" "$work/links" >"$work/out" 2>&1; echo $?)" -eq 1
check "diff links: four entries added" grep -q "0 files removed, 4 added, 0 changed" "$work/out"
check "diff links: nothing of /etc" bash -c "! grep -q 'passwd' '$work/out'"
# preview makes a private copy or none: a link in the folder or a file over 4 GiB stops it.
check "preview with links: refused" test "$(TMPDIR="$work" code "$tool" preview "$work/links" -- unpellam all now)" -eq 2
check "preview with links: says why" grep -q "symbolic link, which a private copy cannot hold" "$work/err"
cp -r "$sample" "$work/sparse"
truncate -s 3G "$work/sparse/c/BIG.DAT"
mkdir "$work/sparse-tmp"
check "preview sparse: exit 0" test "$(HOSTWIN_ANSWERS=ok,cancel TMPDIR="$work/sparse-tmp" code "$tool" preview --keep "$work/sparse" -- unpellam tunelink10)" -eq 0
check "preview sparse: copy stays sparse" test "$(du -sk "$work"/sparse-tmp/hostwin-preview.*/machine/c/BIG.DAT | cut -f1)" -lt 1024
truncate -s 5G "$work/sparse/c/BIG.DAT"
check "preview huge: refused" test "$(TMPDIR="$work" code "$tool" preview "$work/sparse" -- unpellam tunelink10)" -eq 2
check "preview huge: says why" grep -q "BIG.DAT: larger than any file of a FAT drive" "$work/err"

# help: every subcommand explains itself.
for c in new import export diff run preview; do
  check "help: $c" test "$(code "$tool" "$c" --help)" -eq 0
  check "help: $c usage" grep -q "^usage: hostwin $c" "$work/out"
done
check "unknown command" test "$(code "$tool" frobnicate)" -eq 2

echo "$passes passed, $failures failed"
test "$failures" -eq 0
