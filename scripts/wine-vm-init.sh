#!/bin/bash
# First process of the emulated machine (scripts/wine-vm.sh copies it into the root as
# /tidewell-init): mounts the system folders and the shared ones, brings up the loopback
# network, starts Xvfb and the Wine server's watchdog, and hands over to the agent that runs the
# host's jobs.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
ln -sf /proc/self/fd /dev/fd
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
ip link set lo up
hostname tidewell-vm

checkout=$(sed -n 's/.*tidewell\.checkout=\([^ ]*\).*/\1/p' /proc/cmdline)
mkdir -p "$checkout" /run/spool
mount -t virtiofs checkout "$checkout"
mount -t virtiofs spool /run/spool

mkdir -p /tmp/.X11-unix
Xvfb :0 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
for _ in $(seq 100); do
  [ -e /tmp/.X11-unix/X0 ] && break
  sleep 0.1
done

bash "$checkout/scripts/wine-vm-watchdog.sh" /run/spool >/dev/null 2>&1 &
bash "$checkout/scripts/wine-vm-agent.sh" /run/spool
echo o >/proc/sysrq-trigger
sleep 60
