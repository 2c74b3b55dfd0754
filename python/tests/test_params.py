import pytest

import vorex
from conftest import Simulator


def test_group_round_trip_survives_a_flush_and_restart(library, tmp_path):
    offset = sum(size for name, size in list(vorex.GROUPS.items())[:list(vorex.GROUPS).index("laser")])
    sim = Simulator(tmp_path)
    try:
        with vorex.Sensor(sim.record()) as s:
            laser = bytearray(s.read_group("laser"))
            assert len(laser) == vorex.GROUPS["laser"] == 36
            laser[0] ^= 0xFF
            laser[-1] = 0x5A
            s.write_group("laser", laser)
            assert s.read_group("laser") == laser
            assert s.read_params()[offset:offset + 36] == laser
            assert s.cached_params()[offset:offset + 36] == laser
            s.flush_params()
    finally:
        sim.stop()
    sim = Simulator(tmp_path)
    try:
        with vorex.Sensor(sim.record()) as s:
            assert s.read_group("laser") == laser
    finally:
        sim.stop()


@pytest.mark.parametrize("call, raised", [
    (lambda s: s.write_group("laser", bytes(35)), ValueError),
    (lambda s: s.write_group("laser", bytearray(37)), ValueError),
    (lambda s: s.write_params(bytes(1399)), ValueError),
    # Views whose bytes do not lie in one run from their start.
    (lambda s: s.write_params(memoryview(b"A" * 1400)[::-1]), TypeError),
    (lambda s: s.write_params(memoryview(bytes(2800))[::2]), TypeError),
    (lambda s: s.write_group("laser", memoryview(bytes(72))[::2]), TypeError),
    (lambda s: s.write_group("lasers", bytes(36)), KeyError),
    (lambda s: s.read_group("lasers"), KeyError),
])
def test_sizes_and_names_are_checked_before_anything_is_sent(scripted, call, raised):
    with pytest.raises(raised):
        call(scripted.session)
    assert scripted.receive(0.2) is None
