#!/usr/bin/python3
"""Reads one parameter group of the first sensor, changes one byte, writes
it back and has the sensor persist it. Usage: param_group.py [GROUP [OFFSET VALUE]]"""
import sys

import vorex

group = sys.argv[1] if len(sys.argv) > 1 else "laser"
offset = int(sys.argv[2]) if len(sys.argv) > 2 else 0
value = int(sys.argv[3], 0) if len(sys.argv) > 3 else None

with vorex.library():
    sensors = vorex.search(rounds=3)
    if not sensors:
        sys.exit("no sensor found")
    with sensors[0] as sensor:
        data = bytearray(sensor.read_group(group))
        print(f"{group} ({len(data)} bytes): {data.hex(' ')}")
        data[offset] = (data[offset] + 1) % 256 if value is None else value
        sensor.write_group(group, data)
        sensor.flush_params()
        assert sensor.read_group(group) == data
        print(f"byte {offset} is now {data[offset]:#04x}; written and persisted")
