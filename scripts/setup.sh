#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Tidewell.
# Idempotent: every step checks before it acts.
set -euo pipefail

need_root() { if [ "$(id -u)" -ne 0 ]; then echo "sudo"; fi; }
SUDO=$(need_root)

packages=(
  build-essential cmake ninja-build pkg-config
  g++-mingw-w64-i686-posix mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libz-mingw-w64-dev libcapstone-dev clang-14 libclang-rt-14-dev
  wine wine32:i386 wine64 fonts-wine
  xvfb xauth x11-utils imagemagick
  python3 python3-aiosmtpd python3-dnslib
  file
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  updated=0
else
  updated=1
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ] || [ "$updated" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi
