#!/usr/bin/env bash
# The guided tour: a simulated sensor in one private network namespace, the
# host in another, joined by a veth link, and vorexctl working with it.
# Needs root. Leaves nothing behind but the pictures in the output folder.
# Usage: scripts/demo.sh [OUTPUT_DIR]   (default: ./demo-output)
set -euo pipefail
# Needs root: a user with sudo runs it through sudo.
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null || { echo "$0: needs root (and sudo is not installed)" >&2; exit 1; }
  exec sudo --preserve-env=CI "$0" "$@"
fi
cd "$(dirname "$0")/.."
. scripts/netns-pair.sh
out=$(realpath -m "${1:-demo-output}")
scripts/setup-debian.sh --demo
echo "building vorex, vorex-sim and vorexctl ..."
cmake --preset demo >/dev/null
cmake --build --preset demo -j"$(nproc)" --target vorex-sim vorexctl >/dev/null
mkdir -p "$out"

host=vorex-demo-host-$$
sensor=vorex-demo-sensor-$$
sim_pid=
scratch=$(mktemp -d)
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  netns_pair_remove "$host" "$sensor"
  rm -rf "$scratch"
}
trap cleanup EXIT

# Two namespaces joined by a link: the host at 198.18.0.1, the sensor at
# 198.18.0.50. Discovery broadcasts stay on this link.
netns_pair "$host" "$sensor" vx-host vx-sensor

ip netns exec "$sensor" build/demo/tools/vorex-sim --ip 198.18.0.50 --mask 255.255.255.0 \
  --state "$scratch" --commit-delay 1500 >"$scratch/sim.log" 2>&1 &
sim_pid=$!
sleep 0.5

ctl() { ip netns exec "$host" build/demo/tools/ctl/vorexctl "$@"; }
step() { printf '\n\033[1m== %s\033[0m\n$ vorexctl %s\n' "$1" "${*:2}"; }

step "Which sensors answer?" search
ctl search
step "What the sensor reports about itself" info
ctl info
step "The first bytes of its 1400-byte parameter block" params get --hex
ctl params get --hex >"$scratch/params.hex"  # whole, then shown: head would cut the pipe under it
head -n 4 "$scratch/params.hex"
step "One parameter group" params get --group laser --hex
ctl params get --group laser --hex
step "Profiles for one second" stream --duration 1 --out "$out/profiles.csv"
ctl stream --duration 1 --out "$out/profiles.csv"
echo "$(($(wc -l <"$out/profiles.csv") - 1)) points written to $out/profiles.csv"
step "One profile drawn" plot --out "$out/profile.svg"
ctl plot --out "$out/profile.svg"
step "The camera image" image --out "$out/image.png"
ctl image --out "$out/image.png"
head -c 60000 /dev/urandom >"$scratch/firmware.bin"  # any bytes: the sensor checks what it got
step "A firmware update, verified by checksum and committed" firmware upload firmware.bin --commit
ctl firmware upload "$scratch/firmware.bin" --commit
step "The sensor's log" log
ctl log
step "Three seconds of its traffic, recorded" record --out capture.pcap --duration 3 --service
ctl record --out "$out/capture.pcap" --duration 3 --service

# The simulator again, now with a part sliding past the line: its travel
# starts when the scan below searches, so the scan begins just before it.
kill "$sim_pid" && wait "$sim_pid" 2>/dev/null || true
ip netns exec "$sensor" build/demo/tools/vorex-sim --ip 198.18.0.50 --mask 255.255.255.0 \
  --scene part --speed 100 >"$scratch/sim-part.log" 2>&1 &
sim_pid=$!
sleep 0.5
step "A part moving past the line at 100 mm/s: a height map and a point cloud" \
  scan --count 640 --speed 100 --out scan.png --out scan.ply
ctl scan --count 640 --speed 100 --out "$out/scan.png" --out "$out/scan.ply"

printf '\nReplay it:      vorex-sim --replay %s --loop\n' "$out/capture.pcap"
printf 'Wireshark:      tshark -X lua_script:tools/wireshark/vorex.lua -r %s\n' "$out/capture.pcap"

printf '\nThe pictures are in %s: profile.svg, image.png and scan.png (and profiles.csv, capture.pcap, scan.ply).\n' "$out"
