#!/usr/bin/env bash
# Runs a command in a private network namespace of its own beside a
# simulated sensor: a veth pair, the host at 198.18.9.1 and the sensor at
# 198.18.9.50 (a second one, with -n 2, at .51), streaming profiles to the
# host. Discovery broadcasts stay in
# that namespace, which disappears with the command. Needs root (or a
# kernel that allows unprivileged user namespaces).
# Usage: scripts/with-simulated-sensor.sh SIMULATOR [SIMULATOR-OPTIONS... --] COMMAND [ARGS...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 SIMULATOR [SIMULATOR-OPTIONS... --] COMMAND [ARGS...]" >&2; exit 2; }
if [ -z "${VOREX_IN_PRIVATE_NETWORK:-}" ]; then
  unshare_flags=-n
  [ "$(id -u)" = 0 ] || unshare_flags=-rn
  VOREX_IN_PRIVATE_NETWORK=1 exec unshare "$unshare_flags" "$0" "$@"
fi
sim=$1
shift
sim_options=()
for a in "$@"; do
  [ "$a" = -- ] || continue
  while [ "$1" != -- ]; do sim_options+=("$1"); shift; done
  shift
  break
done
ip link set lo up
# The peer is made first, so the host end lists first among the addresses
# and the library binds its data socket there.
ip link add vx-sensor type veth peer name vx-host
ip addr add 198.18.9.1/24 brd + dev vx-host
ip addr add 198.18.9.50/24 brd + dev vx-sensor
ip addr add 198.18.9.51/24 brd + dev vx-sensor
ip link set vx-host up
ip link set vx-sensor up
# Links come up asynchronously; the library snapshots addresses at init.
for _ in $(seq 100); do
  [ "$(ip -br link show up | grep -c LOWER_UP)" -ge 3 ] && break
  sleep 0.05
done
log=$(mktemp)
"$sim" --ip 198.18.9.50 --mask 255.255.255.0 --stream-to 198.18.9.1 --commit-delay 200 ${sim_options[@]+"${sim_options[@]}"} \
  >"$log" 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "$log"' EXIT
# It prints one line per sensor once all are bound.
sensors=1
for ((i = 0; i + 1 < ${#sim_options[@]}; ++i)); do
  case ${sim_options[i]} in -n | --sensors) sensors=${sim_options[i + 1]} ;; esac
done
for _ in $(seq 100); do
  [ "$(grep -c serial "$log")" -ge "$sensors" ] && break
  sleep 0.05
done
"$@"
