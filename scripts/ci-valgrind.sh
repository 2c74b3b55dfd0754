#!/usr/bin/env bash
# The demo program under valgrind --leak-check=full against the simulated
# sensor: the sensor in one private network namespace, the host in another,
# joined by a veth link, so the demo's discovery broadcast stays on it.
# Needs root and a built vorex preset (vorex-demo, vorex-sim).
set -uo pipefail
cd "$(dirname "$0")/.."
host=vorex-vg-host-$$
sensor=vorex-vg-sensor-$$
sim_pid=
scratch=$(mktemp -d)
. scripts/netns-pair.sh
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  netns_pair_remove "$host" "$sensor"
  rm -rf "$scratch"
}
trap cleanup EXIT

cmake --build --preset vorex --target vorex-sim vorex-demo >/dev/null || exit 1
netns_pair "$host" "$sensor" vg-h$$ vg-s$$ || exit 1
# Carrier comes up asynchronously; discovery needs the link running.
for _ in $(seq 100); do
  ip -n "$host" link show vg-h$$ | grep -q LOWER_UP && break
  sleep 0.05
done

ip netns exec "$sensor" build/vorex/tools/vorex-sim --ip 198.18.0.50 --mask 255.255.255.0 \
  --commit-delay 300 >"$scratch/sim.log" 2>&1 &
sim_pid=$!
sleep 0.5
head -c 5000 /dev/urandom >"$scratch/firmware.bin"
ip netns exec "$host" valgrind --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=1 \
  build/vorex/examples/vorex-demo "$scratch/firmware.bin" >"$scratch/demo.log" 2>&1
rc=$?
grep -E "found [0-9]+ sensor|ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|All heap blocks" "$scratch/demo.log"
[ "$rc" -eq 0 ] || { echo "valgrind: demo failed (exit $rc)"; tail -n 40 "$scratch/demo.log"; }
exit "$rc"
