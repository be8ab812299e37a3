"""Turning the many shapes a drawing can arrive in into the native curve lists.

The native module wants lists of ``(x, y)`` tuples of floats and nothing else.
Everything here goes through NumPy so that the per-point work happens in C:
``np.asarray`` reads the points, ``tolist`` and ``map(tuple, ...)`` build the
tuples.  A row holding a NaN coordinate is a gap: the curve is split there, the
way matplotlib treats NaN in a line.
"""

from __future__ import annotations

import math
from collections.abc import Iterable, Sequence
from typing import TYPE_CHECKING, Any, TypeAlias

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    from shapely.geometry.base import BaseGeometry

FloatArray: TypeAlias = npt.NDArray[np.float64]
IntArray: TypeAlias = npt.NDArray[np.intp]
Point: TypeAlias = tuple[float, float]

#: One curve: an ``(n, 2)`` array, a sequence of ``(x, y)`` pairs, or a shapely
#: LineString / LinearRing (a MultiLineString counts as several curves).
CurveLike: TypeAlias = "npt.ArrayLike | BaseGeometry"
#: A drawing: an iterable of curves, a single curve, an ``(k, n, 2)`` array or
#: a shapely geometry holding lines.
DrawingLike: TypeAlias = "npt.ArrayLike | BaseGeometry | Iterable[CurveLike]"

_LINE_TYPES = ("LineString", "LinearRing")
_MULTI_TYPES = ("MultiLineString", "GeometryCollection")


def _is_geometry(obj: object) -> bool:
    return type(obj).__module__.startswith("shapely") and hasattr(obj, "geom_type")


def _geometry_arrays(geom: Any) -> list[FloatArray]:
    import shapely

    kind = geom.geom_type
    if kind in _LINE_TYPES:
        return [np.asarray(shapely.get_coordinates(geom), dtype=np.float64)]
    if kind in _MULTI_TYPES:
        out: list[FloatArray] = []
        for part in shapely.get_parts(geom):
            out.extend(_geometry_arrays(part))
        return out
    raise TypeError(
        f"cannot use a {kind} as strokes; only LineString, LinearRing, MultiLineString "
        f"and collections of them are drawn (use .boundary for polygon outlines)"
    )


def _looks_like_point(obj: object) -> bool:
    """True for an ``(x, y)`` pair, which marks its container as a single curve."""
    if isinstance(obj, np.ndarray):
        return obj.ndim == 1 and obj.shape[0] == 2
    if isinstance(obj, (tuple, list)) and len(obj) == 2:
        return not any(isinstance(v, (Sequence, np.ndarray)) or _is_geometry(v) for v in obj)
    return False


def _curve_arrays(obj: object, index: int) -> list[FloatArray]:
    if _is_geometry(obj):
        return _geometry_arrays(obj)
    if isinstance(obj, (str, bytes)):
        raise TypeError(f"curve {index}: expected points, got {type(obj).__name__}")
    try:
        arr = np.asarray(obj, dtype=np.float64)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"curve {index}: cannot read its points as numbers ({exc})") from None
    if arr.size == 0:
        return [np.empty((0, 2), dtype=np.float64)]
    if arr.ndim != 2 or arr.shape[1] != 2:
        raise ValueError(f"curve {index}: expected points of shape (n, 2), got shape {arr.shape}")
    return [arr]


def drawing_arrays(drawing: DrawingLike) -> list[FloatArray]:
    """Read a drawing into one ``(n, 2)`` float array per curve, NaN rows kept.

    A MultiLineString (or a collection) contributes one array per line, in order.
    A lone curve, an ``(n, 2)`` array or a list of ``(x, y)`` pairs, is taken as
    a drawing of that one curve.
    """
    if drawing is None:
        raise TypeError("expected a drawing (a list of curves), got None")
    if _is_geometry(drawing):
        return _geometry_arrays(drawing)
    if isinstance(drawing, (str, bytes)):
        raise TypeError(f"expected a drawing (a list of curves), got {type(drawing).__name__}")
    if isinstance(drawing, np.ndarray) and drawing.dtype != object:
        arr = np.asarray(drawing, dtype=np.float64)
        if arr.size == 0:
            return []
        if arr.ndim == 2 and arr.shape[1] == 2:
            return [arr]
        if arr.ndim == 3 and arr.shape[2] == 2:
            return list(arr)
        raise ValueError(f"expected an array of shape (n, 2) or (k, n, 2), got shape {arr.shape}")
    if not isinstance(drawing, Iterable):
        raise TypeError(f"expected a drawing (a list of curves), got {type(drawing).__name__}")
    items = drawing if isinstance(drawing, Sequence) else list(drawing)
    if len(items) and _looks_like_point(items[0]):
        return _curve_arrays(items, 0)
    out: list[FloatArray] = []
    for index, item in enumerate(items):
        out.extend(_curve_arrays(item, index))
    return out


def _gap_slices(bad: npt.NDArray[np.bool_]) -> list[slice]:
    """Slices of the runs of good rows between the NaN rows."""
    edges = np.flatnonzero(np.diff(np.concatenate(([True], bad, [True])).astype(np.int8)))
    # edges alternate: a run of good rows starts after a bad row and ends before the next
    return [slice(int(a), int(b)) for a, b in zip(edges[::2], edges[1::2])]


def _pieces(arr: FloatArray) -> list[slice]:
    """Index ranges of the parts of a curve worth drawing (two points or more)."""
    bad = np.isnan(arr).any(axis=1)
    runs = _gap_slices(bad) if bad.any() else [slice(0, len(arr))]
    return [s for s in runs if s.stop - s.start >= 2]


def _tuples(arr: FloatArray) -> list[Point]:
    return list(map(tuple, arr.tolist()))


def to_native(
    arrays: Sequence[FloatArray],
    per_curve_widths: Sequence[npt.ArrayLike | None] | None = None,
) -> tuple[list[list[Point]], list[list[float]] | None]:
    """Build the native ``curves`` (and ``per_curve_widths``) from curve arrays.

    NaN rows split a curve; parts with fewer than two points are dropped since
    they draw nothing.  Width lists are cut in step with their curves, so they
    stay aligned with the curves the native call sees.
    """
    widths = None if per_curve_widths is None else _check_widths(arrays, per_curve_widths)
    curves: list[list[Point]] = []
    out_widths: list[list[float]] | None = None if widths is None else []
    for i, arr in enumerate(arrays):
        for piece in _pieces(arr):
            curves.append(_tuples(arr[piece]))
            if out_widths is not None and widths is not None:
                w = widths[i]
                out_widths.append(w[piece].tolist() if w is not None else [])
    return curves, out_widths


def _check_widths(
    arrays: Sequence[FloatArray], per_curve_widths: Sequence[npt.ArrayLike | None]
) -> list[FloatArray | None]:
    if isinstance(per_curve_widths, (str, bytes)):
        raise TypeError("per_curve_widths must be a list with one list of radii per curve")
    out: list[FloatArray | None] = [None] * len(arrays)
    for i, entry in enumerate(per_curve_widths):
        w = None if entry is None else np.asarray(entry, dtype=np.float64).reshape(-1)
        if w is None or w.size == 0:
            continue
        if i >= len(arrays):
            raise ValueError(
                f"per_curve_widths has an entry for curve {i} but only {len(arrays)} curve(s) were given"
            )
        if len(w) != len(arrays[i]):
            raise ValueError(
                f"per_curve_widths[{i}] has {len(w)} entries but curve {i} has {len(arrays[i])} points; "
                f"they must match (or pass an empty list to use the uniform buffer)"
            )
        out[i] = w
    return out


def bounds_of(arrays: Iterable[FloatArray]) -> tuple[float, float, float, float] | None:
    """(min x, min y, max x, max y) over the finite points, None when there are none."""
    finite = [a[np.isfinite(a).all(axis=1)] for a in arrays if len(a)]
    finite = [a for a in finite if len(a)]
    if not finite:
        return None
    pts = np.concatenate(finite)
    lo = pts.min(axis=0)
    hi = pts.max(axis=0)
    return float(lo[0]), float(lo[1]), float(hi[0]), float(hi[1])


def diagonal(box: tuple[float, float, float, float] | None) -> float:
    if box is None:
        return 0.0
    return math.hypot(box[2] - box[0], box[3] - box[1])
