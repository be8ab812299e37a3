"""Filled shapes in: centerlines of polygons.

A shape arrives as shapely Polygons and MultiPolygons (alone, in a list, a
GeoSeries or a GeoDataFrame), a GeoJSON mapping or ``__geo_interface__``, or
plain coordinates, whose nesting depth says what they are:

- a ring, an ``(n, 2)`` array or a list of ``(x, y)`` pairs: one polygon
  without holes;
- a list of rings: one polygon in GeoJSON order, its outer ring first and its
  holes after it;
- a list of such polygons (GeoJSON MultiPolygon coordinates);
- ``(outer, holes)`` tuples, as :func:`strandify.inflate_curves` returns them
  and :func:`strandify.strandify_polygons` takes them, alone or in a list.

Rings may be closed or open and in either orientation; invalid rings are
repaired by the native stage, not here.
"""

from __future__ import annotations

import inspect
import math
import warnings
from collections.abc import Iterable, Mapping, Sequence, Sized
from typing import Any, Literal, TypeAlias, overload

import numpy as np
import numpy.typing as npt

from . import _internal
from ._api import (
    FEATURE_PER_BUFFER,
    BatchJobError,
    BatchResults,
    _chunks,
    _positive,
    _progress_bar,
    _run_chunk,
    _workers,
    refine_steps,
)
from ._checks import LostStrokesWarning
from ._convert import FloatArray, crs_of
from ._result import Centerlines

#: A shape: shapely (Multi)Polygon(s), a GeoSeries or GeoDataFrame, a GeoJSON
#: mapping, or nested coordinates (see the module's documentation).
ShapeLike: TypeAlias = Any
#: One polygon as the native function takes it: outer ring and holes, each a
#: C-contiguous (n, 2) float64 array (point tuples are read as well).
NativePolygon: TypeAlias = tuple[FloatArray, list[FloatArray]]
#: The leading arguments of ``strandify_polygons``, which are also a job of
#: ``strandify_polygons_batch``: polygons, feature_size, buffer_distance, the
#: tuning values and compute_widths in the native order.
NativeJob: TypeAlias = tuple[
    list[NativePolygon], float, float | None, Any, Any, Any, bool, Any, Any, Any, Any
]

#: Without a ``feature_size``, it is this multiple of the shape's mean
#: half-width (area over boundary length).  Below the strokes' ratio of 2 to
#: the buffer radius: an outline's arms (the bar of a t, the tail of an a) are
#: often barely longer than they are wide, and the pruning length is a
#: multiple of the feature size (``REFINED_MIN_TIP_FRACTION``).
FEATURE_PER_HALF_WIDTH = 1.5

#: With ``refine`` on, side branches of a filled shape are pruned below 1.5
#: feature sizes instead of the native 2 (``min_tip_fraction``).  The
#: finishing steps then place the tips, so short true arms (both halves of
#: the bar of a t, the bar of a 4) survive that the longer pruning length
#: cut.  Measured with ``bench/bench_polygons.py`` on buffered Hershey
#: strokes, where the true centerline is known: half the spurious ends,
#: a smaller largest Hausdorff distance and more coverage than with 2.  An
#: explicit value wins; ``refine=False`` leaves it to the native default, so
#: that call stays the exact one.
REFINED_MIN_TIP_FRACTION = 1.5

_POLYGON_TYPES = ("Polygon", "MultiPolygon", "GeometryCollection")


def _is_geometry(obj: object) -> bool:
    return type(obj).__module__.startswith("shapely") and hasattr(obj, "geom_type")


def _ring(obj: Any, what: str) -> FloatArray:
    try:
        arr = np.asarray(obj, dtype=np.float64)
    except (TypeError, ValueError):
        raise TypeError(f"{what}: expected a ring of (x, y) pairs") from None
    if arr.ndim != 2 or arr.shape[1] < 2:
        if arr.size == 0:
            return np.empty((0, 2), dtype=np.float64)
        raise TypeError(f"{what}: expected a ring of (x, y) pairs, got an array of shape {arr.shape}")
    return np.ascontiguousarray(arr[:, :2])


def _depth(obj: Any) -> int:
    """0 for a number, 1 for a point, 2 for a ring, ...: the nesting below ``obj``."""
    if isinstance(obj, np.ndarray):
        return obj.ndim
    depth = 0
    while isinstance(obj, (Sequence, np.ndarray)) and not isinstance(obj, (str, bytes)):
        if len(obj) == 0:
            return depth + 1
        obj = obj[0]
        depth += 1
        if isinstance(obj, np.ndarray):
            return depth + obj.ndim
    return depth


def _is_native_pair(obj: Any) -> bool:
    return (
        isinstance(obj, tuple)
        and len(obj) == 2
        and _depth(obj[0]) == 2
        and isinstance(obj[1], (Sequence, np.ndarray))
        and (len(obj[1]) == 0 or _depth(obj[1]) == 3)
    )


def _geometry_polygons(geom: Any, out: list[list[FloatArray]]) -> None:
    import shapely  # type: ignore[import-untyped,unused-ignore]

    kind = geom.geom_type
    if geom.is_empty:
        return
    if kind == "Polygon":
        out.append(
            [np.asarray(shapely.get_coordinates(geom.exterior), dtype=np.float64)]
            + [np.asarray(shapely.get_coordinates(r), dtype=np.float64) for r in geom.interiors]
        )
    elif kind in _POLYGON_TYPES:
        for part in shapely.get_parts(geom):
            _geometry_polygons(part, out)
    else:
        raise TypeError(f"cannot use a {kind} as a filled shape; only Polygon and MultiPolygon are regions")


def _mapping_polygons(data: Mapping[str, Any], out: list[list[FloatArray]], strict: bool = True) -> None:
    """The polygons of a GeoJSON object; other geometries raise TypeError, or are skipped
    when not ``strict`` (files mix lines and points with their areas)."""
    stack: list[Any] = [data]
    while stack:
        obj = stack.pop()
        if obj is None:
            continue
        kind = obj.get("type") if isinstance(obj, Mapping) else None
        if kind == "FeatureCollection":
            stack.extend(reversed(list(obj.get("features") or [])))
        elif kind == "Feature":
            stack.append(obj.get("geometry"))
        elif kind == "GeometryCollection":
            stack.extend(reversed(list(obj.get("geometries") or [])))
        elif kind == "Polygon":
            coords = obj.get("coordinates") or []
            if len(coords):
                out.append([_ring(r, "Polygon") for r in coords])
        elif kind == "MultiPolygon":
            for poly in obj.get("coordinates") or []:
                if len(poly):
                    out.append([_ring(r, "MultiPolygon") for r in poly])
        elif strict:
            raise TypeError(f"cannot use a GeoJSON {kind!r} as a filled shape; only Polygon and MultiPolygon are regions")


def _collect(shapes: ShapeLike, out: list[list[FloatArray]], top: bool) -> None:
    if shapes is None:
        return
    if _is_geometry(shapes):
        _geometry_polygons(shapes, out)
        return
    if type(shapes).__module__.startswith("geopandas"):
        # a GeoDataFrame's geometry column, or a GeoSeries: its geometries in row order
        column: Any = getattr(shapes, "geometry", shapes)
        for geom in column:
            if geom is not None:
                _geometry_polygons(geom, out)
        return
    if hasattr(shapes, "__geo_interface__") and not isinstance(shapes, (np.ndarray, Sequence)):
        _mapping_polygons(shapes.__geo_interface__, out)
        return
    if isinstance(shapes, Mapping):
        _mapping_polygons(shapes, out)
        return
    if _is_native_pair(shapes):
        out.append([_ring(shapes[0], "outer ring")] + [_ring(h, "hole") for h in shapes[1]])
        return
    if not isinstance(shapes, (Sequence, np.ndarray)) or isinstance(shapes, (str, bytes)):
        raise TypeError(f"cannot read a {type(shapes).__name__} as filled shapes")
    if len(shapes) == 0:
        return
    depth = _depth(shapes)
    if all(_is_geometry(s) or _is_native_pair(s) or isinstance(s, Mapping) for s in shapes):
        for s in shapes:
            _collect(s, out, False)
    elif depth == 2:
        out.append([_ring(shapes, "ring")])
    elif depth == 3:
        out.append([_ring(r, "ring") for r in shapes])
    elif depth == 4 and top:
        for poly in shapes:
            if len(poly):
                out.append([_ring(r, "ring") for r in poly])
    else:
        raise TypeError("cannot tell rings, polygons and lists of polygons apart at this nesting depth")


def read_polygons(shapes: ShapeLike) -> list[list[FloatArray]]:
    """Every polygon of ``shapes`` as a list of rings, the outer ring first."""
    out: list[list[FloatArray]] = []
    _collect(shapes, out, True)
    return out


def to_native_polygons(polygons: Sequence[Sequence[FloatArray]]) -> list[NativePolygon]:
    """The ``(outer, holes)`` tuples the native function takes; the rings stay (n, 2) float64
    arrays, which it reads in one copy."""
    return [(rings[0], list(rings[1:])) for rings in polygons if len(rings)]


def _ring_area_length(ring: FloatArray) -> tuple[float, float]:
    if len(ring) < 3:
        return 0.0, 0.0
    # relative to the first point the shoelace's closing term vanishes
    rel = ring - ring[0]
    x, y = rel[:, 0], rel[:, 1]
    area = 0.5 * float(x[:-1] @ y[1:] - x[1:] @ y[:-1])
    steps = np.diff(ring, axis=0)
    length = float(np.sqrt((steps * steps).sum(axis=1)).sum()) + math.hypot(*rel[-1])
    return area, length


def mean_half_width(polygons: Sequence[Sequence[FloatArray]]) -> float:
    """Area over boundary length of the rings as given: a strip's half-width.

    Each outer ring counts with its absolute area and each hole takes its
    absolute area away, whatever their orientation.  NaN when the rings
    enclose nothing measurable.
    """
    area = length = 0.0
    with np.errstate(all="ignore"):
        for rings in polygons:
            for k, ring in enumerate(rings):
                a, l = _ring_area_length(ring)
                area += abs(a) if k == 0 else -abs(a)
                length += l
    return area / length if area > 0 and length > 0 and math.isfinite(area / length) else math.nan


def suggest_polygon_feature_size(shapes: ShapeLike) -> float:
    """The ``feature_size`` that :func:`polygon_centerlines` uses when it is left out.

    ``FEATURE_PER_HALF_WIDTH`` (1.5) times the shape's mean half-width, its
    area divided by its boundary length (holes taken away from the area and
    added to the length).  For a long road 10 wide that is 7.5; for a disk of
    radius 8, 6.  Raises ValueError
    when the rings as given enclose no area (for example a ring that crosses
    itself so that its lobes cancel): pass ``feature_size`` then.
    """
    return _derived_feature_size(read_polygons(shapes), shapes)


def _derived_feature_size(polygons: Sequence[Sequence[FloatArray]], shapes: Any = None) -> float:
    if _is_geometry(shapes) and shapes.geom_type in ("Polygon", "MultiPolygon"):
        # the same measure, computed by GEOS in one call per quantity
        length = float(shapes.length)
        half = float(shapes.area) / length if length > 0 else math.nan
    else:
        half = mean_half_width(polygons)
    if not (half > 0 and math.isfinite(half)):
        raise ValueError(
            "cannot derive feature_size from these shapes: their rings enclose no area as given "
            "(empty, degenerate, non-finite or crossing themselves); pass feature_size"
        )
    return half * FEATURE_PER_HALF_WIDTH


def _native_job(
    polygons: list[list[FloatArray]],
    shapes: Any,
    feature_size: float | None,
    buffer_distance: float | None,
    options: tuple[Any, ...],
    compute_widths: bool,
) -> NativeJob:
    """The leading arguments of the native polygon functions, in their order: a call of
    ``strandify_polygons`` and a job of ``strandify_polygons_batch`` alike."""
    if buffer_distance is not None:
        buffer_distance = _positive("buffer_distance", buffer_distance)
    if feature_size is None:
        # nothing to measure, and nothing to compute: any valid scale gives the empty result
        feature_size = _derived_feature_size(polygons, shapes) if polygons else 1.0
    simplification, min_tip, junction, max_nodes, ratio, resample, boundary = options
    return (
        to_native_polygons(polygons),
        feature_size,
        buffer_distance,
        simplification,
        min_tip,
        junction,
        compute_widths,
        ratio,
        max_nodes,
        resample,
        boundary,
    )


def _steps_and_options(
    refine: bool, steps: dict[str, bool], tuning: dict[str, Any]
) -> tuple[tuple[str, ...] | None, tuple[Any, ...]]:
    """The native ``refine`` value and the tuning values in job order, with the pruning
    default of the finished path."""
    min_tip = tuning["min_tip_fraction"]
    if refine and min_tip is None:
        min_tip = REFINED_MIN_TIP_FRACTION
    options = (
        tuning["simplification"],
        min_tip,
        tuning["junction_merge_fraction"],
        tuning["max_nodes"],
        tuning["subdivision_ratio"],
        tuning["resample"],
        tuning["boundary_simplification"],
    )
    return refine_steps(refine, **steps), options


def _check_partition(partition: Any) -> None:
    if partition not in ("none", "components") or not isinstance(partition, str):
        raise ValueError(f"partition must be 'none' or 'components', got {partition!r}")


def _result(
    read: list[list[FloatArray]], out: Any, compute_widths: bool, crs: Any, warn_stacklevel: int | None
) -> Centerlines:
    """The native result as Centerlines; unless ``warn_stacklevel`` is None, warns when shapes
    were given but no line came out."""
    chains, nodes, ids, widths = out
    if warn_stacklevel is not None and read and not chains:
        warnings.warn(
            LostStrokesWarning(
                "no centerline: every branch of the shapes was shorter than the pruning length; "
                "give a smaller feature_size (or min_tip_fraction)"
            ),
            stacklevel=warn_stacklevel + 1,
        )
    return Centerlines.from_native(chains, nodes, ids, widths if compute_widths else None, crs=crs)


_TUNING = (
    "simplification",
    "min_tip_fraction",
    "junction_merge_fraction",
    "max_nodes",
    "subdivision_ratio",
    "resample",
    "boundary_simplification",
)
_STEPS = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "radius_tips")


def polygon_centerlines(
    polygons: ShapeLike,
    feature_size: float | None = None,
    *,
    buffer_distance: float | None = None,
    simplification: float | None = None,
    min_tip_fraction: float | None = None,
    junction_merge_fraction: float | None = None,
    compute_widths: bool = False,
    subdivision_ratio: float | None = None,
    max_nodes: int | None = None,
    resample: float | None = None,
    boundary_simplification: float | None = None,
    partition: Literal["none", "components"] = "components",
    workers: int | None = None,
    refine: bool = True,
    finish_tips: bool = True,
    recover_corners: bool = True,
    keep_dots: bool = True,
    join_crossings: bool = True,
    radius_tips: bool = False,
) -> Centerlines:
    """Compute the centerline network of filled shapes.

    ``polygons`` is anything the module documentation lists: shapely
    Polygons and MultiPolygons, a GeoSeries or GeoDataFrame of them (None and
    empty rows skipped, the CRS kept), GeoJSON, ring arrays or nested
    coordinate lists.  All shapes of one call form one region: shapes that
    overlap or touch give one connected network.  Self-intersecting rings,
    either orientation, repeated points and holes that stray outside their
    outer ring are repaired (:func:`strandify.strandify_polygons`); NaN or
    infinite coordinates raise ValueError.

    ``feature_size`` defaults as described in
    :func:`suggest_polygon_feature_size` (1.5 x the mean half-width).
    ``buffer_distance`` sizes the boundary refinement near sharp corners, as
    the buffer radius does for strokes; by default it is the mean half-width
    of the repaired shape.  With ``compute_widths=True`` the result's
    ``widths`` hold the local width of the shape at every chain point (twice
    the distance to the nearest vertex of the conditioned boundary, whose
    edges are at most 1.5 x feature_size long).

    ``partition="components"`` (the default) skeletonises and chains every
    separate polygon on its own, on up to ``workers`` threads (default: one
    per CPU, used only when the shapes have thousands of points); the result
    does not depend on their number.  ``partition="none"`` runs all polygons
    as one region, exactly as :func:`strandify.strandify_polygons` does by
    default.  ``refine`` and its steps (on by default) finish the lines as in
    :func:`strandify.centerlines`: ``finish_tips`` ends a straight arm where a
    round pen of the arm's half-width would have stopped, half a width
    inside the shape's end, ``keep_dots`` keeps small separate parts (the
    dot of an i) as short chains.  With ``refine`` on, ``min_tip_fraction``
    defaults to 1.5 (``REFINED_MIN_TIP_FRACTION``), which keeps the short
    arms of outlines.
    ``refine=False, partition="none"`` gives exactly the chains of
    :func:`strandify.strandify_polygons` with its own defaults.  The other
    keywords mean what they mean in :func:`strandify.centerlines`.

    A :class:`LostStrokesWarning` tells when shapes were given but no
    centerline came out (every branch shorter than the pruning length).
    """
    _check_partition(partition)
    threads = _workers(workers)
    arguments = locals()
    steps, options = _steps_and_options(
        refine, {k: arguments[k] for k in _STEPS}, {k: arguments[k] for k in _TUNING}
    )
    crs = crs_of(polygons)
    read = read_polygons(polygons)
    job = _native_job(read, polygons, feature_size, buffer_distance, options, compute_widths)
    # Without steps (None) the call is exactly the one of the exact polygon pipeline.
    out = _internal.strandify_polygons(*job, partition, threads, refine=steps)
    return _result(read, out, compute_widths, crs, warn_stacklevel=2)


@overload
def polygon_centerlines_batch(
    shapes: Iterable[ShapeLike],
    feature_size: float | None = ...,
    *,
    errors: Literal["raise"] = ...,
    **options: Any,
) -> list[Centerlines]: ...
@overload
def polygon_centerlines_batch(
    shapes: Iterable[ShapeLike],
    feature_size: float | None = ...,
    *,
    errors: Literal["skip"],
    **options: Any,
) -> BatchResults: ...
def polygon_centerlines_batch(
    shapes: Iterable[ShapeLike],
    feature_size: float | None = None,
    *,
    errors: Literal["raise", "skip"] = "raise",
    progress: bool = False,
    workers: int | None = None,
    chunk_size: int = 64,
    **options: Any,
) -> list[Centerlines] | BatchResults:
    """:func:`polygon_centerlines` of every item of ``shapes``, each on its own; results in order.

    A missing ``feature_size`` is derived for each item.  ``options`` are the
    keywords of :func:`polygon_centerlines`.  The items are read here and run
    ``chunk_size`` at a time by :func:`strandify.strandify_polygons_batch` on
    the native worker pool, with the interpreter lock released; ``workers``
    (default: every thread of the pool, one per CPU) caps how many run at once.
    Each item runs on one thread, and the results do not depend on the thread
    count.  ``errors`` works as in :func:`strandify.centerlines_batch`:
    "raise" raises :class:`BatchJobError` for the first failing item, "skip"
    returns a :class:`BatchResults` with None and the exception for each
    failing item.
    """
    if errors not in ("raise", "skip"):
        raise ValueError(f'errors must be "raise" or "skip", got {errors!r}')
    if isinstance(chunk_size, bool) or not isinstance(chunk_size, int) or chunk_size < 1:
        raise ValueError(f"chunk_size must be a positive integer, got {chunk_size!r}")
    threads = None if workers is None else _workers(workers)
    # the keywords of one call, checked and completed as that call would check them
    arguments = inspect.signature(polygon_centerlines).bind(None, feature_size, **options)
    arguments.apply_defaults()
    a = arguments.arguments
    _check_partition(a["partition"])
    steps, tuning = _steps_and_options(a["refine"], {k: a[k] for k in _STEPS}, {k: a[k] for k in _TUNING})
    keywords: dict[str, Any] = {"partition": a["partition"], "workers": threads}
    if steps is not None:
        keywords["refine"] = steps

    def native(batch: list[Any]) -> list[Any]:
        return _internal.strandify_polygons_batch(batch, **keywords)

    skip = errors == "skip"
    bar = None
    if progress:
        bar = _progress_bar(len(shapes) if isinstance(shapes, Sized) else None)
    results: Any = BatchResults() if skip else []
    try:
        for offset, chunk in _chunks(shapes, chunk_size):
            jobs: dict[int, Any] = {}
            context: dict[int, tuple[list[list[FloatArray]], Any]] = {}
            failed: dict[int, Exception] = {}
            for i, item in enumerate(chunk):
                try:
                    read = read_polygons(item)
                    jobs[i] = _native_job(
                        read, item, feature_size, a["buffer_distance"], tuning, a["compute_widths"]
                    )
                    context[i] = (read, crs_of(item))
                except (TypeError, ValueError) as exc:
                    if not skip:
                        raise BatchJobError(offset + i, str(exc)) from None
                    failed[i] = exc
            done = _run_chunk(jobs, offset, skip, failed, native)
            for i in range(len(chunk)):
                if i in failed:
                    results.append(None)
                    results.errors[offset + i] = failed[i]
                    continue
                read, crs = context[i]
                # an item without any line is the caller's to notice; the batch does not warn
                results.append(_result(read, done[i], a["compute_widths"], crs, warn_stacklevel=None))
            if bar is not None:
                bar.update(len(chunk))
    finally:
        if bar is not None:
            bar.close()
    done_results: list[Centerlines] | BatchResults = results
    return done_results


def regions_from_subpaths(rings: Sequence[npt.ArrayLike]) -> list[list[FloatArray]]:
    """Polygons from the closed subpaths of one filled outline (a font glyph, an SVG path).

    A subpath that lies inside an odd number of the others is a hole of the
    smallest subpath around it, one at even depth an outer ring of a polygon
    of its own: the even-odd reading, which for outlines that do not cross
    themselves (fonts, icons) is also the nonzero one.
    """
    arrays = [r for r in (_ring(x, "subpath") for x in rings) if len(r) >= 3]
    n = len(arrays)
    if n == 0:
        return []
    areas = np.array([abs(_ring_area_length(r)[0]) for r in arrays])
    inside = np.zeros((n, n), dtype=bool)  # inside[i, j]: ring i lies in ring j
    for j, ring in enumerate(arrays):
        probes = np.array([r[0] for r in arrays])
        inside[:, j] = _contains(ring, probes)
        inside[j, j] = False
    inside &= areas[:, None] < areas[None, :]
    depth = inside.sum(axis=1)
    polygons: dict[int, list[FloatArray]] = {}
    for i in np.argsort(depth, kind="stable").tolist():
        if depth[i] % 2 == 0:
            polygons[i] = [arrays[i]]
            continue
        owners = [j for j in np.flatnonzero(inside[i]).tolist() if depth[j] == depth[i] - 1]
        if owners:
            polygons[min(owners, key=lambda j: areas[j])].append(arrays[i])
    return [polygons[k] for k in sorted(polygons)]


def _contains(ring: FloatArray, points: FloatArray) -> npt.NDArray[np.bool_]:
    """Even-odd crossing test of many points against one ring."""
    x, y = points[:, 0][:, None], points[:, 1][:, None]
    xi, yi = ring[:, 0][None, :], ring[:, 1][None, :]
    xj, yj = np.roll(ring[:, 0], 1)[None, :], np.roll(ring[:, 1], 1)[None, :]
    with np.errstate(divide="ignore", invalid="ignore"):
        crosses = ((yi > y) != (yj > y)) & (x < (xj - xi) * (y - yi) / (yj - yi) + xi)
    return np.asarray(crosses.sum(axis=1) % 2 == 1)
