"""Noticing when a result drops a whole part of its drawing.

A buffer distance or feature size too large for a small, separate part of a
drawing prunes it away entirely; the result still looks plausible, so the loss
goes unseen.  The strokes are grouped into separate parts by their bounding
boxes grown by the buffer distance (boxes that overlap belong together), and a
part whose grown box holds no chain point has been lost.  Grouping by boxes
may join parts that do not touch, so a loss can go unreported, but a reported
loss is always real.
"""

from __future__ import annotations

import warnings
from collections.abc import Sequence

import numpy as np

from ._types import FloatArray
from .errors import LostStrokesWarning


def _boxes(curves: Sequence[FloatArray]) -> FloatArray:
    rows = []
    for pts in curves:
        finite = pts[np.isfinite(pts).all(axis=1)] if len(pts) else pts
        if len(finite) >= 2:
            rows.append((*finite.min(axis=0), *finite.max(axis=0)))
    return np.array(rows, dtype=np.float64).reshape(-1, 4)


def _groups(boxes: FloatArray, pad: float) -> FloatArray:
    """The bounding boxes of the groups of boxes that overlap once grown by ``pad``."""
    order = np.argsort(boxes[:, 0], kind="stable")
    parent = list(range(len(boxes)))

    def find(i: int) -> int:
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i

    grown = boxes + np.array([-pad, -pad, pad, pad])
    active: list[int] = []
    for i in order.tolist():
        x0, y0, x1, y1 = grown[i].tolist()
        still = []
        for j in active:
            if grown[j, 2] < x0:
                continue  # ends left of every box still to come
            still.append(j)
            if grown[j, 1] <= y1 and y0 <= grown[j, 3]:
                parent[find(j)] = find(i)
        still.append(i)
        active = still
    roots: dict[int, list[float]] = {}
    for i in range(len(boxes)):
        r = find(i)
        b = boxes[i].tolist()
        if r in roots:
            g = roots[r]
            roots[r] = [min(g[0], b[0]), min(g[1], b[1]), max(g[2], b[2]), max(g[3], b[3])]
        else:
            roots[r] = b
    return np.array([roots[r] for r in sorted(roots)], dtype=np.float64).reshape(-1, 4)


def lost_groups(curves: Sequence[FloatArray], chains: Sequence[FloatArray], buffer_distance: float) -> int:
    """How many separate groups of ``curves`` have no point of ``chains`` near them."""
    boxes = _boxes(curves)
    if not len(boxes):
        return 0
    groups = _groups(boxes, buffer_distance)
    pts = np.concatenate([c for c in chains if len(c)]) if any(len(c) for c in chains) else np.empty((0, 2))
    if not len(pts):
        return len(groups)
    pts = pts[np.argsort(pts[:, 0], kind="stable")]
    xs = pts[:, 0]
    reach = 2.0 * buffer_distance
    lost = 0
    for x0, y0, x1, y1 in groups.tolist():
        lo = int(np.searchsorted(xs, x0 - reach, side="left"))
        hi = int(np.searchsorted(xs, x1 + reach, side="right"))
        ys = pts[lo:hi, 1]
        if not ((ys >= y0 - reach) & (ys <= y1 + reach)).any():
            lost += 1
    return lost


def warn_lost(
    curves: Sequence[FloatArray],
    chains: Sequence[FloatArray],
    buffer_distance: float,
    feature_size: float,
    where: str = "",
    stacklevel: int = 3,
) -> None:
    """Warn with :class:`LostStrokesWarning` when a separate group of strokes vanished."""
    lost = lost_groups(curves, chains, buffer_distance)
    if lost:
        total = len(_groups(_boxes(curves), buffer_distance))
        warnings.warn(
            LostStrokesWarning(
                f"{where}{lost} of {total} separate group(s) of strokes gave no centerline "
                f"(buffer_distance {buffer_distance:g}, feature_size {feature_size:g}); "
                f"smaller values keep small or thin parts"
            ),
            stacklevel=stacklevel,
        )
