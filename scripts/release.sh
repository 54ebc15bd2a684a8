#!/usr/bin/env bash
# Builds the Windows programs (win32 preset) and writes the release media to dist/:
#   pellam-tools-VERSION.zip   UNPELLAM.EXE, UPGRADE.EXE and README.TXT
#   pellam-tools-VERSION.img   a 1.44 MB FAT12 floppy image with the same files
#   SHA256SUMS                 the checksums of both
# VERSION is the programs' own (pellam_version.h, which their version resources include).
# The same commit gives the same bytes: every time stamp is the commit's time
# (SOURCE_DATE_EPOCH when set), files are stored in one fixed order with fixed permissions, and
# the floppy's serial number is that time too, as DOS derives it from the time of formatting.
#   scripts/release.sh [--out DIR] [--no-build]
# --no-build takes the programs as they are in build/win32 (the tests use it after building).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/dist"
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --out) [ $# -ge 2 ] || { echo "release.sh: --out needs a folder" >&2; exit 2; }; out="$2"; shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "usage: scripts/release.sh [--out DIR] [--no-build]" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"
out="$(cd "$out" && pwd)"
cd "$root"

export PATH="$PATH:/usr/sbin:/sbin"   # mkfs.fat, for users without them in their path
for tool in zip mkfs.fat mcopy python3 sha256sum; do
  command -v "$tool" >/dev/null || {
    echo "release.sh: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
done

number() {  # number <NAME>: the value of #define PELLAM_VERSION_<NAME> in pellam_version.h
  local n
  n="$(sed -n "s/^#define PELLAM_VERSION_$1 \([0-9]\{1,5\}\)\$/\1/p" pellam_version.h)"
  [ -n "$n" ] || { echo "release.sh: no PELLAM_VERSION_$1 in pellam_version.h" >&2; exit 2; }
  echo "$n"
}
version="$(number MAJOR).$(number MINOR)"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git log -1 --format=%ct 2>/dev/null)" || {
    echo "release.sh: not a git checkout; set SOURCE_DATE_EPOCH" >&2; exit 2; }
  if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
    echo "release.sh: warning: uncommitted changes; the files carry the last commit's time" >&2
  fi
fi
export SOURCE_DATE_EPOCH
# Zip and FAT keep local time: UTC makes it the same everywhere. mtools must not refuse an
# image whose geometry it did not make itself.
export TZ=UTC LC_ALL=C MTOOLS_SKIP_CHECK=1
unset ZIPOPT ZIP   # zip's options from the environment would change the archive

if [ "$build" = 1 ]; then
  cmake --preset win32 >/dev/null
  cmake --build --preset win32
fi
for exe in build/win32/uninstaller/unpellam.exe build/win32/upgrade/upgrade.exe; do
  [ -f "$exe" ] || { echo "release.sh: $exe is missing; build the win32 preset" >&2; exit 2; }
done

# The files are named by the version the programs carry: a build of another commit must not
# be handed out under this one's name.
for exe in build/win32/uninstaller/unpellam.exe build/win32/upgrade/upgrade.exe; do
  python3 - "$exe" "$version" <<'PY' || { echo "release.sh: $exe is not version $version; rebuild it" >&2; exit 2; }
import sys
data, key = open(sys.argv[1], "rb").read(), "ProductVersion\0".encode("utf-16-le")
value = data.split(key, 1)[1].lstrip(b"\0") if key in data else b""
sys.exit(not value.startswith((sys.argv[2] + "\0").encode("utf-16-le")))
PY
done

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
files=(UNPELLAM.EXE UPGRADE.EXE README.TXT)   # the order of both the zip and the floppy
cp build/win32/uninstaller/unpellam.exe "$stage/UNPELLAM.EXE"
cp build/win32/upgrade/upgrade.exe "$stage/UPGRADE.EXE"
python3 scripts/readme-text.py README.md "$version" "$stage/README.TXT"
chmod 644 "${files[@]/#/$stage/}"
touch -d "@$SOURCE_DATE_EPOCH" "${files[@]/#/$stage/}"

name="pellam-tools-$version"
rm -f "$out/$name.zip" "$out/$name.img" "$out/SHA256SUMS"

# The zip: no extra fields (owner, extra time stamps), no folder entries.
(cd "$stage" && zip -q -X -D "$out/$name.zip" "${files[@]}")

# The floppy: 1440 KiB, FAT12, labelled. --invariant holds mkfs.fat's time-based values
# constant (the label's own date among them); the serial number given after it replaces its
# constant one.
serial="$(printf '%08X' "$((SOURCE_DATE_EPOCH & 0xFFFFFFFF))")"
mkfs.fat -C -F 12 -n PELLAMTOOLS --invariant -i "$serial" "$out/$name.img" 1440 >/dev/null
mcopy -i "$out/$name.img" -m "${files[@]/#/$stage/}" ::/

(cd "$out" && sha256sum "$name.zip" "$name.img" > SHA256SUMS)
echo "release $version in $out:"
(cd "$out" && ls -l "$name.zip" "$name.img" && cat SHA256SUMS)
