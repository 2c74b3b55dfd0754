# Sourced by vorex-bridge's end-to-end tests and benchmark: namespace hosts
# A, B and C on one switch (a Linux bridge device in a namespace of its
# own, multicast on, so DDS discovery works), sensor networks behind A and
# B, and the programs started in them. Everything it makes is removed on
# exit. Set bridge, sim and listener to the programs before sourcing.
tag=vxb$$
work=$(mktemp -d)
# Programs run in the background as `(exec ...) &`, so that $! is the
# program itself, which signals reach.
pids=()

cleanup() {
  for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null; kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
  for n in sw a as b bs c; do ip netns del "$tag-$n" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  for f in "$work"/*.log; do echo "--- $(basename "$f")"; tail -n 30 "$f"; done
  exit 1
}

in_ns() { local n=$1; shift; ip netns exec "$tag-$n" "$@"; }

# Cyclone on one named interface (a host with two would otherwise announce
# itself on either), with room in the socket buffer for bursts of clouds;
# dds_general adds settings of its own (General elements).
dds_uri() {
  echo "<CycloneDDS><Domain><General><Interfaces><NetworkInterface name=\"$1\"/></Interfaces>${dds_general:-}</General><Internal><SocketReceiveBufferSize min=\"8MB\"/></Internal></Domain></CycloneDDS>"
}

# host NAME SWITCH_ADDRESS [SENSOR_SUBNET]: a host on the switch, and when
# a subnet (198.18.N) is given, a sensor network behind it with the host at
# .1 and the sensors' addresses .10 to .19.
host() {
  local n=$1 address=$2 subnet=${3:-}
  ip netns add "$tag-$n"
  ip -n "$tag-$n" link set lo up
  ip link add "${n}0" netns "$tag-$n" type veth peer name "sw$n" netns "$tag-sw"
  ip -n "$tag-sw" link set "sw$n" master br0 up
  ip -n "$tag-$n" addr add "$address/24" brd + dev "${n}0"
  ip -n "$tag-$n" link set "${n}0" multicast on up
  if [ -n "$subnet" ]; then
    ip netns add "$tag-${n}s"
    ip -n "$tag-${n}s" link set lo up
    ip link add "${n}1" netns "$tag-$n" type veth peer name "${n}s0" netns "$tag-${n}s"
    ip -n "$tag-$n" addr add "$subnet.1/24" brd + dev "${n}1"
    for i in $(seq 10 19); do ip -n "$tag-${n}s" addr add "$subnet.$i/24" brd + dev "${n}s0"; done
    ip -n "$tag-$n" link set "${n}1" up
    ip -n "$tag-${n}s" link set "${n}s0" up
  fi
}

# Linux starts stamping datagrams on arrival a moment after the first
# socket on the machine asks for it; one that arrives in that moment is
# stamped when it is taken, later than the real stamps of those queued
# behind it. Held on from the start (and shown to be on), every cloud
# carries its arrival as later ones do once stamping is on.
hold_arrival_stamps() {
  local ready=$work/stamps-on
  (exec /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/../../python/tests/arrival_stamps.py" "$ready") &
  pids+=($!)
  for _ in $(seq 100); do [ -e "$ready" ] && return 0; sleep 0.05; done
  fail "arrival stamps never came on"
}

ip netns add "$tag-sw" || fail "cannot make namespaces (root needed)"
ip -n "$tag-sw" link add br0 type bridge
ip -n "$tag-sw" link set br0 multicast on up
host a 10.77.0.1 198.18.1
host b 10.77.0.2 198.18.2
host c 10.77.0.3
hold_arrival_stamps

# sensors NS NAME FIRST_SERIAL FIRST_IP COUNT DATA_PORT [more vorex-sim options]
sensors() {
  local n=$1 name=$2 serial=$3 ip=$4 count=$5 port=$6
  shift 6
  (exec ip netns exec "$tag-$n" "$sim" --serial "$serial" --ip "$ip" --mask 255.255.255.0 -n "$count" \
    --data-port "$port" --service-port "${service_port:-0}" --data-type 19 --rate "${rate:-500}" "$@" >"$work/$name.log" 2>&1) &
  pids+=($!)
  eval "${name}_pid=$!"
}

# run_bridge HOST_NS NAME [options]
run_bridge() {
  local n=$1 name=$2
  shift 2
  (export CYCLONEDDS_URI; CYCLONEDDS_URI=$(dds_uri "${n}0")
    exec ip netns exec "$tag-$n" "$bridge" "$@" >"$work/$name.log" 2>"$work/$name.err") &
  pids+=($!)
  eval "${name}_pid=$!"
}

since=$(date +%s%N)
run_listener() {
  (export CYCLONEDDS_URI; CYCLONEDDS_URI=$(dds_uri c0)
    exec ip netns exec "$tag-c" "$listener" --since "$since" --limit 90 "$@" >"$work/listener.log" 2>&1) &
  pids+=($!)
  listener_pid=$!
}

# Waits (a minute at most) for a line of the listener's output.
await() {
  local line=$1
  for _ in $(seq 600); do
    grep -qx "$line" "$work/listener.log" && return 0
    kill -0 "$listener_pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "the listener never printed '$line'"
}

listener_passes() {
  wait "$listener_pid"
  local status=$?
  cat "$work/listener.log"
  [ "$status" = 0 ] || fail "the listener's checks failed"
}

# Stops a bridge with SIGNAL: it must exit 0 and leave none of its workers.
stops_cleanly() {
  local name=$1 signal=$2 pid
  pid=$(eval echo "\$${name}_pid")
  local workers
  workers=$(sed -n 's/.*: worker \([0-9]*\) started$/\1/p' "$work/$name.log")
  [ -n "$workers" ] || fail "$name started no worker"
  kill -"$signal" "$pid"
  wait "$pid"
  local status=$?
  [ "$status" = 0 ] || fail "$name exited $status on SIG$signal"
  for w in $workers; do
    kill -0 "$w" 2>/dev/null && fail "worker $w of $name outlived it"
  done
  echo "$name stopped on SIG$signal with exit 0; workers $(echo $workers) gone"
}

count_lines() { grep -c "$2" "$work/$1.log"; }

