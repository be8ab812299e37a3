"""Raster masks: ``strandify.mask_centerlines`` against scikit-image's ``skeletonize``.

Both get the same boolean mask of two images that ship inside scikit-image (``horse.png``, a
silhouette; ``text.png``, a photographed page, thresholded here by ``threshold_local``). The
peer's skeleton is its pixels, read as the graph of 8-neighbouring pixels. Printed per image:

- ends: network ends (nodes of degree 1), each a spur unless the shape really ends there;
- turning: total absolute turning of the lines per unit of their length (radians per pixel),
  which a pixel staircase drives up while the line it samples stays straight;
- time: best of five of each tool on one core, and the ratio.

Run: python bench/bench_masks.py [--picture docs/masks.png]   (the ``bench`` extra)
"""

from __future__ import annotations

import math
import time
import warnings
from collections.abc import Callable
from typing import Any, TypeVar

import numpy as np

import strandify

T = TypeVar("T")


def masks() -> dict[str, np.ndarray]:
    from skimage import data, filters

    page = data.text().astype(np.float64)
    ink = page < filters.threshold_local(page, block_size=35, offset=10)
    return {"horse": ~data.horse(), "text": ink}


def best_of(repeats: int, fn: Callable[[], T]) -> tuple[float, T]:
    best, out = math.inf, None
    for _ in range(repeats):
        start = time.perf_counter()
        out = fn()
        best = min(best, time.perf_counter() - start)
    return best, out  # type: ignore[return-value]


def turning_per_length(paths: list[np.ndarray]) -> float:
    turn = length = 0.0
    for p in paths:
        d = np.diff(p, axis=0)
        d = d[np.hypot(d[:, 0], d[:, 1]) > 0]
        length += float(np.hypot(d[:, 0], d[:, 1]).sum())
        if len(d) > 1:
            a = np.arctan2(d[:, 1], d[:, 0])
            turn += float(np.abs((np.diff(a) + math.pi) % (2 * math.pi) - math.pi).sum())
    return turn / length if length else math.nan


def ours(mask: np.ndarray) -> tuple[int, float]:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        result = strandify.mask_centerlines(mask, workers=1)
    return int((result.degrees() == 1).sum()), turning_per_length(result.chains)


def neighbours(skeleton: np.ndarray) -> np.ndarray:
    padded = np.pad(skeleton, 1).astype(np.int32)
    count = sum(
        np.roll(np.roll(padded, dy, 0), dx, 1) for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx
    )
    return count[1:-1, 1:-1] * skeleton


def skeleton_paths(skeleton: np.ndarray) -> list[np.ndarray]:
    """The skeleton's pixels traced into paths from node to node (ends and branch pixels)."""
    on = set(zip(*np.nonzero(skeleton)))
    steps = [(dy, dx) for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx]

    def around(p: tuple[int, int]) -> list[tuple[int, int]]:
        return [(p[0] + dy, p[1] + dx) for dy, dx in steps if (p[0] + dy, p[1] + dx) in on]

    nodes = {p for p in on if len(around(p)) != 2}
    seen: set[frozenset[tuple[int, int]]] = set()
    paths = []
    for start in sorted(nodes):
        for nxt in around(start):
            path, prev, cur = [start], start, nxt
            while True:
                edge = frozenset((prev, cur))
                if edge in seen:
                    break
                seen.add(edge)
                path.append(cur)
                if cur in nodes:
                    break
                ahead = [q for q in around(cur) if q != prev]
                if not ahead:
                    break
                prev, cur = cur, ahead[0]
            if len(path) > 1:
                paths.append(np.array(path, dtype=np.float64)[:, ::-1])
    return paths


def peer(mask: np.ndarray) -> tuple[int, float]:
    from skimage.morphology import skeletonize

    skeleton = skeletonize(mask)
    return int((neighbours(skeleton) == 1).sum()), turning_per_length(skeleton_paths(skeleton))


def picture(path: str) -> None:
    """Each mask in grey, its pixel skeleton in red and strandify's lines in black."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from skimage.morphology import skeletonize

    images = masks()
    fig, axes = plt.subplots(1, len(images), figsize=(12, 4.2))
    for ax, (name, mask) in zip(axes, images.items()):
        ax.imshow(mask, cmap="Greys", alpha=0.25, extent=(0, mask.shape[1], mask.shape[0], 0))
        rr, cc = np.nonzero(skeletonize(mask))
        ax.plot(cc + 0.5, rr + 0.5, ",", color="tab:red")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for chain in strandify.mask_centerlines(mask).chains:
                ax.plot(chain[:, 0], chain[:, 1], color="black", linewidth=1)
        ax.set_title(f"{name}: skeletonize (red dots), mask_centerlines (black)", fontsize=9)
        ax.set_axis_off()
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main() -> None:
    import sys

    from skimage.morphology import skeletonize

    if "--picture" in sys.argv:
        picture(sys.argv[sys.argv.index("--picture") + 1])

    print(f"{'image':8} {'tool':10} {'ends':>6} {'turning':>9} {'time ms':>9}")
    for name, mask in masks().items():
        t_ours, _ = best_of(5, lambda: strandify.mask_centerlines(mask, workers=1))
        t_peer, _ = best_of(5, lambda: skeletonize(mask))
        ends, turning = ours(mask)
        p_ends, p_turning = peer(mask)
        print(f"{name:8} {'strandify':10} {ends:6d} {turning:9.3f} {t_ours * 1e3:9.1f}")
        print(f"{name:8} {'skeletonize':10} {p_ends:6d} {p_turning:9.3f} {t_peer * 1e3:9.1f}")
        print(f"{name:8} ratio: ends {ends / max(p_ends, 1):.2f}x, turning {turning / p_turning:.2f}x, "
              f"time {t_ours / t_peer:.2f}x the peer's")


if __name__ == "__main__":
    main()
