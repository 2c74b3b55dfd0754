#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12, as root.
# Installs nothing when everything is already there. With --demo, only what
# the demo needs: the library, vorex-sim and vorexctl, and namespaces.
set -euo pipefail

demo_packages=(
  cmake ninja-build g++ pkg-config           # the library
  libcli11-dev libpng-dev libpcap-dev        # vorexctl and vorex-sim
  libtiff-dev                                # vorexctl scan's height maps
  libfreetype-dev libfontconfig-dev fonts-dejavu-core  # the labels on its pictures
  libcpp-httplib-dev nlohmann-json3-dev      # vorexctl view
  iproute2 util-linux                        # private network namespaces
)
packages=(
  cmake ninja-build g++ g++-multilib         # both architectures
  qemu-user                                  # runs the 32-bit tests
  googletest libgtest-dev libbenchmark-dev   # tests (built from source for i386) and benchmarks
  libcli11-dev libpng-dev                    # vorexctl and vorex-sim
  libtiff-dev python3-open3d                 # vorexctl scan's height maps, and reading its clouds back
  libfreetype-dev libfontconfig-dev fonts-dejavu-core  # the labels on its pictures
  cyclonedds-dev cyclonedds-tools            # vorex-bridge (DDS), its IDL compiler and ddsperf
  help2man                                   # their man pages, from their --help
  iproute2 util-linux                        # private network namespaces
  pkg-config dpkg-dev file                   # packaging checks
  clang libclang-rt-14-dev                   # fuzzers
  libcpp-httplib-dev nlohmann-json3-dev      # vorexctl view
  libpcap-dev tshark tcpdump                 # vorexctl record, vorex-sim --replay, the dissector's tests
  chromium chromium-driver python3-pil curl  # the viewer's browser tests, scripts/measure-view.sh
  pybind11-dev python3-dev python3-numpy     # the Python module
  python3-pytest python3-matplotlib          # its tests and examples
  build-essential debhelper dh-python lintian  # Debian packages
  valgrind                                   # the demo under valgrind
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix  # vorex.dll and vorexd.dll
  wine wine64                                # runs the Windows tests
  mono-mcs mono-runtime                      # the C# wrapper and its test
)

[ "${1:-}" = --demo ] && packages=("${demo_packages[@]}")

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
