#!/usr/bin/env bash
# scripts/install-deps.sh against stand-ins of apt-get, apt-cache, dpkg and id; nothing is
# installed.   install_deps.sh <source root>
set -euo pipefail
stubs="$(mktemp -d)" && trap 'rm -rf "$stubs"' EXIT
export CALLS="$stubs/calls" release="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
printf '#!/bin/bash\necho "apt-get $*" >>"$CALLS"\n[ "$1" = update ] && { [ "$UPDATE" = ok ] || { echo "E: Failed to fetch i386/Packages"; exit 100; }; }
[ "$1" = install ] && { [ "$INSTALL" = ok ] || { [ "$INSTALL" = once ] && [ "$(grep -c "^apt-get install" "$CALLS")" -ge 2 ]; } || {
  echo " wine32:i386 : Depends: libwine:i386 (= 8.0) but it is not going to be installed"; exit 100; }; }; exit 0\n' >"$stubs/apt-get"
printf '#!/bin/bash\n[ "$2" = "$NO_CANDIDATE" ] && echo "  Candidate: (none)" || echo "  Candidate: 1.0"\n' >"$stubs/apt-cache"
printf '#!/bin/bash\necho "dpkg $*" >>"$CALLS"\n[ "$1" != -s ] || [ "$2" = make ]\n' >"$stubs/dpkg"
printf '#!/bin/sh\necho 0\n' >"$stubs/id"
chmod +x "$stubs"/*
failures=0
# purposes | update | install | package without candidate | runs 32-bit | exit | output holds | calls hold
while IFS='|' read -r purposes update install none runs32 code out calls; do
  : >"$CALLS" && got=0
  output="$(PATH="$stubs:$PATH" UPDATE=$update INSTALL=$install NO_CANDIDATE=$none PELLAM_RUNS_32BIT=$runs32 \
    bash "$1/scripts/install-deps.sh" $purposes 2>&1)" || got=$?
  if [ "$got" != "$code" ] || ! grep -qF -- "$out" <<<"$output" || ! { [ -z "$calls" ] || grep -qF -- "${calls//@release/$release}" "$CALLS"; } ||
     [ "$(grep -c 'install-deps: could not' <<<"$output")" != "$((code == 1))" ] || grep -q 'install.* make' "$CALLS"; then
    echo "FAILED: $purposes $update $install: exit $got"$'\n'"$output" && cat "$CALLS" && failures=$((failures + 1))
  fi
done <<'TABLE'
build|fail|ok|-|no|0|apt-get update failed for some package indexes|apt-get install -y -q cmake g++
build test|ok|once|-|no|0|trying once more|apt-get install -y -q cmake g++
wine|fail|fail|-|yes|1|could not install wine32:i386: wine32:i386 : Depends: libwine:i386|install -y -q -t @release wine wine32:i386
wine|ok|fail|xdotool|yes|1|could not install xdotool: no loaded package index offers it|dpkg --add-architecture i386
build wine|ok|ok|-|no|0|Wine left out|apt-get install -y -q cmake g++ python3
nothing|ok|ok|-|no|2|no package list for 'nothing'|
TABLE
test "$failures" -eq 0
