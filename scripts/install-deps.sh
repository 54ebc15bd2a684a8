#!/usr/bin/env bash
# Installs the Debian packages of the given purposes, when any is missing.
#   scripts/install-deps.sh [purpose...]        without a purpose: every list
# Each purpose has its list, scripts/packages/<purpose>.list (one package a line, "name:i386"
# for a package of another architecture): build (configure and build the host programs), test
# (tools the suite runs), win32 (the Windows cross build), fuzz (the libFuzzer targets), wine
# (the Wine suite; left out where this host's kernel runs no 32-bit programs, as Wine could not
# start there, see scripts/host-runs-32bit.sh).
# A failed "apt-get update" of some index is reported and the install goes on: the packages may
# well come from indexes that did load. A failed install is retried once after a new update,
# then the script fails with one line naming the package that could not be had and why.
# Packages of another architecture are installed from the system's own release only (-t), so the
# two halves of a shared library come at one version even when an update index is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
purposes=("$@")
[ ${#purposes[@]} -gt 0 ] || purposes=(build test win32 fuzz wine)

wanted=()
for purpose in "${purposes[@]}"; do
  list="$here/packages/$purpose.list"
  if [ ! -f "$list" ]; then
    echo "install-deps: no package list for '$purpose' (expected $list)" >&2
    exit 2
  fi
  if [ "$purpose" = wine ] && ! bash "$here/host-runs-32bit.sh"; then
    if [ "${PELLAM_RUNS_32BIT:-}" = no ]; then
      echo "install-deps: Wine left out (PELLAM_RUNS_32BIT=no)"
    else
      echo "install-deps: Wine left out: this host's kernel runs no 32-bit programs, so Wine could not start"
    fi
    continue
  fi
  while read -r package _; do
    [ -z "$package" ] || [ "${package:0:1}" = "#" ] || wanted+=("$package")
  done <"$list"
done

missing=()
for p in ${wanted[@]+"${wanted[@]}"}; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "install-deps: installing ${missing[*]}"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
log="$(mktemp)"

pin=()
for p in "${missing[@]}"; do
  case "$p" in
    *:*)
      arch="${p##*:}"
      dpkg --print-foreign-architectures | grep -qx "$arch" || $SUDO dpkg --add-architecture "$arch"
      release="$(. /etc/os-release && echo "${VERSION_CODENAME:-}")"
      [ -z "$release" ] || pin=(-t "$release")
      ;;
  esac
done

update_errors=""
update() {
  if ! $SUDO apt-get update -q >"$log" 2>&1; then
    update_errors="$(grep -E '^(E|W): ' "$log" | head -3 | tr '\n' ' ')"
    echo "install-deps: apt-get update failed for some package indexes; installing from the others: ${update_errors:-see apt-get update}"
  fi
}

install() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q ${pin[@]+"${pin[@]}"} "${missing[@]}" \
    </dev/null >"$log" 2>&1
}

update
if install || { echo "install-deps: install failed, trying once more"; update; install; }; then
  rm -f "$log"
  exit 0
fi

# Which package, and why: one that no loaded index offers, else the first package apt-get's
# errors name, else apt-get's own error.
for p in "${missing[@]}"; do
  if ! apt-cache policy "$p" 2>/dev/null | grep -q 'Candidate: [^(]'; then
    echo "install-deps: could not install $p: no loaded package index offers it${update_errors:+ (apt-get update: $update_errors)}" >&2
    exit 1
  fi
done
for p in "${missing[@]}"; do
  reason="$(grep -m1 -F " $p " "$log" || true)"
  if [ -n "$reason" ]; then
    echo "install-deps: could not install $p: $(echo "$reason" | sed 's/^ *//') (apt-get's output: $log)" >&2
    exit 1
  fi
done
echo "install-deps: could not install ${missing[*]}: $(grep -m1 '^E: ' "$log" || tail -1 "$log") (apt-get's output: $log)" >&2
exit 1
