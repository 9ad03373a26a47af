#!/usr/bin/env bash
# The emulated machine for processors that run no 32-bit code (scripts/wine-env.sh, vm mode).
#   scripts/wine-vm.sh run COMMAND [ARGS...]   runs a command of the private root in the machine
#   scripts/wine-vm.sh start | stop | running
#
# The private root boots under qemu's software emulation, which does run 32-bit code, so Wine's
# WoW64 mode works there as on any PC. Root and checkout are shared with the machine through
# virtiofs; the checkout appears at its own path, so programs, working directories and the Wine
# prefix keep their paths. Commands go through a spool folder: the host writes a job (working
# directory, arguments, environment), the machine's agent (scripts/wine-vm-agent.sh) runs it and
# writes its output and exit code back. The machine starts on first use and stays up until
# `stop`, or until it has been idle for half an hour.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

vm=$TIDEWELL_VM_DIR
spool=$vm/spool
root=$TIDEWELL_WINE_ROOT

running() {
  [ -f "$vm/qemu.pid" ] && kill -0 "$(cat "$vm/qemu.pid")" 2>/dev/null && [ -f "$spool/agent-ready" ]
}

start() {
  if running; then return 0; fi
  mkdir -p "$vm"
  exec 8>"$vm/lock"
  flock 8
  if running; then
    flock -u 8
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: the emulated machine needs root (virtiofsd shares the folders with it)" >&2
    return 125
  fi
  local virtiofsd qemu
  virtiofsd=$(command -v virtiofsd || ls /usr/libexec/virtiofsd /usr/lib/qemu/virtiofsd 2>/dev/null | head -n1)
  qemu=$(command -v qemu-system-x86_64)
  if [ -z "$virtiofsd" ] || [ -z "$qemu" ] || [ ! -f "$root/boot/vmlinuz" ]; then
    echo "error: the emulated machine needs qemu-system-x86 and the root's kernel; run scripts/setup.sh" >&2
    return 125
  fi
  stop_processes
  rm -rf "$spool"
  mkdir -p "$spool"
  cp "$TIDEWELL_ROOT/scripts/wine-vm-init.sh" "$root/tidewell-init"
  chmod 755 "$root/tidewell-init"

  local share
  for share in root checkout spool; do rm -f "$vm/$share.sock"; done
  setsid "$virtiofsd" --socket-path="$vm/root.sock" -o source="$root" -o cache=always >"$vm/virtiofsd-root.log" 2>&1 &
  echo $! >"$vm/virtiofsd-root.pid"
  setsid "$virtiofsd" --socket-path="$vm/checkout.sock" -o source="$TIDEWELL_ROOT" -o cache=auto >"$vm/virtiofsd-checkout.log" 2>&1 &
  echo $! >"$vm/virtiofsd-checkout.pid"
  setsid "$virtiofsd" --socket-path="$vm/spool.sock" -o source="$spool" -o cache=none >"$vm/virtiofsd-spool.log" 2>&1 &
  echo $! >"$vm/virtiofsd-spool.pid"
  for _ in $(seq 100); do
    [ -S "$vm/root.sock" ] && [ -S "$vm/checkout.sock" ] && [ -S "$vm/spool.sock" ] && break
    sleep 0.1
  done

  local memory=6G
  # -smap: qemu's emulated iretq from user mode reads the stack as the kernel would, which
  # SMAP refuses; Wine returns to 32-bit code through iretq.
  # One processor: with several, the guest kernel's patching of its own code (int3 while another
  # processor runs it) is not emulated safely and the kernel panics within the hour.
  setsid "$qemu" -accel tcg -cpu max,-smap -smp 1 -m "$memory" \
    -object memory-backend-memfd,id=mem,size="$memory",share=on -numa node,memdev=mem \
    -chardev socket,id=root,path="$vm/root.sock" -device vhost-user-fs-pci,chardev=root,tag=root \
    -chardev socket,id=checkout,path="$vm/checkout.sock" -device vhost-user-fs-pci,chardev=checkout,tag=checkout \
    -chardev socket,id=spool,path="$vm/spool.sock" -device vhost-user-fs-pci,chardev=spool,tag=spool \
    -kernel "$root/boot/vmlinuz" \
    -append "console=ttyS0 quiet rootfstype=virtiofs root=root rw init=/tidewell-init tidewell.checkout=$TIDEWELL_ROOT" \
    -nic none -display none -monitor none -serial file:"$vm/console.log" -no-reboot \
    >"$vm/qemu.log" 2>&1 &
  echo $! >"$vm/qemu.pid"

  local waited=0
  until [ -f "$spool/agent-ready" ]; do
    if ! kill -0 "$(cat "$vm/qemu.pid")" 2>/dev/null || [ $waited -ge 3000 ]; then
      echo "error: the emulated machine did not start; see $vm/console.log and $vm/qemu.log" >&2
      stop_processes
      flock -u 8
      return 125
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  flock -u 8
}

stop_processes() {
  local p
  for p in qemu virtiofsd-root virtiofsd-checkout virtiofsd-spool; do
    if [ -f "$vm/$p.pid" ]; then
      kill "$(cat "$vm/$p.pid")" 2>/dev/null
      rm -f "$vm/$p.pid"
    fi
  done
}

stop() {
  if running; then
    touch "$spool/shutdown"
    for _ in $(seq 100); do
      kill -0 "$(cat "$vm/qemu.pid" 2>/dev/null)" 2>/dev/null || break
      sleep 0.1
    done
  fi
  stop_processes
  rm -f "$spool/agent-ready"
}

# True when a job still runs in the machine although its client is gone: CTest kills a test that
# runs past its limit without warning, so the client could not end the job, and the Wine that
# hung the test would hang the next one too. Finished jobs of such clients are cleared away.
abandoned_jobs() {
  running || return 1
  local job client found=1
  for job in "$spool"/job.*; do
    client=$(cat "$job/client" 2>/dev/null) || continue
    kill -0 "$client" 2>/dev/null && continue
    if [ -f "$job/rc" ]; then rm -rf "$job"; else found=0; fi
  done
  return $found
}

# Runs one command in the machine and returns its exit code; its output is copied out when it
# ends. Variables that describe this host (paths, display, terminal) stay behind.
run() {
  if abandoned_jobs; then
    echo "note: a program left running by a client that was killed (a test's time limit, say);" \
      "the emulated machine is powered off so that this command starts in a fresh Wine" >&2
    stop
  fi
  start || return $?
  local job
  job=$(mktemp -d "$spool/job.XXXXXXXX")
  echo "$$" >"$job/client"
  printf '%s' "$PWD" >"$job/cwd"
  printf '%s\0' "$@" >"$job/argv"
  env -0 | while IFS= read -r -d '' pair; do
    case "${pair%%=*}" in
    PATH | HOME | DISPLAY | XAUTHORITY | SHELL | PWD | OLDPWD | SHLVL | _ | TERM | TMPDIR | USER | LOGNAME | MAIL) ;;
    LD_* | XDG_* | SSH_* | DBUS_* | BASH_FUNC_*) ;;
    *) printf '%s\0' "$pair" ;;
    esac
  done >"$job/env"
  trap 'touch "$job/kill"' INT TERM
  touch "$job/submitted"
  # TIDEWELL_RUN_LIMIT (seconds): past it the machine is powered off, so that a hung Wine (a
  # wineserver spinning in a loop was seen) cannot slow down or hang the commands after this one.
  local deadline=0
  if [ -n "${TIDEWELL_RUN_LIMIT:-}" ]; then deadline=$((SECONDS + TIDEWELL_RUN_LIMIT)); fi
  until [ -f "$job/rc" ]; do
    if ! kill -0 "$(cat "$vm/qemu.pid" 2>/dev/null)" 2>/dev/null; then
      echo "error: the emulated machine stopped while running $1" >&2
      echo 125 >"$job/rc"
      break
    fi
    if [ "$deadline" -gt 0 ] && [ "$SECONDS" -ge "$deadline" ]; then
      echo "error: $1 still ran after ${TIDEWELL_RUN_LIMIT} s; the emulated machine is powered off" >&2
      touch "$job/kill"
      stop
      echo 124 >"$job/rc"
      break
    fi
    sleep 0.05
  done
  trap - INT TERM
  cat "$job/out" 2>/dev/null
  cat "$job/err" >&2 2>/dev/null
  local rc
  rc=$(cat "$job/rc")
  rm -rf "$job"
  return "${rc:-125}"
}

case "${1:-}" in
run) shift; run "$@"; exit $? ;;
start) start; exit $? ;;
stop) stop; exit $? ;;
running) running; exit $? ;;
*) echo "usage: scripts/wine-vm.sh run COMMAND... | start | stop | running" >&2; exit 2 ;;
esac
