from contextlib import AbstractContextManager
from typing import List

from ._vorex import (GROUPS as GROUPS, IMAGE_SHAPE as IMAGE_SHAPE, LOG_RECORD_SIZE as LOG_RECORD_SIZE,
                     MAX_LOG_RECORDS as MAX_LOG_RECORDS, PARAMS_SIZE as PARAMS_SIZE, DeviceInfo as DeviceInfo,
                     Error as Error, Profile as Profile, ProfileBatch as ProfileBatch, Sensor as Sensor, cleanup as cleanup, init as init,
                     version as version)

def search(rounds: int = 1) -> List[Sensor]:
    """Discovers sensors; with rounds > 1, searches again while nobody answered."""
def library() -> AbstractContextManager[None]:
    """init() on entry, cleanup() on exit."""
