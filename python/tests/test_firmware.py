import math
import struct

import pytest

import vorex

CHUNK = 1276
FIRMWARE_CHECKED, FIRMWARE_COMMITTED = 4, 5


def last_log_code(sensor):
    n = sensor.read_log_record_count()
    return struct.unpack_from("<H", sensor.read_log(n - 1, 1)[0], 8)[0]


def test_upload_reports_progress_per_chunk_and_commits(sensor, tmp_path):
    path = tmp_path / "firmware.bin"
    path.write_bytes(bytes(i * 7 % 251 for i in range(5000)))
    calls = []
    sensor.write_firmware_image(path, progress=lambda done, total: calls.append((done, total)))
    assert calls == [(min(CHUNK * (i + 1), 5000), 5000) for i in range(math.ceil(5000 / CHUNK))]
    assert last_log_code(sensor) == FIRMWARE_CHECKED
    sensor.flush_firmware_image()
    assert last_log_code(sensor) == FIRMWARE_COMMITTED


def test_what_progress_raises_comes_out_after_the_upload(sensor, tmp_path):
    path = tmp_path / "firmware.bin"
    path.write_bytes(bytes(3000))
    # Calling the library from the callable would wait for the lock the
    # upload holds; it is refused instead, and the upload still completes.
    with pytest.raises(vorex.Error, match="progress"):
        sensor.write_firmware_image(str(path), progress=lambda done, total: sensor.read_log_record_count())
    assert last_log_code(sensor) == FIRMWARE_CHECKED
