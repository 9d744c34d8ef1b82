#!/usr/bin/env bash
# Installs the Debian packages of a purpose, each listed in scripts/packages/PURPOSE.txt:
#   build  to build the program and its package
#   run    what the program loads when it runs
#   test   the test suite's servers and tools
# With no purpose: build and run. Safe to run again: apt-get skips what is already there. Needs root
# (or sudo).
set -euo pipefail
lists="$(dirname "$0")/packages"
[ $# -gt 0 ] || set -- build run

packages=()
for purpose in "$@"; do
  if [ ! -f "$lists/$purpose.txt" ]; then
    echo "setup.sh: no package list for '$purpose' (build, run or test)" >&2
    exit 2
  fi
  while read -r p _; do
    [ -n "$p" ] && [ "${p#\#}" = "$p" ] && packages+=("$p")
  done <"$lists/$purpose.txt"
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Some test servers' packages start system-wide servers; the tests start their own on high ports.
for service in vsftpd apache2 nginx ssh; do
  if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$service" 2>/dev/null; then
    $SUDO systemctl stop "$service" || true
  fi
done
