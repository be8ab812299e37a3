"""How the cost of one drawing grows with its size, per partition mode, against a raster skeleton.

Drawings (seeded, made here):

* ``sketches N``: N strokes drawn as small overdrawn sketches of about ten strokes each, laid
  out on a grid at constant density, for N = 10 ... 30,000;
* ``dense mass``: 4,000 strokes at six times that density, one connected mass;
* ``text line``: an overdrawn line of glyph-like scribbles, each glyph traced four times;
* ``hanzi grid``: 200 sketches of 8-14 crossing strokes each, on a grid.

For every drawing and mode ("none" is the exact one-call pipeline, "components" one union per
group of overlapping buffers, "tiles" the drawing cut into tiles of the default size) it prints the time per input point on 1 and 2 threads, and the
time of scikit-image's ``skeletonize`` on the same strokes rasterised with the same pen (pixel
= feature_size / 10, the resolution of strandify's chain simplification; the rasterisation
itself not counted), with the ratios in one table. Not a test:
the numbers depend on the machine and its load.

    python bench/bench_scale.py [--quick] [--repeats N] [--max-exact N]
"""

from __future__ import annotations

import argparse
import math
import random
import sys
import time
from collections.abc import Callable

from strandify import _internal

from strandify.options import NativeOptions as native_options

Curve = list[tuple[float, float]]
BD = 1.0
FS = 1.0


def wobbly(rng: random.Random, x: float, y: float, steps: int, step: float) -> Curve:
    a = rng.uniform(0, 2 * math.pi)
    pts = []
    for _ in range(steps):
        pts.append((x, y))
        a += rng.uniform(-0.35, 0.35)
        x, y = x + step * math.cos(a), y + step * math.sin(a)
    return pts


def sketches(n: int, cell: float = 30.0, per_sketch: int = 10, seed: int = 1) -> list[Curve]:
    """n strokes as sketches of `per_sketch` strokes, one per grid cell."""
    rng = random.Random(seed)
    count = max(1, n // per_sketch)
    side = math.ceil(math.sqrt(count))
    curves: list[Curve] = []
    for k in range(n):
        s = min(k // per_sketch, count - 1)
        cx, cy = (s % side) * cell, (s // side) * cell
        curves.append(wobbly(rng, cx + rng.uniform(4, cell - 14), cy + rng.uniform(4, cell - 14), rng.randint(4, 10), 1.5))
    return curves


def dense_mass(n: int = 4000, seed: int = 2) -> list[Curve]:
    """n strokes in one square at six times the density of `sketches`."""
    rng = random.Random(seed)
    side = math.sqrt(n / 10 * 30.0**2 / 6)
    return [wobbly(rng, rng.uniform(0, side), rng.uniform(0, side), rng.randint(4, 10), 1.5) for _ in range(n)]


def text_line(glyphs: int = 60, traces: int = 4, seed: int = 3) -> list[Curve]:
    """Glyph-like scribbles side by side, every stroke traced `traces` times with jitter."""
    rng = random.Random(seed)
    curves: list[Curve] = []
    for g in range(glyphs):
        base = [wobbly(rng, g * 14 + rng.uniform(0, 6), rng.uniform(0, 10), rng.randint(4, 9), 2.0) for _ in range(rng.randint(2, 4))]
        for stroke in base:
            for _ in range(traces):
                curves.append([(x + rng.gauss(0, 0.25), y + rng.gauss(0, 0.25)) for x, y in stroke])
    return curves


def hanzi_grid(count: int = 200, seed: int = 4) -> list[Curve]:
    rng = random.Random(seed)
    side = math.ceil(math.sqrt(count))
    curves: list[Curve] = []
    for s in range(count):
        ox, oy = (s % side) * 40.0, (s // side) * 40.0
        for _ in range(rng.randint(8, 14)):
            x0, y0 = ox + rng.uniform(2, 28), oy + rng.uniform(2, 28)
            horizontal = rng.random() < 0.5
            length = rng.uniform(8, 26)
            x1, y1 = (x0 + length, y0 + rng.uniform(-2, 2)) if horizontal else (x0 + rng.uniform(-2, 2), y0 + length)
            n = max(2, int(length / 1.5))
            curves.append([(x0 + (x1 - x0) * i / (n - 1) + rng.gauss(0, 0.15), y0 + (y1 - y0) * i / (n - 1) + rng.gauss(0, 0.15)) for i in range(n)])
    return curves


def best_of(repeats: int, run: Callable[[], object]) -> float:
    best = math.inf
    for _ in range(repeats):
        t = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - t)
    return best


def raster_skeleton_time(curves: list[Curve], repeats: int) -> float | None:
    """skeletonize of the strokes drawn with a round pen of radius BD on a grid of FS / 10 pixels."""
    try:
        import numpy as np
        from skimage.draw import line
        from skimage.morphology import dilation, disk as disk_footprint, skeletonize
    except ImportError:
        return None
    px = FS / 10
    xs = [p[0] for c in curves for p in c]
    ys = [p[1] for c in curves for p in c]
    x0, y0 = min(xs) - 2 * BD, min(ys) - 2 * BD
    w = int((max(xs) - x0 + 2 * BD) / px) + 1
    h = int((max(ys) - y0 + 2 * BD) / px) + 1
    image = np.zeros((h, w), dtype=bool)
    for c in curves:
        for (ax, ay), (bx, by) in zip(c, c[1:]):
            rr, cc = line(int((ay - y0) / px), int((ax - x0) / px), int((by - y0) / px), int((bx - x0) / px))
            image[rr, cc] = True
    image = dilation(image, disk_footprint(int(round(BD / px))))
    return best_of(repeats, lambda: skeletonize(image))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller drawings, one repeat")
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--max-exact", type=int, default=100_000, help="skip the exact mode above this many points")
    args = parser.parse_args()
    repeats = 1 if args.quick else args.repeats
    sizes = [10, 100, 1000] if args.quick else [10, 100, 1000, 10_000, 30_000]
    drawings = [(f"sketches {n}", sketches(n)) for n in sizes]
    drawings += [("dense mass", dense_mass(1000 if args.quick else 4000)), ("text line", text_line()), ("hanzi grid", hanzi_grid())]

    print(f"{'drawing':<16}{'points':>9}{'none':>8}{'comp':>8}{'comp 2t':>8}{'tiles':>8}{'tiles 2t':>9}"
          f"{'none/comp':>10}{'tiles 1t/2t':>12}{'raster s':>10}{'raster/best':>12}")
    print(f"{'':<16}{'':>9}{'(microseconds per input point)':^41}")
    per_point: dict[str, float] = {}
    for name, curves in drawings:
        points = sum(map(len, curves))

        def run(mode: str, workers: int) -> Callable[[], object]:
            options = native_options(partition=mode, workers=workers)
            return lambda: _internal.strandify_strokes(curves, BD, FS, options)

        exact = best_of(repeats, run("none", 1)) if points <= args.max_exact else math.nan
        comp = best_of(repeats, run("components", 1))
        comp2 = best_of(repeats, run("components", 2))
        tiles = best_of(repeats, run("tiles", 1))
        tiles2 = best_of(repeats, run("tiles", 2))
        raster = raster_skeleton_time(curves, repeats)
        per_point[name] = comp / points
        us = [t / points * 1e6 for t in (exact, comp, comp2, tiles, tiles2)]
        best = min(comp, comp2, tiles, tiles2)
        print(f"{name:<16}{points:>9}{us[0]:>8.2f}{us[1]:>8.2f}{us[2]:>8.2f}{us[3]:>8.2f}{us[4]:>9.2f}"
              f"{exact / comp:>10.2f}{tiles / tiles2:>12.2f}"
              + (f"{raster:>10.3f}{raster / best:>12.2f}" if raster is not None else f"{'-':>10}{'-':>12}"))
    first, last = f"sketches {sizes[0]}", f"sketches {sizes[-1]}"
    print("(raster/best: skeletonize time over strandify's fastest mode; above 1 strandify is faster)")
    print(f"\ncomponents per-point time, {sizes[-1]} strokes against {sizes[0]}: "
          f"{per_point[last] / per_point[first]:.2f}x (target: within 1.3x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
