"""The speed targets of the default path, every ratio printed in one run, on one core.

1. ``strandify.centerlines`` (defaults) against a raster peer: the strokes drawn with a
   round pen of radius ``buffer_distance`` on a grid of ``feature_size / 10`` pixels (the
   resolution of the chain simplification; ``--pixels`` sets another), scikit-image
   ``skeletonize``, the skeleton traced into branches between junctions and ends (scipy
   labelling, vectorised) and the branches that end in a tip and are shorter than
   ``feature_size`` pruned.  Drawings: an overdrawn pangram (Hershey futural, every stroke
   drawn one to three times), 50 Hershey glyph sketches, 100 hanzi-like sketches, and grids
   of small sketches of 1,000 and 10,000 strokes.  Goal: 2x on each of the first four, 4x on
   the 10,000-stroke drawing.
2. ``strandify.centerlines`` (defaults) against the exact native call
   (``_internal.strandify``) on the 50 glyph sketches: what the Python layer and the default
   path add.  Goal: at most 1.10x.  Beside it, ``strandify.centerlines_batch`` (defaults,
   ``workers=1``) against the exact native batch (``_internal.strandify_batch``) on the same
   drawings, under the same goal: a batch should cost no more per drawing than single calls.
3. The default native path (``strandify_strokes_arrays`` with the default options:
   components and finishing) against the exact one on every drawing above.  Goal: at most
   1.00x.
4. ``strandify.polygon_centerlines`` against ``pygeoops.centerline`` on the DejaVu Sans
   outlines of bench_polygons.py and the Natural Earth countries.  Goal: 10x and 12x.

The two sides of every ratio run alternately in one loop (best of ``--repeats``; three times
as many for targets 2 and 4, whose passes take a tenth of a second or less, and whose best
then still moved by a tenth between runs at five), so that a change of load on the machine
hits both alike; pinned to one core, each side is timed by the CPU time of the process (all
threads), which time spent waiting for other work does not inflate.  Not a test: the figures
depend on the machine.
Run ``python bench/bench_targets.py [--repeats N] [--only 1,2,3,4] [--no-10000] [--pixels N]``.
"""

from __future__ import annotations

import os

# One thread for every library the sides use: on one core a BLAS thread pool only spins, and its
# CPU time would count against whichever side woke it.
for _name in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_name, "1")

import argparse  # noqa: E402
import math  # noqa: E402
import sys  # noqa: E402
import time  # noqa: E402
import warnings  # noqa: E402
from collections.abc import Callable, Sequence  # noqa: E402
from typing import Any  # noqa: E402

import numpy as np  # noqa: E402

import strandify  # noqa: E402
from strandify import _internal  # noqa: E402
from strandify.options import Options  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_refine import read_font, sketch  # noqa: E402  (the bench's own glyph sketches)
from bench_scale import hanzi_grid, sketches  # noqa: E402

Curve = list[tuple[float, float]]
Drawing = list[Curve]
BD = 1.0
FS = 1.0
PANGRAM = "The quick brown fox jumps over the lazy dog"


# -- drawings ---------------------------------------------------------------------------------


def pangram() -> Drawing:
    """The pangram in Hershey futural, every stroke sketched one to three times."""
    font = read_font("futural")
    out: Drawing = []
    x = 0.0
    for k, ch in enumerate(PANGRAM):
        if ch == " ":
            x += 24.0
            continue
        strokes = font[ord(ch) - 32]
        xs = [p[0] for s in strokes for p in s]
        lo, hi = min(xs), max(xs)
        moved = [[(px - lo + x, py) for px, py in s] for s in strokes]
        out.extend(sketch(moved, seed=k))
        x += hi - lo + 6.0
    return out


def glyph_sketches(count: int = 50) -> list[Drawing]:
    font = read_font("futural") + read_font("rowmans")
    return [sketch(g, seed=i) for i, g in enumerate(font[:count])]


def hanzi_sketches(count: int = 100) -> list[Drawing]:
    return [hanzi_grid(1, seed=100 + k) for k in range(count)]


# -- the raster peer --------------------------------------------------------------------------


PIXELS_PER_FEATURE = [10]  # the raster's resolution: pixels per feature_size (--pixels)


def raster_centerlines(curves: Drawing) -> int:
    """Rasterise, skeletonise, trace and prune; the number of branches kept."""
    from scipy import ndimage
    from skimage.draw import line
    from skimage.morphology import skeletonize

    px = FS / PIXELS_PER_FEATURE[0]
    pts = np.concatenate([np.asarray(c, dtype=np.float64) for c in curves])
    x0, y0 = pts.min(axis=0) - 2 * BD
    w, h = ((pts.max(axis=0) + 2 * BD - (x0, y0)) / px).astype(int) + 1
    ink = np.ones((h, w), dtype=bool)
    for c in curves:
        ij = ((np.asarray(c) - (x0, y0)) / px).astype(int)
        for (ax, ay), (bx, by) in zip(ij[:-1], ij[1:]):
            rr, cc = line(ay, ax, by, bx)
            ink[rr, cc] = False
    image = ndimage.distance_transform_edt(ink) <= BD / px
    skeleton = skeletonize(image)
    neighbours = ndimage.convolve(skeleton.astype(np.uint8), np.ones((3, 3), np.uint8), mode="constant") - 1
    junction = skeleton & (neighbours >= 3)
    branches, count = ndimage.label(skeleton & ~junction, structure=np.ones((3, 3)))
    sizes = np.bincount(branches.ravel(), minlength=count + 1)
    tips = np.bincount(branches[skeleton & (neighbours == 1)], minlength=count + 1)
    short = (sizes * px < FS) & (tips > 0)
    short[0] = False
    return int(count - short.sum())


# -- timing -----------------------------------------------------------------------------------


def alternate(sides: Sequence[Callable[[], Any]], repeats: int) -> list[float]:
    """Best time of every side, the sides run in turn ``repeats`` times."""
    best = [math.inf] * len(sides)
    for _ in range(repeats):
        for k, side in enumerate(sides):
            start = time.process_time()
            side()
            best[k] = min(best[k], time.process_time() - start)
    return best


def over(drawings: list[Drawing], run: Callable[[Drawing], Any]) -> Callable[[], None]:
    def all_of() -> None:
        for d in drawings:
            run(d)

    return all_of


def api(d: Drawing) -> Any:
    return strandify.centerlines(d, BD, FS)


def exact(d: Drawing) -> Any:
    return _internal.strandify(d, BD, FS)


DEFAULT_NATIVE = Options().native(workers=1)


def default_native(d: Drawing) -> Any:
    return _internal.strandify_strokes(d, BD, FS, DEFAULT_NATIVE)


def verdict(ratio: float, goal: float, higher: bool) -> str:
    met = ratio >= goal if higher else ratio <= goal
    return f"{'met' if met else 'MISSED'} (goal {'>=' if higher else '<='} {goal:g}x)"


def target_1_and_3(sets: dict[str, list[Drawing]], repeats: int, raster: bool) -> None:
    print("\n1. centerlines vs the raster peer   3. default native vs exact native")
    print(f"{'drawing':<22}{'points':>9}{'api s':>9}{'raster s':>10}{'raster/api':>11}"
          f"{'exact s':>9}{'default s':>10}{'default/exact':>14}")
    for name, drawings in sets.items():
        goal = 4.0 if "10000" in name else 2.0
        sides = [over(drawings, api), over(drawings, exact), over(drawings, default_native)]
        if raster:
            sides.append(over(drawings, raster_centerlines))
        times = alternate(sides, repeats)
        points = sum(len(c) for d in drawings for c in d)
        line = f"{name:<22}{points:>9}{times[0]:>9.3f}"
        line += f"{times[3]:>10.3f}{times[3] / times[0]:>11.2f}" if raster else f"{'-':>10}{'-':>11}"
        line += f"{times[1]:>9.3f}{times[2]:>10.3f}{times[2] / times[1]:>14.2f}"
        print(line)
        if raster:
            print(f"{'':<4}target 1: {times[3] / times[0]:.2f}x {verdict(times[3] / times[0], goal, True)}")
        print(f"{'':<4}target 3: {times[2] / times[1]:.2f}x {verdict(times[2] / times[1], 1.0, False)}")


def exact_job(d: Drawing) -> tuple[Any, ...]:
    """A job of the exact native batch: the drawing, its scale and every tuning left None."""
    return (d, BD, FS) + (None,) * 8


def target_2(drawings: list[Drawing], repeats: int) -> None:
    times = alternate([over(drawings, api), over(drawings, exact)], repeats)
    ratio = times[0] / times[1]
    print(f"\n2. centerlines vs the exact native call, {len(drawings)} glyph sketches: "
          f"{times[0]:.3f} s / {times[1]:.3f} s = {ratio:.2f}x {verdict(ratio, 1.10, False)}")
    jobs = [exact_job(d) for d in drawings]
    times = alternate(
        [lambda: strandify.centerlines_batch(drawings, BD, FS, workers=1), lambda: _internal.strandify_batch(jobs)],
        repeats,
    )
    ratio = times[0] / times[1]
    print(f"   centerlines_batch(workers=1) vs the exact native batch, {len(drawings)} glyph sketches: "
          f"{times[0]:.3f} s / {times[1]:.3f} s = {ratio:.2f}x {verdict(ratio, 1.10, False)}")


def target_4(repeats: int) -> None:
    import pygeoops
    from bench_polygons import country_shapes, glyph_shapes

    print("\n4. polygon_centerlines vs pygeoops.centerline")
    for name, shapes, goal in (("DejaVu glyphs", glyph_shapes(), 10.0), ("countries", country_shapes(), 12.0)):
        geoms = [g for _, g, _ in shapes]

        def ours() -> None:
            for g in geoms:
                strandify.polygon_centerlines(g).to_shapely()

        def peer() -> None:
            for g in geoms:
                try:
                    pygeoops.centerline(g)
                except Exception:  # a shape the peer refuses costs what it cost
                    pass

        t_ours, t_peer = alternate([ours, peer], repeats)
        ratio = t_peer / t_ours
        print(f"    {name:<14} strandify {t_ours:.3f} s  pygeoops {t_peer:.3f} s  "
              f"{ratio:.1f}x {verdict(ratio, goal, True)}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--only", default="1,2,3,4", help="comma-separated targets to measure")
    parser.add_argument("--no-10000", action="store_true", help="leave out the largest drawing")
    parser.add_argument("--pixels", type=int, default=10,
                        help="the raster peer's pixels per feature_size (default 10: the resolution "
                             "of the chain simplification)")
    args = parser.parse_args()
    PIXELS_PER_FEATURE[0] = args.pixels
    only = set(args.only.split(","))
    os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})  # one core, for every side
    warnings.simplefilter("ignore")
    glyphs = glyph_sketches()
    if only & {"1", "3"}:
        sets = {
            "overdrawn pangram": [pangram()],
            "50 glyph sketches": glyphs,
            "100 hanzi sketches": hanzi_sketches(),
            "sketches 1000": [sketches(1000)],
        }
        if not args.no_10000:
            sets["sketches 10000"] = [sketches(10000)]
        target_1_and_3(sets, args.repeats, "1" in only)
    if "2" in only:
        target_2(glyphs, 3 * args.repeats)
    if "4" in only:
        target_4(3 * args.repeats)


if __name__ == "__main__":
    main()
