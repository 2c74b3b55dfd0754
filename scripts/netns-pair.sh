# Sourced by the scripts that play a sensor and a host: two private network
# namespaces joined by a veth link, the host at 198.18.0.1 and the sensor at
# 198.18.0.50 (and any further addresses given), in 198.18.0.0/24.
# Discovery broadcasts stay on this link.
# Usage: netns_pair HOST_NS SENSOR_NS HOST_DEV SENSOR_DEV [SENSOR_ADDRESS...]
netns_pair() {
  local host=$1 sensor=$2 host_dev=$3 sensor_dev=$4
  shift 4
  ip netns add "$host"
  ip netns add "$sensor"
  ip link add "$host_dev" netns "$host" type veth peer name "$sensor_dev" netns "$sensor"
  ip -n "$host" link set lo up
  ip -n "$sensor" link set lo up
  ip -n "$host" addr add 198.18.0.1/24 brd + dev "$host_dev"
  for a in 198.18.0.50 "$@"; do ip -n "$sensor" addr add "$a/24" brd + dev "$sensor_dev"; done
  ip -n "$host" link set "$host_dev" up
  ip -n "$sensor" link set "$sensor_dev" up
}
# Removes both namespaces, and with them the link.
netns_pair_remove() {
  ip netns del "$1" 2>/dev/null || true
  ip netns del "$2" 2>/dev/null || true
}
