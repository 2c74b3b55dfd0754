"""Type stubs of the compiled part of vorex."""
import os
from typing import Callable, Dict, Iterator, List, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

_Bytes = Union[bytes, bytearray, memoryview]  # C-contiguous: a reversed or strided view raises TypeError

GROUPS: Dict[str, int]
"""Parameter group names and their sizes in bytes, in block order."""
PARAMS_SIZE: int
"""1400: the whole parameter block."""
IMAGE_SHAPE: Tuple[int, int]
"""(488, 648): rows and columns of get_image()."""
LOG_RECORD_SIZE: int
MAX_LOG_RECORDS: int

class Error(RuntimeError):
    """A library operation failed. str(error) is the library's message, or
    what the failure means where the library leaves 'No error' ("no reply
    from the sensor within 3000 ms", "no complete image from the sensor")."""
    operation: str

def version() -> int:
    """0x13041600. Needs no init()."""
def init() -> bool:
    """Starts the library; True when the socket layer started."""
def cleanup() -> None:
    """Frees what init() set up. Raises Error while another thread is inside a call of this module."""
def search() -> List[Sensor]:
    """Discovers the sensors reachable from the host's IPv4 addresses (broadcast), one round.
    Raises Error before init() (or outside vorex.library())."""

class DeviceInfo:
    """The 524-byte device record of a sensor."""
    def __init__(self, record: _Bytes) -> None: ...
    @property
    def serial(self) -> int: ...
    @property
    def ip(self) -> str:
        """Dotted IPv4 address."""
    @property
    def mask(self) -> str: ...
    @property
    def mac(self) -> str:
        """aa:bb:cc:dd:ee:ff"""
    @property
    def data_port(self) -> int: ...
    @property
    def service_port(self) -> int: ...
    @property
    def image_packet_size(self) -> int: ...
    @property
    def raw(self) -> bytes:
        """All 524 bytes."""

class Profile:
    """One profile: the 64 header bytes and the decoded points."""
    @property
    def header(self) -> bytes: ...
    @property
    def points(self) -> npt.NDArray[np.float64]:
        """(N, 2) array of (x, z)."""
    @property
    def raw_values(self) -> npt.NDArray[np.uint16]:
        """Every sample for data types 16 and 18; empty for 17 and 19."""
    @property
    def data_type(self) -> int: ...
    @property
    def x_scale(self) -> int: ...
    @property
    def z_scale(self) -> int: ...
    @property
    def scale_divisor(self) -> int: ...
    def __len__(self) -> int: ...

class Sensor:
    """A session with one sensor."""
    def __init__(self, record: Union[_Bytes, DeviceInfo], first_counter: int = 0) -> None: ...
    @property
    def info(self) -> DeviceInfo: ...
    @property
    def connected(self) -> bool: ...
    def cached_params(self) -> bytes: ...
    def error_msg(self) -> str: ...
    def connect(self) -> None: ...
    def disconnect(self) -> None: ...
    def __enter__(self) -> Sensor: ...
    def __exit__(self, *args: object) -> None: ...
    def read_params(self) -> bytes: ...
    def write_params(self, data: _Bytes) -> None: ...
    def flush_params(self) -> None: ...
    def reset_params(self) -> None: ...
    def reboot(self) -> None: ...
    def read_group(self, name: str) -> bytes: ...
    def write_group(self, name: str, data: _Bytes) -> None: ...
    def get_result(self) -> Optional[Profile]:
        """The next profile, or None when none came within ~100 ms."""
    def profiles(self, count: Optional[int] = None, duration: Optional[float] = None) -> Iterator[Profile]:
        """count profiles, or for duration seconds, whichever ends first."""
    def get_image(self) -> npt.NDArray[np.uint8]:
        """(488, 648) uint8."""
    def write_firmware_image(self, path: Union[str, os.PathLike[str]],
                             progress: Optional[Callable[[int, int], object]] = None) -> None: ...
    def flush_firmware_image(self) -> None: ...
    def read_log(self, index: int, count: int) -> List[bytes]: ...
    def read_log_record_count(self) -> int: ...
