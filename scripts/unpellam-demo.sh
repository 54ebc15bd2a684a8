#!/usr/bin/env bash
# Runs unpellam on a scratch copy of the sample Windows 98 machine and shows what it removed
# and what stayed.
#   scripts/unpellam-demo.sh [keywords...]      e.g. scripts/unpellam-demo.sh tunelink10
# Answers to the message boxes come from HOSTWIN_ANSWERS (default: ok,cancel = confirm the
# removal, then do not restart).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/install-deps.sh"
build="$root/build/host"
if [ ! -x "$build/uninstaller/unpellam" ]; then
  cmake --preset host -S "$root" >/dev/null
  cmake --build --preset host --target unpellam >/dev/null
fi
scratch="$(mktemp -d /tmp/unpellam-demo.XXXXXX)"
cp -r "$root/samples/win98-machine/." "$scratch/machine"
cp -r "$scratch/machine" "$scratch/before"

echo "== unpellam $* on a copy of samples/win98-machine ($scratch/machine)"
set +e
HOSTWIN_MACHINE="$scratch/machine" HOSTWIN_ANSWERS="${HOSTWIN_ANSWERS-ok,cancel}" \
  "$build/uninstaller/unpellam" "$@"
code=$?
set -e
echo "== exit code $code"
python3 "$root/scripts/machine-diff.py" "$scratch/before" "$scratch/machine"
echo "== the scratch machine stays in $scratch (journal: $scratch/machine/journal.jsonl)"
