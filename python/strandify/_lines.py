"""The strokes API: drawings of lines in, :class:`Centerlines` out, one at a time or in batches."""

from __future__ import annotations

import warnings
from dataclasses import replace
from collections.abc import Iterable, Sequence, Sized
from typing import Any, Literal, overload

import numpy.typing as npt

from . import _native
from ._batch import BatchResults, run_chunked
from ._checks import warn_lost_groups
from ._crs import crs_of, work_crs
from ._origin import curves_origin, moved_curves
from ._read_lines import native_strokes, read_curves
from ._result import Centerlines
from ._scale import resolve
from ._sources import Provenance, attribute_table, find_sources, stroke_features
from ._types import DrawingLike, Point
from .options import NativeOptions, Options, check_chunk_size, check_errors, takes_options


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


def stroke_options(options: Options, stacklevel: int, **changes: Any) -> NativeOptions:
    """The native options of a strokes call.  The finishing steps do not run on tiles yet: say
    so instead of silently dropping them."""
    if options.partition == "tiles" and options.refine_steps is not None:
        warnings.warn(
            "the finishing steps (refine) do not run with partition='tiles'; the chains are the "
            "unfinished ones (pass refine=False to silence this)",
            UserWarning,
            stacklevel=stacklevel + 1,
        )
        changes["refine_steps"] = None
    return options.native(**changes)


@takes_options
def centerlines(
    curves: DrawingLike,
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    per_curve_widths: Sequence[npt.ArrayLike | None] | None = None,
    crs: Any = None,
    options: Options | None = None,
    **keywords: Any,
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
    :func:`suggest_parameters`; every other keyword is a field of
    :class:`strandify.options.Options` (pass one as ``options=`` to reuse a
    tuning), with the meaning and default of :func:`strandify.strandify`
    unless said below.  A :class:`LostStrokesWarning` tells when a
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
    where it was drawn instead of a third of a buffer radius beyond, and a
    stub too short for a line where its pen ends;
    ``recover_corners`` turns the spur a sharp corner grows into the corner
    itself; ``keep_dots`` keeps a dot (a polygon that pruning would empty) as
    a short chain or a point chain (two equal points) at its centre;
    ``join_crossings`` makes two strokes that cross at a shallow angle meet
    at one 4-way node; ``round_pens`` buffers the strokes with round caps
    and joins instead of square ones, so that two strokes join only where
    round pens of the buffer radius overlap (a square cap reaches 1.4 radii
    along an oblique end's diagonal); ``real_ends`` keeps a short branch whose
    tip lies within a buffer radius of where an input line ends and which
    reaches two radii beyond its junction's disc (a short dead-end street), which
    the tip length would prune; ``radius_tips`` (off by default) does not count the
    part of a side branch inside a wide junction against it when pruning.
    With any step on, the buffers' boundary is refined more lightly near its
    convex turns (the outer side of a bend, a cap), where the skeleton only
    grows a spur that the steps settle, than near its concave ones, which
    meshes faster; rings shorter than 20 x buffer_distance keep the full
    refinement.
    ``refine=False`` gives exactly the chains of :func:`strandify.strandify`.

    A drawing far from the origin (map coordinates) is computed about the
    corner of its bounding box and its chains and nodes moved back, so that
    it gives the same network wherever it lies (:mod:`strandify._origin`); the
    exact equalities above hold for drawings near the origin.

    ``crs`` reprojects a GeoDataFrame or GeoSeries before anything else, and
    the result is in that CRS: ``crs="utm"`` picks the UTM zone of the
    drawing's middle (geopandas' ``estimate_utm_crs``), so that data in
    degrees takes lengths in metres; ``result.to_crs(gdf.crs)`` brings the
    chains back.  ``sources=True`` finds the input features every chain
    comes from (:attr:`Centerlines.sources`; the rule is in
    :mod:`strandify._sources`), which ``to_geopandas`` turns into a
    ``sources`` column and the attribute columns of a GeoDataFrame input.
    """
    tuning = Options.build(options, keywords, "centerlines")
    if crs is not None:
        curves = work_crs(curves, crs)
    crs = crs_of(curves)
    read = read_curves(curves)
    buffer_distance, feature_size = resolve(read, buffer_distance, feature_size)
    origin = curves_origin(read, buffer_distance)
    strokes, widths, stroke_of = native_strokes(moved_curves(read, origin), per_curve_widths)
    native = stroke_options(tuning, 2)
    out = _native.strandify_strokes_arrays(strokes, buffer_distance, feature_size, native, widths)
    result = Centerlines.from_buffers(out, tuning.compute_widths, crs=crs, origin=origin)
    if out[5]:
        # the native call names a lost group by its first stroke; the caller knows its curves
        lost = sorted({stroke_of[i] for i in memoryview(out[5]).cast("q").tolist()})
        warn_lost_groups(lost, out[6], buffer_distance, feature_size)
    if tuning.sources:
        result = with_stroke_sources(result, curves, read, buffer_distance, feature_size, origin)
    return result


def with_stroke_sources(
    result: Centerlines,
    drawing: Any,
    read: Sequence[Any],
    buffer_distance: float,
    feature_size: float,
    origin: Point,
) -> Centerlines:
    """``result`` with the provenance of its chains: the strokes whose buffer covers them."""
    features, index = stroke_features(drawing, read)
    rows, lengths = find_sources(result.chains, features, buffer_distance, feature_size, origin)
    return replace(result, provenance=Provenance(rows, lengths, index, attribute_table(drawing)))


@overload
def centerlines_batch(
    drawings: Iterable[DrawingLike],
    buffer_distance: float | None = ...,
    feature_size: float | None = ...,
    *,
    options: Options | None = ...,
    chunk_size: int = ...,
    progress: bool = ...,
    errors: Literal["raise"] = ...,
    **keywords: Any,
) -> list[Centerlines]: ...
@overload
def centerlines_batch(
    drawings: Iterable[DrawingLike],
    buffer_distance: float | None = ...,
    feature_size: float | None = ...,
    *,
    options: Options | None = ...,
    chunk_size: int = ...,
    progress: bool = ...,
    errors: Literal["skip"],
    **keywords: Any,
) -> BatchResults: ...
@takes_options
def centerlines_batch(
    drawings: Iterable[DrawingLike],
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    options: Options | None = None,
    chunk_size: int = 64,
    progress: bool = False,
    errors: Literal["raise", "skip"] = "raise",
    **keywords: Any,
) -> list[Centerlines] | BatchResults:
    """Compute the centerlines of many drawings in parallel; results in input order.

    The drawings are read lazily and handed to the native worker pool
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
    which the workers meet the failures.  The tuning keywords (or
    ``options``) are those of :func:`centerlines` and apply to every drawing;
    the drawings themselves share the threads, each runs on one, and
    ``workers`` (default: every thread of the pool) caps how many run at once.
    """
    tuning = Options.build(options, keywords, "centerlines_batch")
    check_chunk_size(chunk_size)
    check_errors(errors)
    items = ((d, buffer_distance, feature_size) for d in drawings)
    total = len(drawings) if isinstance(drawings, Sized) else None
    native = stroke_options(tuning, 2, workers=tuning.workers)
    results: list[Centerlines] | BatchResults = run_batch(
        items, native, chunk_size, progress, errors, total, sources=tuning.sources
    )
    return results


def run_batch(
    items: Iterable[tuple[DrawingLike, float | None, float | None]],
    options: NativeOptions,
    chunk_size: int = 64,
    progress: bool = False,
    errors: str = "raise",
    total: int | None = None,
    sources: bool = False,
) -> Any:
    """The batch behind :func:`centerlines_batch`, with a scale per drawing and the native
    ``options`` of every drawing; ``sources`` finds the provenance of every result's chains."""

    def native(batch: list[tuple[Any, ...]]) -> list[Any]:
        return _native.strandify_strokes_arrays_batch(batch, options)

    def prepare(
        item: tuple[DrawingLike, float | None, float | None], index: int
    ) -> tuple[tuple[Any, ...], tuple[Any, list[int], float, float, Point, Any]]:
        drawing, buffer_distance, feature_size = item
        try:
            # the stack levels here and in finish count this closure and
            # run_chunked, so that the warnings point where they always have
            crs = crs_of(drawing, stacklevel=6)
            read = read_curves(drawing)
            d, f = resolve(read, buffer_distance, feature_size)
            origin = curves_origin(read, d)
            strokes, _, stroke_of = native_strokes(moved_curves(read, origin))
        except (TypeError, ValueError) as exc:
            raise type(exc)(f"drawing {index}: {exc}") from None
        drawn = (drawing, read) if sources else None
        return (strokes, d, f), (crs, stroke_of, d, f, origin, drawn)

    def finish(out: Any, context: tuple[Any, list[int], float, float, Point, Any], index: int) -> Centerlines:
        crs, stroke_of, d, f, origin, drawn = context
        result = Centerlines.from_buffers(out, options.compute_widths, crs=crs, origin=origin)
        # the native batch names a lost group by its first stroke, as centerlines' call does
        lost = sorted({stroke_of[i] for i in memoryview(out[5]).cast("q").tolist()})
        warn_lost_groups(lost, out[6], d, f, where=f"drawing {index}: ", stacklevel=6)
        if drawn is not None:
            result = with_stroke_sources(result, drawn[0], drawn[1], d, f, origin)
        return result

    return run_chunked(
        items, prepare, native, finish, chunk_size=chunk_size, skip=errors == "skip", progress=progress, total=total
    )
