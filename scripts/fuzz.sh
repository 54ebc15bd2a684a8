#!/usr/bin/env bash
# Builds the libFuzzer targets (clang with AddressSanitizer and UBSan, in build/fuzz) and runs
# each on its corpus in fuzz/corpus for a bounded time, two at a time.
#   scripts/fuzz.sh [seconds per target, default 20] [target ...]
# New inputs go to a scratch folder, so the corpus in the repository stays as it is; a crash,
# sanitizer report, failed check, hang (10 s an input) or memory blow-up fails the run and its
# input is kept in build/fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(registry machine_ini attributes text_removal command_line batch hive pe_loader)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
artifacts="$PWD/build/fuzz/artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"

run() {  # run <target>: fuzzes it; its log goes to the scratch folder
  local name="$1"
  mkdir -p "$scratch/$name"
  local dict=()
  [ -f "fuzz/dict/$name.dict" ] && dict=(-dict="fuzz/dict/$name.dict")
  build/fuzz/fuzz/"${name}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "${dict[@]}" \
    "$scratch/$name" "fuzz/corpus/$name" >"$scratch/$name.log" 2>&1
}

failed=0
pids=()
names=()
finish() {  # finish <index>: waits for a run and reports it
  local status=0
  wait "${pids[$1]}" || status=$?
  local name="${names[$1]}"
  local runs
  runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$name.log" | grep -o '[0-9]*$' || echo 0)"
  if [ "$status" -eq 0 ]; then
    printf '%-14s %10s inputs in %ss: ok\n' "$name" "$runs" "$seconds"
  else
    printf '%-14s FAILED (exit %s); input kept in %s\n' "$name" "$status" "$artifacts"
    tail -n 40 "$scratch/$name.log"
    failed=1
  fi
}
for name in "${targets[@]}"; do
  run "$name" &
  pids+=($!)
  names+=("$name")
  if [ ${#pids[@]} -eq 2 ]; then
    finish 0; finish 1
    pids=(); names=()
  fi
done
[ ${#pids[@]} -eq 0 ] || finish 0
exit "$failed"
