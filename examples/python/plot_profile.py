#!/usr/bin/python3
"""Streams profiles from the first sensor found for a second and plots the
last one with Matplotlib. Usage: plot_profile.py [OUT.png]"""
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt

import vorex

out = sys.argv[1] if len(sys.argv) > 1 else "profile.png"
with vorex.library():
    sensors = vorex.search(rounds=3)
    if not sensors:
        sys.exit("no sensor found")
    with sensors[0] as sensor:
        profiles = list(sensor.profiles(duration=1.0))
if not profiles:
    sys.exit("no profile arrived")
profile = profiles[-1]
x, z = profile.points[:, 0], profile.points[:, 1]
fig, ax = plt.subplots(figsize=(8, 4))
ax.plot(x, z, ".", markersize=2)
ax.invert_yaxis()  # Z grows away from the sensor
ax.set_xlabel("x")
ax.set_ylabel("z")
ax.set_title(f"profile of type {profile.data_type}: {len(profile)} points ({len(profiles)} received in 1 s)")
fig.savefig(out, dpi=100)
print(f"{out}: {len(profile)} points")
