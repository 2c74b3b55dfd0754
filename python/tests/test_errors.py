import struct
import threading

import pytest

import vorex
from conftest import make_record


@pytest.mark.parametrize("operation, call, message", [
    ("write_firmware_image", lambda s, tmp: s.write_firmware_image(tmp / "missing.bin"), "Failed to open specified file"),
    ("reset_params", lambda s, tmp: s.reset_params(), "Not implemented"),
])
def test_failures_raise_with_the_librarys_text(sensor, tmp_path, operation, call, message):
    with pytest.raises(vorex.Error) as raised:
        call(sensor, tmp_path)
    assert str(raised.value) == message == sensor.error_msg()
    assert raised.value.operation == operation


def test_malformed_profile_raises_and_short_one_is_none(scripted):
    scripted.send_profile(bytes([20]) + bytes(2655))
    with pytest.raises(vorex.Error, match="^Malformed packet$"):
        scripted.session.get_result()
    scripted.send_profile(bytes([16]) + bytes(62))
    assert scripted.session.get_result() is None


@pytest.mark.parametrize("operation, call, message", [
    ("read_laser_params", lambda s: s.read_group("laser"), "no reply from the sensor within 3000 ms"),
    ("read_params", lambda s: s.read_params(), "no reply from the sensor within 100 ms"),
    ("read_log_record_count", lambda s: s.read_log_record_count(), "no reply from the sensor within 100 ms"),
    # No datagram at all is an image that did not arrive, not a black one.
    ("get_image", lambda s: s.get_image(), "no complete image from the sensor"),
])
def test_silence_says_what_the_library_leaves_as_no_error(scripted, operation, call, message):
    with pytest.raises(vorex.Error) as raised:
        call(scripted.session)
    assert str(raised.value) == message
    assert scripted.session.error_msg() == "No error"
    assert raised.value.operation == operation


def test_unusable_firmware_files_are_refused_before_anything_is_sent(scripted, tmp_path):
    (tmp_path / "empty.bin").write_bytes(b"")
    for path, message in ((tmp_path, f"{tmp_path} is a directory, not a firmware file"),
                          (tmp_path / "empty.bin", f"{tmp_path / 'empty.bin'} is empty: there is no firmware to upload")):
        with pytest.raises(vorex.Error) as raised:
            scripted.session.write_firmware_image(path)
        assert (str(raised.value), raised.value.operation) == (message, "write_firmware_image")
    assert scripted.receive(0.2) is None


def test_search_before_init_raises():
    with pytest.raises(vorex.Error, match=r"^the library is not running: call vorex.init\(\) first or use "
                                          r"vorex.library\(\)$") as raised:
        vorex.search()
    assert raised.value.operation == "search"


def test_calls_outside_init_and_before_connect_raise(scripted):
    vorex.cleanup()
    try:
        with pytest.raises(vorex.Error, match="not running"):
            scripted.session.read_group("laser")
    finally:
        vorex.init()
    scripted.session.disconnect()
    with pytest.raises(vorex.Error, match="not connected"):
        scripted.session.get_result()


@pytest.mark.parametrize("record", [memoryview(make_record(1, 2, 3))[::-1],
                                    memoryview(make_record(1, 2, 3) * 2)[::2]])
def test_device_records_must_be_contiguous(record):
    with pytest.raises(TypeError, match="C-contiguous"):
        vorex.DeviceInfo(record)
    with pytest.raises(TypeError, match="C-contiguous"):
        vorex.Sensor(record)


def test_cleanup_is_refused_while_another_thread_waits_in_the_library(scripted):
    result = {}
    waiter = threading.Thread(target=lambda: result.update(block=scripted.session.read_params()))
    waiter.start()
    got = scripted.receive(5)  # the request is out: the call waits for its reply
    assert got is not None
    with pytest.raises(vorex.Error, match="other threads are still inside the library") as raised:
        vorex.cleanup()
    assert raised.value.operation == "cleanup"
    request, host = got
    scripted.socket.sendto(bytes([0]) + request[1:12] + struct.pack("<H", 1400) + bytes(1400), host)
    waiter.join(10)
    assert result.get("block") == bytes(1400)
