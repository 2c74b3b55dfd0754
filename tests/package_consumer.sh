#!/usr/bin/env bash
# Installs the build into a scratch prefix and builds an example against it
# as an outside project, once through find_package and once through
# pkg-config, then runs both in a private network namespace without
# adapters (so their discovery has nowhere to broadcast).
# Usage: package_consumer.sh BUILD SOURCE [PREFIX]
# With PREFIX (for instance /usr after installing the Debian packages) the
# consumers build against what is installed there, and nothing is
# installed or packed.
set -euo pipefail
build=$1
source=$2
installed=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

prefix=${installed:-$work/prefix}
[ -n "$installed" ] || cmake --install "$build" --prefix "$prefix" >/dev/null
test -f "$prefix/include/vorex.h"

cmake -S "$source/tests/consumer" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DEXAMPLE_SOURCE="$source/examples/discover.cpp" >/dev/null
cmake --build "$work/cmake" >/dev/null

pc_dir=$(dirname "$(find "$prefix" -name vorex.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs vorex)
libdir=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --variable=libdir vorex)
g++ -std=c++17 -o "$work/discover-pc" "$source/examples/discover.cpp" $flags

for program in "$work/cmake/discover" "$work/discover-pc"; do
  out=$(LD_LIBRARY_PATH="$libdir" unshare -n "$program")
  [ "$out" = "$(printf 'vorex library version 0x13041600\n0 sensor(s)')" ] || { echo "unexpected output from $program: $out"; exit 1; }
done
if [ -n "$installed" ]; then
  echo "find_package and pkg-config consumers built and ran against $installed"
  exit 0
fi
(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null)
deb=$(find "$work/deb" -maxdepth 1 -name 'vorex_*.deb' | head -n 1)
contents=$(dpkg-deb -c "$deb")
for wanted in include/vorex.h include/vorex_c.h libvorex.so.1 libvorex_c.so.1 cmake/vorex/vorex-config.cmake pkgconfig/vorex.pc pkgconfig/vorex_c.pc; do
  grep -q "$wanted" <<<"$contents" || { echo "the .deb lacks $wanted"; exit 1; }
done
echo "find_package and pkg-config consumers built and ran; $(basename "$deb") holds the library"
