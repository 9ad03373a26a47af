#!/usr/bin/env bash
# Makes the private Debian 13 root with Wine 10 in which every Windows program runs
# (build/wine-root, or $TIDEWELL_WINE_ROOT). Idempotent: a finished root carries a marker and
# is left alone; after `rm -rf` it is made again.
#   scripts/wine-root.sh [--vm]
# --vm also puts in what the root needs to boot as an emulated machine: the kernel, Xvfb and
# the X tools that take screenshots inside it.
#
# The mirror and its keyring are the machine's own (its apt sources); Wine (wine64, libwine,
# fonts-wine) is installed from Debian 13, and the i386-windows PE DLLs of libwine:i386 of the
# same version are unpacked from the downloaded package into the root's Wine folder, so that
# Wine's WoW64 mode runs PE32 programs without any 32-bit Linux library. The mail, name and
# upload servers some tests start beside the programs (Python with aiosmtpd and dnslib) are
# installed there too, since they run where the programs run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

root=$TIDEWELL_WINE_ROOT
suite=trixie
want_vm=0
if [ "${1:-}" = "--vm" ]; then want_vm=1; fi
SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

has_part() { [ -f "$root/.tidewell-root" ] && grep -qx "$1" "$root/.tidewell-root"; }

if has_part wine && has_part servers && { [ "$want_vm" = 0 ] || { has_part vm && has_part vm-strace; }; }; then
  exit 0
fi

# The Debian mirror and keyring of this machine's apt sources.
host_mirror() {
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  apt-get indextargets 'Origin: Debian' "Codename: $codename" 'Target-Of: deb' 2>/dev/null |
    sed -n 's/^Repo-URI: //p' | grep -v -- '-security' | head -n1
}
host_keyring() {
  local entry file line
  entry=$(apt-get indextargets 'Origin: Debian' 'Target-Of: deb' 2>/dev/null | sed -n 's/^Sourcesentry: //p' | head -n1)
  file=${entry%:*}
  line=${entry##*:}
  local keyring=
  if [ -f "$file" ]; then
    case "$file" in
    *.sources) keyring=$(awk -v n="$line" 'NR>=n && /^[Ss]igned-[Bb]y:/ {print $2; exit} NR>n && /^$/ {exit}' "$file") ;;
    *) keyring=$(sed -n "${line}p" "$file" | sed -n 's/.*signed-by=\([^] ]*\).*/\1/p') ;;
    esac
  fi
  if [ -z "$keyring" ] || [ ! -f "$keyring" ]; then keyring=/usr/share/keyrings/debian-archive-keyring.gpg; fi
  echo "$keyring"
}

# Runs a command inside the root with /proc, /dev and the network files it needs, in a private
# mount namespace so that nothing stays mounted.
in_root() {
  $SUDO unshare --mount --propagation private -- sh -c '
    root=$1; shift
    mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
      cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null
    exec chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"' sh "$root" "$@"
}

# apt-get update inside the root: retried, since a mirror may be in the middle of a sync.
root_apt_update() {
  local i
  for i in 1 2 3 4 5; do
    if in_root apt-get -q "$@" update >/dev/null; then return 0; fi
    echo "note: the package indexes of the private root could not all be fetched (try $i); retrying" >&2
    sleep $((i * 5))
  done
  echo "error: the private root cannot fetch Debian 13's package indexes" >&2
  return 1
}

mirror=$(host_mirror)
keyring=$(host_keyring)
if [ -z "$mirror" ]; then
  echo "error: no Debian mirror found in this machine's apt sources (apt-get indextargets)" >&2
  exit 1
fi

if [ ! -x "$root/usr/bin/apt-get" ] || [ ! -f "$root/.tidewell-debootstrap" ]; then
  echo "making the private Debian 13 root in $root (mirror $mirror)"
  $SUDO rm -rf "$root"
  mkdir -p "$(dirname "$root")"
  $SUDO debootstrap --variant=minbase --keyring="$keyring" "$suite" "$root" "$mirror" >/dev/null
  $SUDO touch "$root/.tidewell-debootstrap"
fi

if ! has_part wine; then
  root_apt_update
  in_root apt-get install -y -q --no-install-recommends wine64 libwine fonts-wine >/dev/null
  version=$(in_root dpkg-query -W -f='${Version}' libwine)
  # The PE DLLs for 32-bit programs: only the i386-windows folder of libwine:i386 is used.
  root_apt_update -o APT::Architectures::=amd64 -o APT::Architectures::=i386
  in_root sh -c "cd /tmp && rm -f libwine_*_i386.deb && apt-get -q -o APT::Architectures::=amd64 \
    -o APT::Architectures::=i386 download 'libwine:i386=$version'" >/dev/null
  unpacked=$(mktemp -d)
  dpkg-deb --fsys-tarfile "$root"/tmp/libwine_*_i386.deb |
    tar -x -C "$unpacked" --wildcards './usr/lib/i386-linux-gnu/wine/i386-windows/*'
  $SUDO cp -a "$unpacked/usr/lib/i386-linux-gnu/wine/i386-windows/." "$root/usr/lib/x86_64-linux-gnu/wine/i386-windows/"
  rm -rf "$unpacked"
  $SUDO rm -f "$root"/tmp/libwine_*_i386.deb
  echo "$version" | $SUDO tee "$root/.tidewell-wine-version" >/dev/null
  echo wine | $SUDO tee -a "$root/.tidewell-root" >/dev/null
  echo "private root: Wine $version with the i386-windows DLLs of libwine:i386"
fi

if ! has_part servers; then
  root_apt_update
  in_root apt-get install -y -q --no-install-recommends python3 python3-aiosmtpd python3-dnslib >/dev/null
  echo servers | $SUDO tee -a "$root/.tidewell-root" >/dev/null
  echo "private root: Python with aiosmtpd and dnslib for the test servers"
fi

if [ "$want_vm" = 1 ] && ! has_part vm; then
  root_apt_update
  # Xvfb and the X tools inside the machine; the kernel is unpacked, not installed: it boots
  # with the root on virtiofs and needs neither modules nor an initial RAM disk.
  in_root apt-get install -y -q --no-install-recommends xvfb xauth x11-utils x11-apps procps iproute2 >/dev/null
  kernel=$(in_root apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -n1)
  in_root sh -c "cd /tmp && rm -f linux-image-*.deb && apt-get -q download '$kernel'" >/dev/null
  unpacked=$(mktemp -d)
  dpkg-deb --fsys-tarfile "$root"/tmp/linux-image-*.deb | tar -x -C "$unpacked" --wildcards './boot/vmlinuz-*'
  $SUDO cp "$unpacked"/boot/vmlinuz-* "$root/boot/vmlinuz"
  rm -rf "$unpacked"
  $SUDO rm -f "$root"/tmp/linux-image-*.deb
  echo vm | $SUDO tee -a "$root/.tidewell-root" >/dev/null
  echo "private root: kernel $kernel for the emulated machine"
fi

if [ "$want_vm" = 1 ] && ! has_part vm-strace; then
  # strace, for the watchdog's account of a Wine server that spins (scripts/wine-vm-watchdog.sh).
  root_apt_update
  in_root apt-get install -y -q --no-install-recommends strace >/dev/null
  echo vm-strace | $SUDO tee -a "$root/.tidewell-root" >/dev/null
  echo "private root: strace for the emulated machine's watchdog"
fi
