#!/usr/bin/env bash
# Checks the Debian packages in build/debs as installed: the Python module
# imports with Debian's python3 and reports the library's version, the C++
# consumers build through find_package and pkg-config, the C consumer runs, vorexctl runs, and
# the Matplotlib example plots a profile from the installed vorex-sim, and
# the installed vorex-bridge (unit, man page and IDL beside it) takes up a
# simulated sensor in a private namespace and stops on SIGTERM with exit 0.
#
# Under CI (CI=true), or with VOREX_INSTALL_DEBS=1, the packages are really
# installed with dpkg and purged afterwards (unless some were installed
# before, which are then left alone and the check uses a scratch root).
# Otherwise they are unpacked into a scratch root with dpkg -x.
# Prints "installed-package checks: P passed, F failed".
set -uo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
work=$(mktemp -d)
packages=(libvorex1 libvorex-dev vorex-tools python3-vorex vorex-bridge)
debs=()
for p in "${packages[@]}"; do debs+=("$(ls build/debs/${p}_*.deb)"); done
installed_here=
cleanup() {
  [ -n "$installed_here" ] && dpkg --purge "${packages[@]}" >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

already=$(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null | grep -c "install ok installed")
if [ -n "${CI:-}${VOREX_INSTALL_DEBS:-}" ] && [ "$already" = 0 ]; then
  dpkg -i "${debs[@]}" >/dev/null || exit 1
  installed_here=1
  prefix=/usr
else
  for d in "${debs[@]}"; do dpkg -x "$d" "$work/root"; done
  prefix=$work/root/usr
  export PYTHONPATH=$prefix/lib/python3/dist-packages
  export LD_LIBRARY_PATH=$prefix/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
fi
echo "checking the packages installed under $prefix"

passed=0
failed=0
check() {
  local name=$1
  shift
  if out=$("$@" 2>&1); then
    passed=$((passed + 1)); echo "ok: $name"; [ -z "$out" ] || echo "    $(tail -n 1 <<<"$out")"
  else
    failed=$((failed + 1)); echo "FAILED: $name"; echo "$out" | tail -n 20
  fi
}

python_version() {
  local v
  v=$(cd "$work" && /usr/bin/python3 -c "import vorex; print(hex(vorex.version()))") || return 1
  echo "$v"
  [ "$v" = 0x13041600 ]
}
tools_run() { "$prefix/bin/vorexctl" --help >/dev/null && "$prefix/bin/vorex-sim" --help >/dev/null; }
plot_example() {
  (cd "$work" && "$source_dir/scripts/with-simulated-sensor.sh" "$prefix/bin/vorex-sim" \
    /usr/bin/python3 "$source_dir/examples/python/plot_profile.py" "$work/profile.png") &&
    [ "$(head -c 8 "$work/profile.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ]
}

bridge_runs() {
  [ -f "$prefix/../lib/systemd/system/vorex-bridge.service" ] || [ -f "$prefix/lib/systemd/system/vorex-bridge.service" ] || return 1
  [ -f "$prefix/share/man/man1/vorex-bridge.1.gz" ] || [ -f "$prefix/share/man/man1/vorex-bridge.1" ] || return 1
  [ -f "$prefix/share/vorex-bridge/idl/sensor_msgs/msg/PointCloud2.idl" ] || return 1
  "$source_dir/scripts/with-simulated-sensor.sh" "$prefix/bin/vorex-sim" bash -c '
    export CYCLONEDDS_URI="<CycloneDDS><Domain><General><Interfaces><NetworkInterface name=\"vx-host\"/></Interfaces></General></Domain></CycloneDDS>"
    "$1" >"$2" 2>&1 & pid=$!
    for _ in $(seq 100); do grep -q "worker [0-9]* started" "$2" && break; sleep 0.1; done
    kill -TERM $pid; wait $pid; status=$?
    cat "$2"; grep -q "worker [0-9]* started" "$2" && [ $status = 0 ]' - "$prefix/bin/vorex-bridge" "$work/bridge.log"
}

check "python3 -c 'import vorex; print(hex(vorex.version()))' prints 0x13041600" python_version
check "C++ consumers through find_package and pkg-config" tests/package_consumer.sh build/vorex "$source_dir" "$prefix"
check "C consumer (examples/c/tour.c, C99) through pkg-config beside vorex-sim" \
  tests/c_consumer.sh --prefix "$prefix" "$source_dir" "$prefix/bin/vorex-sim" - gcc
check "vorexctl and vorex-sim run" tools_run
check "examples/python/plot_profile.py writes a PNG of a simulated profile" plot_example
check "vorex-bridge takes up a simulated sensor and stops on SIGTERM with exit 0; unit, man page and IDL installed" bridge_runs
echo "installed-package checks: $passed passed, $failed failed"
[ "$failed" = 0 ]
