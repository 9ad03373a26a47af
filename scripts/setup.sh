#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Tidewell, then makes the
# private Debian 13 root with Wine 10 (scripts/wine-root.sh). Adds no foreign architecture and
# installs no Wine on the machine itself. Idempotent: every step checks before it acts.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libz-mingw-w64-dev libcapstone-dev libzydis-dev clang-14 libclang-rt-14-dev
  libpng-dev pngcheck
  debootstrap bubblewrap
  xvfb xauth x11-utils x11-apps imagemagick
  python3 python3-aiosmtpd python3-dnslib
  file unzip lldb
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# apt-get update, retried; an index that still cannot be fetched (a mirror in the middle of a
# sync, say) is tolerated: what matters is whether the packages install.
updated=0
apt_update() {
  if [ "$updated" = 1 ]; then return 0; fi
  updated=1
  local i
  for i in 1 2 3; do
    if $SUDO apt-get update -q >/dev/null; then return 0; fi
    echo "note: some package indexes could not be fetched (try $i of 3)" >&2
    sleep $((i * 5))
  done
  echo "note: going on with the package indexes that could be fetched" >&2
}

install_packages() {
  local missing=() p
  for p in "$@"; do
    if ! installed "$p"; then missing+=("$p"); fi
  done
  if [ ${#missing[@]} -eq 0 ]; then return 0; fi
  apt_update
  if $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null; then return 0; fi
  # Say which package it is.
  local failed=()
  for p in "${missing[@]}"; do
    if ! $SUDO apt-get install -y -q --no-install-recommends "$p" >/dev/null 2>&1; then failed+=("$p"); fi
  done
  if [ ${#failed[@]} -gt 0 ]; then
    echo "error: cannot install package(s): ${failed[*]}" >&2
    exit 1
  fi
}

install_packages "${packages[@]}"

# Where the processor runs no 32-bit code, Windows programs run in an emulated machine.
if [ -z "${TIDEWELL_WINE:-}" ] && [ "$(tidewell_wine_mode)" = vm ]; then
  install_packages qemu-system-x86
  bash scripts/wine-root.sh --vm
elif [ -z "${TIDEWELL_WINE:-}" ]; then
  bash scripts/wine-root.sh
fi
