"""The local origin every drawing is computed about, and the moves into and out of it.

Real drawings sit at coordinates in the millions (UTM northings, Equal Earth metres), where a
double keeps only about a nanometre of a metre-sized stroke, and the native stages lay their
snapping grids and round to their integer grid from the coordinate origin: the same drawing at
another place gives other chains (up to metres on a street network).  So every call moves its
drawing (each drawing of a batch, each set of shapes, each tiled drawing) to a local origin
before the native call and moves the chains back after it.

The origin is the minimum of the drawing's bounding box, axis by axis, on every axis along
which the box lies farther than ``NEAR_ORIGIN_EXTENTS`` times the drawing's extent from zero,
and zero on the others:

- it moves with the drawing, exactly: floating-point rounding is monotonic, so the minimum of
  moved coordinates is the moved minimum, and the coordinates about it are the same numbers
  wherever the drawing is moved; every grid the native stages lay then starts at the
  drawing's own corner;
- the move is exact: a coordinate and the minimum it is taken from lie within a factor of two
  of each other when the box is that far out, so their difference is representable;
- a drawing near the origin keeps it and is not touched at all, so the exact paths stay
  exactly the native functions there.  Such a drawing gives the chains of its far-away copies
  when its box starts at zero; elsewhere near the origin the native grids are the origin's.
"""

from __future__ import annotations

import math
from collections.abc import Sequence

import numpy as np

from ._geometry import bounds_of
from ._types import Bounds, Curve, CurveList, FloatArray, Point, curves_of, row_runs

#: A drawing whose box lies within this many of its extents of zero (along an axis) is computed
#: where it is: sketches, glyphs and SVG drawings stay the exact native calls, while map data,
#: whose coordinates are hundreds or thousands of its extents, moves to its corner.
NEAR_ORIGIN_EXTENTS = 16.0

ZERO: Point = (0.0, 0.0)


def _axis_origin(low: float, high: float, extent: float) -> float:
    gap = max(low, -high, 0.0)  # how far the box lies from zero along the axis
    return low if gap > NEAR_ORIGIN_EXTENTS * extent else 0.0


def local_origin(box: Bounds | None, pad: float = 0.0) -> Point:
    """The origin a drawing with bounding box ``box`` (grown by ``pad`` on every side, which
    only counts towards its extent) is computed about; (0, 0) without a finite box."""
    if box is None or not all(map(math.isfinite, box)):
        return ZERO
    extent = max(box[2] - box[0], box[3] - box[1]) + 2.0 * pad
    if not math.isfinite(extent):
        return ZERO
    return (_axis_origin(box[0], box[2], extent), _axis_origin(box[1], box[3], extent))


def surely_near(points: FloatArray) -> bool:
    """Whether a drawing that holds the (non-empty, (n, 2)) ``points`` is computed about (0, 0),
    told from two of them without measuring its box: when the first lies within
    ``NEAR_ORIGIN_EXTENTS`` times its larger distance along an axis from the middle one of zero,
    along both axes, its box lies within as many of its extents (which are no shorter).  False
    when a coordinate of the two is not finite: the box, which leaves such points out, decides
    then."""
    # four scalars read one by one: a slice and its list cost more, right after a native call
    middle = (len(points) >> 1) << 1
    x, y, u, v = points.item(0), points.item(1), points.item(middle), points.item(middle + 1)
    span = max(abs(u - x), abs(v - y))
    limit = NEAR_ORIGIN_EXTENTS * span
    return math.isfinite(x + y + u + v) and abs(x) <= limit and abs(y) <= limit


def curves_origin(curves: Sequence[Curve], pad: float) -> Point:
    """The origin of read strokes buffered by ``pad``: told from two of their points when
    they were read into one array (padding only widens the box, never moves it away from
    zero), else from their box."""
    stacked = curves.stacked if isinstance(curves, CurveList) else None
    if stacked is not None and len(stacked) and surely_near(stacked):
        return ZERO
    return local_origin(bounds_of(curves), pad)


def moved_curves(curves: Sequence[Curve], origin: Point) -> Sequence[Curve]:
    """Read strokes about ``origin``: the same curves when it is (0, 0), else one shifted copy
    of their points (views into one array when they were read into one)."""
    if origin == ZERO:
        return curves
    offset = np.array(origin, dtype=np.float64)
    stacked = curves.stacked if isinstance(curves, CurveList) else None
    if stacked is None:
        return CurveList(Curve(c.points - offset) for c in curves)
    moved = stacked - offset
    out = curves_of(row_runs(moved, [len(c.points) for c in curves]))
    out.stacked = moved
    out.gapless = curves.gapless  # type: ignore[attr-defined]
    out.rows = True
    return out


def moved_rings(polygons: Sequence[Sequence[FloatArray]], origin: Point) -> Sequence[Sequence[FloatArray]]:
    """Read shapes about ``origin``: the same rings when it is (0, 0), else shifted copies."""
    if origin == ZERO:
        return polygons
    offset = np.array(origin, dtype=np.float64)
    return [[ring - offset for ring in rings] for rings in polygons]
