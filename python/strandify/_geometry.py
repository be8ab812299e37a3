"""Measures of points, curves and rings in plain NumPy: boxes, lengths, ring arrays."""

from __future__ import annotations

import math
from collections.abc import Iterable, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from ._types import Bounds, Curve, CurveList, FloatArray

_EMPTY = np.empty((0, 2), dtype=np.float64)
_MIN = np.minimum.reduce
_MAX = np.maximum.reduce


def column_box(pts: FloatArray) -> Bounds:
    """(min x, min y, max x, max y) of the rows of a non-empty (n, 2) array, NaN when any
    coordinate is NaN (an infinite one shows as such)."""
    # the columns as strided views: reducing an (n, 2) array along axis 0 is several times
    # slower; and the ufuncs' own reduce, as ndarray.min goes through a Python function first
    x, y = pts[:, 0], pts[:, 1]
    return (float(_MIN(x)), float(_MIN(y)), float(_MAX(x)), float(_MAX(y)))


def bounds_of(curves: Iterable[Curve | FloatArray]) -> Bounds | None:
    """(min x, min y, max x, max y) over the finite points, None when there are none."""
    if isinstance(curves, CurveList) and curves.bounds is not None:
        return curves.bounds
    if isinstance(curves, CurveList) and curves.stacked is not None:
        pts = curves.stacked
    else:
        arrays = [c.points if isinstance(c, Curve) else c for c in curves]
        arrays = [a for a in arrays if len(a)]
        pts = np.concatenate(arrays) if arrays else _EMPTY
    if not len(pts):
        return None
    box = column_box(pts)
    if all(map(math.isfinite, box)):
        return box
    finite = np.isfinite(pts).all(axis=1)
    return bounds_of([pts[finite]]) if finite.any() else None


def diagonal(box: Bounds | None) -> float:
    if box is None:
        return 0.0
    return math.hypot(box[2] - box[0], box[3] - box[1])


def padded_bounds(box: Bounds | None, margin: float) -> Bounds:
    """``box`` grown on every side by ``margin`` times its diagonal (by 1 when it is a point);
    the unit square when there is no box."""
    if box is None:
        return (0.0, 0.0, 1.0, 1.0)
    pad = diagonal(box) * margin or 1.0
    return (box[0] - pad, box[1] - pad, box[2] + pad, box[3] + pad)


def stroke_lengths(curves: Sequence[Curve]) -> FloatArray:
    """The drawn length of every curve; segments touching a gap or a non-finite point count 0."""
    arrays = [c.points for c in curves if len(c.points) >= 2]
    if not arrays:
        return np.empty(0, dtype=np.float64)
    pts = np.concatenate(arrays)
    with np.errstate(invalid="ignore", over="ignore"):
        seg = np.hypot(*np.diff(pts, axis=0).T)
    finite = np.isfinite(pts).all(axis=1)
    # a step to or from a gap draws nothing; a step between finite points too
    # long for a float stays infinite, so that the scale is known to be unusable
    seg[~(finite[:-1] & finite[1:])] = 0.0
    ends = np.cumsum([len(a) for a in arrays])
    seg[ends[:-1] - 1] = 0.0  # the step from one curve to the next draws nothing
    total = np.concatenate(([0.0], np.cumsum(seg)))
    starts = ends - np.array([len(a) for a in arrays])
    with np.errstate(invalid="ignore"):
        lengths = total[ends - 1] - total[starts]
    return np.asarray(lengths, dtype=np.float64)


def ring_array(obj: Any, what: str) -> FloatArray:
    """A ring's coordinates as a C-contiguous (n, 2) float64 array, extra ordinates dropped;
    TypeError naming ``what`` for anything that is not a list of positions, ValueError for a
    number beyond any float."""
    try:
        arr = np.asarray(obj, dtype=np.float64)
    except OverflowError:  # an integer beyond any float, as JSON may hold
        raise ValueError(f"{what}: a coordinate is too large for a floating-point number") from None
    except (TypeError, ValueError):
        raise TypeError(f"{what}: expected a ring of (x, y) pairs") from None
    if arr.ndim != 2 or arr.shape[1] < 2:
        if arr.size == 0:
            return np.empty((0, 2), dtype=np.float64)
        raise TypeError(f"{what}: expected a ring of (x, y) pairs, got an array of shape {arr.shape}")
    return np.ascontiguousarray(arr[:, :2])


def ring_contains(ring: FloatArray, points: FloatArray) -> npt.NDArray[np.bool_]:
    """Even-odd crossing test of many points against one ring."""
    x, y = points[:, 0][:, None], points[:, 1][:, None]
    xi, yi = ring[:, 0][None, :], ring[:, 1][None, :]
    xj, yj = np.roll(ring[:, 0], 1)[None, :], np.roll(ring[:, 1], 1)[None, :]
    with np.errstate(divide="ignore", invalid="ignore"):
        crosses = ((yi > y) != (yj > y)) & (x < (xj - xi) * (y - yi) / (yj - yi) + xi)
    return np.asarray(crosses.sum(axis=1) % 2 == 1)
