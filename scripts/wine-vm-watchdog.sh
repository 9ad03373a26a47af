#!/bin/bash
# Watches the Wine server inside the emulated machine (started by scripts/wine-vm-init.sh).
# A wineserver that keeps the one processor busy for a minute and a half serves nobody: every
# Windows program, and every time-out in one, waits on it, so the job would hang until the
# host gives up. The watchdog writes what the server was doing into the error output of the
# running jobs, then kills it; the programs end with it and their tests fail at once.
spool=$1
interval=10  # seconds between looks
window=9     # looks: the span judged is window * interval seconds
busy=85      # per cent of that span on the processor that counts as spinning
ticks=$(getconf CLK_TCK 2>/dev/null || echo 100)

declare -A history # pid -> processor ticks of the last looks, oldest first
peak=0             # the highest share seen, per cent (spool/watchdog-peak), to judge the threshold

# Processor ticks (user + system) of pid, or nothing when it has gone.
cpu_ticks() {
  local stat
  read -r stat <"/proc/$1/stat" 2>/dev/null || return 1
  stat=${stat##*) }
  local fields=($stat)
  echo $((fields[11] + fields[12]))
}

# What the spinning server does: state, kernel stack, the system calls it keeps making, its
# open files, and the Wine processes it serves.
describe() {
  local pid=$1
  echo "=== wineserver $pid spun at ${busy}% or more of the processor for $((window * interval)) s ($(date -u +%H:%M:%S)); killed"
  grep -E '^(State|Threads|voluntary|nonvoluntary)' "/proc/$pid/status" 2>/dev/null
  echo "--- kernel stack"
  cat "/proc/$pid/stack" 2>/dev/null
  echo "--- system call in progress, 10 looks"
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    cat "/proc/$pid/syscall" 2>/dev/null
    sleep 0.1
  done
  if command -v strace >/dev/null; then
    echo "--- system calls for 2 s (counted)"
    timeout -s INT 2 strace -c -f -p "$pid" 2>&1 | head -n 30
    echo "--- the first system calls"
    timeout -s INT 1 strace -tt -p "$pid" 2>&1 | head -n 40
  fi
  echo "--- open files"
  ls -l "/proc/$pid/fd" 2>/dev/null | sed 1d | awk '{print $(NF-2), $(NF-1), $NF}'
  echo "--- processes"
  ps -eo pid,ppid,stat,time,args 2>/dev/null | awk 'NR == 1 || ($1 != 2 && $2 != 2)'
  echo "==="
}

# The error output of the jobs that are still running.
running_job_errors() {
  local job
  for job in "$spool"/job.*; do
    if [ -f "$job/taken" ] && [ ! -f "$job/rc" ]; then echo "$job/err"; fi
  done
}

check() {
  local seen=() dir pid comm now samples
  for dir in /proc/[0-9]*; do
    read -r comm <"$dir/comm" 2>/dev/null || continue
    case "$comm" in wineserver*) ;; *) continue ;; esac
    pid=${dir#/proc/}
    now=$(cpu_ticks "$pid") || continue
    seen+=("$pid")
    samples=(${history[$pid]:-} "$now")
    if [ ${#samples[@]} -gt $((window + 1)) ]; then samples=("${samples[@]:1}"); fi
    history[$pid]="${samples[*]}"
    [ ${#samples[@]} -eq $((window + 1)) ] || continue
    local share=$(((now - samples[0]) * 100 / (window * interval * ticks)))
    if [ "$share" -gt "$peak" ]; then
      peak=$share
      echo "$peak" >"$spool/watchdog-peak"
    fi
    if [ "$share" -ge "$busy" ]; then
      local report err
      report=$(describe "$pid")
      kill -KILL "$pid" 2>/dev/null
      rm -f "$spool/wineserver-kept"
      echo "$report" >>"$spool/watchdog.log"
      while IFS= read -r err; do echo "$report" >>"$err"; done < <(running_job_errors)
      unset "history[$pid]"
    fi
  done
  # Forget servers that have ended.
  for pid in "${!history[@]}"; do
    [[ " ${seen[*]} " == *" $pid "* ]] || unset "history[$pid]"
  done
}

shopt -s nullglob
while [ ! -e "$spool/shutdown" ]; do
  check
  sleep "$interval"
done
