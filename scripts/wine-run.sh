#!/usr/bin/env bash
# Runs a Windows program under the project's Wine; CTest's emulator for the Windows tree.
#   scripts/wine-run.sh PROGRAM [ARGS...]       a Windows program (PE32 or PE32+)
#   scripts/wine-run.sh --through SCRIPT PROGRAM [ARGS...]
#                                               the same, started by the bash SCRIPT (given the
#                                               Wine command line) where the programs run; for
#                                               servers a test needs beside its program
#   scripts/wine-run.sh --unix COMMAND [ARGS...] a Linux command where the programs run
#                                               (for example xwd, to take a screenshot)
#   scripts/wine-run.sh --stop                  ends every program of the project's prefix
#   scripts/wine-run.sh --shutdown              --stop, and powers the emulated machine off
#   scripts/wine-run.sh --describe              says which Wine runs the programs, and how
# The program may lie anywhere in the checkout; the working directory, DISPLAY (in the vm mode
# the machine's own Xvfb) and the exit code are kept. How the programs run: scripts/wine-env.sh.
set -uo pipefail
# A PE32+ program runs the 64-bit way (see TIDEWELL_WINE_X64 in scripts/wine-env.sh).
program=${1:-}
if [ "$program" = --through ]; then program=${3:-}; fi
case "$program" in --* | "") ;; *)
  if [ -z "${TIDEWELL_WINE_X64:-}" ] && (source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" && tidewell_pe64 "$program"); then
    export TIDEWELL_WINE_X64=1
  fi
  ;;
esac
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

mode=$(tidewell_wine_mode)
checkout=$TIDEWELL_ROOT
if [ "$mode" = vm ]; then export TIDEWELL_TEST_TIME_SCALE=${TIDEWELL_TEST_TIME_SCALE:-$TIDEWELL_VM_TIME_SCALE}; fi

# --- the ways in -------------------------------------------------------------------------

# Folders bound into the root besides the checkout: the working directory and the prefix when
# they lie elsewhere (under /tmp, /var/tmp or a home folder).
extra_folders() {
  local dir
  for dir in "$PWD" "$WINEPREFIX"; do
    case "$dir/" in
    "$checkout"/*) ;;
    /tmp/?* | /var/tmp/?* | /home/?* | /root/?*) echo "$dir" ;;
    esac
  done
}

# Runs COMMAND... inside the private root, directly on this processor.
run_direct() {
  local folders=() dir
  mkdir -p "$WINEPREFIX"
  while IFS= read -r dir; do folders+=("$dir"); done < <(extra_folders)
  if [ "$(id -u)" -eq 0 ]; then
    # A private mount namespace: the bind mounts vanish with the last process that uses them.
    unshare --mount --propagation private -- bash -c '
      root=$1 checkout=$2 cwd=$3 count=$4; shift 4
      mount -t proc proc "$root/proc" || exit 125
      mount --rbind /dev "$root/dev" || exit 125
      mount --rbind /sys "$root/sys" 2>/dev/null
      for dir in "$checkout" "${@:1:$count}"; do
        mkdir -p "$root$dir" && mount --bind "$dir" "$root$dir" || exit 125
      done
      shift "$count"
      mkdir -p "$root/tmp/.X11-unix"
      if [ -d /tmp/.X11-unix ]; then mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"; fi
      exec chroot "$root" /bin/sh -c "cd \"\$0\" 2>/dev/null || cd /; exec \"\$@\"" "$cwd" "$@"' \
      bash "$TIDEWELL_WINE_ROOT" "$checkout" "$PWD" "${#folders[@]}" "${folders[@]}" "$@"
  elif command -v bwrap >/dev/null && bwrap --bind / / true 2>/dev/null; then
    # The machine's /tmp (the wineserver's socket folder, shared by every program, and the X
    # sockets) and /home are bound whole: their folders cannot be made inside the root.
    local binds=(--bind /tmp /tmp)
    for dir in "${folders[@]}"; do
      case "$dir" in /home/*) binds+=(--bind /home /home) ;; /var/tmp/*) binds+=(--bind /var/tmp /var/tmp) ;; esac
    done
    bwrap --bind "$TIDEWELL_WINE_ROOT" / --dev-bind /dev /dev --proc /proc --ro-bind /sys /sys \
      --bind "$checkout" "$checkout" "${binds[@]}" --chdir "$PWD" -- "$@"
  else
    echo "error: running Windows programs needs root (chroot) or bubblewrap with user namespaces;" \
      "install bubblewrap and allow unprivileged user namespaces, or run as root" >&2
    return 125
  fi
}

# Runs COMMAND... in the emulated machine (see scripts/wine-vm.sh). The runner becomes the job's
# client, so that a signal to the runner (CTest's time limit, say) reaches the job.
run_vm() {
  exec bash "$TIDEWELL_ROOT/scripts/wine-vm.sh" run "$@"
}

# Runs COMMAND... (a Linux command of the root) the way this machine runs Windows programs.
run_unix() {
  case "$mode" in
  direct) run_direct "$@" ;;
  vm) (run_vm "$@") ;;
  system) "$@" ;;
  *) echo "error: unknown TIDEWELL_WINE_MODE '$mode' (system, direct or vm)" >&2; return 125 ;;
  esac
}

wine_command() {
  if [ "$mode" = system ]; then echo "${TIDEWELL_WINE:-wine}"; else echo "$TIDEWELL_ROOT_WINE"; fi
}
wineserver_command() {
  if [ "$mode" = system ]; then echo "${TIDEWELL_WINESERVER:-wineserver}"; else echo "$TIDEWELL_ROOT_WINESERVER"; fi
}

# --- the prefix --------------------------------------------------------------------------

# Makes the one 64-bit prefix once: no Mono or Gecko, and no automatic debugger, so that a
# crashing program ends (with its exception code) instead of waiting in winedbg.
ensure_prefix() {
  if [ -f "$WINEPREFIX/.tidewell-prefix" ]; then return 0; fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.tidewell-prefix" ]; then
    echo "making the Wine prefix $WINEPREFIX ($mode)" >&2
    local reg=$TIDEWELL_ROOT/build/wine-prefix-settings.reg
    {
      printf 'REGEDIT4\r\n\r\n'
      for key in 'Microsoft' 'Wow6432Node\Microsoft'; do
        printf '[HKEY_LOCAL_MACHINE\\Software\\%s\\Windows NT\\CurrentVersion\\AeDebug]\r\n' "$key"
        printf '"Debugger"=""\r\n"Auto"="1"\r\n\r\n'
      done
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
    } >"$reg"
    run_unix "$(wine_command)" wineboot -i >/dev/null 2>&1
    run_unix "$(wine_command)" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
    run_unix "$(wineserver_command)" -w
    if [ -f "$WINEPREFIX/system.reg" ] && grep -q '"Debugger"=""' "$WINEPREFIX/system.reg"; then
      touch "$WINEPREFIX/.tidewell-prefix"
    else
      echo "error: the Wine prefix $WINEPREFIX could not be made" >&2
      flock -u 9
      return 1
    fi
  fi
  flock -u 9
}

# --- commands ----------------------------------------------------------------------------

# The whole command is read before it runs, so that an edit of this file cannot change a run
# that waits for its program.
main() {
  case "${1:-}" in
  "")
    echo "usage: scripts/wine-run.sh PROGRAM [ARGS...] | --unix COMMAND... | --stop | --shutdown | --describe" >&2
    exit 2
    ;;
  --describe)
    case "$mode" in
    system) echo "the machine's own Wine: $(wine_command) ($("$(wine_command)" --version 2>/dev/null))" ;;
    direct) echo "Wine $(cat "$TIDEWELL_WINE_ROOT/.tidewell-wine-version" 2>/dev/null) (WoW64) from the private Debian 13 root $TIDEWELL_WINE_ROOT, run directly${TIDEWELL_WINE_X64:+ (64-bit programs, prefix $WINEPREFIX)}" ;;
    vm) echo "Wine $(cat "$TIDEWELL_WINE_ROOT/.tidewell-wine-version" 2>/dev/null) (WoW64) from the private Debian 13 root $TIDEWELL_WINE_ROOT, booted as an emulated machine (this processor runs no 32-bit code)" ;;
    esac
    exit 0
    ;;
  --stop)
    if [ "$mode" != vm ] || bash "$TIDEWELL_ROOT/scripts/wine-vm.sh" running; then
      run_unix "$(wineserver_command)" -k 2>/dev/null
      rm -f "$TIDEWELL_VM_DIR/spool/wineserver-kept"
    fi
    exit 0
    ;;
  --shutdown)
    if [ "$mode" = vm ]; then
      bash "$TIDEWELL_ROOT/scripts/wine-vm.sh" stop
    else
      run_unix "$(wineserver_command)" -k 2>/dev/null
    fi
    exit 0
    ;;
  --unix)
    shift
    if [ "$mode" = vm ]; then run_vm "$@"; fi
    run_unix "$@"
    exit $?
    ;;
  esac

  local through=()
  if [ "$1" = --through ]; then
    through=(bash "$2")
    shift 2
  fi
  if [ "$mode" != system ] && [ ! -f "$TIDEWELL_WINE_ROOT/.tidewell-root" ]; then
    echo "error: the private Wine root $TIDEWELL_WINE_ROOT is missing; run scripts/setup.sh" >&2
    exit 125
  fi
  ensure_prefix || exit 125
  if [ "$mode" = vm ] && [ ! -f "$TIDEWELL_VM_DIR/spool/wineserver-kept" ]; then
    # Every process start in the emulated machine is slow; Wine's start-up services cost most
    # when the server has ended in between, so it stays up while the machine runs.
    run_unix "$(wineserver_command)" -p && touch "$TIDEWELL_VM_DIR/spool/wineserver-kept"
  fi
  if [ "$mode" = vm ]; then run_vm "${through[@]}" "$(wine_command)" "$@"; fi
  run_unix "${through[@]}" "$(wine_command)" "$@"
}

main "$@"; exit $?
