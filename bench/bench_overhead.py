"""What the Python layer adds to the native call, per call, on one core.

For ``strandify.polygon_centerlines(g).to_shapely()`` over the DejaVu glyph outlines and the
Natural Earth countries of bench_polygons.py, and for ``strandify.centerlines(d)`` over the 50
glyph sketches of bench_targets.py: the CPU time of all calls, the part of it spent inside the
native function they make (timed by wrapping it), and the difference per call: the Python
layer.  Best of ``--repeats`` passes (7).  ``--profile`` prints the cProfile of 20 passes over
the glyph outlines instead, ``--profile-strokes`` that of 20 passes over the glyph sketches.
Not a test: the figures depend on the machine.
Run ``python bench/bench_overhead.py [--repeats N] [--profile | --profile-strokes]``.
"""

from __future__ import annotations

import os

for _name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_name, "1")

import argparse  # noqa: E402
import cProfile  # noqa: E402
import math  # noqa: E402
import pstats  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402
import warnings  # noqa: E402
from collections.abc import Callable  # noqa: E402
from typing import Any  # noqa: E402

import strandify  # noqa: E402
from strandify import _native  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_polygons import country_shapes, glyph_shapes  # noqa: E402
from bench_targets import BD, FS, glyph_sketches  # noqa: E402

NATIVE = [0.0]


def timed(name: str) -> Callable[[], None]:
    """Wrap ``_native.<name>`` (which the package modules call through the module) so that its
    CPU time adds up in NATIVE; returns the function that puts it back."""
    original = getattr(_native, name)

    def call(*args: Any) -> Any:
        start = time.process_time()
        try:
            return original(*args)
        finally:
            NATIVE[0] += time.process_time() - start

    setattr(_native, name, call)
    return lambda: setattr(_native, name, original)


def measure(name: str, items: list[Any], run: Callable[[Any], Any], native: str, repeats: int) -> None:
    restore = timed(native)
    best_total = best_native = math.inf
    try:
        for _ in range(repeats):
            NATIVE[0] = 0.0
            start = time.process_time()
            for item in items:
                run(item)
            total = time.process_time() - start
            best_total = min(best_total, total)
            best_native = min(best_native, NATIVE[0])
    finally:
        restore()
    python = best_total - best_native
    print(f"{name:<28}{len(items):>6}{best_total * 1e3:>10.1f}{best_native * 1e3:>10.1f}"
          f"{python * 1e3:>10.1f}{100 * python / best_total:>8.0f}%{python / len(items) * 1e6:>10.1f}")


def profile_passes(items: list[Any], run: Callable[[Any], Any]) -> None:
    """Print the cProfile of 20 passes of ``run`` over ``items``, by own time."""
    profile = cProfile.Profile()
    profile.enable()
    for _ in range(20):
        for item in items:
            run(item)
    profile.disable()
    pstats.Stats(profile).sort_stats("tottime").print_stats(25)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=7)
    parser.add_argument("--profile", action="store_true")
    parser.add_argument("--profile-strokes", action="store_true")
    args = parser.parse_args()
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})
    warnings.simplefilter("ignore")
    glyphs = [g for _, g, _ in glyph_shapes()]
    if args.profile:
        profile_passes(glyphs, lambda g: strandify.polygon_centerlines(g).to_shapely())
        return
    if args.profile_strokes:
        profile_passes(glyph_sketches(), lambda d: strandify.centerlines(d, BD, FS))
        return
    countries = [g for _, g, _ in country_shapes()]
    sketches = glyph_sketches()
    print(f"{'calls':<28}{'n':>6}{'total ms':>10}{'native':>10}{'python':>10}{'share':>9}{'us/call':>10}")
    measure("polygons: DejaVu glyphs", glyphs, lambda g: strandify.polygon_centerlines(g).to_shapely(),
            "strandify_polygons_arrays", args.repeats)
    measure("polygons: countries", countries, lambda g: strandify.polygon_centerlines(g).to_shapely(),
            "strandify_polygons_arrays", args.repeats)
    measure("strokes: glyph sketches", sketches, lambda d: strandify.centerlines(d, BD, FS),
            "strandify_strokes_arrays", args.repeats)


if __name__ == "__main__":
    main()
