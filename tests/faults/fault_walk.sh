#!/usr/bin/env bash
# Fault walk: fails each host write, rename and mmap of a whole `unpellam all now` run (on a
# copy of the sample machine) and of an `upgrade Cleanup` run from the CD (on a copy of the
# sample package) in turn, once with ENOSPC and once with EIO, and checks after every run that
# the program ended on its own (no crash, no sanitizer report), that registry.reg is the old
# registry or the old one with every change the run's journal reports (never a torn or partial
# one), that the
# folder opens, and that no temporary file was left behind. Sleeps are cut short
# (HOSTWIN_SLEEP_PERCENT=0), so the walk takes minutes, not hours.
# With a stride k (third argument, default 1: every point) only points 1, 1+k, 1+2k, ... fail,
# and then every point after the last of those (the final writes and renames of the registry):
# a quick sample of the walk for the fast suite.
#   fault_walk.sh <directory of the built unpellam> <source root> [stride]
set -euo pipefail
uninstaller="$1/unpellam"
upgrade="$1/../upgrade/upgrade"
tool="$1/../hostwin/tool/hostwin"
source="$2"
stride="${3:-1}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0 points=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Whether machine m's registry is sample's with every registry change of m's journal.
same_registry_as_journal() {
  local sample="$1" m="$2"
  rm -rf "$work/expected" && cp -r "$sample" "$work/expected"
  python3 "$source/tests/support/journal_changes.py" "$m/journal.jsonl" >"$work/changes.reg"
  "$tool" import "$work/expected" "$work/changes.reg" || return 1
  "$tool" diff --json "$work/expected" "$m" >"$work/diff.json" || true
  python3 -c 'import json, sys; sys.exit(1 if json.load(open(sys.argv[1]))["registry"] else 0)' \
    "$work/diff.json"
}

# walk <name> <sample> <folder to run in> <program> [arguments...]
walk() {
  local name="$1" sample="$2" folder="$3" program="$4"; shift 4
  local error n m code step last
  for error in ENOSPC EIO; do
    n=1 step="$stride" last=0
    while :; do
      m="$work/$name"
      rm -rf "$m" && cp -r "$sample" "$m"
      cp "$program" "$m/$folder/PROGRAM.EXE"
      code=0
      (cd "$m/$folder" && HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS= HOSTWIN_FAULT="$n:$error" HOSTWIN_SLEEP_PERCENT=0 \
        ./PROGRAM.EXE "$@" </dev/null >"$work/out" 2>&1) || code=$?
      if ! grep -q '"event":"fault-injected"' "$m/journal.jsonl" 2>/dev/null; then
        # Past the end: with a stride, go back for the points after the last one failed.
        [ "$step" -gt 1 ] && [ "$n" -gt $((last + 1)) ] || break
        step=1 n=$((last + 1))
        continue
      fi
      points=$((points + 1))
      local at="$name $error at point $n"
      [ "$code" -lt 128 ] || fail "$at: ended by signal ($code)"
      ! grep -qE 'Sanitizer|runtime error' "$work/out" || fail "$at: sanitizer report"
      "$tool" export "$m" >/dev/null 2>"$work/export.err" || fail "$at: folder unreadable: $(cat "$work/export.err")"
      cmp -s "$m/registry.reg" "$sample/registry.reg" || same_registry_as_journal "$sample" "$m" ||
        fail "$at: registry.reg is neither the old registry nor the old one with the run's changes"
      [ -z "$(find "$m" -maxdepth 1 -name '*.tmp.*')" ] || fail "$at: temporary file left"
      last=$n n=$((n + step))
    done
    [ "$last" -ge 1 ] || fail "$name: no fault point reached"
  done
}

walk unpellam "$2/samples/win98-machine" c "$uninstaller" all now
walk upgrade "$2/samples/upgrade-package" d/PELLAM "$upgrade" Cleanup

echo "$points fault points walked, $failures failed"
test "$failures" -eq 0
