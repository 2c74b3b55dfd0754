#!/usr/bin/env bash
# Builds examples/c/tour.c as plain C99 (-pedantic -Werror) against the C
# library as installed, through pkg-config, and runs it beside a simulated
# sensor in a private network namespace (scripts/with-simulated-sensor.sh):
# it must find the one sensor, change a parameter group, take a profile and
# fetch the image.
# Usage: c_consumer.sh BUILD|--prefix PREFIX SOURCE SIMULATOR EMULATOR|- COMPILER [FLAGS...]
# BUILD is installed into a scratch prefix first; EMULATOR (qemu-i386) runs
# the program when given.
set -euo pipefail
if [ "$1" = --prefix ]; then prefix=$2; build=; shift 2; else build=$1; prefix=; shift; fi
source=$1 sim=$2 emulator=$3
shift 3
compiler=("$@")
[ -x "$sim" ] || { echo "no simulator at $sim (build the vorex preset's vorex-sim first)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "$build" ]; then
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" --component library >/dev/null
fi

pc=$(find "$prefix/lib" -maxdepth 3 -name 'vorex*_c.pc' | head -n 1)
[ -n "$pc" ] || { echo "no vorex_c pkg-config file under $prefix"; exit 1; }
name=$(basename "$pc" .pc)
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs "$name")
libdir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=libdir "$name")
# The C library's own dependency, libvorex, is found beside it.
export LD_LIBRARY_PATH=$libdir
"${compiler[@]}" -std=c99 -pedantic -Wall -Wextra -Werror -o "$work/tour" "$source/examples/c/tour.c" $flags

run=("$work/tour")
[ "$emulator" = - ] || run=("$emulator" "$work/tour")
out=$("$source/scripts/with-simulated-sensor.sh" "$sim" --serial 4242 -- "${run[@]}") || {
  echo "the tour failed:"; echo "$out"; exit 1; }
for wanted in '^1 sensor\(s\)$' '^sensor 4242 at 198\.18\.9\.50$' '^laser group: ' '^profile: type 1[6-9], ' \
  "^image: 316224 bytes"; do
  grep -qE "$wanted" <<<"$out" || { echo "the tour's output lacks /$wanted/:"; echo "$out"; exit 1; }
done
echo "$name consumer ran: $(tr '\n' ';' <<<"$out")"
