import struct
import time

import numpy as np
import pytest

import arrival_stamps
from conftest import oracle, oracle_decode


def crafted_pairs():
    """Type 17 with negative X, Z of 65535 and gaps of zero Z."""
    rng = np.random.default_rng(17)
    d = bytearray(2656)
    d[0] = 17
    struct.pack_into("<HHH", d, 28, 500, 200, 16384)
    x = rng.integers(-32768, 32768, 648).astype("<i2")
    z = rng.integers(0, 65536, 648).astype("<u2")
    z[::7] = 0
    z[3] = 65535
    samples = np.empty(1296, "<u2")
    samples[0::2], samples[1::2] = x.view("<u2"), z
    d[64:] = samples.tobytes()
    return bytes(d)


def crafted_single():
    """Type 16 with zero samples between measured ones."""
    d = bytearray(1360)
    d[0] = 16
    struct.pack_into("<H", d, 32, 64)
    struct.pack_into("<HHH", d, 64 + 2 * 3, 1000, 0, 65535)
    return bytes(d)


DATAGRAMS = {f"sim type {t}": ("profile", t, 7) for t in (16, 17, 18, 19)}


@pytest.mark.parametrize("name", [*DATAGRAMS, "pairs with gaps", "single with gaps"])
def test_profile_arrays_equal_the_library_decode(scripted, name):
    datagram = {"pairs with gaps": crafted_pairs, "single with gaps": crafted_single}.get(
        name, lambda: oracle(*DATAGRAMS[name]))()
    scripted.send_profile(datagram)
    profile = scripted.session.get_result()
    points, raw_values = oracle_decode(datagram)
    assert profile.points.dtype == np.float64 and profile.points.shape == points.shape
    assert profile.points.flags.c_contiguous
    np.testing.assert_array_equal(profile.points, points)
    assert profile.raw_values.dtype == np.uint16
    np.testing.assert_array_equal(profile.raw_values, raw_values)
    assert profile.header == datagram[:64]
    assert (profile.data_type, profile.z_scale, profile.x_scale, profile.scale_divisor) == (
        datagram[0], *struct.unpack_from("<HHH", datagram, 28))


def test_profiles_iterates_by_count_then_by_duration(scripted):
    datagrams = [oracle("profile", 18, sequence) for sequence in range(3)]
    for d in datagrams:
        scripted.send_profile(d)
    first = list(scripted.session.profiles(count=2))
    rest = list(scripted.session.profiles(duration=0.5))
    assert [p.header for p in first + rest] == [d[:64] for d in datagrams]
    assert scripted.session.get_result() is None


def test_get_results_takes_a_batch_in_arrays_passing_over_malformed_datagrams(scripted):
    with arrival_stamps.stamping_socket() as probe:
        assert arrival_stamps.wait_until_on(probe), "arrival stamps never came on"
    datagrams = [crafted_pairs(), crafted_single(), oracle("profile", 19, 3), oracle("profile", 16, 4)]
    scripted.send_profile(datagrams[0])
    scripted.send_profile(datagrams[1])
    scripted.send_profile(bytes([16]) + bytes(100))  # type 16 cut short: malformed
    for d in datagrams[2:]:
        scripted.send_profile(d)
    sent_by = time.time_ns()
    batch = scripted.session.get_results(4)
    assert len(batch) == 4 and batch.malformed == 1
    assert batch.received.shape == (4,) and (np.diff(batch.received) >= 0).all() and batch.received[-1] <= sent_by
    assert batch.headers.shape == (4, 64) and batch.offsets.shape == (5,)
    assert batch.points.dtype == np.float64 and batch.points.flags.c_contiguous
    for i, d in enumerate(datagrams):
        assert batch.headers[i].tobytes() == d[:64]
        np.testing.assert_array_equal(batch.points[batch.offsets[i]:batch.offsets[i + 1]], oracle_decode(d)[0])
    assert batch.offsets[-1] == len(batch.points)


def test_get_results_ends_with_fewer_once_the_stream_falls_quiet_past_its_timeout(scripted):
    scripted.send_profile(crafted_single())
    batch = scripted.session.get_results(3, timeout=0)
    assert len(batch) == 1 and batch.points.shape == (len(oracle_decode(crafted_single())[0]), 2)
    assert len(scripted.session.get_results(0)) == 0
    with pytest.raises(ValueError):
        scripted.session.get_results(-1)
