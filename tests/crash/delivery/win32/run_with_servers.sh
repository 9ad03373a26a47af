#!/bin/bash
# Starts the servers of RealServers.conf on 127.0.0.1 (one Python process), runs the command with
# TIDEWELL_TEST_SERVERS naming the folder of their records and ports.txt, and stops them.
# Runs where the Windows programs run (scripts/wine-run.sh --through): inside the emulated
# machine or the private root, which have Python with aiosmtpd and dnslib.
#   run_with_servers.sh COMMAND...
set -u
here=$(cd "$(dirname "$0")" && pwd)
servers=$here/../servers/loopback_servers.py
python=/usr/bin/python3
if [ ! -x "$python" ]; then
  echo "error: no $python where the programs run (scripts/wine-root.sh puts it there)" >&2
  exit 125
fi
records=$(mktemp -d /tmp/tidewell-servers.XXXXXX)
"$python" "$servers" many "$records" "$here/RealServers.conf" 2>"$records/servers.err" &
pid=$!
# The servers start within two minutes (Python is slow to start in the emulated machine).
for _ in $(seq 1200); do
  if [ -e "$records/ready" ] || ! kill -0 "$pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ ! -e "$records/ready" ]; then
  echo "error: the test servers did not start:" >&2
  cat "$records/servers.err" >&2
  kill "$pid" 2>/dev/null
  exit 125
fi
echo "test servers: $(tr '\n' ' ' <"$records/ports.txt")"
TIDEWELL_TEST_SERVERS=$records "$@"
rc=$?
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
if [ "$rc" != 0 ] && [ -s "$records/servers.err" ]; then
  echo "--- what the servers wrote on standard error:" >&2
  grep -v "auth_require_tls\|warn(\"Requiring AUTH" "$records/servers.err" >&2
fi
rm -rf "$records"
exit "$rc"
