#!/usr/bin/env bash
# vorex-bridge end to end, in private network namespaces this script makes
# and removes: hosts A, B and C on one switch (a Linux bridge device in a
# namespace of its own, multicast on, so DDS discovery works), and behind A
# and B each a sensor network of simulated sensors. C runs the DDS
# subscriber. Nothing leaves the namespaces.
#
#   end_to_end.sh CASE BRIDGE SIM LISTENER
#   CASE: cross_host | silent_sensor | reconnect | stop
set -uo pipefail
case_name=$1 bridge=$2 sim=$3 listener=$4
source "$(dirname "$0")/hosts.sh"

case $case_name in
cross_host)
  # Two bridges on two hosts, two sensors each, both seen from C; one
  # sensor sends images, another junk beside its profiles, which its
  # diagnostics count as malformed and no cloud carries.
  sensors as simsa 1001 198.18.1.10 2 50020
  sensors bs simsb 2001 198.18.2.10 1 50020
  sensors bs junk 2002 198.18.2.11 1 50021 --faults flood-data=200,seed=3
  run_bridge a bridgea --image-period 0.5
  run_bridge b bridgeb
  run_listener --serial 1001 --serial 1002 --serial 2001 --serial 2002 --profiles 500 --expect-image 1001 \
    --expect-malformed 2002
  listener_passes
  stops_cleanly bridgea TERM
  stops_cleanly bridgeb INT
  ;;
silent_sensor)
  # Four sensors at 500 profiles/s and a fifth that goes silent and comes
  # back: none of the four loses a profile, the fifth is stale, then
  # streams again from the same worker. The clouds travel reliably, so that
  # a loss can only be the bridge's own reception.
  sensors as sims 1001 198.18.1.10 4 50020
  sensors as quiet 1005 198.18.1.15 1 50030
  run_bridge a bridge --reliable --depth 5000
  run_listener --serial 1001 --serial 1002 --serial 1003 --serial 1004 --serial 1005 --profiles 2000 \
    --reliable --lossless --expect-stale 1005
  await "s1005 first"
  kill -STOP "$quiet_pid"
  await "s1005 stale"
  kill -CONT "$quiet_pid"
  listener_passes
  [ "$(count_lines bridge 's1005 .*started$')" = 1 ] || fail "the silent sensor's worker was restarted"
  stops_cleanly bridge TERM
  ;;
reconnect)
  # The sensor reboots (same record: the same worker takes its profiles
  # again), then comes back on another data port (a new worker).
  service_port=50030
  sensors as sim1 1001 198.18.1.10 1 50020
  run_bridge a bridge
  run_listener --serial 1001 --profiles 300 --expect-restart 1001 --expect-restart 1001
  await "s1001 first"
  kill "$sim1_pid"; wait "$sim1_pid"
  sensors as sim2 1001 198.18.1.10 1 50020
  await "s1001 restarted"
  kill "$sim2_pid"; wait "$sim2_pid"
  sensors as sim3 1001 198.18.1.10 1 50040
  listener_passes
  [ "$(count_lines bridge 's1001 at 198.18.1.10, data port 50040: device record changed')" = 1 ] ||
    fail "the new data port did not restart the worker"
  [ "$(count_lines bridge 's1001 .*started$')" = 2 ] || fail "the reboot restarted the worker"
  grep -q '^s1001 device_info .* data port 50040$' "$work/listener.log" || fail "no device record with the new port"
  stops_cleanly bridge TERM
  ;;
stop)
  # A DDS failure at the start is one line and exit 1; Ctrl-C stops.
  CYCLONEDDS_URI='<CycloneDDS><Domain><General><Interfaces><NetworkInterface name="nosuch0"/></Interfaces></General></Domain></CycloneDDS>' \
    in_ns a "$bridge" >"$work/bad.log" 2>"$work/bad.err"
  status=$?
  [ "$status" = 1 ] || fail "a DDS failure gave exit $status"
  [ "$(wc -l <"$work/bad.err")" = 1 ] || fail "a DDS failure gave not one line: $(cat "$work/bad.err")"
  grep -q '^vorex-bridge: cannot join the default DDS domain: .*nosuch0' "$work/bad.err" || fail "unexpected: $(cat "$work/bad.err")"
  echo "DDS failure: $(cat "$work/bad.err") (exit 1)"
  sensors as sims 1001 198.18.1.10 2 50020
  run_bridge a bridge
  run_listener --serial 1001 --serial 1002 --profiles 100
  listener_passes
  stops_cleanly bridge INT
  ;;
*)
  fail "unknown case $case_name"
  ;;
esac
echo "bridge $case_name: passed"
