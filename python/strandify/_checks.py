"""Noticing when a result drops a whole part of its drawing.

A buffer distance or feature size too large for a small, separate part of a
drawing prunes it away entirely; the result still looks plausible, so the loss
goes unseen.  The strokes are grouped into separate parts by their bounding
boxes grown by the buffer distance (boxes that overlap belong together), and a
part whose grown box holds no chain point has been lost.  Grouping by boxes
may join parts that do not touch, so a loss can go unreported, but a reported
loss is always real.  The warning names each lost part by the index of its first
stroke (or shape), as the drawing was read (MultiLineStrings and MultiPolygons split
into their parts, curves cut at NaN rows), so that the caller can find it.
"""

from __future__ import annotations

import warnings
from collections.abc import Sequence

import numpy as np

from ._geometry import ring_contains
from ._types import FloatArray
from .errors import LostStrokesWarning


def _boxes(curves: Sequence[FloatArray]) -> tuple[FloatArray, list[int]]:
    """The bounding box of every curve with two finite points, and the indices of those curves."""
    rows = []
    kept = []
    for index, pts in enumerate(curves):
        finite = pts[np.isfinite(pts).all(axis=1)] if len(pts) else pts
        if len(finite) >= 2:
            rows.append((*finite.min(axis=0), *finite.max(axis=0)))
            kept.append(index)
    return np.array(rows, dtype=np.float64).reshape(-1, 4), kept


def _groups(boxes: FloatArray, pad: float) -> tuple[FloatArray, list[int]]:
    """The bounding boxes of the groups of boxes that overlap once grown by ``pad``, and the
    position of each group's first box."""
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
    first: dict[int, int] = {}
    for i in range(len(boxes)):
        r = find(i)
        b = boxes[i].tolist()
        if r in roots:
            g = roots[r]
            roots[r] = [min(g[0], b[0]), min(g[1], b[1]), max(g[2], b[2]), max(g[3], b[3])]
        else:
            roots[r] = b
            first[r] = i
    order_of_roots = sorted(roots)
    return (
        np.array([roots[r] for r in order_of_roots], dtype=np.float64).reshape(-1, 4),
        [first[r] for r in order_of_roots],
    )


def lost_groups(
    curves: Sequence[FloatArray], chains: Sequence[FloatArray], buffer_distance: float
) -> tuple[list[int], int]:
    """The index of the first curve of every separate group of ``curves`` that has no point of
    ``chains`` near it, in order, and the number of groups."""
    boxes, kept = _boxes(curves)
    if not len(boxes):
        return [], 0
    groups, firsts = _groups(boxes, buffer_distance)
    members = sorted(kept[i] for i in firsts)
    pts = np.concatenate([c for c in chains if len(c)]) if any(len(c) for c in chains) else np.empty((0, 2))
    if not len(pts):
        return members, len(groups)
    pts = pts[np.argsort(pts[:, 0], kind="stable")]
    xs = pts[:, 0]
    reach = 2.0 * buffer_distance
    lost = []
    for (x0, y0, x1, y1), i in zip(groups.tolist(), firsts):
        lo = int(np.searchsorted(xs, x0 - reach, side="left"))
        hi = int(np.searchsorted(xs, x1 + reach, side="right"))
        ys = pts[lo:hi, 1]
        if not ((ys >= y0 - reach) & (ys <= y1 + reach)).any():
            lost.append(kept[i])
    return sorted(lost), len(groups)


def named(indices: Sequence[int], most: int = 10) -> str:
    """``indices`` for a message: all of them, or the first ``most`` and a count."""
    shown = ", ".join(map(str, indices[:most]))
    return shown if len(indices) <= most else f"{shown} and {len(indices) - most} more"


def warn_lost_groups(
    lost: Sequence[int],
    total: int,
    buffer_distance: float,
    feature_size: float,
    where: str = "",
    stacklevel: int = 3,
) -> None:
    """Warn with :class:`LostStrokesWarning` that the groups of strokes starting at ``lost``,
    of ``total`` groups, vanished; nothing when none did."""
    if lost:
        warnings.warn(
            LostStrokesWarning(
                f"{where}{len(lost)} of {total} separate group(s) of strokes gave no centerline "
                f"(the groups of strokes {named(lost)}; buffer_distance {buffer_distance:g}, "
                f"feature_size {feature_size:g}); smaller values keep small or thin parts"
            ),
            stacklevel=stacklevel,
        )


def lost_shapes(polygons: Sequence[Sequence[FloatArray]], chains: Sequence[FloatArray]) -> list[int]:
    """The indices of the ``polygons`` (outer ring first) that no chain enters: neither a chain
    point inside the outer ring nor a chain segment across it (touching shapes share a chain
    that may cross one of them between two points)."""
    segments = [np.stack((c[:-1], c[1:]), axis=1) for c in chains if len(c) >= 2]
    pairs = np.concatenate(segments) if segments else np.empty((0, 2, 2))
    lost = []
    for index, rings in enumerate(polygons):
        outer = rings[0] if rings else np.empty((0, 2))
        finite = outer[np.isfinite(outer).all(axis=1)]
        if len(finite) < 3:
            continue
        low, high = finite.min(axis=0), finite.max(axis=0)
        near = pairs[((pairs.max(axis=1) >= low) & (pairs.min(axis=1) <= high)).all(axis=1)]
        if not len(near) or not (ring_contains(finite, near[:, 0]).any() or _crossing(finite, near)):
            lost.append(index)
    return lost


def _crossing(ring: FloatArray, segments: FloatArray) -> bool:
    """Whether any of ``segments`` (k, 2, 2) properly crosses an edge of ``ring``."""
    a, b = segments[:, 0][:, None, :], segments[:, 1][:, None, :]
    c, d = ring[None, :, :], np.roll(ring, -1, axis=0)[None, :, :]

    def side(p: FloatArray, q: FloatArray, r: FloatArray) -> FloatArray:
        return np.sign((q[..., 0] - p[..., 0]) * (r[..., 1] - p[..., 1]) - (q[..., 1] - p[..., 1]) * (r[..., 0] - p[..., 0]))

    return bool(((side(a, b, c) * side(a, b, d) < 0) & (side(c, d, a) * side(c, d, b) < 0)).any())
