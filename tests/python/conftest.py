import math
import pathlib
import random
import sys

import pytest

from strandify.options import NativeOptions

# the fuzzers and the corpus of real files they share
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "fuzz"))


def line(x0, y0, x1, y1, n=40):
    """A straight stroke sampled at n points, as a list of (x, y) tuples."""
    return [(x0 + (x1 - x0) * i / (n - 1), y0 + (y1 - y0) * i / (n - 1)) for i in range(n)]


def circle(cx, cy, r, n=120, closed=True):
    pts = [(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n)) for i in range(n)]
    return pts + [pts[0]] if closed else pts


@pytest.fixture
def stroke():
    return [line(0.0, 0.0, 20.0, 0.0)]


def batch_failure(index, reason):
    """A ValueError as strandify_batch raises it for a failing job: text plus attributes."""
    error = ValueError(f"strandify_batch job {index} failed: {reason}")
    error.job_index = index
    error.reason = reason
    return error


def scribble(n, step=0.1, scale=1.0, seed=7):
    """A random walk that keeps coming back over itself: its union is long."""
    r = random.Random(seed)
    x = y = 0.0
    out = []
    for _ in range(n):
        x += r.gauss(0, step)
        y += r.gauss(0, step)
        out.append((x * scale, y * scale))
    return out


#: The `options` value of the native calls beyond the exact four: every field at its default
#: (workers None: one thread; in a batch, no cap) but for those given.
native_options = NativeOptions


@pytest.fixture(scope="session")
def real_files(tmp_path_factory):
    """The corpus of real files (tests/fuzz/file_corpus.py): its directory and its entries."""
    import file_corpus

    directory = tmp_path_factory.mktemp("real-files")
    return directory, file_corpus.at(directory)


def kanjivg_strokes(char):
    """The strokes of a KanjiVG character, as the reader gives them (skips without kanjivg)."""
    from importlib import metadata

    from strandify.formats import read_drawing

    try:
        files = [f for f in metadata.files("kanjivg") or [] if str(f) == f"kanji/{ord(char):05x}.svg"]
    except metadata.PackageNotFoundError:
        pytest.skip("kanjivg is not installed")
    if not files:
        pytest.skip("kanjivg has no such file")
    return read_drawing(pathlib.Path(str(files[0].locate()))).curves
