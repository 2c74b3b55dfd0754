import struct
import threading


def test_gil_is_released_while_a_call_waits(scripted):
    """The scripted sensor answers from this thread while another waits in
    read_params: it can only do so if the waiting call let go of the GIL."""
    result = {}
    waiter = threading.Thread(target=lambda: result.update(block=scripted.session.read_params()))
    waiter.start()
    got = scripted.receive(5)
    assert got is not None
    request, host = got
    assert len(request) == 14
    payload = bytes(i % 253 for i in range(1400))
    reply = bytes([0]) + request[1:12] + struct.pack("<H", len(payload)) + payload
    scripted.socket.sendto(reply, host)
    waiter.join(10)
    assert result.get("block") == payload
