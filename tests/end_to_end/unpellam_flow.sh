#!/usr/bin/env bash
# End-to-end runs of the built unpellam on copies of the sample Windows 98 machine: the boxes a
# user sees, the exit code, and what reaches the machine folder.
#   unpellam_flow.sh <directory of the built programs> <source root>
set -euo pipefail
bin="$1/unpellam"
sample="$2/samples/win98-machine"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

check() {  # check <description> <command...>
  local what="$1"; shift
  if "$@"; then passes=$((passes + 1)); else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

fresh() {  # fresh <name>: a new copy of the sample
  rm -rf "$work/$1"
  cp -r "$sample" "$work/$1"
  echo "$work/$1"
}

boxes() {  # the captions and answers of the boxes in a machine's journal, one per line
  python3 - "$1/journal.jsonl" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="latin-1"):
    e = json.loads(line)
    if e["event"] == "msgbox":
        print("%s|%s" % (e["caption"], e["answer"]))
PY
}

title="$(python3 - "$sample/registry.reg" <<'PY'
import sys
text = open(sys.argv[1], encoding="latin-1").read()
for line in text.splitlines():
    if line.startswith('"WarningTitle"="'):
        print(line[len('"WarningTitle"="'):-1].replace('\\"', '"').replace("\\\\", "\\"))
PY
)"

# Confirm, then decline the restart: confirmation, restart question, reminder; exit 0.
m="$(fresh confirm)"
set +e; HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS=ok,cancel "$bin" 2>"$work/confirm.err"; code=$?; set -e
check "confirm: exit 0" test "$code" -eq 0
check "confirm: three boxes" test "$(boxes "$m")" = "$title|ok
Restart Windows?|cancel
$title|ok"
check "confirm: boxes on standard error" grep -q "Restart Windows?" "$work/confirm.err"
check "confirm: something was removed" grep -q '"event":"file-delete","path":"[^"]*","ok":true' "$m/journal.jsonl"
check "confirm: no restart" bash -c "! grep -q '\"event\":\"restart\"' '$m/journal.jsonl'"
check "confirm: start and exit journaled" grep -q '"event":"exit","program":"unpellam","code":0' "$m/journal.jsonl"

# silent: no box, nothing removed.
m="$(fresh silent)"
HOSTWIN_MACHINE="$m" "$bin" silent 2>/dev/null
check "silent: no box" test -z "$(boxes "$m")"
check "silent: nothing removed" diff -r -x journal.jsonl "$sample" "$m"

# Without the uninstall key: only the error box, nothing removed.
m="$(fresh nokey)"
python3 - "$m/registry.reg" <<'PY'
import sys, re
path = sys.argv[1]
text = open(path, encoding="latin-1").read()
keep, skip = [], False
for line in text.replace("\r\n", "\n").split("\n"):
    if line.startswith("["):
        skip = line.lower().startswith("[hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\sm56brl")
    if not skip:
        keep.append(line)
open(path, "w", encoding="latin-1").write("\n".join(keep))
PY
cp "$m/registry.reg" "$work/nokey.reg"
HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS=ok "$bin" 2>/dev/null
check "no key: only the error box" test "$(boxes "$m")" = "Uninstall|ok"
check "no key: registry unchanged" cmp -s "$work/nokey.reg" "$m/registry.reg"

# Windows NT 4.0: the same boxes, nothing removed.
m="$(fresh nt4)"
python3 - "$m/machine.ini" <<'PY'
import sys, re
p = sys.argv[1]
t = open(p).read()
t = re.sub(r"version=\w+", "version=nt4", t) if "version=" in t else "[system]\nversion=nt4\n" + t
open(p, "w").write(t)
PY
cp -r "$m" "$work/nt4-before"
HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS=ok,ok "$bin" all 2>/dev/null
check "nt4: same boxes" test "$(boxes "$m")" = "$title|ok
Restart Windows?|ok
$title|ok"
check "nt4: nothing removed" diff -r -x journal.jsonl "$work/nt4-before" "$m"

# A machine folder that is not there: a clear error naming the variable, nothing touched.
set +e
env -u HOSTWIN_MACHINE "$bin" now 2>"$work/unset.err"; code=$?
set -e
check "unset machine: non-zero exit" test "$code" -ne 0
check "unset machine: names the variable" grep -q HOSTWIN_MACHINE "$work/unset.err"
set +e; HOSTWIN_MACHINE="$work/absent" "$bin" now 2>/dev/null; code=$?; set -e
check "absent machine: non-zero exit" test "$code" -ne 0
check "absent machine: nothing created" test ! -e "$work/absent"

# A malformed registry: the file and line are named, nothing is written.
m="$(fresh broken)"
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n"x"=dword:zz\n' > "$m/registry.reg"
cp "$m/registry.reg" "$work/broken.reg"
set +e; HOSTWIN_MACHINE="$m" "$bin" now 2>"$work/broken.err"; code=$?; set -e
check "broken registry: non-zero exit" test "$code" -ne 0
check "broken registry: file and line named" grep -q "registry.reg line 4" "$work/broken.err"
check "broken registry: untouched" cmp -s "$work/broken.reg" "$m/registry.reg"

# A folder from elsewhere: the Windows system folder is a link to a host folder, and machine.ini
# a FIFO. Neither the host folder nor the run waits on or reaches outside the machine.
m="$(fresh linked)"
mv "$m/c/WINDOWS/SYSTEM" "$work/host-system"
cp -r "$work/host-system" "$work/host-system-before"
ln -s "$work/host-system" "$m/c/WINDOWS/SYSTEM"
HOSTWIN_MACHINE="$m" "$bin" all now silent 2>/dev/null
check "linked SYSTEM: host files untouched" diff -r "$work/host-system-before" "$work/host-system"
check "linked SYSTEM: refusals journaled" grep -q '"event":"path-refused","path":"C:\\\\WINDOWS\\\\SYSTEM' "$m/journal.jsonl"
check "linked SYSTEM: the rest removed" grep -q '"event":"file-delete","path":"C:\\\\WINDOWS\\\\INF[^"]*","ok":true' "$m/journal.jsonl"
rm "$m/machine.ini" && mkfifo "$m/machine.ini"
set +e; HOSTWIN_MACHINE="$m" timeout 20 "$bin" now 2>"$work/fifo.err"; code=$?; set -e
check "machine.ini FIFO: exit 2 naming it" test "$code" -eq 2
check "machine.ini FIFO: named" grep -q "machine.ini: it is a FIFO" "$work/fifo.err"

echo "$passes passed, $failures failed"
test "$failures" -eq 0
