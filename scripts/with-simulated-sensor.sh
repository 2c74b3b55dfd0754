#!/usr/bin/env bash
# Runs a command in a private network namespace of its own beside a
# simulated sensor: a veth pair, the host at 198.18.9.1 and the sensor at
# 198.18.9.50, streaming profiles to the host. Discovery broadcasts stay in
# that namespace, which disappears with the command. Needs root (or a
# kernel that allows unprivileged user namespaces).
# Usage: scripts/with-simulated-sensor.sh SIMULATOR COMMAND [ARGS...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 SIMULATOR COMMAND [ARGS...]" >&2; exit 2; }
if [ -z "${VOREX_IN_PRIVATE_NETWORK:-}" ]; then
  unshare_flags=-n
  [ "$(id -u)" = 0 ] || unshare_flags=-rn
  VOREX_IN_PRIVATE_NETWORK=1 exec unshare "$unshare_flags" "$0" "$@"
fi
sim=$1
shift
ip link set lo up
# The peer is made first, so the host end lists first among the addresses
# and the library binds its data socket there.
ip link add vx-sensor type veth peer name vx-host
ip addr add 198.18.9.1/24 brd + dev vx-host
ip addr add 198.18.9.50/24 brd + dev vx-sensor
ip link set vx-host up
ip link set vx-sensor up
# Links come up asynchronously; the library snapshots addresses at init.
for _ in $(seq 100); do
  [ "$(ip -br link show up | grep -c LOWER_UP)" -ge 3 ] && break
  sleep 0.05
done
log=$(mktemp)
"$sim" --ip 198.18.9.50 --mask 255.255.255.0 --stream-to 198.18.9.1 --commit-delay 200 >"$log" 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "$log"' EXIT
for _ in $(seq 100); do
  grep -q serial "$log" && break
  sleep 0.05
done
"$@"
