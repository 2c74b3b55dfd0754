#!/usr/bin/env bash
# The guided demo: a simulated sensor in one private network namespace, the
# host in another, joined by a veth link, and the demo program searching,
# connecting and talking to it. Needs root. Leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake --preset vorex >/dev/null
cmake --build --preset vorex -j"$(nproc)" --target vorex-sim vorex-demo >/dev/null

host=vorex-demo-host-$$
sensor=vorex-demo-sensor-$$
sim_pid=
scratch=$(mktemp -d)
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  ip netns del "$host" 2>/dev/null || true
  ip netns del "$sensor" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

ip netns add "$host"
ip netns add "$sensor"
ip link add vx-host netns "$host" type veth peer name vx-sensor netns "$sensor"
ip -n "$host" link set lo up
ip -n "$sensor" link set lo up
ip -n "$host" addr add 198.18.0.1/24 brd + dev vx-host
ip -n "$sensor" addr add 198.18.0.50/24 brd + dev vx-sensor
ip -n "$host" link set vx-host up
ip -n "$sensor" link set vx-sensor up

ip netns exec "$sensor" build/vorex/tools/vorex-sim --ip 198.18.0.50 --mask 255.255.255.0 \
  --state "$scratch" --commit-delay 1500 "$@" &
sim_pid=$!
sleep 0.5

# A stand-in firmware image: the library sends any bytes, the sensor checks them.
head -c 50000 /dev/urandom >"$scratch/firmware.bin"
ip netns exec "$host" build/vorex/examples/vorex-demo "$scratch/firmware.bin"
