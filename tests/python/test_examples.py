"""The scripts in examples/ run on a small video and each draws its picture."""

import os
import pathlib
import subprocess
import sys

import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    # Two shots joined by a cut, so the shot scripts have more than one.
    path = tmp_path_factory.mktemp("films")
    subprocess.run(
        ["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:size=64x48:rate=25:d=1",
         "-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25:d=1", "-filter_complex",
         "[0][1]concat=n=2", "-pix_fmt", "yuv420p", str(path / "clip.mkv")],
        check=True)
    return path


@pytest.mark.parametrize("script, on_folder", [
    ("lightness.py", False), ("shot_colours.py", False), ("strips_side_by_side.py", True)])
def test_example_draws_a_png(folder, tmp_path, script, on_folder):
    output = tmp_path / "out.png"
    source = folder if on_folder else folder / "clip.mkv"
    subprocess.run([sys.executable, str(EXAMPLES / script), str(source), str(output)],
                   check=True, env=os.environ)
    assert output.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert output.stat().st_size > 1000
