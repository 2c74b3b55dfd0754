"""vorex: network laser profile sensors from Python.

    import vorex
    with vorex.library():
        for sensor in vorex.search():
            with sensor:
                profile = sensor.get_result()      # vorex.Profile or None
                image = sensor.get_image()         # (488, 648) uint8

Every call blocks until done or timed out and releases the GIL while it
waits. Failures raise vorex.Error with the library's message.
"""
import contextlib
import time
from typing import NamedTuple

from ._vorex import (GROUPS, IMAGE_SHAPE, LOG_RECORD_SIZE, MAX_LOG_RECORDS, PARAMS_SIZE, DeviceInfo, Error,
                     Profile, ProfileBatch, Sensor, cleanup, init, version)
from ._vorex import search as _search_once

__all__ = ["GROUPS", "IMAGE_SHAPE", "LOG_RECORD_SIZE", "MAX_LOG_RECORDS", "PARAMS_SIZE", "DeviceInfo", "Error",
           "Profile", "ProfileBatch", "ScanGrid", "Sensor", "cleanup", "init", "library", "scan", "search", "version"]


@contextlib.contextmanager
def library():
    """init() on entry and cleanup() on exit, whatever happens in between."""
    init()
    try:
        yield
    finally:
        cleanup()


def search(rounds=1):
    """Broadcasts a discovery request from every host address and returns a
    disconnected Sensor for each sensor that answered, in the order found.
    Each round waits ~100 ms per address for answers; with rounds > 1 it
    searches again while nobody answered, for sensors that answer late (a
    busy host or link)."""
    for _ in range(max(1, rounds)):
        found = _search_once()
        if found:
            break
    return found


def _profiles(self, count=None, duration=None):
    """Yields profiles as they arrive: `count` of them, or for `duration`
    seconds, whichever ends first; with neither, until the caller stops.
    Waits that bring no profile are skipped, so a silent sensor with only
    `count` given keeps the loop waiting (each wait is ~100 ms)."""
    if count is not None and count < 0:
        raise ValueError("count must not be negative")
    end = None if duration is None else time.monotonic() + duration
    taken = 0
    while count is None or taken < count:
        if end is not None and time.monotonic() >= end:
            return
        profile = self.get_result()
        if profile is not None:
            taken += 1
            yield profile


Sensor.profiles = _profiles


class ScanGrid(NamedTuple):
    """Where a scan's cells lie: column c at X = x_origin + c * x_step, row r
    at Y = r * y_step (mm of travel); `lost` rows had no profile."""
    x_origin: float
    x_step: float
    y_step: float
    profiles: int
    lost: int

    def x(self, columns):
        """The X (mm) of each of `columns` columns."""
        import numpy as np
        return self.x_origin + np.arange(columns) * self.x_step


def scan(sensor, count, pitch=None, speed=None, x_step=None, idle=5.0):
    """Stacks `count` profiles of a part moving under the sensor into a
    height map: a (rows, columns) float32 array of Z in mm, NaN where
    nothing was measured, and its ScanGrid. Columns lie on a regular X grid
    (`x_step` mm, default the sensor's own spacing), each cell interpolated
    linearly between the two neighbouring points around it. Rows are
    `pitch` mm apart, one per profile, or with `speed` (mm/s) follow the
    profiles' receive times, so a profile lost on the way leaves a row of
    NaN. With neither, a pitch of 1 mm. Raises vorex.Error when no profile
    comes for `idle` seconds. The sensor must be connected."""
    if pitch is not None and speed is not None:
        raise ValueError("scan takes a pitch or a speed, not both")
    if pitch is None and speed is None:
        pitch = 1.0
    heights, grid = sensor._scan(count, pitch or 0.0, speed or 0.0, 0.0 if x_step is None else x_step, idle)
    return heights, ScanGrid(**grid)
