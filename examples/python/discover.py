#!/usr/bin/python3
"""Finds the sensors reachable from this host and prints what each reports."""
import vorex

with vorex.library():
    sensors = vorex.search(rounds=3)
    for s in sensors:
        i = s.info
        print(f"serial {i.serial}  ip {i.ip}/{i.mask}  mac {i.mac}  "
              f"service port {i.service_port}  data port {i.data_port}")
    print(f"{len(sensors)} sensor(s)")
