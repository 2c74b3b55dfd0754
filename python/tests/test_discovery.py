"""search() in a private network namespace made for this test alone
(scripts/with-simulated-sensor.sh): a veth pair with the host on one end
and two simulated sensors on the other. No broadcast leaves it."""
import json
import os
import subprocess
import sys

from conftest import ROOT, SIM

SEARCH = """
import json, vorex
with vorex.library():
    # A round waits ~100 ms for answers: on a busy machine a sensor can miss
    # one, so search again until both answered.
    sensors = []
    for _ in range(5):
        sensors = vorex.search()
        if len(sensors) >= 2:
            break
    found = []
    for s in sensors:
        i = s.info
        with s:
            laser = len(s.read_group("laser"))
        found.append(dict(serial=i.serial, ip=i.ip, mask=i.mask, mac=i.mac, data_port=i.data_port,
                          image_packet_size=i.image_packet_size, raw=len(i.raw), laser=laser))
    print(json.dumps(found))
"""


def test_search_finds_each_simulated_sensor_once_and_connects():
    run = subprocess.run([ROOT / "scripts" / "with-simulated-sensor.sh", SIM, "-n", "2", "--serial", "2001",
                          "--service-port", "0", "--no-stream", "--", sys.executable, "-c", SEARCH],
                         env=dict(os.environ), stdout=subprocess.PIPE, text=True, timeout=60)
    assert run.returncode == 0
    # Each one answered a group read on the service port its record names.
    assert json.loads(run.stdout) == [
        dict(serial=2001 + k, ip=f"198.18.9.{50 + k}", mask="255.255.255.0", mac=f"02:56:58:00:00:{0x10 + k:02x}",
             data_port=50020 + k, image_packet_size=1400, raw=524, laser=36) for k in range(2)]
