#!/usr/bin/python3
"""Scans the part moving under the first sensor found and shows the height
map with Matplotlib's imshow. Usage: scan_part.py [SPEED_MM_S [OUT.png]]
(try it with `vorex-sim --scene part --speed 100`)."""
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import numpy as np

import vorex

speed = float(sys.argv[1]) if len(sys.argv) > 1 else 100.0
out = sys.argv[2] if len(sys.argv) > 2 else "scan.png"
with vorex.library():
    sensors = vorex.search(rounds=3)
    if not sensors:
        sys.exit("no sensor found")
    with sensors[0] as sensor:
        heights, grid = vorex.scan(sensor, 600, speed=speed)

rows, columns = heights.shape
x = grid.x(columns)
extent = (x[0], x[-1], (rows - 1) * grid.y_step, 0)  # Y grows down the picture, as the part travels
fig, ax = plt.subplots(figsize=(6, 7))
image = ax.imshow(heights, extent=extent, cmap="viridis_r", interpolation="nearest")  # NaN stays blank
ax.set_xlabel("X (mm)")
ax.set_ylabel("Y, travel (mm)")
ax.set_title(f"{grid.profiles} profiles, {grid.lost} lost")
fig.colorbar(image, ax=ax, label="Z, distance from the sensor (mm)")
fig.savefig(out, dpi=100)
print(f"{out}: {columns} x {rows} cells, Z {np.nanmin(heights):.2f} to {np.nanmax(heights):.2f} mm")
