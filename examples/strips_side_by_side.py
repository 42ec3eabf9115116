"""The average-colour strips of every video in a folder, one above another.

    PYTHONPATH=build/python /usr/bin/python3 examples/strips_side_by_side.py FOLDER [PNG]

Writes PNG (default FOLDER/strips.png): each video's strip at the same width,
so films of different lengths compare by their share of the running time.
Files that are not videos are left out with a note.
"""
import pathlib
import sys

import matplotlib

matplotlib.use("Agg")  # no display needed
import matplotlib.pyplot as plt
import reelmeter


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    folder = pathlib.Path(sys.argv[1])
    output = pathlib.Path(sys.argv[2]) if len(sys.argv) == 3 else folder / "strips.png"
    strips = []
    for path in sorted(p for p in folder.iterdir() if p.is_file() and p != output):
        try:
            strips.append((path.name, reelmeter.analyse(path).strip("average", 800, 60)))
        except reelmeter.NotAVideoError as error:
            print(f"{path.name}: left out ({error})", file=sys.stderr)
    if not strips:
        sys.exit(f"{folder}: no videos")

    fig, axes = plt.subplots(len(strips), 1, figsize=(8, 0.8 * len(strips) + 0.4),
                             dpi=100, squeeze=False)
    for ax, (name, strip) in zip(axes[:, 0], strips):
        ax.imshow(strip, aspect="auto")
        ax.set_title(name, fontsize=9, loc="left")
        ax.axis("off")
    fig.tight_layout()
    fig.savefig(output)
    print(output)


if __name__ == "__main__":
    main()
