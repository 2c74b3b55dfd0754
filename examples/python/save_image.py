#!/usr/bin/python3
"""Fetches the first sensor's image and saves it as a grey PNG.
Usage: save_image.py [OUT.png]"""
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt

import vorex

out = sys.argv[1] if len(sys.argv) > 1 else "image.png"
with vorex.library():
    sensors = vorex.search(rounds=3)
    if not sensors:
        sys.exit("no sensor found")
    with sensors[0] as sensor:
        image = sensor.get_image()  # (488, 648) uint8
plt.imsave(out, image, cmap="gray", vmin=0, vmax=255)
print(f"{out}: {image.shape[1]} x {image.shape[0]}, mean grey {image.mean():.1f}")
