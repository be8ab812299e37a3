"""The local origin every drawing is computed about, and the moves into and out of it.

Real drawings sit at coordinates in the millions (UTM northings, Equal Earth metres), where a
double keeps only about a nanometre of a metre-sized stroke and the native stages' snapping
grids, predicates and sums are no longer the same as at the origin.  So every call moves its
drawing (each drawing of a batch, each set of shapes, each tiled drawing) next to the origin
before the native call and moves the chains back after it; the native stages then see the same
numbers wherever the drawing sat.

The origin is the centre of the drawing's bounding box truncated towards zero to a multiple of
a power-of-two grid ``ORIGIN_GRID_PER_EXTENT`` times coarser than the drawing:

- it is stable under translation: a moved drawing lands within one grid cell of where it was,
  so the native stages see coordinates no larger than about that grid, wherever it sits;
- a drawing within that many extents of the origin gets the origin (0, 0) and is not touched
  at all, so the exact paths stay exactly the native functions there;
- the move is exact in floating point: the origin is a multiple of a power of two no finer
  than the spacing of any coordinate of the box, and no farther from zero than twice any of
  them on the same side, so ``x - origin`` is representable.  Only moving the chains back
  rounds, as writing them at that place would anyway.
"""

from __future__ import annotations

import math
from collections.abc import Sequence

import numpy as np

from ._geometry import bounds_of
from ._types import Bounds, Curve, CurveList, FloatArray, Point

#: How much coarser than the drawing's extent the grid of its origin is: a power of two, so the
#: grid is one too.  It costs that many times the extent in the size of the coordinates the
#: native stages see (ten bits of 53), and keeps every drawing within that many extents of the
#: origin where it is.
ORIGIN_GRID_PER_EXTENT = 1024.0

ZERO: Point = (0.0, 0.0)


def local_origin(box: Bounds | None, pad: float = 0.0) -> Point:
    """The origin a drawing with bounding box ``box`` (grown by ``pad`` on every side) is
    computed about; (0, 0) without a box or for a box with no extent or no finite one."""
    if box is None:
        return ZERO
    extent = max(box[2] - box[0], box[3] - box[1]) + 2.0 * pad
    if not (extent > 0.0 and math.isfinite(extent)):
        return ZERO
    grid = 2.0 ** math.ceil(math.log2(extent * ORIGIN_GRID_PER_EXTENT))
    if not math.isfinite(grid):
        return ZERO
    # halves first: the sum of two coordinates near the largest double would overflow
    centre = (0.5 * box[0] + 0.5 * box[2], 0.5 * box[1] + 0.5 * box[3])
    return (math.trunc(centre[0] / grid) * grid, math.trunc(centre[1] / grid) * grid)


def curves_origin(curves: Sequence[Curve], pad: float) -> Point:
    """The origin of read strokes buffered by ``pad``."""
    return local_origin(bounds_of(curves), pad)


def rings_origin(polygons: Sequence[Sequence[FloatArray]]) -> Point:
    """The origin of read shapes, every ring counted (a stray hole is repaired, not dropped)."""
    return local_origin(bounds_of([ring for rings in polygons for ring in rings]))


def moved_curves(curves: Sequence[Curve], origin: Point) -> Sequence[Curve]:
    """Read strokes about ``origin``: the same curves when it is (0, 0), else one shifted copy
    of their points (views into one array when they were read into one)."""
    if origin == ZERO:
        return curves
    offset = np.array(origin, dtype=np.float64)
    out = CurveList()
    stacked = curves.stacked if isinstance(curves, CurveList) else None
    if stacked is not None:
        out.stacked = stacked - offset
        out.gapless = curves.gapless  # type: ignore[attr-defined]
        start = 0
        for c in curves:
            out.append(Curve(out.stacked[start : start + len(c.points)]))
            start += len(c.points)
    else:
        out.extend(Curve(c.points - offset) for c in curves)
    return out


def moved_rings(polygons: Sequence[Sequence[FloatArray]], origin: Point) -> Sequence[Sequence[FloatArray]]:
    """Read shapes about ``origin``: the same rings when it is (0, 0), else shifted copies."""
    if origin == ZERO:
        return polygons
    offset = np.array(origin, dtype=np.float64)
    return [[ring - offset for ring in rings] for rings in polygons]
