#!/usr/bin/env bash
# Runs a Windows executable under Wine with the project's prefix (CTest's emulator).
# A PE32+ (64-bit) executable runs in the 64-bit prefix, anything else in the 32-bit one.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ $# -gt 0 ] && tidewell_is_pe64 "$1"; then
  tidewell_use_wine64
fi
exec "$TIDEWELL_WINE" "$@"
