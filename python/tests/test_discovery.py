"""search() in a private network namespace made for this test alone: a veth
pair with the host on one end and two simulated sensors on the other. No
broadcast leaves it."""
import json
import os
import re
import shutil
import subprocess
import sys

import pytest

from conftest import SIM

NAMESPACE_SCRIPT = r"""
set -e
ip link set lo up
ip link add vx-host type veth peer name vx-sensor
ip addr add 198.18.7.1/24 brd + dev vx-host
ip addr add 198.18.7.50/24 brd + dev vx-sensor
ip addr add 198.18.7.51/24 brd + dev vx-sensor
ip link set vx-host up
ip link set vx-sensor up
for _ in $(seq 100); do
  [ "$(ip -br link show up | grep -c LOWER_UP)" -ge 3 ] && break
  sleep 0.05
done
"$SIM" -n 2 --ip 198.18.7.50 --mask 255.255.255.0 --serial 2001 --service-port 0 --data-port 50020 \
  --no-stream >"$OUT/sim.txt" &
sim=$!
trap 'kill $sim' EXIT
for _ in $(seq 100); do [ "$(grep -c serial "$OUT/sim.txt")" = 2 ] && break; sleep 0.05; done
"$PYTHON" -c '
import json, vorex
with vorex.library():
    found = []
    for s in vorex.search():
        i = s.info
        with s:
            laser = len(s.read_group("laser"))
        found.append(dict(serial=i.serial, ip=i.ip, mask=i.mask, mac=i.mac, data_port=i.data_port,
                          service_port=i.service_port, image_packet_size=i.image_packet_size, laser=laser))
    print(json.dumps(found))
'
"""


def test_search_finds_each_simulated_sensor_once(tmp_path):
    if not shutil.which("unshare"):
        pytest.skip("unshare is missing")
    unshare = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-rn"]
    env = dict(os.environ, SIM=SIM, OUT=str(tmp_path), PYTHON=sys.executable)
    run = subprocess.run([*unshare, "bash", "-c", NAMESPACE_SCRIPT], env=env, stdout=subprocess.PIPE, text=True,
                         timeout=60)
    assert run.returncode == 0
    ports = [int(p) for p in re.findall(r"at [\d.]+:(\d+)", (tmp_path / "sim.txt").read_text())]
    expected = [dict(serial=2001 + k, ip=f"198.18.7.{50 + k}", mask="255.255.255.0", mac=f"02:56:58:00:00:{0x10 + k:02x}",
                     data_port=50020 + k, service_port=ports[k], image_packet_size=1400, laser=36) for k in range(2)]
    assert json.loads(run.stdout) == expected
