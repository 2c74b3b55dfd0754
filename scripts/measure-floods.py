#!/usr/bin/env python3
"""Service waits against stray datagrams, in real time, on loopback.

A scripted sensor answers a group read (wait limit 3000 ms) in three ways:
  backlog  the session's socket receive buffer filled with 20-byte datagrams
           the moment the request arrives, the answer the last of them;
  burst    20-byte datagrams for 2 s without pause, the answer at 2.5 s;
  flood    20-byte datagrams for ever, no answer: the wait ends at its bound.
Prints the result and the time each read took.
Usage: PYTHONPATH=build/vorex/python scripts/measure-floods.py
"""
import socket
import struct
import threading
import time

import vorex

SERIAL = 0x01020304
JUNK = bytes(20)


def record(service_port, data_port):
    r = bytearray(524)
    struct.pack_into("<I", r, 66, SERIAL)
    r[140:144] = socket.inet_aton("127.0.0.1")
    r[144:148] = socket.inet_aton("255.0.0.0")
    struct.pack_into("<H", r, 156, data_port)
    struct.pack_into("<H", r, 160, service_port)
    return bytes(r)


def answer_to(request):
    """The 206-byte reply of a general group read, no acknowledgement asked."""
    header = bytearray(request[:14])
    header[0] = 0x14
    struct.pack_into("<H", header, 12, 192)
    return bytes(header) + bytes(range(192))


def run(case):
    sensor = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sensor.bind(("127.0.0.1", 0))
    data = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    data.bind(("127.0.0.1", 0))
    session = vorex.Sensor(record(sensor.getsockname()[1], data.getsockname()[1]), 0)
    data.close()
    session.connect()
    done = threading.Event()

    def sensor_side():
        request, session_port = sensor.recvfrom(2048)
        start = time.monotonic()
        if case == "backlog":
            # A default receive buffer holds 256 such datagrams: the
            # answer is the last one it takes.
            for _ in range(255):
                sensor.sendto(JUNK, session_port)
            sensor.sendto(answer_to(request), session_port)
        elif case == "burst":
            while time.monotonic() - start < 2.0:
                sensor.sendto(JUNK, session_port)
            time.sleep(0.5)
            sensor.sendto(answer_to(request), session_port)
        else:
            while not done.is_set():
                sensor.sendto(JUNK, session_port)

    worker = threading.Thread(target=sensor_side)
    worker.start()
    start = time.monotonic()
    try:
        session.read_group("general")
        result = "true"
    except vorex.Error as e:
        result = f"false ({e})"
    took = time.monotonic() - start
    done.set()
    worker.join()
    session.disconnect()
    sensor.close()
    return result, took


def main():
    vorex.init()
    try:
        for case in ("backlog", "burst", "flood"):
            result, took = run(case)
            print(f"{case:8s} read_general_params: {result}, {took * 1000:.0f} ms")
    finally:
        vorex.cleanup()


if __name__ == "__main__":
    main()
