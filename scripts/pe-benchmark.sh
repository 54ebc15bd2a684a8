#!/usr/bin/env bash
# Figures of hostwin-pe (the Windows build's programs in the Unicorn engine) against the host
# build, on the optimised host preset: wall time of "unpellam all now silent" on fresh copies of
# the sample machine (median of the runs), instructions per second of a plain guest loop, and the
# cost of one import call (a loop of GetLastError calls less the loop alone).
#   scripts/pe-benchmark.sh [runs, default 9]
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-9}"
cmake --preset host >/dev/null
cmake --build --preset host --target hostwin_pe_runner unpellam >/dev/null
[ -f build/win32/uninstaller/unpellam.exe ] || { cmake --preset win32 >/dev/null; cmake --build --preset win32 >/dev/null; }
runner="$PWD/build/host/hostwin/pe/hostwin-pe"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

median_seconds() {  # median_seconds <command...>: runs it on fresh copies, prints the median
  local times=()
  for i in $(seq 1 "$runs"); do
    rm -rf "$work/m" && cp -r samples/win98-machine "$work/m"
    local start end
    start=$(date +%s.%N)
    HOSTWIN_MACHINE="$work/m" "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}

host=$(median_seconds build/host/uninstaller/unpellam all now silent)
pe=$(median_seconds "$runner" build/win32/uninstaller/unpellam.exe all now silent)
rm -rf "$work/m" && cp -r samples/win98-machine "$work/m"
stats=$(HOSTWIN_MACHINE="$work/m" "$runner" --stats build/win32/uninstaller/unpellam.exe all now silent 2>&1 >/dev/null | tail -1)
printf 'unpellam all now silent: host build %.3f s, hostwin-pe %.3f s (%.1fx); %s\n' \
  "$host" "$pe" "$(echo "$pe / $host" | bc -l)" "${stats#hostwin-pe: }"

# Guest loops patched over unpellam.exe's entry point: COUNT turns of nothing, or of a call of
# GetLastError through its import slot; then ExitProcess(0).
loop_program() {  # loop_program <out> <count> <with call: 0 or 1>
  python3 - build/win32/uninstaller/unpellam.exe "$@" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
out, count, call = sys.argv[2], int(sys.argv[3]), sys.argv[4] == "1"
pe = struct.unpack_from("<I", data, 0x3C)[0]
opt = pe + 24
entry, base = struct.unpack_from("<I", data, opt + 16)[0], struct.unpack_from("<I", data, opt + 28)[0]
import_rva = struct.unpack_from("<I", data, opt + 104)[0]
sections = [struct.unpack_from("<8sIIII", data, opt + struct.unpack_from("<H", data, pe + 20)[0] + 40 * i)
            for i in range(struct.unpack_from("<H", data, pe + 6)[0])]
def off(rva):
    for _, _, va, size, raw in sections:
        if va <= rva < va + size: return raw + rva - va
slots = {}
d = off(import_rva)
while struct.unpack_from("<I", data, d + 12)[0]:
    lookup, first = struct.unpack_from("<I", data, d)[0], struct.unpack_from("<I", data, d + 16)[0]
    i = 0
    while struct.unpack_from("<I", data, off(lookup) + 4 * i)[0]:
        name_rva = struct.unpack_from("<I", data, off(lookup) + 4 * i)[0]
        name = bytes(data[off(name_rva) + 2:data.index(b"\0", off(name_rva) + 2)]).decode()
        slots[name] = base + first + 4 * i
        i += 1
    d += 20
code = b"\xB9" + struct.pack("<I", count)                        # mov ecx, count
body = (b"\x51\xFF\x15" + struct.pack("<I", slots["GetLastError"]) + b"\x59") if call else b""
body += b"\x49"                                                   # dec ecx
code += body + b"\x75" + bytes([(256 - len(body) - 2) & 0xFF])     # jnz back
code += b"\x6A\x00\xFF\x15" + struct.pack("<I", slots["ExitProcess"])
at = off(entry)
data[at:at + len(code)] = code
open(out, "wb").write(data)
PY
}
seconds_of() {  # seconds_of <program>: one run's wall time
  rm -rf "$work/m" && cp -r samples/win98-machine "$work/m"
  local start end
  start=$(date +%s.%N)
  HOSTWIN_MACHINE="$work/m" "$runner" "$1" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
loop_program "$work/empty.exe" 1 0
loop_program "$work/loop.exe" 20000000 0
loop_program "$work/calls.exe" 200000 1
loop_program "$work/calls0.exe" 200000 0
empty=$(seconds_of "$work/empty.exe")
loop=$(seconds_of "$work/loop.exe")
calls=$(seconds_of "$work/calls.exe")
calls0=$(seconds_of "$work/calls0.exe")
printf 'guest loop: %.0f million instructions per second (40 million instructions, %.2f s)\n' \
  "$(echo "40 / ($loop - $empty)" | bc -l)" "$(echo "$loop - $empty" | bc -l)"
printf 'import call: %.2f microseconds each (GetLastError, 200000 calls)\n' \
  "$(echo "($calls - $calls0) * 1000000 / 200000" | bc -l)"
