import struct

import pytest

import vorex


def test_log_reads_the_sensors_records(sensor):
    n = sensor.read_log_record_count()
    assert n >= 1
    records = sensor.read_log(0, n)
    assert len(records) == n and all(len(r) == vorex.LOG_RECORD_SIZE == 136 for r in records)
    sequence, _, code = struct.unpack_from("<IIH", records[0])
    assert (sequence, code) == (0, 1)
    assert records[0][10:].rstrip(b"\0") == b"power on, serial 1001"
    for count in (0, 241):
        with pytest.raises(ValueError):
            sensor.read_log(0, count)


def test_a_read_past_the_end_of_the_log_says_so(sensor):
    n = sensor.read_log_record_count()
    with pytest.raises(vorex.Error, match=f"^index {n + 5} is past the end of the log \\({n} records\\)$"):
        sensor.read_log(n + 5, 1)
