#!/usr/bin/env bash
# What the viewer costs: two simulated sensors stream RATE profiles/s each
# (default 2000) to a host namespace over a veth link; vorexctl view serves
# the first to a headless Chromium, vorexctl stream reads the second at the
# same time. Prints the CPU the viewer and the browser used, what both
# received, and the host's UDP receive-buffer drops and reassembly failures
# (zero means no profile was lost at the host). Needs root and a build of
# the vorex preset.
# Usage: scripts/measure-view.sh [SECONDS] [RATE] [TYPE]
# With NO_VIEWER=1, only the stream runs: the floor to compare with. With
# NO_STREAM=1, only the viewer and its browser: the drops are then the
# viewer's own.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/netns-pair.sh
seconds=${1:-20}
rate=${2:-2000}
type=${3:-19}
bin=build/vorex/tools
host=vorex-measure-host-$$
sensor=vorex-measure-sensor-$$
scratch=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  netns_pair_remove "$host" "$sensor"
  rm -rf "$scratch"
}
trap cleanup EXIT

netns_pair "$host" "$sensor" vm-host vm-sensor 198.18.0.51
sleep 0.5
in_host() { ip netns exec "$host" "$@"; }

ip netns exec "$sensor" "$bin/vorex-sim" -n 2 --ip 198.18.0.50 --mask 255.255.255.0 --rate "$rate" \
  --data-type "$type" >"$scratch/sim.log" &
pids+=($!)
sleep 0.5
viewer=$([ "${NO_VIEWER:-0}" = 1 ] && echo no || echo yes)
view=$$ browser=$$
if [ "$viewer" = yes ]; then
  ip netns exec "$host" "$bin/ctl/vorexctl" view --serial 1001 --port 8648 >"$scratch/view.log" &
  view=$!
  pids+=($view)
  sleep 1.5
  ip netns exec "$host" chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$scratch/profile" \
    --remote-debugging-port=9222 http://127.0.0.1:8648/ >/dev/null 2>&1 &
  browser=$!
  pids+=($browser)
  sleep 2
fi

udp() { in_host awk '/^Udp:/ { if (!h) { split($0, n); h = 1 } else { split($0, v); for (i in n) if (n[i] == "RcvbufErrors") print v[i] } }' /proc/net/snmp; }
reasm() { in_host awk '/^Ip:/ { if (!h) { split($0, n); h = 1 } else { split($0, v); for (i in n) if (n[i] == "ReasmFails") print v[i] } }' /proc/net/snmp; }
tree() { echo "$1"; for c in $(pgrep -P "$1"); do tree "$c"; done; }
# User and system clock ticks of a process and all its descendants.
ticks() { local t=0; for p in $(tree "$1"); do
  t=$((t + $(awk '{ print $14 + $15 }' "/proc/$p/stat" 2>/dev/null || echo 0))); done; echo $t; }
hz=$(getconf CLK_TCK)

drops0=$(udp); reasm0=$(reasm); view0=$(ticks "$view"); browser0=$(ticks "$browser")
received() { [ "$viewer" = yes ] && in_host curl -s http://127.0.0.1:8648/figures | sed -E 's/.*"received":([0-9]+).*/\1/' || echo 0; }
received0=$(received)
if [ "${NO_STREAM:-0}" = 1 ]; then
  sleep "$seconds"; echo "not run" >"$scratch/stream.log"
else
  TIMEFORMAT="  stream CPU: %U s user, %S s system over %R s"
  time in_host "$bin/ctl/vorexctl" stream --serial 1002 --duration "$seconds" --out /dev/null 2>"$scratch/stream.log"
fi
received1=$(received)
drops1=$(udp); reasm1=$(reasm); view1=$(ticks "$view"); browser1=$(ticks "$browser")

echo "over $seconds s at $rate profiles/s of type $type per sensor, viewer: $viewer"
[ "$viewer" = yes ] && awk -v a="$view0" -v b="$view1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "  vorexctl view CPU: %.1f%% of one core\n", 100 * (b - a) / hz / s }'
[ "$viewer" = yes ] && awk -v a="$browser0" -v b="$browser1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "  chromium (all its processes) CPU: %.1f%% of one core\n", 100 * (b - a) / hz / s }'
echo "  viewer received $((received1 - received0)) profiles meanwhile"
echo "  stream: $(tr '\r' '\n' <"$scratch/stream.log" | tail -n 1)"
echo "  host UDP receive-buffer drops: $((drops1 - drops0)), IP reassembly failures: $((reasm1 - reasm0))"
