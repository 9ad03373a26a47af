# Sourced by the scripts: where the private Wine lives and how Windows programs are run.
#
# Windows programs run under Wine 10 from a private Debian 13 root (build/wine-root), made
# once by scripts/wine-root.sh, with one 64-bit (WoW64) prefix in build/wine-prefix. The way
# into that root depends on the processor:
#   direct  the CPU runs 32-bit code in a 64-bit process: chroot (as root) or bubblewrap
#   vm      it does not (some hypervisors allow 64-bit user code only): the root boots as a
#           software-emulated machine (qemu) that has the checkout mounted at the same path
# TIDEWELL_WINE=<command> uses the machine's own Wine instead (any Wine that runs PE32
# programs: 32-bit Wine, or Wine 9 or later in WoW64 mode); TIDEWELL_WINE_MODE forces a mode.
# TIDEWELL_WINE_X64=1 says that the programs to run are PE32+ (64-bit): they run directly on any
# x86-64 processor, never in the emulated machine, with a prefix of their own
# (build/wine-prefix64), so that they never share a Wine server with the emulated machine's.
# scripts/wine-run.sh sets it itself for a PE32+ program.
TIDEWELL_ROOT=${TIDEWELL_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
TIDEWELL_WINE_ROOT=${TIDEWELL_WINE_ROOT:-$TIDEWELL_ROOT/build/wine-root}
TIDEWELL_VM_DIR=${TIDEWELL_VM_DIR:-$TIDEWELL_ROOT/build/wine-vm}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if [ "${TIDEWELL_WINE_X64:-}" = 1 ]; then
  export WINEPREFIX=${WINEPREFIX:-$TIDEWELL_ROOT/build/wine-prefix64}
else
  export WINEPREFIX=${WINEPREFIX:-$TIDEWELL_ROOT/build/wine-prefix}
fi
unset WINEARCH

# How much slower than a PC the emulated machine runs programs, for the limits of tests.
TIDEWELL_VM_TIME_SCALE=10

# Wine's loader and server inside the private root (Debian's wine64 package).
TIDEWELL_ROOT_WINE=/usr/lib/wine/wine64
TIDEWELL_ROOT_WINESERVER=/usr/lib/wine/wineserver64

# The mode in which Windows programs run: system, direct or vm (see above).
tidewell_wine_mode() {
  if [ -n "${TIDEWELL_WINE_MODE:-}" ]; then
    echo "$TIDEWELL_WINE_MODE"
  elif [ -n "${TIDEWELL_WINE:-}" ]; then
    echo system
  elif [ "${TIDEWELL_WINE_X64:-}" = 1 ] || tidewell_cpu_runs_32bit; then
    echo direct
  else
    echo vm
  fi
}

# True when FILE is a PE32+ image (its optional header's magic is 0x20b).
tidewell_pe64() { # file
  local offset magic
  [ -f "$1" ] || return 1
  offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$offset" ] || return 1
  magic=$(od -An -tx2 -j$((offset + 24)) -N2 "$1" 2>/dev/null | tr -d ' ')
  [ "$magic" = 020b ]
}

# True when a 64-bit process here can run 32-bit code (a far jump into the 32-bit user code
# segment and back), which is all Wine's WoW64 mode needs. Answered once per machine boot.
tidewell_cpu_runs_32bit() {
  local probe=$TIDEWELL_ROOT/build/cpu32-probe/probe answer=$TIDEWELL_ROOT/build/cpu32-probe/answer boot
  boot=$(cat /proc/sys/kernel/random/boot_id 2>/dev/null || echo unknown)
  if [ -f "$answer" ] && [ "$(head -n1 "$answer")" = "$boot" ]; then
    [ "$(sed -n 2p "$answer")" = yes ]
    return
  fi
  mkdir -p "$(dirname "$probe")"
  if [ ! -x "$probe" ] || [ "$TIDEWELL_ROOT/scripts/cpu32-probe.c" -nt "$probe" ]; then
    cc -O1 -o "$probe" "$TIDEWELL_ROOT/scripts/cpu32-probe.c" || return 1
  fi
  local result=no
  if "$probe" >/dev/null 2>&1; then result=yes; fi
  printf '%s\n%s\n' "$boot" "$result" >"$answer"
  [ "$result" = yes ]
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

# Runs an X command (xwininfo, xwd) on the display the Windows programs use.
tidewell_on_display() {
  if [ "$(tidewell_wine_mode)" = vm ]; then
    bash "$TIDEWELL_ROOT/scripts/wine-run.sh" --unix "$@"
  else
    "$@"
  fi
}

# Saves that display as a PNG file, or the part WxH+X+Y of it.
tidewell_capture_screen() { # png [crop]
  local png=$1 crop=${2:-} xwd
  mkdir -p "$TIDEWELL_ROOT/build"
  xwd=$(mktemp "$TIDEWELL_ROOT/build/screen.XXXXXX")
  tidewell_on_display xwd -root -silent -out "$xwd" &&
    convert "xwd:$xwd" ${crop:+-crop "$crop" +repage} "$png"
  local rc=$?
  rm -f "$xwd"
  return $rc
}
