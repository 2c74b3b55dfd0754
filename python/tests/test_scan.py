"""vorex.scan: profiles from a scripted sensor stacked into a height map
with known heights, holes and grid."""
import struct

import numpy as np
import pytest

import vorex

POINTS = 648  # type 17


def step_profile(hole=range(100, 110)):
    """Type 17, X = i mm for point i; Z 200 mm below point 300, 250 from it
    on; no measurement in `hole`."""
    datagram = bytearray(64 + 4 * POINTS)
    datagram[0] = 17
    struct.pack_into("<HHH", datagram, 28, 1, 1, 10)  # z_scale, x_scale, divisor
    for i in range(POINTS):
        z = 0 if i in hole else (2000 if i < 300 else 2500)
        struct.pack_into("<hH", datagram, 64 + 4 * i, 10 * i, z)
    return bytes(datagram)


def test_scan_by_pitch_gives_the_heights_the_holes_and_the_grid(scripted):
    for _ in range(20):
        scripted.send_profile(step_profile())
    heights, grid = vorex.scan(scripted.session, 20, pitch=0.5)
    assert heights.dtype == np.float32
    assert heights.shape == (20, POINTS)
    assert grid == vorex.ScanGrid(x_origin=0.0, x_step=1.0, y_step=0.5, profiles=20, lost=0)
    assert np.isnan(heights[:, 100:110]).all()
    assert (heights[:, :100] == 200).all() and (heights[:, 110:300] == 200).all()
    assert (heights[:, 300:] == 250).all()
    np.testing.assert_array_equal(grid.x(3), [0.0, 1.0, 2.0])


def test_a_finer_x_step_interpolates_between_neighbours(scripted):
    for _ in range(3):
        scripted.send_profile(step_profile(hole=()))
    heights, grid = vorex.scan(scripted.session, 3, x_step=0.5)
    assert grid.y_step == 1.0, "a pitch of 1 mm when neither is given"
    assert heights.shape == (3, 2 * POINTS - 1)
    assert heights[0, 598] == 200 and heights[0, 599] == 225 and heights[0, 600] == 250


def test_scan_checks_its_arguments_and_a_silent_sensor(scripted):
    with pytest.raises(ValueError, match="not both"):
        vorex.scan(scripted.session, 5, pitch=1, speed=100)
    with pytest.raises(ValueError, match="count of 1 or more"):
        vorex.scan(scripted.session, 0)
    with pytest.raises(vorex.Error, match=r"no profile for 0.3 s \(0 received\)"):
        vorex.scan(scripted.session, 5, idle=0.3)
