#!/usr/bin/env bash
# scripts/install-deps.sh against stand-ins of apt-get, apt-cache and dpkg (nothing is
# installed): a failed update of some index is not fatal, a failed install is retried once and
# then named in one line, packages of another architecture are pinned to the system's release,
# and Wine is left out where the kernel runs no 32-bit programs.
#   install_deps.sh <source root>
set -euo pipefail
source="$(cd "$1" && pwd)"
stubs="$(mktemp -d)"
trap 'rm -rf "$stubs"' EXIT
export CALLS="$stubs/calls"
cat >"$stubs/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$CALLS"
case "$1" in
  update) [ "$UPDATE" = ok ] || { echo "E: Failed to fetch .../bookworm-security/main/binary-i386/Packages"; exit 100; } ;;
  install)
    n=$(grep -c '^apt-get install' "$CALLS")
    [ "$INSTALL" = ok ] || { [ "$INSTALL" = once ] && [ "$n" -ge 2 ]; } && exit 0
    echo "The following packages have unmet dependencies:"
    echo " wine32:i386 : Depends: libwine:i386 (= 8.0) but it is not going to be installed"
    echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
esac
STUB
cat >"$stubs/apt-cache" <<'STUB'
#!/bin/bash
[ "$2" = "$NO_CANDIDATE" ] && echo "  Candidate: (none)" || echo "  Candidate: 1.0"
STUB
cat >"$stubs/dpkg" <<'STUB'
#!/bin/bash
echo "dpkg $*" >>"$CALLS"
[ "$1" = -s ] && [ "$2" = make ] && exit 0
[ "$1" = -s ] && exit 1
exit 0
STUB
printf '#!/bin/sh\necho 0\n' >"$stubs/id"
chmod +x "$stubs"/*
release="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
failures=0
# purposes | update | install | no candidate | runs 32-bit | exit | output must hold | calls must hold
while IFS='|' read -r purposes update install none runs32 code out calls; do
  : >"$CALLS"
  calls="${calls//@release/$release}"
  got=0
  output="$(PATH="$stubs:$PATH" UPDATE=$update INSTALL=$install NO_CANDIDATE=$none PELLAM_RUNS_32BIT=$runs32 \
    bash "$source/scripts/install-deps.sh" $purposes 2>&1)" || got=$?
  if [ "$got" != "$code" ] || ! grep -qF -- "$out" <<<"$output" || ! { [ -z "$calls" ] || grep -qF -- "$calls" "$CALLS"; } ||
     { [ "$code" = 1 ] && [ "$(grep -c 'install-deps: could not' <<<"$output")" != 1 ]; } ||
     grep -q 'install make' "$CALLS"; then
    echo "FAILED: $purposes update=$update install=$install: exit $got"; echo "$output"; cat "$CALLS"
    failures=$((failures + 1))
  fi
done <<'TABLE'
build|fail|ok|-|no|0|apt-get update failed for some package indexes|apt-get install -y -q cmake g++
build test|ok|once|-|no|0|trying once more|apt-get install -y -q cmake g++
wine|fail|fail|-|yes|1|could not install wine32:i386: wine32:i386 : Depends: libwine:i386|apt-get install -y -q -t @release wine wine32:i386
wine|ok|fail|xdotool|yes|1|could not install xdotool: no loaded package index offers it|dpkg --add-architecture i386
build wine|ok|ok|-|no|0|Wine left out|apt-get install -y -q cmake g++ python3
nothing|ok|ok|-|no|2|no package list for 'nothing'|
TABLE
test "$failures" -eq 0
