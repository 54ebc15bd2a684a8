#!/usr/bin/env bash
# Fault walk: fails each host write, rename and mmap of a whole `unpellam all now` run (on a
# copy of the sample machine) and of an `upgrade Cleanup` run from the CD (on a copy of the
# sample package) in turn, once with ENOSPC and once with EIO, and checks after every run that
# the program ended on its own (no crash, no sanitizer report), that registry.reg is the old
# registry or the one a run without faults leaves (never a torn or partial one), that the
# folder opens, and that no temporary file was left behind. Sleeps are cut short
# (HOSTWIN_SLEEP_PERCENT=0), so the walk takes minutes, not hours.
#   fault_walk.sh <directory of the built unpellam> <source root>
set -euo pipefail
uninstaller="$1/unpellam"
upgrade="$1/../upgrade/upgrade"
tool="$1/../hostwin/tool/hostwin"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0 points=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# walk <name> <sample> <folder to run in> <program> [arguments...]
walk() {
  local name="$1" sample="$2" folder="$3" program="$4"; shift 4
  local error n m code
  # The registry a run without faults leaves.
  m="$work/$name"
  rm -rf "$m" && cp -r "$sample" "$m"
  cp "$program" "$m/$folder/PROGRAM.EXE"
  (cd "$m/$folder" && HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS= HOSTWIN_SLEEP_PERCENT=0 \
    ./PROGRAM.EXE "$@" </dev/null >/dev/null 2>&1) || true
  cp "$m/registry.reg" "$work/$name.final"
  for error in ENOSPC EIO; do
    n=1
    while :; do
      m="$work/$name"
      rm -rf "$m" && cp -r "$sample" "$m"
      cp "$program" "$m/$folder/PROGRAM.EXE"
      code=0
      (cd "$m/$folder" && HOSTWIN_MACHINE="$m" HOSTWIN_ANSWERS= HOSTWIN_FAULT="$n:$error" HOSTWIN_SLEEP_PERCENT=0 \
        ./PROGRAM.EXE "$@" </dev/null >"$work/out" 2>&1) || code=$?
      grep -q '"event":"fault-injected"' "$m/journal.jsonl" 2>/dev/null || break
      points=$((points + 1))
      local at="$name $error at point $n"
      [ "$code" -lt 128 ] || fail "$at: ended by signal ($code)"
      ! grep -qE 'Sanitizer|runtime error' "$work/out" || fail "$at: sanitizer report"
      "$tool" export "$m" >/dev/null 2>"$work/export.err" || fail "$at: folder unreadable: $(cat "$work/export.err")"
      cmp -s "$m/registry.reg" "$sample/registry.reg" || cmp -s "$m/registry.reg" "$work/$name.final" ||
        fail "$at: registry.reg is neither the old nor the new registry"
      [ -z "$(find "$m" -maxdepth 1 -name '*.tmp.*')" ] || fail "$at: temporary file left"
      n=$((n + 1))
    done
    [ "$n" -gt 1 ] || fail "$name: no fault point reached"
  done
}

walk unpellam "$2/samples/win98-machine" c "$uninstaller" all now
walk upgrade "$2/samples/upgrade-package" d/PELLAM "$upgrade" Cleanup

echo "$points fault points walked, $failures failed"
test "$failures" -eq 0
