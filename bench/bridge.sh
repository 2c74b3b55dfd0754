#!/usr/bin/env bash
# vorex-bridge under load, in private namespaces (tests/bridge/hosts.sh):
# N simulated sensors behind host A streaming type 19 profiles through one
# bridge to a DDS subscriber on host C. For each rate: profiles lost,
# latency from the datagram's arrival at A's kernel to its delivery at C
# (median, 99th percentile), and the bridge's CPU per profile (supervisor
# and workers, user and system time); then ddsperf between the same two
# hosts with samples of the clouds' size, as the floor of the DDS path.
# Not a test: it prints figures.
#
#   bench/bridge.sh BUILD_DIR [SENSORS] [SECONDS] [RATE...]
#   e.g. bench/bridge.sh build/vorex 8 5 500 1000
set -uo pipefail
build=$(realpath "$1")
count=${2:-8}
seconds=${3:-5}
shift 3 2>/dev/null || shift $#
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(500)
bridge=$build/tools/bridge/vorex-bridge sim=$build/tools/vorex-sim listener=$build/tests/bridge_listener
source "$(dirname "$0")/../tests/bridge/hosts.sh"

ticks=$(getconf CLK_TCK)
# User and system ticks of a process and its listed workers.
cpu_ticks() {
  local total=0
  for p in "$@"; do
    [ -r "/proc/$p/stat" ] || continue
    read -r -a f <<<"$(sed 's/^.*) //' "/proc/$p/stat")"
    total=$((total + f[11] + f[12]))
  done
  echo "$total"
}

serials=()
for i in $(seq 0 $((count - 1))); do serials+=(--serial $((1001 + i))); done
echo "vorex-bridge: $count sensors x type 19 profiles through one bridge (host A) to a subscriber (host C), $seconds s per rate"
for r in "${rates[@]}"; do
  rate=$r
  sensors as sims 1001 198.18.1.10 "$count" 50020
  run_bridge a bridge
  run_listener "${serials[@]}" --duration "$seconds"
  # CPU over the measuring window: from the listener's first line to its end.
  for _ in $(seq 600); do [ "$(grep -c ' first$' "$work/listener.log")" -ge "$count" ] && break; sleep 0.1; done
  workers=$(sed -n 's/.*: worker \([0-9]*\) started$/\1/p' "$work/bridge.log")
  before=$(cpu_ticks "$bridge_pid" $workers)
  wait "$listener_pid"
  after=$(cpu_ticks "$bridge_pid" $workers)
  line=$(grep '^figures:' "$work/listener.log") || fail "no figures"
  clouds=$(awk '{for (i = 1; i < NF; i++) if ($i == "clouds") print $(i + 1)}' <<<"$line")
  cpu_us=$(awk -v t=$((after - before)) -v hz="$ticks" -v n="$clouds" 'BEGIN { printf "%.1f", n ? t * 1e6 / hz / n : 0 }')
  size=$(awk '{for (i = 1; i < NF; i++) if ($i == "cloud_bytes") print $(i + 1)}' <<<"$line")
  echo "rate $((count * r))/s: ${line#figures: } bridge_cpu_us_per_profile $cpu_us"
  kill -TERM "$bridge_pid" "$sims_pid"; wait "$bridge_pid" "$sims_pid" 2>/dev/null
done

# ddsperf between A and C with samples of the clouds' size: throughput at
# the highest total rate, best effort as the points go, and round trips.
total=$((count * rates[-1]))
bytes=${size%.*}
uri_a=$(dds_uri a0) uri_c=$(dds_uri c0)
CYCLONEDDS_URI=$uri_c in_ns c ddsperf -u -D $((seconds + 2)) sub >"$work/ddsperf-sub.log" 2>&1 &
sub=$!
sleep 1
CYCLONEDDS_URI=$uri_a in_ns a ddsperf -u -D "$seconds" pub "${total}Hz" size "$bytes" >"$work/ddsperf-pub.log" 2>&1
wait "$sub"
echo "ddsperf pub ${total}Hz size $bytes best effort, A to C (last seconds of sub):"
grep -E 'size [0-9]+ total' "$work/ddsperf-sub.log" | tail -n 3 | sed 's/^/  /'
CYCLONEDDS_URI=$uri_c in_ns c ddsperf -D $((seconds + 2)) pong >"$work/ddsperf-pong.log" 2>&1 &
pong=$!
sleep 1
CYCLONEDDS_URI=$uri_a in_ns a ddsperf -D "$seconds" ping 1000Hz size "$bytes" >"$work/ddsperf-ping.log" 2>&1
wait "$pong"
echo "ddsperf ping 1000Hz size $bytes, A to C and back (round trip, last seconds):"
grep -E 'mean|%' "$work/ddsperf-ping.log" | tail -n 3 | sed 's/^/  /'
