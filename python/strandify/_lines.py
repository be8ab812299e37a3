"""The strokes API: drawings of lines in, :class:`Centerlines` out, one at a time or in batches."""

from __future__ import annotations

import warnings
from collections.abc import Iterable, Sequence, Sized
from typing import Any, Literal, overload

import numpy.typing as npt

from . import _internal
from ._batch import BatchResults, run_chunked
from ._checks import warn_lost
from ._crs import crs_of
from ._read_lines import read_curves, to_native
from ._result import Centerlines
from ._scale import resolve
from ._types import DrawingLike, FloatArray, Partition
from .options import check_chunk_size, check_errors, check_partition, check_tile_size, steps_of, thread_count


def suggest_parameters(
    curves: DrawingLike,
    buffer_distance: float | None = None,
    feature_size: float | None = None,
) -> tuple[float, float]:
    """The ``(buffer_distance, feature_size)`` used when they are left out.

    The buffer distance defaults to ``BUFFER_PER_STROKE`` (2.5%) of the median
    length of the drawing's strokes (each curve's drawn length, gaps and
    non-finite points left out), and the feature size to ``FEATURE_PER_BUFFER``
    (2) times the buffer distance.  Given only one of them, the other follows
    from it by that same ratio.  A drawing without any stroke of positive
    length falls back to a buffer distance of 1.

    Raises ValueError for a given value that is not a positive finite number
    and when no usable value can be derived (strokes too long to measure).
    """
    return resolve(read_curves(curves), buffer_distance, feature_size)


def _steps_for(partition: str, steps: tuple[str, ...] | None, stacklevel: int) -> tuple[str, ...] | None:
    """The finishing steps do not run on tiles yet: say so instead of silently dropping them."""
    if partition == "tiles" and steps is not None:
        warnings.warn(
            "the finishing steps (refine) do not run with partition='tiles'; the chains are the "
            "unfinished ones (pass refine=False to silence this)",
            UserWarning,
            stacklevel=stacklevel + 1,
        )
        return None
    return steps


def centerlines(
    curves: DrawingLike,
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    simplification: float | None = None,
    min_tip_fraction: float | None = None,
    junction_merge_fraction: float | None = None,
    per_curve_widths: Sequence[npt.ArrayLike | None] | None = None,
    compute_widths: bool = False,
    subdivision_ratio: float | None = None,
    max_nodes: int | None = None,
    resample: float | None = None,
    boundary_simplification: float | None = None,
    merge_tolerance: float | None = None,
    partition: Partition = "components",
    tile_size: float | None = None,
    workers: int | None = None,
    refine: bool = True,
    finish_tips: bool = True,
    recover_corners: bool = True,
    keep_dots: bool = True,
    join_crossings: bool = True,
    radius_tips: bool = False,
) -> Centerlines:
    """Compute the centerline network of a sketchy drawing.

    ``curves`` is a list of curves, each an ``(n, 2)`` array, a list of
    ``(x, y)`` pairs or a shapely LineString; a shapely MultiLineString or a
    single curve works as a whole drawing too, and so do a GeoDataFrame or
    GeoSeries (None and empty geometries skipped, the CRS kept on the result),
    a GeoJSON mapping and any object with ``__geo_interface__``.  Rows with a
    NaN coordinate split their curve into separate strokes, and parts left with
    fewer than two points are dropped.  ``per_curve_widths`` gives per-point
    radii, one array per curve (after MultiLineStrings are split into their
    lines), cut at NaN rows along with the points.

    ``buffer_distance`` and ``feature_size`` default as described in
    :func:`suggest_parameters`; every other keyword has the meaning and default
    of :func:`strandify.strandify`.  A :class:`LostStrokesWarning` tells when a
    separate group of strokes gave no centerline at all, and a
    :class:`GeographicCrsWarning` when the drawing's CRS counts in degrees.

    ``partition="components"`` (the default) unions each group of strokes
    whose buffers' bounding boxes overlap on its own, which keeps large
    drawings of many separate parts fast; ``partition="none"`` is the exact
    one-call pipeline, identical to :func:`strandify.strandify`.  Both are
    deterministic, and they give the same topology with coordinates within
    1e-5 of each other (chains may come in another order).
    ``partition="tiles"`` cuts the drawing into square tiles of side
    ``tile_size`` (default: about 20,000 points per tile, at least four
    halos wide), runs them on their own and stitches their chains where they
    cross the seams: for one connected mass of any size, at a cost linear in
    its points.  It is deterministic and, on drawings at a sensible scale,
    gives the same network as the other modes, its chains within about a
    buffer distance of theirs (the boundary simplification sees each tile's
    rings, not the drawing's).  ``workers`` threads (default: one per CPU)
    share the independent groups, polygons and tiles of the call; the result
    does not depend on their number.
    ``refine`` (on by default) finishes the skeleton into the lines a person
    would draw, one keyword per step: ``finish_tips`` ends a straight stroke
    where it was drawn instead of a third of a buffer radius beyond;
    ``recover_corners`` turns the spur a sharp corner grows into the corner
    itself; ``keep_dots`` keeps a dot (a polygon that pruning would empty) as
    a short chain or a point chain (two equal points) at its centre;
    ``join_crossings`` makes two strokes that cross at a shallow angle meet
    at one 4-way node; ``radius_tips`` (off by default) does not count the
    part of a side branch inside a wide junction against it when pruning.
    ``refine=False`` gives exactly the chains of :func:`strandify.strandify`.
    """
    partition = check_partition(partition)
    tile_size = check_tile_size(tile_size)
    threads = thread_count(workers)
    crs = crs_of(curves)
    read = read_curves(curves)
    native, widths = to_native(read, per_curve_widths)
    buffer_distance, feature_size = resolve(read, buffer_distance, feature_size)
    steps = _steps_for(partition, steps_of(locals()), 2)
    # Without steps the call is exactly the one of the exact pipeline.
    extra = {} if steps is None else {"refine": steps}
    chains, nodes, ids, chain_widths = _internal.strandify(
        native,
        buffer_distance,
        feature_size,
        simplification,
        min_tip_fraction,
        junction_merge_fraction,
        widths,
        compute_widths,
        subdivision_ratio,
        max_nodes,
        resample,
        boundary_simplification,
        merge_tolerance,
        partition,
        threads,
        tile_size,
        **extra,
    )
    result = Centerlines.from_native(chains, nodes, ids, chain_widths if compute_widths else None, crs=crs)
    warn_lost([c.points for c in read], result.chains, buffer_distance, feature_size)
    return result


_Options = tuple[Any, ...]


@overload
def centerlines_batch(
    drawings: Iterable[DrawingLike],
    buffer_distance: float | None = ...,
    feature_size: float | None = ...,
    *,
    simplification: float | None = ...,
    min_tip_fraction: float | None = ...,
    junction_merge_fraction: float | None = ...,
    max_nodes: int | None = ...,
    subdivision_ratio: float | None = ...,
    resample: float | None = ...,
    boundary_simplification: float | None = ...,
    merge_tolerance: float | None = ...,
    partition: Partition = ...,
    tile_size: float | None = ...,
    refine: bool = ...,
    finish_tips: bool = ...,
    recover_corners: bool = ...,
    keep_dots: bool = ...,
    join_crossings: bool = ...,
    radius_tips: bool = ...,
    chunk_size: int = ...,
    progress: bool = ...,
    errors: Literal["raise"] = ...,
) -> list[Centerlines]: ...
@overload
def centerlines_batch(
    drawings: Iterable[DrawingLike],
    buffer_distance: float | None = ...,
    feature_size: float | None = ...,
    *,
    simplification: float | None = ...,
    min_tip_fraction: float | None = ...,
    junction_merge_fraction: float | None = ...,
    max_nodes: int | None = ...,
    subdivision_ratio: float | None = ...,
    resample: float | None = ...,
    boundary_simplification: float | None = ...,
    merge_tolerance: float | None = ...,
    partition: Partition = ...,
    tile_size: float | None = ...,
    refine: bool = ...,
    finish_tips: bool = ...,
    recover_corners: bool = ...,
    keep_dots: bool = ...,
    join_crossings: bool = ...,
    radius_tips: bool = ...,
    chunk_size: int = ...,
    progress: bool = ...,
    errors: Literal["skip"],
) -> BatchResults: ...
def centerlines_batch(
    drawings: Iterable[DrawingLike],
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    simplification: float | None = None,
    min_tip_fraction: float | None = None,
    junction_merge_fraction: float | None = None,
    max_nodes: int | None = None,
    subdivision_ratio: float | None = None,
    resample: float | None = None,
    boundary_simplification: float | None = None,
    merge_tolerance: float | None = None,
    partition: Partition = "components",
    tile_size: float | None = None,
    refine: bool = True,
    finish_tips: bool = True,
    recover_corners: bool = True,
    keep_dots: bool = True,
    join_crossings: bool = True,
    radius_tips: bool = False,
    chunk_size: int = 64,
    progress: bool = False,
    errors: Literal["raise", "skip"] = "raise",
) -> list[Centerlines] | BatchResults:
    """Compute the centerlines of many drawings in parallel; results in input order.

    The drawings are read lazily and handed to :func:`strandify.strandify_batch`
    ``chunk_size`` at a time, so a long iterable never sits in memory as native
    lists all at once.  A missing ``buffer_distance`` or ``feature_size`` is
    derived for each drawing on its own (:func:`suggest_parameters`).  With
    ``progress=True`` a tqdm bar counts the drawings (needs the ``progress``
    extra).

    With ``errors="raise"`` (the default) a failing drawing raises
    :class:`BatchJobError` naming its position in the whole batch (or the
    reading error, prefixed with ``drawing {i}:``); results of the other
    drawings are then discarded.  With ``errors="skip"`` a failing drawing
    gives None and the others go on: the returned :class:`BatchResults` holds
    each failure under its position in ``errors``.  Which drawings fail, and
    the results of the others, do not depend on the chunking or the order in
    which the workers meet the failures.  Width measurement is not available
    in a batch.  ``partition`` and ``tile_size`` are as for
    :func:`centerlines`; the drawings themselves share the threads, each runs
    on one.
    in a batch.  ``refine`` and its steps are those of :func:`centerlines`.
    """
    partition = check_partition(partition)
    tile_size = check_tile_size(tile_size)
    check_chunk_size(chunk_size)
    check_errors(errors)
    options = (
        simplification,
        min_tip_fraction,
        junction_merge_fraction,
        max_nodes,
        subdivision_ratio,
        resample,
        boundary_simplification,
        merge_tolerance,
    )
    items = ((d, buffer_distance, feature_size) for d in drawings)
    total = len(drawings) if isinstance(drawings, Sized) else None
    steps = _steps_for(partition, steps_of(locals()), 2)
    results: list[Centerlines] | BatchResults = run_batch(
        items, options, chunk_size, progress, errors, total, partition=partition, tile_size=tile_size, refine=steps
    )
    return results


def run_batch(
    items: Iterable[tuple[DrawingLike, float | None, float | None]],
    options: _Options,
    chunk_size: int = 64,
    progress: bool = False,
    errors: str = "raise",
    total: int | None = None,
    *,
    partition: Partition = "none",
    tile_size: float | None = None,
    refine: tuple[str, ...] | None = None,
) -> Any:
    """The batch behind :func:`centerlines_batch`, with a scale per drawing.

    ``refine`` is the native value (see :func:`strandify.options.refine_steps`), None for the exact chains.
    """
    keywords: dict[str, Any] = {"partition": partition}
    if tile_size:
        keywords["tile_size"] = tile_size
    if refine is not None:
        keywords["refine"] = refine

    def native(batch: list[tuple[Any, ...]]) -> list[Any]:
        return _internal.strandify_batch(batch, **keywords)

    def prepare(
        item: tuple[DrawingLike, float | None, float | None], index: int
    ) -> tuple[tuple[Any, ...], tuple[Any, list[FloatArray], float, float]]:
        drawing, buffer_distance, feature_size = item
        try:
            # the stack levels here and in finish count this closure and
            # run_chunked, so that the warnings point where they always have
            crs = crs_of(drawing, stacklevel=6)
            read = read_curves(drawing)
            curves, _ = to_native(read)
            d, f = resolve(read, buffer_distance, feature_size)
        except (TypeError, ValueError) as exc:
            raise type(exc)(f"drawing {index}: {exc}") from None
        return (curves, d, f, *options), (crs, [c.points for c in read], d, f)

    def finish(out: Any, context: tuple[Any, list[FloatArray], float, float], index: int) -> Centerlines:
        crs, curves, d, f = context
        result = Centerlines.from_native(*out, crs=crs)
        warn_lost(curves, result.chains, d, f, where=f"drawing {index}: ", stacklevel=6)
        return result

    return run_chunked(
        items, prepare, native, finish, chunk_size=chunk_size, skip=errors == "skip", progress=progress, total=total
    )
