#!/usr/bin/env bash
# hostwin's floors, from the bottom: common/, the engine (hostwin/machine with its public headers
# hostwin/include/hostwin), the Win32 functions (hostwin/api). No file includes one from a floor
# above it, and the tool, the importer and the PE runner reach the engine only through its public
# headers.
set -u
root="$1"
status=0
refuse() {  # refuse FILES... -- PATTERN WHY
  local pattern="$1" why="$2"; shift 2
  local hits
  hits=$(grep -nE "#include \"($pattern)" "$@" 2>/dev/null)
  if [ -n "$hits" ]; then echo "$why:"; echo "$hits"; status=1; fi
}
cd "$root" || exit 1
engine=(hostwin/machine/*.cpp hostwin/include/hostwin/*.h)
refuse 'kernel32/|advapi32/|user32/|shell32/|hostwin\.h"' "the engine includes the API layer" "${engine[@]}"
refuse 'hostwin/|kernel32/|hostwin\.h"|windows\.h"' "common/ includes hostwin" common/*.h
refuse 'kernel32/|advapi32/|user32/|shell32/|\.\./' "the tool, importer or PE runner reaches past the public headers" \
  hostwin/tool/*.cpp hostwin/tool/*.h hostwin/import/*.cpp hostwin/import/*.h hostwin/pe/*.cpp hostwin/pe/*.h
[ "$status" -eq 0 ] && echo "include graph: no arrow to a higher floor"
exit "$status"
