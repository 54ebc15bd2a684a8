#!/usr/bin/env bash
# Runs unpellam on a scratch copy of the sample Windows 98 machine and shows what it removed
# and what stayed: hostwin preview samples/win98-machine -- unpellam [keywords...]
#   scripts/unpellam-demo.sh [keywords...]      e.g. scripts/unpellam-demo.sh tunelink10
# Without keywords it runs "unpellam all".
# Answers to the message boxes come from HOSTWIN_ANSWERS (default: ok,cancel = confirm the
# removal, then do not restart).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# Only what building the host programs needs: the demo runs no Wine and no test tools.
bash "$root/scripts/install-deps.sh" build
build="$root/build/host"
if [ ! -x "$build/hostwin/tool/hostwin" ] || [ ! -x "$build/uninstaller/unpellam" ]; then
  cmake --preset host -S "$root" >/dev/null
  cmake --build --preset host --target hostwin_tool >/dev/null
fi
[ $# -gt 0 ] || set -- all
echo "== hostwin preview samples/win98-machine -- unpellam $*"
cd "$root"
HOSTWIN_ANSWERS="${HOSTWIN_ANSWERS-ok,cancel}" \
  "$build/hostwin/tool/hostwin" preview --keep samples/win98-machine -- unpellam "$@"
