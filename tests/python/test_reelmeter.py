# The Python module against the batch tool's own files: same numbers, same
# pixels, and the module's own behaviour (progress, errors, threads).
import concurrent.futures
import csv
import math
import os
import signal
import subprocess
import threading

import matplotlib.image
import numpy
import pytest

import reelmeter

BATCH = os.environ["REELMETER_BATCH"]


@pytest.fixture(scope="module")
def film(tmp_path_factory):
    """Four seconds with noise, a fast pan, a cut to a dark scene and a title."""
    path = tmp_path_factory.mktemp("film") / "film.mp4"
    scenes = ("testsrc2=s=160x90:r=25:d=2,noise=alls=12:allf=t,"
              "scroll=h=0.02[a];"
              "color=c=0x101830:s=160x90:r=25:d=2,noise=alls=8:allf=t,"
              "drawbox=x=40:y=35:w=80:h=20:c=white:t=fill[b];"
              "[a][b]concat=n=2:v=1[v]")
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-filter_complex", scenes, "-map", "[v]",
                    "-c:v", "libx264", "-g", "12", "-pix_fmt", "yuv420p", str(path)], check=True)
    return path


def batch(film, directory, *options):
    subprocess.run([BATCH, "-q", "-o", str(directory), *options, str(film)], check=True)
    return directory / film.name


def read_csv(path):
    with open(path, newline="") as file:
        rows = list(csv.reader(file))
    return rows[0], rows[1:]


def assert_table(table, path):
    names, rows = read_csv(path)
    assert list(table) == names
    for c, name in enumerate(names):
        if table[name].dtype == object:  # words, such as the shots' transitions
            assert list(table[name]) == [row[c] or None for row in rows]
            continue
        written = [float(row[c]) if row[c] else math.nan for row in rows]
        numpy.testing.assert_array_equal(numpy.asarray(table[name], dtype=float), written)


def test_tables_and_strips_equal_the_batch_files(film, tmp_path):
    base = batch(film, tmp_path, "--csv", "--shots", "--strips", "average,quadrant,frames,palette",
                 "--format", "png")
    run = reelmeter.analyse(film, shots=True)
    arrays = run.pictures_arrays()
    assert arrays["picture"].dtype == numpy.int64 and len(arrays["picture"]) == 100
    assert_table(arrays, f"{base}-colours.csv")
    assert_table(run.shots, f"{base}-shots.csv")
    assert len(run.shots) >= 2  # the cut
    for kind, suffix in (("average", "average"), ("quadrant", "averageQuad"),
                         ("frames", "frames"), ("palette", "palette")):
        written = matplotlib.image.imread(f"{base}-{suffix}Display.png")
        strip = run.strip(kind)
        assert strip.dtype == numpy.uint8 and strip.shape == written.shape[:2] + (3,)
        numpy.testing.assert_array_equal(strip, numpy.round(written[:, :, :3] * 255))
    info = run.info
    assert (info["width"], info["height"], info["codec"], info["rotation"]) == (160, 90, "h264", 0)
    assert info["frame_rate"] == 25 and abs(info["duration"] - 4) < 0.1 and not info["hdr"]
    turned = tmp_path / "turned.mov"
    subprocess.run(["ffmpeg", "-v", "error", "-i", str(film), "-c", "copy",
                    "-metadata:s:v:0", "rotate=90", str(turned)], check=True)
    info = reelmeter.analyse(turned, sample="key").info
    assert (info["width"], info["height"], info["rotation"]) == (90, 160, 90)


def test_posters_and_sampling_equal_the_batch_files(film, tmp_path):
    # A poster's run gathers one-row bands: the full strips must give the same.
    base = batch(film, tmp_path, "--csv", "--strips", "average,quadrant", "--format", "png",
                 "--width", "37", "--height", "9", "--sample", "0.3", "--crop", "120:60:20:10",
                 "--colour", "exact")
    run = reelmeter.analyse(str(film), sample=0.3, crop=(120, 60, 20, 10), perceptual=False,
                            colour="exact", poster_width=37)
    assert "L" not in run.pictures_arrays()
    names, rows = read_csv(f"{base}-colours.csv")
    numpy.testing.assert_array_equal(run.pictures_arrays()["mood_blue"],
                                     [int(row[names.index("mood_blue")]) for row in rows])
    assert run.info["crop"] == (120, 60, 20, 10)
    key = batch(film, tmp_path / "key", "--csv", "--sample", "key", "--crop", "auto")
    assert_table(reelmeter.analyse(film, sample="key", crop="auto").pictures_arrays(),
                 f"{key}-colours.csv")
    for kind, suffix in (("average", "average"), ("quadrant", "averageQuad")):
        written = matplotlib.image.imread(f"{base}-{suffix}Display.png")
        numpy.testing.assert_array_equal(run.strip(kind, 37, 9),
                                         numpy.round(written[:, :, :3] * 255))


def test_progress_cancels_and_other_threads_run(film):
    counted = 0
    done = threading.Event()

    def count():
        nonlocal counted
        while not done.is_set():
            counted += 1

    counter = threading.Thread(target=count)
    counter.start()
    seen = []
    try:
        start = counted
        run = reelmeter.analyse(film, progress=lambda f, n: seen.append((f, n)))
        advanced = counted - start
    finally:
        done.set()
        counter.join()
    assert advanced > 0
    assert seen[-1] == (1.0, 100) and run.info["pictures"] == 100
    with pytest.raises(reelmeter.CancelledError):
        reelmeter.analyse(film, progress=lambda f, n: False)
    with pytest.raises(KeyboardInterrupt):
        reelmeter.analyse(film, progress=lambda f, n: signal.raise_signal(signal.SIGINT))


def test_two_threads_give_what_one_at_a_time_gives(film, tmp_path):
    other = tmp_path / "other.mp4"
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", str(film), "-vf", "hue=h=120,vflip",
                    "-c:v", "libx264", str(other)], check=True)
    alone = [reelmeter.analyse(video, shots=True) for video in (film, other)]
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        together = list(pool.map(lambda video: reelmeter.analyse(video, shots=True),
                                 (film, other)))
    for one, two in zip(alone, together):
        for name, column in one.pictures_arrays().items():
            numpy.testing.assert_array_equal(column, two.pictures_arrays()[name])
        numpy.testing.assert_array_equal(one.strip("palette"), two.strip("palette"))


def test_errors_name_the_reason_or_argument(film, tmp_path):
    with pytest.raises(FileNotFoundError):
        reelmeter.analyse(tmp_path / "missing.mp4")
    text = tmp_path / "notes.mp4"
    text.write_text("not a film")
    with pytest.raises(reelmeter.NotAVideoError, match="not a video"):
        reelmeter.analyse(text)
    for arguments, error, argument in (({"sample": "often"}, ValueError, "sample"),
                                       ({"sample": 0}, ValueError, "sample"),
                                       ({"sample": None}, TypeError, "sample"),
                                       ({"crop": (1, 2, 3)}, ValueError, "crop"),
                                       ({"crop": (500, 90, 0, 0)}, ValueError, "crop"),
                                       ({"max_pixels": 0}, ValueError, "max_pixels"),
                                       ({"colour": "true"}, ValueError, "colour")):
        with pytest.raises(error, match=argument):
            reelmeter.analyse(film, **arguments)
    run = reelmeter.analyse(film, sample="key")
    for kind, arguments, argument in (("shots", {}, "shots=True"), ("sky", {}, "kind"),
                                      ("average", {"mean": "linear"}, "mean"),
                                      ("average", {"width": 0}, "width")):
        with pytest.raises(ValueError, match=argument):
            run.strip(kind, **arguments)
