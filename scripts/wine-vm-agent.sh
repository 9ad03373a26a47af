#!/bin/bash
# Runs the host's jobs inside the emulated machine (see scripts/wine-vm.sh). A job is a folder
# in the spool: cwd, argv and env (NUL-separated) and "submitted" from the host; "taken", the
# process id, "out", "err" and finally "rc" from here. A "kill" file from the host ends the job.
# "shutdown" in the spool, or half an hour without jobs, ends the agent (and the machine).
spool=$1
idle_limit=1800

run_job() {
  local job=$1 cwd argv envs
  cwd=$(cat "$job/cwd")
  mapfile -d '' argv <"$job/argv"
  mapfile -d '' envs <"$job/env"
  # A session of its own, so that a kill reaches the program's child processes too.
  (
    cd "$cwd" 2>/dev/null || cd /
    exec setsid env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root DISPLAY=:0 "${envs[@]}" "${argv[@]}"
  ) >"$job/out" 2>"$job/err" </dev/null &
  local pid=$!
  echo "$pid" >"$job/pid"
  wait "$pid"
  echo $? >"$job/rc.tmp"
  mv "$job/rc.tmp" "$job/rc"
}

main() {
  touch "$spool/agent-ready"
  last=$SECONDS
  shopt -s nullglob
  # The pause between looks at the spool without starting a process (they are slow here): a
  # read with a time-out from a pipe that nobody writes.
  local pause=(read -r -t 0.1 -u 7 _)
  exec 7<> <(:) || pause=(sleep 0.1)
  while [ ! -e "$spool/shutdown" ]; do
    jobs_seen=0
    for job in "$spool"/job.*; do
      [ -f "$job/submitted" ] || continue
      [ -f "$job/rc" ] || jobs_seen=1
      if [ ! -e "$job/taken" ]; then
        touch "$job/taken"
        run_job "$job" &
      elif [ -e "$job/kill" ] && [ ! -e "$job/killed" ] && [ -f "$job/pid" ]; then
        touch "$job/killed"
        kill -TERM -- "-$(cat "$job/pid")" 2>/dev/null
      fi
    done
    if [ "$jobs_seen" = 1 ]; then
      last=$SECONDS
    elif [ $((SECONDS - last)) -ge $idle_limit ]; then
      break
    fi
    "${pause[@]}"
  done
  rm -f "$spool/agent-ready"
}

main; exit 0
