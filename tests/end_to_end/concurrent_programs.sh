#!/usr/bin/env bash
# Several programs at once on one machine folder: 2, 4 and 8 of them start together on a copy
# of the sample machine (unpellam with overlapping keyword sets, and a program that creates,
# sets and deletes registry entries of its own and one that unpellam deletes too), and the
# upgrade program's cleanup with its self-removal batch beside unpellam and that program on a
# copy of the sample package. Afterwards:
# - the registry equals the sample's with every change that the programs' journal lines report
#   as done (the deletions, then the values set), i.e. a serial order of their changes;
# - the files equal those of the same programs run one after another.
# The soak (the default) repeats the 2- and 4-program rounds 10 times, the 8-program round 100
# times (PELLAM_CONCURRENT_REPEATS sets another count) and the upgrade round 5 times; "quick"
# runs each round once, enough to catch a lost update on most runs.
#   concurrent_programs.sh <directory of the built unpellam> <source root> [quick]
set -euo pipefail
bin="$(cd "$1/.." && pwd)" source="$(cd "$2" && pwd)"
uninstaller="$bin/uninstaller/unpellam"
writer="$bin/tests/registry_writer"
tool="$bin/hostwin/tool/hostwin"
upgrade="$bin/upgrade/upgrade"
sample="$source/samples/win98-machine"
upgrade_sample="$source/samples/upgrade-package"
package=c/WINDOWS/TEMP/PELLAM
work="$(mktemp -d)"
trap '[ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT
runs=0

# The command line of program i of a round ("upgrade" rounds: the upgrade program first).
program() {
  local kind=$(($1 % 4)) pause=20
  if [ "$round_kind" = upgrade ]; then
    # Beside the upgrade only programs that change no file it places (unpellam removes some,
    # so the files' end state would depend on the order), pausing until its batch runs.
    [ "$1" -eq 0 ] && { echo ./UPGRADE.EXE Cleanup; return; }
    kind=3 pause=$((2000 + 300 * $1))
  fi
  case $kind in
    0) echo "$uninstaller" now silent all ;;
    1) echo "$uninstaller" now silent tunelink10 br10setp ;;
    2) echo "$uninstaller" now silent ;;
    *) echo "$writer" set "Software\\Test\\P$1" first$1 pause $pause \
         delete-key "Enum\\PCI\\VEN_7A3C&DEV_0003&SUBSYS_00047A3C&REV_01" box \
         set "Software\\Test\\P$1" second$1 set "Software\\Test\\P$1\\Sub" third$1 \
         delete-value "Software\\Test\\P$1" first$1 ;;
  esac
}

# Runs programs 0..n-1 on machine folder m: all at once (mode "together") or one by one.
run_programs() {
  local m="$1" n="$2" mode="$3" i
  local pids=()
  for ((i = 0; i < n; i++)); do
    # shellcheck disable=SC2046
    local dir="$m"
    [ "$round_kind" = upgrade ] && [ "$i" -eq 0 ] && dir="$m/$package"
    if [ "$mode" = together ]; then
      (cd "$dir" && HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS=ok $(program "$i") </dev/null >>"$m.out" 2>&1) &
      pids+=($!)
    else
      (cd "$dir" && HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS=ok $(program "$i") </dev/null >>"$m.out" 2>&1) || true
    fi
  done
  local pid code=0
  for pid in "${pids[@]}"; do wait "$pid" || code=$?; done
  # A program's own failures are no fault here (a step may find its key already gone), but
  # a crash, a sanitizer report or a machine error is.
  if [ "$code" -ge 128 ] || grep -qE 'Sanitizer|runtime error|hostwin:' "$m.out"; then
    echo "FAILED: a program of the round failed:"; cat "$m.out"; exit 1
  fi
  # The upgrade's batch goes on after the program: wait for its end.
  if [ "$round_kind" = upgrade ]; then
    for _ in $(seq 1 300); do
      grep -q '"event":"batch-end"' "$m/journal.jsonl" && return
      sleep 0.1
    done
    echo "FAILED: the upgrade's batch did not end"; exit 1
  fi
}

# A fresh copy of the sample of the round kind in folder m.
fresh() {
  local m="$1"
  rm -rf "$m" "$m.out"
  if [ "$round_kind" = upgrade ]; then
    cp -r "$upgrade_sample" "$m"
    mkdir -p "$m/$package" && cp -r "$m/d/PELLAM/." "$m/$package/" && cp -r "$m/d/ZX7Demos" "$m/$package/.."
    cp "$upgrade" "$m/$package/UPGRADE.EXE"
  else
    cp -r "$sample" "$m"
  fi
}

changes_of() { python3 "$source/tests/support/journal_changes.py" "$1"; }

# Fails unless the part ("registry" or "files") of the difference of two folders is empty.
require_same() {
  local part="$1" expected="$2" actual="$3" what="$4"
  "$tool" diff --json "$expected" "$actual" >"$work/diff.json" || true
  python3 - "$work/diff.json" "$part" <<'PY' || { echo "FAILED: $what"; "$tool" diff "$2" "$3" | head -40; exit 1; }
import json, sys
d = json.load(open(sys.argv[1]))
sys.exit(1 if d[sys.argv[2]] else 0)
PY
}

# round <kind> <programs> <repetitions>
round() {
  round_kind="$1"
  local n="$2" repeats="$3" r
  local serial="$work/serial" m="$work/m" expected="$work/expected"
  fresh "$serial"
  run_programs "$serial" "$n" one-by-one
  for ((r = 1; r <= repeats; r++)); do
    fresh "$m" && fresh "$expected"
    run_programs "$m" "$n" together
    changes_of "$m/journal.jsonl" >"$work/changes.reg"
    "$tool" import "$expected" "$work/changes.reg"
    require_same registry "$expected" "$m" "$n programs ($round_kind), round $r: the registry lost a change"
    require_same files "$serial" "$m" "$n programs ($round_kind), round $r: the files differ from a serial run"
    [ -z "$(find "$m" -maxdepth 1 -name '*.tmp.*')" ] || { echo "FAILED: temporary file left"; exit 1; }
    runs=$((runs + 1))
  done
}

if [ "${3:-}" = quick ]; then
  round unpellam 2 1
  round unpellam 4 1
  round unpellam 8 1
  round upgrade 4 1
else
  round unpellam 2 10
  round unpellam 4 10
  round unpellam 8 "${PELLAM_CONCURRENT_REPEATS:-100}"
  round upgrade 4 5
fi
echo "$runs rounds of concurrent programs checked"
