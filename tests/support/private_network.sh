#!/bin/sh
# Prepares the private network for a Windows test under wine, which cannot
# make a namespace of its own: scripts/ci-windows.sh runs the tests inside
# one and records the machine's own namespace in VOREX_HOST_NETNS. Refuses
# to touch that one.
#   private_network.sh STATUS_FILE fresh|keep COMMAND...
# "fresh" first returns the namespace to the state of a new one: no links
# but lo, lo down and without addresses. The verdict ("ok" or the reason)
# goes to STATUS_FILE.
status=$1
mode=$2
shift 2
verdict() {
  echo "$1" >"$status.part" && mv "$status.part" "$status"
  [ "$1" = ok ]
  exit
}
here=$(readlink /proc/self/ns/net)
if [ -z "${VOREX_HOST_NETNS:-}" ] || [ "$here" = "$VOREX_HOST_NETNS" ]; then
  verdict "refused: not inside the private namespace of scripts/ci-windows.sh"
fi
if [ "$mode" = fresh ]; then
  for link in $(ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }'); do
    [ "$link" = lo ] || ip link del "$link" 2>/dev/null
  done
  ip addr flush dev lo && ip link set lo down || verdict "cannot reset lo"
fi
for command in "$@"; do
  sh -c "$command" >/dev/null 2>&1 || verdict "failed: $command"
done
verdict ok
