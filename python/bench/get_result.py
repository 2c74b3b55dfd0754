#!/usr/bin/python3
"""The cost of one get_result from Python beside the same call from C++.

Both take a type 19 profile (1296 points) that already waits in the socket:
batches of 10 are sent untimed on loopback and then taken timed. Python's
figure includes making the Profile and copying its points into the array;
C++'s fills a reused vorex_profile. get_results takes each batch in one
call into one array of points. Beside them, a bare receive of the same
datagram in each language. The figures are the calling thread's CPU time
per call, which a busy machine's scheduling disturbs far less than wall
time. Loopback only.
Usage: PYTHONPATH=build/vorex/python /usr/bin/python3 python/bench/get_result.py [BUILD] [ROUNDS] [--json FILE]
With --json, also writes the two Python rows for bench/report.py."""
import json
import pathlib
import socket
import struct
import subprocess
import sys
import time

import vorex

JSON = sys.argv[sys.argv.index("--json") + 1] if "--json" in sys.argv else None
ARGS = [a for i, a in enumerate(sys.argv[1:], 1) if a != "--json" and sys.argv[i - 1] != "--json"]
BUILD = pathlib.Path(ARGS[0] if ARGS else "build/vorex")
ROUNDS = int(ARGS[1]) if len(ARGS) > 1 else 2000
BATCH = 10


def per_call(port, datagram, take, calls=BATCH):
    """CPU time per profile: BATCH datagrams sent, then `take` called `calls` times."""
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    spent = 0
    for _ in range(ROUNDS):
        for _ in range(BATCH):
            sender.sendto(datagram, ("127.0.0.1", port))
        t0 = time.thread_time_ns()
        for _ in range(calls):
            if not take():
                sys.exit("a datagram was lost; rerun on a quieter machine")
        spent += time.thread_time_ns() - t0
    sender.close()
    return spent / (ROUNDS * BATCH)


datagram = subprocess.run([BUILD / "python" / "vorex-py-oracle", "profile", "19", "0"], stdout=subprocess.PIPE,
                          check=True).stdout
bare = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
bare.bind(("127.0.0.1", 0))
bare.settimeout(0.1)
buffer = bytearray(5248)
floor = per_call(bare.getsockname()[1], datagram, lambda: bare.recv_into(buffer) == len(datagram))

probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
probe.bind(("127.0.0.1", 0))
data_port = probe.getsockname()[1]
probe.close()
record = bytearray(524)
record[140:144] = socket.inet_aton("127.0.0.1")
record[144:148] = socket.inet_aton("255.0.0.0")
struct.pack_into("<HH", record, 156, data_port, 0)
struct.pack_into("<H", record, 160, 9)
with vorex.library(), vorex.Sensor(bytes(record)) as sensor:
    python = per_call(data_port, datagram, lambda: sensor.get_result() is not None)
    batched = per_call(data_port, datagram, lambda: len(sensor.get_results(BATCH)) == BATCH, calls=1)

cpp = subprocess.run([BUILD / "python" / "vorex-bench-get-result", str(ROUNDS)], stdout=subprocess.PIPE, text=True,
                     check=True).stdout
print(cpp, end="")
cpp_ns = float(cpp.split("C++ get_result")[1].split()[0])
print(f"Python recv_into   {floor:8.0f} ns/call")
print(f"Python get_result  {python:8.0f} ns/call ({python / cpp_ns:.2f}x C++ get_result, "
      f"+{python - cpp_ns:.0f} ns per profile)")
print(f"Python get_results {batched:8.0f} ns/profile ({batched / cpp_ns:.2f}x C++ get_result, "
      f"batches of {BATCH}, GIL released for each)")
if JSON:
    rows = [{"name": "python_get_result", "value": python, "floor": cpp_ns},
            {"name": "python_get_results", "value": batched, "floor": cpp_ns}]
    with open(JSON, "w") as f:
        json.dump({"benchmarks": rows}, f)
