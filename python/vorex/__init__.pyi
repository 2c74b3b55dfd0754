from contextlib import AbstractContextManager
from typing import List, NamedTuple, Optional, Tuple

import numpy as np
import numpy.typing as npt

from ._vorex import (GROUPS as GROUPS, IMAGE_SHAPE as IMAGE_SHAPE, LOG_RECORD_SIZE as LOG_RECORD_SIZE,
                     MAX_LOG_RECORDS as MAX_LOG_RECORDS, PARAMS_SIZE as PARAMS_SIZE, DeviceInfo as DeviceInfo,
                     Error as Error, Profile as Profile, ProfileBatch as ProfileBatch, Sensor as Sensor, cleanup as cleanup, init as init,
                     version as version)

def search(rounds: int = 1) -> List[Sensor]:
    """Discovers sensors; with rounds > 1, searches again while nobody answered."""
def library() -> AbstractContextManager[None]:
    """init() on entry, cleanup() on exit."""

class ScanGrid(NamedTuple):
    """Column c at X = x_origin + c * x_step, row r at Y = r * y_step (mm)."""
    x_origin: float
    x_step: float
    y_step: float
    profiles: int
    lost: int
    def x(self, columns: int) -> npt.NDArray[np.float64]: ...

def scan(sensor: Sensor, count: int, pitch: Optional[float] = None, speed: Optional[float] = None,
         x_step: Optional[float] = None, idle: float = 5.0) -> Tuple[npt.NDArray[np.float32], ScanGrid]:
    """count profiles stacked into a (rows, columns) float32 height map (NaN missing) and its grid."""
