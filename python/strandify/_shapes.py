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

import warnings
from collections.abc import Iterable, Mapping, Sized
from dataclasses import replace
from functools import lru_cache
from typing import Any, Literal, overload

from . import _native
from ._batch import BatchResults, run_chunked
from ._checks import named
from ._crs import crs_of, work_crs
from ._geometry import bounds_of
from ._origin import moved_rings
from ._read_shapes import read_polygons, read_with_origin, to_native_polygons
from ._result import Centerlines
from ._scale import shape_feature_size
from ._sources import Provenance, attribute_table, find_sources, shape_features
from ._types import FloatArray, NativeJob, Point, ShapeLike
from .errors import LostStrokesWarning
from .options import (
    SHAPE_PARTITIONS,
    NativeOptions,
    Options,
    available_cpus,
    check_chunk_size,
    check_errors,
    check_partition,
    positive_number,
    takes_options,
)

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


def suggest_polygon_feature_size(shapes: ShapeLike) -> float:
    """The ``feature_size`` that :func:`polygon_centerlines` uses when it is left out.

    ``FEATURE_PER_HALF_WIDTH`` (1.5) times the shape's mean half-width, its
    area divided by its boundary length (holes taken away from the area and
    added to the length).  For a long road 10 wide that is 7.5; for a disk of
    radius 8, 6.  Raises ValueError
    when the rings as given enclose no area (for example a ring that crosses
    itself so that its lobes cancel): pass ``feature_size`` then.
    """
    return shape_feature_size(read_polygons(shapes), shapes)


def _native_job(
    polygons: list[list[FloatArray]],
    shapes: Any,
    buffer_distance: float | None,
    feature_size: float | None,
    origin: Point,
    partition: str,
) -> NativeJob:
    """The leading arguments of the native polygon functions, in their order: a call of
    ``strandify_polygons`` and a job of ``strandify_polygons_batch`` alike, with the rings
    about ``origin``.  Split into components, every separate shape derives its own missing
    feature size natively, so that it does not depend on the other shapes of the call; run
    whole, the call's one feature size is derived here."""
    if buffer_distance is not None:
        buffer_distance = positive_number("buffer_distance", buffer_distance)
    if feature_size is None and partition != "components":
        # nothing to measure, and nothing to compute: any valid scale gives the empty result
        feature_size = shape_feature_size(polygons, shapes) if polygons else 1.0
    return to_native_polygons(moved_rings(polygons, origin)), buffer_distance, feature_size


def shape_options(options: Options | None, keywords: Mapping[str, Any], function: str, **changes: Any) -> tuple[Options, NativeOptions]:
    """The tuning of a shapes call and its native form, with the pruning default of the
    finished path.  ``merge_tolerance`` joins stroke ends: as a keyword here it is refused as
    unknown, while an ``options`` value made for strokes may carry one, which means nothing."""
    if options is None and not keywords and not changes:
        # most calls: the defaults, the same two values for every call on as many threads
        return _default_shape_options(available_cpus())
    if "merge_tolerance" in keywords:
        raise TypeError(f"{function}() got an unexpected keyword argument 'merge_tolerance'")
    tuning = Options.build(options, keywords, function)
    check_partition(tuning.partition, SHAPE_PARTITIONS)
    if tuning.refine and tuning.min_tip_fraction is None:
        changes.setdefault("min_tip_fraction", REFINED_MIN_TIP_FRACTION)
    return tuning, tuning.native(**changes)


@lru_cache(maxsize=8)
def _default_shape_options(workers: int) -> tuple[Options, NativeOptions]:
    tuning = Options()
    changes = {"min_tip_fraction": REFINED_MIN_TIP_FRACTION} if tuning.refine else {}
    return tuning, replace(tuning.native(**changes), workers=workers)


def _result(out: Any, compute_widths: bool, crs: Any, origin: Point) -> Centerlines:
    """A batch job's native result, computed about ``origin``, as Centerlines; an item without
    any line is the caller's to notice, so the batch does not warn."""
    chains, nodes, ids, widths = out
    return Centerlines.from_native(chains, nodes, ids, widths if compute_widths else None, crs=crs, origin=origin)


def _warn_lost(lost: list[int], shapes: int, any_chain: bool, stacklevel: int) -> None:
    """Warn with :class:`LostStrokesWarning` when no line came out of ``shapes`` shapes, or
    when the shapes ``lost`` gave none."""
    if not any_chain:
        warnings.warn(
            LostStrokesWarning(
                "no centerline: every branch of the shapes was shorter than the pruning length; "
                "give a smaller feature_size (or min_tip_fraction)"
            ),
            stacklevel=stacklevel + 1,
        )
    elif lost:
        warnings.warn(
            LostStrokesWarning(
                f"{len(lost)} of {shapes} polygon(s) gave no centerline (polygons {named(lost)}, "
                f"MultiPolygons counted by their parts); a smaller feature_size keeps small parts"
            ),
            stacklevel=stacklevel + 1,
        )


@takes_options
def polygon_centerlines(
    polygons: ShapeLike,
    feature_size: float | None = None,
    *,
    buffer_distance: float | None = None,
    crs: Any = None,
    options: Options | None = None,
    **keywords: Any,
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
    of the repaired shape.  With ``partition="components"`` (the default)
    both are derived for every separate region of the repaired shapes (a
    shape, or shapes that touch or overlap) from that region alone, and each
    region is computed about the corner of its own box: a region gives the
    chains it gives alone, whatever else the call holds, so a row of small
    houses keeps its line beside a large factory (``max_nodes`` then bounds
    each region).  With ``partition="none"`` the call has one scale,
    measured on all shapes together.  With ``compute_widths=True`` the result's
    ``widths`` hold the local width of the shape at every chain point (twice
    the distance to the nearest vertex of the conditioned boundary, whose
    edges are at most 1.5 x feature_size long).

    ``partition="components"`` (the default) skeletonises and chains every
    separate polygon on its own, on up to ``workers`` threads (default: one
    per CPU, used only when the shapes have thousands of points); the result
    does not depend on their number.  ``partition="none"`` runs all polygons
    as one region, exactly as :func:`strandify.strandify_polygons` does by
    default.  With ``refine`` on, the boundary is refined more lightly near the
    shapes' convex corners (where the skeleton only grows a spur) than near
    their concave ones, which meshes faster; rings shorter than 20 x
    buffer_distance keep the full refinement.  ``refine`` and its steps (on
    by default) finish the lines as in :func:`strandify.centerlines`: ``finish_tips`` ends a straight arm where a
    round pen of the arm's half-width would have stopped, half a width
    inside the shape's end, ``keep_dots`` keeps small separate parts (the
    dot of an i) as short chains.  With ``refine`` on, ``min_tip_fraction``
    defaults to 1.5 (``REFINED_MIN_TIP_FRACTION``), which keeps the short
    arms of outlines.
    ``refine=False, partition="none"`` gives exactly the chains of
    :func:`strandify.strandify_polygons` with its own defaults.  The other
    keywords (the fields of :class:`strandify.options.Options`, which may come
    as ``options=``) mean what they mean in :func:`strandify.centerlines`;
    ``merge_tolerance`` and ``tile_size`` mean nothing for shapes.  Shapes far
    from the origin are computed about the corner of their bounding box, as in
    :func:`strandify.centerlines`.

    A :class:`LostStrokesWarning` tells when shapes were given but no
    centerline came out (every branch shorter than the pruning length).
    ``crs`` and ``sources`` work as in :func:`strandify.centerlines`; a
    chain's sources are the shapes that hold it.
    """
    tuning, native = shape_options(options, keywords, "polygon_centerlines")
    if crs is not None:
        polygons = work_crs(polygons, crs)
    crs = crs_of(polygons)
    read, origin = read_with_origin(polygons)
    job = _native_job(read, polygons, buffer_distance, feature_size, origin, tuning.partition)
    out = _native.strandify_polygons_arrays(*job, native)
    result = Centerlines.from_buffers(out, tuning.compute_widths, crs=crs, origin=origin)
    # the offsets of no chain are one zero
    if read and (out[5] or len(out[1]) == 8):
        # the native call checks the shapes it was given, those with rings
        given = [i for i, rings in enumerate(read) if len(rings)]
        lost = [given[j] for j in memoryview(out[5]).cast("q").tolist()]
        _warn_lost(lost, len(read), len(out[1]) > 8, stacklevel=2)
    return with_shape_sources(result, polygons, read, job[2], origin) if tuning.sources else result


def _matching_scale(read: list[list[FloatArray]], shapes: Any, feature_size: float | None) -> float:
    """The feature size the provenance of a shapes call is matched at: the call's own, or,
    where each separate shape derived its own, the one of all shapes together (a hundredth of
    their extent when their rings as given enclose nothing)."""
    if feature_size is not None:
        return feature_size
    try:
        return shape_feature_size(read, shapes)
    except ValueError:
        box = bounds_of([ring for rings in read for ring in rings])
        return max(box[2] - box[0], box[3] - box[1]) / 100.0 if box else 1.0


def with_shape_sources(
    result: Centerlines, shapes: Any, read: list[list[FloatArray]], feature_size: float | None, origin: Point
) -> Centerlines:
    """``result`` with the provenance of its chains: the shapes that hold them."""
    features, index = shape_features(shapes)
    scale = _matching_scale(read, shapes, feature_size)
    rows, lengths = find_sources(result.chains, features, 0.0, scale, origin)
    return replace(result, provenance=Provenance(rows, lengths, index, attribute_table(shapes)))


@overload
def polygon_centerlines_batch(
    shapes: Iterable[ShapeLike],
    feature_size: float | None = ...,
    *,
    errors: Literal["raise"] = ...,
    **keywords: Any,
) -> list[Centerlines]: ...
@overload
def polygon_centerlines_batch(
    shapes: Iterable[ShapeLike],
    feature_size: float | None = ...,
    *,
    errors: Literal["skip"],
    **keywords: Any,
) -> BatchResults: ...
@takes_options
def polygon_centerlines_batch(
    shapes: Iterable[ShapeLike],
    feature_size: float | None = None,
    *,
    buffer_distance: float | None = None,
    options: Options | None = None,
    errors: Literal["raise", "skip"] = "raise",
    progress: bool = False,
    chunk_size: int = 64,
    **keywords: Any,
) -> list[Centerlines] | BatchResults:
    """:func:`polygon_centerlines` of every item of ``shapes``, each on its own; results in order.

    A missing ``feature_size`` is derived for each item.  ``buffer_distance``
    and the tuning keywords (or ``options``) are those of
    :func:`polygon_centerlines`.  The items are read here and run
    ``chunk_size`` at a time by :func:`strandify.strandify_polygons_batch` on
    the native worker pool, with the interpreter lock released; ``workers``
    (default: every thread of the pool, one per CPU) caps how many run at once.
    Each item runs on one thread, and the results do not depend on the thread
    count.  ``errors`` works as in :func:`strandify.centerlines_batch`:
    "raise" raises :class:`BatchJobError` for the first failing item, "skip"
    returns a :class:`BatchResults` with None and the exception for each
    failing item.
    """
    check_errors(errors)
    check_chunk_size(chunk_size)
    tuning, native_options = shape_options(options, keywords, "polygon_centerlines_batch")
    # every thread of the pool unless the caller caps it
    native_options = replace(native_options, workers=tuning.workers)

    def native(batch: list[Any]) -> list[Any]:
        return _native.strandify_polygons_batch(batch, native_options)

    def prepare(item: ShapeLike, index: int) -> tuple[NativeJob, tuple[list[list[FloatArray]], Any, Point, Any]]:
        read, origin = read_with_origin(item)
        job = _native_job(read, item, buffer_distance, feature_size, origin, tuning.partition)
        # counts this closure and run_chunked: the warning points where it always has
        return job, (read, crs_of(item, stacklevel=5), origin, (item, job[2]) if tuning.sources else None)

    def finish(out: Any, context: tuple[list[list[FloatArray]], Any, Point, Any], index: int) -> Centerlines:
        read, crs, origin, shapes = context
        result = _result(out, tuning.compute_widths, crs, origin)
        return result if shapes is None else with_shape_sources(result, shapes[0], read, shapes[1], origin)

    results: list[Centerlines] | BatchResults = run_chunked(
        shapes,
        prepare,
        native,
        finish,
        chunk_size=chunk_size,
        skip=errors == "skip",
        progress=progress,
        total=len(shapes) if progress and isinstance(shapes, Sized) else None,
        name_read_failures=True,
    )
    return results
