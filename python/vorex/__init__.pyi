from contextlib import AbstractContextManager

from ._vorex import (GROUPS as GROUPS, IMAGE_SHAPE as IMAGE_SHAPE, LOG_RECORD_SIZE as LOG_RECORD_SIZE,
                     MAX_LOG_RECORDS as MAX_LOG_RECORDS, PARAMS_SIZE as PARAMS_SIZE, DeviceInfo as DeviceInfo,
                     Error as Error, Profile as Profile, Sensor as Sensor, cleanup as cleanup, init as init,
                     search as search, version as version)

def library() -> AbstractContextManager[None]:
    """init() on entry, cleanup() on exit."""
