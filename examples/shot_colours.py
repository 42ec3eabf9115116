"""Hue and chroma of every shot as a polar scatter.

    PYTHONPATH=build/python /usr/bin/python3 examples/shot_colours.py VIDEO [PNG]

Writes PNG (default VIDEO-shot-colours.png): one dot per shot at the hue
angle of its mean L*a*b* colour and at its chroma's distance from the centre,
drawn in the shot's average colour and sized by the shot's length.
"""
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import numpy as np
import reelmeter


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    video = sys.argv[1]
    output = sys.argv[2] if len(sys.argv) == 3 else video + "-shot-colours.png"
    shots = reelmeter.analyse(video, shots=True).shots

    # The shots table has a*, b* but no polar columns: hue and chroma as the
    # per-picture table computes them.
    hue = np.arctan2(shots["b"], shots["a"])
    chroma = np.hypot(shots["a"], shots["b"])
    colours = shots[["red", "green", "blue"]].to_numpy() / 255.0
    seconds = shots["end"] - shots["start"]

    fig = plt.figure(figsize=(4, 4), dpi=100)
    ax = fig.add_subplot(projection="polar")
    ax.scatter(hue, chroma, s=20 + 40 * seconds, c=colours, edgecolors="black",
               linewidths=0.5)
    ax.set_title("Shots: hue (angle) and chroma (radius)", fontsize=10)
    fig.tight_layout()
    fig.savefig(output)
    print(output)


if __name__ == "__main__":
    main()
