"""Turning the many shapes a drawing can arrive in into the native curve lists.

The exact native functions want lists of ``(x, y)`` tuples; the others also read
float64 ``(n, 2)`` arrays in one copy.  Reading a drawing yields, per curve, a
float array of its points (for checks, bounds and NaN gaps) and, when the input
was a list of points read in Python, the list of point tuples built on the way,
so that no point is converted twice.  The common drawing, lists of tuples of
floats, is read natively into one array (``read_point_lists``); all other
per-point work runs in C too: ``map(tuple, ...)``, ``np.fromiter``, ``tolist``
and ``zip``.

A row holding a NaN coordinate is a gap: the curve is split there, the way
matplotlib treats NaN in a line.  An infinite coordinate (a number that overflowed
on its way from a file) is a gap too: no buffer can be drawn around it, and a
stroke through it would otherwise be lost as a whole.
"""

from __future__ import annotations

import itertools
import math
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

import numpy as np
import numpy.typing as npt

from . import _internal
from ._geojson import lines
from ._types import Curve, CurveList, DrawingLike, FloatArray, Point, curves_of, is_geometry, is_geopandas, row_runs

_LINE_TYPES = ("LineString", "LinearRing")
_MULTI_TYPES = ("MultiLineString", "GeometryCollection")
_EMPTY = np.empty((0, 2), dtype=np.float64)
_END = object()
_MIN = np.minimum.reduce
_MAX = np.maximum.reduce
#: The types of curves read natively, all at once, when every curve of a drawing is one
_POINT_LISTS = {list, tuple}


def _geometry_curves(geom: Any) -> list[Curve]:
    import shapely  # type: ignore[import-untyped,unused-ignore]

    kind = geom.geom_type
    if kind in _LINE_TYPES:
        return [Curve(np.asarray(shapely.get_coordinates(geom), dtype=np.float64))]
    if kind in _MULTI_TYPES:
        out: list[Curve] = []
        for part in shapely.get_parts(geom):
            out.extend(_geometry_curves(part))
        return out
    raise TypeError(
        f"cannot use a {kind} as strokes; only LineString, LinearRing, MultiLineString "
        f"and collections of them are drawn (use .boundary for polygon outlines)"
    )


def _geo_curves(drawing: Any) -> list[Curve]:
    """Curves of a GeoDataFrame or GeoSeries: None and empty geometries are skipped."""
    geoms = drawing.geometry if hasattr(drawing, "geometry") else drawing
    out: list[Curve] = []
    for index, geom in enumerate(geoms):
        if geom is None or getattr(geom, "is_empty", False):
            continue
        if not is_geometry(geom):
            raise TypeError(f"row {index}: expected a geometry, got {type(geom).__name__}")
        try:
            out.extend(_geometry_curves(geom))
        except TypeError as exc:
            raise TypeError(f"row {index}: {exc}") from None
    return out


def _mapping_curves(data: Any) -> list[Curve]:
    return [Curve(np.asarray(c, dtype=np.float64)) for c in lines(data)]


def looks_like_point(obj: object) -> bool:
    """True for an ``(x, y)`` pair, which marks its container as a single curve."""
    if isinstance(obj, np.ndarray):
        return obj.ndim == 1 and obj.shape[0] == 2
    if isinstance(obj, (tuple, list)) and len(obj) == 2:
        return not any(isinstance(v, (Sequence, np.ndarray)) or is_geometry(v) for v in obj)
    return False


def _array_curve(obj: object, index: int) -> Curve:
    try:
        arr = np.asarray(obj, dtype=np.float64)
    except (TypeError, ValueError) as exc:
        raise TypeError(f"curve {index}: cannot read its points as numbers ({exc})") from None
    if arr.size == 0:
        return Curve(_EMPTY, [])
    if arr.ndim != 2 or arr.shape[1] != 2:
        raise ValueError(f"curve {index}: expected points of shape (n, 2), got shape {arr.shape}")
    return Curve(arr)


def _sequence_curve(seq: Sequence[Any], index: int) -> Curve:
    try:
        tuples = list(map(tuple, seq))
    except TypeError:
        return _array_curve(seq, index)  # points that are not pairs: numpy names the shape
    if not tuples:
        return Curve(_EMPTY, [])
    lengths = set(map(len, tuples))
    if lengths != {2}:
        if len(lengths) == 1:
            shape = (len(tuples), lengths.pop())
            raise ValueError(f"curve {index}: expected points of shape (n, 2), got shape {shape}")
        raise ValueError(f"curve {index}: expected (x, y) pairs, got points of lengths {sorted(lengths)}")
    try:
        flat = np.fromiter(itertools.chain.from_iterable(tuples), np.float64, 2 * len(tuples))
    except (TypeError, ValueError) as exc:
        raise TypeError(f"curve {index}: cannot read its points as numbers ({exc})") from None
    return Curve(flat.reshape(-1, 2), tuples)


def _read_curve(obj: object, index: int) -> list[Curve]:
    if type(obj) is list or type(obj) is tuple:  # the common case, first
        return [_sequence_curve(obj, index)]
    if is_geometry(obj):
        return _geometry_curves(obj)
    if isinstance(obj, (str, bytes)) or obj is None:
        raise TypeError(f"curve {index}: expected points, got {type(obj).__name__}")
    if isinstance(obj, np.ndarray) and obj.dtype != object:
        return [_array_curve(obj, index)]
    if isinstance(obj, Sequence):
        return [_sequence_curve(obj, index)]
    if isinstance(obj, Iterable):
        return [_sequence_curve(list(obj), index)]
    return [_array_curve(obj, index)]


def _read_point_lists(items: Sequence[Any]) -> CurveList | None:
    """Every curve at once, for a drawing made only of lists of points.

    Returns None when anything is off; reading curve by curve then finds and
    names the culprit.
    """
    # The common drawing, curves of (x, y) tuples of floats or ints, is read natively in one
    # pass into one array: per point that costs a fraction of building NumPy input in Python.
    # Any other drawing it declines at once.
    read = _internal.read_point_lists(items)
    if read is not None:
        flat, sizes = read
        return _split_points(np.ndarray((len(flat) >> 4, 2), np.float64, flat), memoryview(sizes).cast("q").tolist())
    if not set(map(type, items)) <= _POINT_LISTS:
        return None
    try:
        tuple_lists = [list(map(tuple, item)) for item in items]
    except TypeError:
        return None
    counts = list(map(len, tuple_lists))
    total = sum(counts)
    coords = itertools.chain.from_iterable(itertools.chain.from_iterable(tuple_lists))
    try:
        stacked = np.fromiter(coords, np.float64, 2 * total).reshape(-1, 2)
    except (TypeError, ValueError):
        return None  # too few coordinates, or one that is not a number
    if next(coords, _END) is not _END:
        return None  # too many coordinates
    # Points of other lengths that happen to add up to two per point are left
    # to the native call, which refuses any point that is not a pair; only where
    # the points are cut apart at gaps must they be checked here.
    gapless = bool(np.isfinite(stacked).all())
    if not gapless and set(map(len, itertools.chain.from_iterable(tuple_lists))) != {2}:
        return None
    curves = CurveList()
    start = 0
    for tuples, end in zip(tuple_lists, itertools.accumulate(counts)):
        curves.append(Curve(stacked[start:end], tuples))
        start = end
    curves.stacked = stacked
    curves.gapless = gapless
    return curves


def _split_points(stacked: FloatArray, counts: Any) -> CurveList:
    """The curves of ``counts`` points each, as views into ``stacked``."""
    curves = curves_of(row_runs(stacked, counts))
    curves.stacked = stacked
    curves.rows = True
    # min and max over all coordinates carry a NaN or an infinity through: two passes tell a
    # drawing without gaps, where its box took four, and a drawing near (0, 0) needs no box
    # for its origin (:func:`strandify._origin.curves_origin`)
    curves.gapless = not len(stacked) or math.isfinite(_MIN(stacked, None)) and math.isfinite(_MAX(stacked, None))
    return curves


def _read_arrays(items: Sequence[Any]) -> CurveList | None:
    """Every curve at once, for a drawing made only of numeric (n, 2) arrays."""
    if not all(
        type(a) is np.ndarray and a.ndim == 2 and a.shape[1] == 2 and a.dtype.kind in "fiu" for a in items
    ):
        return None
    curves = CurveList(Curve(np.asarray(a, dtype=np.float64)) for a in items)
    curves.stacked = np.concatenate([c.points for c in curves]) if curves else _EMPTY
    curves.gapless = bool(np.isfinite(curves.stacked).all())
    return curves


def read_curves(drawing: DrawingLike) -> list[Curve]:
    """Read a drawing into :class:`Curve` values, NaN rows kept.

    A MultiLineString (or a collection) contributes one curve per line, in order.
    A lone curve, an ``(n, 2)`` array or a list of ``(x, y)`` pairs, is taken as
    a drawing of that one curve.
    """
    if type(drawing) is list or type(drawing) is tuple:  # the common drawing, first
        return _read_items(drawing)
    if drawing is None:
        raise TypeError("expected a drawing (a list of curves), got None")
    if is_geometry(drawing):
        return _geometry_curves(drawing)
    if is_geopandas(drawing):
        return _geo_curves(drawing)
    if isinstance(drawing, Mapping):
        if "type" not in drawing:
            raise TypeError('expected a drawing (a list of curves), got a mapping without a GeoJSON "type"')
        return _mapping_curves(drawing)
    if hasattr(drawing, "__geo_interface__") and not isinstance(drawing, np.ndarray):
        return _mapping_curves(drawing.__geo_interface__)
    if isinstance(drawing, (str, bytes)):
        raise TypeError(f"expected a drawing (a list of curves), got {type(drawing).__name__}")
    if isinstance(drawing, np.ndarray) and drawing.dtype != object:
        arr = np.asarray(drawing, dtype=np.float64)
        if arr.size == 0:
            return []
        if arr.ndim == 2 and arr.shape[1] == 2:
            return [Curve(arr)]
        if arr.ndim == 3 and arr.shape[2] == 2:
            return [Curve(a) for a in arr]
        raise ValueError(f"expected an array of shape (n, 2) or (k, n, 2), got shape {arr.shape}")
    if not isinstance(drawing, Iterable):
        raise TypeError(f"expected a drawing (a list of curves), got {type(drawing).__name__}")
    return _read_items(drawing if isinstance(drawing, Sequence) else list(drawing))


def _read_items(items: Sequence[Any]) -> list[Curve]:
    """The curves of a drawing given as a sequence: of curves, or of the points of one."""
    if len(items) and looks_like_point(items[0]):
        return _read_curve(items, 0)
    fast = _read_point_lists(items)
    if fast is None:
        fast = _read_arrays(items)
    if fast is not None:
        return fast
    out: list[Curve] = []
    for index, item in enumerate(items):
        out.extend(_read_curve(item, index))
    return out


def _runs(bad: npt.NDArray[np.bool_]) -> list[slice]:
    """Slices of the runs of good rows between the bad ones."""
    edges = np.flatnonzero(np.diff(np.concatenate(([True], bad, [True])).astype(np.int8)))
    # edges alternate: a run of good rows starts after a bad row and ends before the next
    return [slice(int(a), int(b)) for a, b in zip(edges[::2], edges[1::2])]


def _tuples(arr: FloatArray) -> list[Any]:
    # two column lists zipped beat arr.tolist(), which builds a list per row
    return list(zip(*arr.T.tolist()))


def to_native(
    curves: Sequence[Curve | FloatArray],
    per_curve_widths: Sequence[npt.ArrayLike | None] | None = None,
) -> tuple[list[list[Point]], list[list[float]] | None]:
    """Build the native ``curves`` (and ``per_curve_widths``) from read curves.

    NaN (and infinite) rows split a curve; parts with fewer than two points are dropped since
    they draw nothing.  Width lists are cut in step with their curves, so they
    stay aligned with the curves the native call sees.
    """
    out, widths, _ = _pieces(curves, per_curve_widths, as_arrays=False)
    return out, widths


def native_strokes(
    curves: Sequence[Curve],
    per_curve_widths: Sequence[npt.ArrayLike | None] | None = None,
) -> tuple[list[Any], list[list[float]] | None, list[int]]:
    """The strokes and width lists of :func:`to_native` for the native calls that read an
    ``(n, 2)`` float64 array in one copy, and for every stroke the index of the read curve it
    was cut from.  A curve read from a list of points goes as those point tuples, which the
    native call checks to be pairs; any other as its float64 array, never as new tuples."""
    return _pieces(curves, per_curve_widths, as_arrays=True)


def _pieces(
    curves: Sequence[Curve | FloatArray],
    per_curve_widths: Sequence[npt.ArrayLike | None] | None,
    as_arrays: bool,
) -> tuple[list[Any], list[list[float]] | None, list[int]]:
    stacked = curves.stacked if isinstance(curves, CurveList) else None
    gapless = stacked is not None and isinstance(curves, CurveList) and curves.gapless
    rows = isinstance(curves, CurveList) and curves.rows
    if as_arrays and isinstance(curves, CurveList) and curves.rows and curves.gapless and per_curve_widths is None:
        # the common drawing, read natively: every curve goes as it is, unless one is too short
        arrays = [c.points for c in curves]
        if min(map(len, arrays), default=2) >= 2:
            return arrays, None, list(range(len(arrays)))
    read = [c if isinstance(c, Curve) else Curve(c) for c in curves]
    widths = None if per_curve_widths is None else _check_widths(read, per_curve_widths)
    out: list[Any] = []
    sources: list[int] = []
    out_widths: list[list[float]] | None = None if widths is None else []
    # without gaps, the tuples still missing come from one conversion of all
    # points, sliced per curve, rather than a conversion per curve
    all_tuples = (
        _tuples(stacked)
        if not as_arrays and gapless and stacked is not None and any(c.tuples is None for c in read)
        else None
    )
    start = 0
    for i, (arr, tuples) in enumerate(read):
        begin, start = start, start + len(arr)
        bad = None if gapless or np.isfinite(arr).all() else ~np.isfinite(arr).all(axis=1)
        if bad is None:
            if len(arr) < 2:
                continue
            if tuples is not None:
                out.append(tuples)
            elif as_arrays:
                out.append(arr if rows else np.ascontiguousarray(arr, dtype=np.float64))
            else:
                out.append(all_tuples[begin:start] if all_tuples is not None else _tuples(arr))
            sources.append(i)
            pieces = [slice(0, len(arr))]
        else:
            pieces = [s for s in _runs(bad) if s.stop - s.start >= 2]
            out.extend(np.ascontiguousarray(arr[s]) if as_arrays else _tuples(arr[s]) for s in pieces)
            sources.extend([i] * len(pieces))
        if out_widths is not None and widths is not None:
            w = widths[i]
            out_widths.extend(w[s].tolist() if w is not None else [] for s in pieces)
    return out, out_widths, sources


def _check_widths(curves: Sequence[Curve], per_curve_widths: Sequence[npt.ArrayLike | None]) -> list[FloatArray | None]:
    if isinstance(per_curve_widths, (str, bytes)):
        raise TypeError("per_curve_widths must be a list with one list of radii per curve")
    out: list[FloatArray | None] = [None] * len(curves)
    for i, entry in enumerate(per_curve_widths):
        w = None if entry is None else np.asarray(entry, dtype=np.float64).reshape(-1)
        if w is None or w.size == 0:
            continue
        if i >= len(curves):
            raise ValueError(
                f"per_curve_widths has an entry for curve {i} but only {len(curves)} curve(s) were given"
            )
        count = len(curves[i].points)
        if len(w) != count:
            raise ValueError(
                f"per_curve_widths[{i}] has {len(w)} entries but curve {i} has {count} points; "
                f"they must match (or pass an empty list to use the uniform buffer)"
            )
        out[i] = w
    return out


def stroke_arrays(curves: Sequence[Curve]) -> tuple[list[FloatArray], list[int]]:
    """The strokes :func:`to_native` gives, as float64 ``(n, 2)`` arrays instead of tuple lists:
    cut at NaN and infinite rows, parts under two points dropped; and for every stroke the index of the curve
    it was cut from, as :func:`native_strokes` gives it.  The native calls beyond the exact four
    read them in one copy each, and they pickle as buffers, not as a Python object per point."""
    out: list[FloatArray] = []
    sources: list[int] = []
    for i, (arr, _) in enumerate(curves):
        if np.isfinite(arr).all():
            if len(arr) >= 2:
                out.append(np.ascontiguousarray(arr, dtype=np.float64))
                sources.append(i)
            continue
        pieces = [s for s in _runs(~np.isfinite(arr).all(axis=1)) if s.stop - s.start >= 2]
        out.extend(np.ascontiguousarray(arr[s]) for s in pieces)
        sources.extend([i] * len(pieces))
    return out, sources
