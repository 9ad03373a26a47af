#!/usr/bin/env bash
# Runs a Windows executable under Wine with the project's prefix; CTest's emulator.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"
