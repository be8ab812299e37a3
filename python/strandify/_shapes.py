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
import warnings
from collections.abc import Iterable, Mapping, Sized
from typing import Any, Literal, overload

from . import _internal
from ._batch import BatchResults, run_chunked
from ._crs import crs_of
from ._read_shapes import read_polygons, to_native_polygons
from ._result import Centerlines
from ._scale import shape_feature_size
from ._types import FloatArray, NativeJob, ShapeLike
from .errors import LostStrokesWarning
from .options import (
    SHAPE_PARTITIONS,
    check_chunk_size,
    check_errors,
    check_partition,
    positive_number,
    steps_of,
    thread_count,
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
    feature_size: float | None,
    buffer_distance: float | None,
    options: tuple[Any, ...],
    compute_widths: bool,
) -> NativeJob:
    """The leading arguments of the native polygon functions, in their order: a call of
    ``strandify_polygons`` and a job of ``strandify_polygons_batch`` alike."""
    if buffer_distance is not None:
        buffer_distance = positive_number("buffer_distance", buffer_distance)
    if feature_size is None:
        # nothing to measure, and nothing to compute: any valid scale gives the empty result
        feature_size = shape_feature_size(polygons, shapes) if polygons else 1.0
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


def _steps_and_options(arguments: Mapping[str, Any]) -> tuple[tuple[str, ...] | None, tuple[Any, ...]]:
    """The native ``refine`` value and the tuning values in job order, with the pruning
    default of the finished path, from the arguments of a :func:`polygon_centerlines` call."""
    min_tip = arguments["min_tip_fraction"]
    if arguments["refine"] and min_tip is None:
        min_tip = REFINED_MIN_TIP_FRACTION
    options = (
        arguments["simplification"],
        min_tip,
        arguments["junction_merge_fraction"],
        arguments["max_nodes"],
        arguments["subdivision_ratio"],
        arguments["resample"],
        arguments["boundary_simplification"],
    )
    return steps_of(arguments), options


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
    check_partition(partition, SHAPE_PARTITIONS)
    threads = thread_count(workers)
    steps, options = _steps_and_options(locals())
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
    check_errors(errors)
    check_chunk_size(chunk_size)
    threads = None if workers is None else thread_count(workers)
    # the keywords of one call, checked and completed as that call would check them
    arguments = inspect.signature(polygon_centerlines).bind(None, feature_size, **options)
    arguments.apply_defaults()
    a = arguments.arguments
    check_partition(a["partition"], SHAPE_PARTITIONS)
    steps, tuning = _steps_and_options(a)
    keywords: dict[str, Any] = {"partition": a["partition"], "workers": threads}
    if steps is not None:
        keywords["refine"] = steps

    def native(batch: list[Any]) -> list[Any]:
        return _internal.strandify_polygons_batch(batch, **keywords)

    def prepare(item: ShapeLike, index: int) -> tuple[NativeJob, tuple[list[list[FloatArray]], Any]]:
        read = read_polygons(item)
        job = _native_job(read, item, feature_size, a["buffer_distance"], tuning, a["compute_widths"])
        # counts this closure and run_chunked: the warning points where it always has
        return job, (read, crs_of(item, stacklevel=5))

    def finish(out: Any, context: tuple[list[list[FloatArray]], Any], index: int) -> Centerlines:
        read, crs = context
        # an item without any line is the caller's to notice; the batch does not warn
        return _result(read, out, a["compute_widths"], crs, warn_stacklevel=None)

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
