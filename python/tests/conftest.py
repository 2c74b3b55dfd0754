"""Fixtures for the Python tests: the library's lifetime, vorex-sim on
loopback with ephemeral ports, scripted sensors made of plain sockets, and
the C++ oracle (the library's own decoder, the simulator's profiles and
image). Set VOREX_BUILD to the build tree (default: build/vorex)."""
import os
import pathlib
import re
import socket
import struct
import subprocess

import numpy as np
import pytest

import vorex

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("VOREX_BUILD", ROOT / "build" / "vorex"))
SIM = os.environ.get("VOREX_SIM", str(BUILD / "tools" / "vorex-sim"))
ORACLE = str(BUILD / "python" / "vorex-py-oracle")
SERIAL = 1001


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_record(serial, service_port, data_port, ip="127.0.0.1", mask="255.0.0.0", image_packet_size=1400):
    """A 524-byte device record, as discovery would have reported it."""
    record = bytearray(524)
    struct.pack_into("<I", record, 66, serial)
    record[140:144] = socket.inet_aton(ip)
    record[144:148] = socket.inet_aton(mask)
    struct.pack_into("<H", record, 156, data_port)
    struct.pack_into("<H", record, 160, service_port)
    record[166:172] = bytes([0x02, 0x56, 0x58, 0, 0, 0x10])
    struct.pack_into("<i", record, 198, image_packet_size)
    return bytes(record)


def oracle(*args, data=None):
    return subprocess.run([ORACLE, *map(str, args)], input=data, stdout=subprocess.PIPE, check=True).stdout


def oracle_decode(datagram):
    """The library's decode of one datagram: (points, raw_values)."""
    out = oracle("decode", data=datagram)
    n, raw = struct.unpack_from("<II", out)
    points = np.frombuffer(out, np.float64, count=2 * n, offset=8).reshape(n, 2)
    return points, np.frombuffer(out, np.uint16, count=raw, offset=8 + 16 * n)


class Simulator:
    """vorex-sim on 127.0.0.1 without discovery: its service port is picked
    by the system and read from its first line."""

    def __init__(self, state_dir, *extra):
        self.data_port = free_udp_port()
        self.process = subprocess.Popen(
            [SIM, "--ip", "127.0.0.1", "--service-port", "0", "--data-port", str(self.data_port), "--no-discovery",
             "--no-stream", "--commit-delay", "100", "--state", str(state_dir), "--serial", str(SERIAL), *extra],
            stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"at 127\.0\.0\.1:(\d+)", line)
        if not found:
            self.stop()
            raise RuntimeError("vorex-sim did not start: " + line)
        self.service_port = int(found.group(1))

    def record(self):
        return make_record(SERIAL, self.service_port, self.data_port)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()


@pytest.fixture
def library():
    assert vorex.init()
    yield
    vorex.cleanup()


@pytest.fixture
def simulator(tmp_path):
    sim = Simulator(tmp_path)
    yield sim
    sim.stop()


@pytest.fixture
def sensor(library, simulator):
    with vorex.Sensor(simulator.record(), 0) as s:
        yield s


class ScriptedSensor:
    """A plain UDP socket standing in for the sensor, so a test decides what
    it answers and when, and sees every byte the library sent."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.data_port = free_udp_port()
        self.session = vorex.Sensor(make_record(SERIAL, self.socket.getsockname()[1], self.data_port), 0)
        self.session.connect()

    def receive(self, timeout):
        self.socket.settimeout(timeout)
        try:
            return self.socket.recvfrom(65536)
        except socket.timeout:
            return None

    def send_profile(self, datagram):
        self.socket.sendto(datagram, ("127.0.0.1", self.data_port))

    def close(self):
        self.session.disconnect()
        self.socket.close()


@pytest.fixture
def scripted(library):
    s = ScriptedSensor()
    yield s
    s.close()
