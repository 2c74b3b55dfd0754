#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12, as root.
# Installs nothing when everything is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ g++-multilib         # both architectures
  qemu-user                                  # runs the 32-bit tests
  googletest libgtest-dev libbenchmark-dev   # tests (built from source for i386) and benchmarks
  libcli11-dev libpng-dev                    # vorexctl and vorex-sim
  iproute2 util-linux                        # private network namespaces
  pkg-config dpkg-dev file                   # packaging checks
  clang libclang-rt-14-dev                   # fuzzers
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix  # vorex.dll and vorexd.dll
  wine wine64                                # runs the Windows tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
