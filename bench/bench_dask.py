"""The Dask runners against the local calls, on a LocalCluster of two worker processes with one
thread each (the local calls get two threads): how much the cluster costs over the same work.

* batch: 2,000 glyph-like sketches (seeded, 3-8 wobbly strokes each), ``strandify.dask.
  centerlines_batch`` against ``strandify.centerlines_batch``;
* tiles: one synthetic drawing of 10,000 strokes (about 900,000 points),
  ``strandify.dask.centerlines_tiled`` against ``centerlines(..., partition="tiles",
  refine=False, workers=2)``.

Local and Dask runs alternate, the best of ``--repeats`` counts, and the results are checked to
be identical.  Not a test: the numbers depend on the machine and its load.

    python bench/bench_dask.py [--repeats N] [--sketches N] [--strokes N]
"""

from __future__ import annotations

import argparse
import math
import random
import sys
import time
from collections.abc import Callable

import numpy as np

import strandify
import strandify.dask


def wobbly(rng: random.Random, x: float, y: float, steps: int, step: float) -> np.ndarray:
    angles = rng.uniform(0, 2 * math.pi) + np.cumsum([rng.uniform(-0.35, 0.35) for _ in range(steps)])
    moves = step * np.column_stack((np.cos(angles), np.sin(angles)))
    return np.vstack(([(x, y)], (x, y) + np.cumsum(moves[:-1], axis=0)))


def glyph_sketches(count: int, seed: int = 5) -> list[list[np.ndarray]]:
    rng = random.Random(seed)
    return [[wobbly(rng, rng.uniform(0, 20), rng.uniform(0, 20), rng.randint(6, 16), 1.5)
             for _ in range(rng.randint(3, 8))] for _ in range(count)]


def dense_strokes(count: int, cell: float = 30.0, per_sketch: int = 10, seed: int = 1) -> list[np.ndarray]:
    """``count`` long finely sampled strokes, ``per_sketch`` to a grid cell."""
    rng = random.Random(seed)
    side = math.ceil(math.sqrt(count / per_sketch))
    out = []
    for k in range(count):
        s = k // per_sketch
        cx, cy = (s % side) * cell, (s // side) * cell
        out.append(wobbly(rng, cx + rng.uniform(4, cell - 14), cy + rng.uniform(4, cell - 14), rng.randint(60, 125), 0.15))
    return out


def same(a: strandify.Centerlines, b: strandify.Centerlines) -> bool:
    return (len(a.chains) == len(b.chains) and all(np.array_equal(p, q) for p, q in zip(a.chains, b.chains))
            and np.array_equal(a.nodes, b.nodes) and np.array_equal(a.chain_node_ids, b.chain_node_ids))


def alternate(repeats: int, local: Callable[[], object], remote: Callable[[], object]) -> tuple[float, float, object, object]:
    best = [math.inf, math.inf]
    outs: list[object] = [None, None]
    for _ in range(repeats):
        for k, run in enumerate((local, remote)):
            t = time.perf_counter()
            outs[k] = run()
            best[k] = min(best[k], time.perf_counter() - t)
    return best[0], best[1], outs[0], outs[1]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=2)
    parser.add_argument("--sketches", type=int, default=2000)
    parser.add_argument("--strokes", type=int, default=10_000)
    args = parser.parse_args()
    import distributed

    sketches = glyph_sketches(args.sketches)
    drawing = dense_strokes(args.strokes)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        local, remote, want, got = alternate(
            args.repeats,
            lambda: strandify.centerlines_batch(sketches, workers=2),
            lambda: strandify.dask.centerlines_batch(sketches, client=client),
        )
        assert len(got) == len(want) and all(map(same, got, want)), "the Dask batch differs from the local one"
        print(f"batch: {len(sketches)} sketches, {sum(len(c) for s in sketches for c in s)} points: "
              f"local {local:.2f} s, dask {remote:.2f} s, dask/local {remote / local:.2f}x (target 1.25x)")
        local, remote, want, got = alternate(
            args.repeats,
            lambda: strandify.centerlines(drawing, partition="tiles", refine=False, workers=2),
            lambda: strandify.dask.centerlines_tiled(drawing, client=client),
        )
        assert same(got, want), "the Dask tiles differ from the local ones"
        print(f"tiles: {len(drawing)} strokes, {sum(map(len, drawing))} points: "
              f"local {local:.2f} s, dask {remote:.2f} s, dask/local {remote / local:.2f}x (target 1.3x)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
