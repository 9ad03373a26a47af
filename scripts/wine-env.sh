# Sourced by the scripts: Wine prefixes live inside the build folder.
TIDEWELL_ROOT=${TIDEWELL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEPREFIX=${WINEPREFIX:-$TIDEWELL_ROOT/build/wine-prefix}
export WINEARCH=${WINEARCH:-win32}
TIDEWELL_WINE=${TIDEWELL_WINE:-wine}

# The 64-bit Wine and its own prefix.
tidewell_use_wine64() {
  export WINEPREFIX=$TIDEWELL_ROOT/build/wine64-prefix
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  export WINESERVER=/usr/lib/wine/wineserver64
  TIDEWELL_WINE=/usr/lib/wine/wine64
}

# True when the file is a PE32+ image (optional-header magic 0x20b).
tidewell_is_pe64() {
  [ -f "$1" ] || return 1
  local peoff magic
  peoff=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  magic=$(od -An -tx2 -j$((peoff + 24)) -N2 "$1" | tr -d ' ')
  [ "$magic" = "020b" ]
}

# True when this kernel runs 32-bit x86 programs natively (32-bit Wine needs that).
# An emulator registered for 32-bit programs (qemu through binfmt_misc) does not count: Wine
# under it takes minutes per process.
tidewell_can_run_32bit() {
  [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && timeout 10 /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
}

# Creates the current prefix once (no Mono, no Gecko).
tidewell_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$TIDEWELL_WINE" wineboot -i >/dev/null 2>&1 || true
    "${WINESERVER:-wineserver}" -w || true
  fi
}

# Starts a private Xvfb when there is no display; sets DISPLAY and TIDEWELL_XVFB_PID.
tidewell_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    return 0
  fi
  local n pid
  for n in $(seq 90 189); do
    if [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; then continue; fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 50); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=":$n"
        TIDEWELL_XVFB_PID=$pid
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break # lost the race for this display: try the next
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
  done
  echo "error: could not start Xvfb" >&2
  return 1
}
