"""The film's lightness (L*) over time, with the shots' beginnings marked.

    PYTHONPATH=build/python /usr/bin/python3 examples/lightness.py VIDEO [PNG]

Writes PNG (default VIDEO-lightness.png): each picture's L* (0 black to
100 white, of its mean colour in linear light) against its time, a solid
line at every cut and a dashed one at every gradual transition.
"""
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import reelmeter


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    video = sys.argv[1]
    output = sys.argv[2] if len(sys.argv) == 3 else video + "-lightness.png"
    run = reelmeter.analyse(video, shots=True)
    pictures, shots = run.pictures, run.shots

    fig, ax = plt.subplots(figsize=(8, 3), dpi=100)
    ax.plot(pictures["time"], pictures["L"], color="black", linewidth=1)
    # The first shot begins the film: its transition is empty.
    for start, transition in zip(shots["start"], shots["transition"]):
        if transition:
            ax.axvline(start, color="tab:red", linewidth=0.8,
                       linestyle="-" if transition == "cut" else "--")
    ax.set_xlim(pictures["time"].min(), run.info["duration"] or pictures["time"].max())
    ax.set_ylim(0, 100)
    ax.set_xlabel("time (s)")
    ax.set_ylabel("L*")
    ax.set_title("Lightness; cuts solid, gradual transitions dashed", fontsize=10)
    fig.tight_layout()
    fig.savefig(output)
    print(output)


if __name__ == "__main__":
    main()
