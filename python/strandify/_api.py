"""High-level entry points: drawings in, :class:`Centerlines` out."""

from __future__ import annotations

import itertools
import math
import os
import warnings
from collections.abc import Callable, Iterable, Iterator, Sequence, Sized
from typing import Any, Literal, overload

import numpy as np
import numpy.typing as npt

from . import _internal
from ._checks import warn_lost
from ._convert import Curve, DrawingLike, FloatArray, crs_of, read_curves, to_native
from ._optional import require
from ._result import Centerlines

#: Without a ``buffer_distance``, it is this fraction of the median length of
#: the drawing's strokes.  A statistic of the strokes themselves, not of the
#: drawing's extent: one stray stroke far away changes neither the median nor
#: any other stroke's result.
BUFFER_PER_STROKE = 0.025
#: Without a ``feature_size``, it is this multiple of the buffer distance (and
#: the other way round when only ``feature_size`` is given).
FEATURE_PER_BUFFER = 2.0

Partition = Literal["none", "components", "tiles"]
#: The ways the high-level functions may split a drawing's work.
PARTITIONS: tuple[str, ...] = ("none", "components", "tiles")


def _partition(value: Any) -> Partition:
    if value in PARTITIONS and isinstance(value, str):
        return value  # type: ignore[return-value]
    raise ValueError(f"partition must be one of {', '.join(map(repr, PARTITIONS))}, got {value!r}")


def _tile_size(value: Any) -> float | None:
    return None if value is None else _positive("tile_size", value)


def _workers(value: Any) -> int:
    """A per-call thread count: None means one per CPU available to the process."""
    if value is None:
        return max(1, len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1)
    if isinstance(value, bool) or not isinstance(value, int) or value < 1:
        raise ValueError(f"workers must be a positive integer or None, got {value!r}")
    return value


class BatchJobError(ValueError):
    """One drawing of a batch failed; ``index`` is its position in the whole batch."""

    def __init__(self, index: int, reason: str) -> None:
        super().__init__(f"strandify_batch job {index} failed: {reason}")
        self.index = index
        self.reason = reason


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
    return _resolve(read_curves(curves), buffer_distance, feature_size)


def _positive(name: str, value: Any) -> float:
    if isinstance(value, (bool, str, bytes)):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}")
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}") from None
    if not (number > 0 and math.isfinite(number)):
        raise ValueError(f"{name} must be a positive finite number, got {value!r}")
    return number


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


def _derived_buffer(curves: Sequence[Curve]) -> float:
    lengths = stroke_lengths(curves)
    lengths = lengths[lengths > 0]
    if not len(lengths):
        return 1.0
    value = float(np.median(lengths)) * BUFFER_PER_STROKE
    if not (value > 0 and math.isfinite(value)):
        raise ValueError(
            "cannot derive buffer_distance from this drawing: its strokes are too long to measure "
            "(their length is not finite); pass buffer_distance and feature_size"
        )
    return value


def _resolve(
    curves: Sequence[Curve], buffer_distance: float | None, feature_size: float | None
) -> tuple[float, float]:
    if buffer_distance is not None:
        buffer_distance = _positive("buffer_distance", buffer_distance)
    if buffer_distance is None and feature_size is None:
        buffer_distance = _derived_buffer(curves)
    if feature_size is None:
        assert buffer_distance is not None
        feature_size = buffer_distance * FEATURE_PER_BUFFER
        if not math.isfinite(feature_size):
            raise ValueError(
                f"feature_size derived from buffer_distance {buffer_distance!r} is not finite; pass feature_size"
            )
    if buffer_distance is None:
        try:
            derived = float(feature_size) / FEATURE_PER_BUFFER
        except (TypeError, ValueError):
            return 1.0, feature_size  # the native call names the bad feature_size
        if not (derived > 0 and math.isfinite(derived)):
            # a feature size too small (or not a number) for any buffer: say so here,
            # rather than let the native call quietly return nothing
            if isinstance(feature_size, float) and feature_size > 0 and math.isfinite(feature_size):
                raise ValueError(
                    f"buffer_distance derived from feature_size {feature_size!r} is not a positive "
                    f"number; pass a larger feature_size or buffer_distance"
                )
            return 1.0, feature_size  # the native call names the bad feature_size
        buffer_distance = derived
    return buffer_distance, feature_size


#: The finishing steps of ``refine``, in the order the keywords list them.
REFINE_STEPS = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "radius_tips")


def refine_steps(
    refine: bool = True,
    *,
    finish_tips: bool = True,
    recover_corners: bool = True,
    keep_dots: bool = True,
    join_crossings: bool = True,
    radius_tips: bool = False,
) -> tuple[str, ...] | None:
    """The native ``refine`` value for these keywords: None (exact chains) or the step names."""
    if not refine:
        return None
    chosen = (finish_tips, recover_corners, keep_dots, join_crossings, radius_tips)
    steps = tuple(name for name, on in zip(REFINE_STEPS, chosen) if on)
    return steps or None


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
    partition = _partition(partition)
    tile_size = _tile_size(tile_size)
    threads = _workers(workers)
    crs = crs_of(curves)
    read = read_curves(curves)
    native, widths = to_native(read, per_curve_widths)
    buffer_distance, feature_size = _resolve(read, buffer_distance, feature_size)
    steps = refine_steps(
        refine,
        finish_tips=finish_tips,
        recover_corners=recover_corners,
        keep_dots=keep_dots,
        join_crossings=join_crossings,
        radius_tips=radius_tips,
    )
    steps = _steps_for(partition, steps, 2)
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


class BatchResults(list[Centerlines | None]):
    """Results of :func:`centerlines_batch` with ``errors="skip"``.

    A list in input order, None where a drawing failed; ``errors`` maps the
    position of every failed drawing to its exception.
    """

    def __init__(self) -> None:
        super().__init__()
        self.errors: dict[int, Exception] = {}


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
    partition = _partition(partition)
    tile_size = _tile_size(tile_size)
    if isinstance(chunk_size, bool) or not isinstance(chunk_size, int) or chunk_size < 1:
        raise ValueError(f"chunk_size must be a positive integer, got {chunk_size!r}")
    if errors not in ("raise", "skip"):
        raise ValueError(f'errors must be "raise" or "skip", got {errors!r}')
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
    steps = refine_steps(
        refine,
        finish_tips=finish_tips,
        recover_corners=recover_corners,
        keep_dots=keep_dots,
        join_crossings=join_crossings,
        radius_tips=radius_tips,
    )
    steps = _steps_for(partition, steps, 2)
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

    ``refine`` is the native value (see :func:`refine_steps`), None for the exact chains.
    """
    skip = errors == "skip"
    keywords: dict[str, Any] = {"partition": partition}
    if tile_size:
        keywords["tile_size"] = tile_size
    if refine is not None:
        keywords["refine"] = refine

    def native(batch: list[tuple[Any, ...]]) -> list[Any]:
        return _internal.strandify_batch(batch, **keywords)

    bar = _progress_bar(total) if progress else None
    results: Any = BatchResults() if skip else []
    try:
        for offset, chunk in _chunks(items, chunk_size):
            jobs: dict[int, tuple[Any, ...]] = {}
            context: dict[int, tuple[Any, list[FloatArray], float, float]] = {}
            failed: dict[int, Exception] = {}
            for i, (drawing, d, f) in enumerate(chunk):
                try:
                    job, ctx = _job(drawing, offset + i, d, f, options)
                except (TypeError, ValueError) as exc:
                    if not skip:
                        raise
                    failed[i] = exc
                    continue
                jobs[i] = job
                context[i] = ctx
            done = _run_chunk(jobs, offset, skip, failed, native)
            for i in range(len(chunk)):
                if i in failed:
                    results.append(None)
                    results.errors[offset + i] = failed[i]
                    continue
                crs, curves, d, f = context[i]
                result = Centerlines.from_native(*done[i], crs=crs)
                warn_lost(curves, result.chains, d, f, where=f"drawing {offset + i}: ", stacklevel=4)
                results.append(result)
            if bar is not None:
                bar.update(len(chunk))
    finally:
        if bar is not None:
            bar.close()
    return results


def _run_chunk(
    jobs: dict[int, tuple[Any, ...]],
    offset: int,
    skip: bool,
    failed: dict[int, Exception],
    native: Callable[[list[tuple[Any, ...]]], list[Any]],
) -> dict[int, Any]:
    """Run the jobs of a chunk through the native batch ``native``; in skip mode, drop each
    failing job and run the rest again.

    Every job's outcome depends on that job alone, so taking failures out one
    at a time, in whatever order the batch reports them, ends with the same
    set of failures and the same results.
    """
    pending = dict(jobs)
    while pending:
        keys = list(pending)
        try:
            out = native([pending[k] for k in keys])
        except ValueError as exc:
            position = getattr(exc, "job_index", None)
            if position is None or not 0 <= position < len(keys):
                if skip and len(keys) == 1:
                    failed[keys[0]] = exc
                    return {}
                if not skip:
                    raise
                # a failure the batch did not pin on one job: run each alone
                done: dict[int, Any] = {}
                for k in keys:
                    done.update(_run_chunk({k: pending[k]}, offset, skip, failed, native))
                return done
            error = BatchJobError(offset + keys[position], exc.reason)  # type: ignore[attr-defined]
            if not skip:
                raise error from None
            failed[keys[position]] = error
            del pending[keys[position]]
            continue
        return dict(zip(keys, out))
    return {}


def _chunks(items: Iterable[Any], size: int) -> Iterator[tuple[int, list[Any]]]:
    it = iter(items)
    offset = 0
    while chunk := list(itertools.islice(it, size)):
        yield offset, chunk
        offset += len(chunk)


def _job(
    drawing: DrawingLike,
    index: int,
    buffer_distance: float | None,
    feature_size: float | None,
    options: tuple[Any, ...],
) -> tuple[tuple[Any, ...], tuple[Any, list[FloatArray], float, float]]:
    try:
        crs = crs_of(drawing, stacklevel=5)
        read = read_curves(drawing)
        curves, _ = to_native(read)
        d, f = _resolve(read, buffer_distance, feature_size)
    except (TypeError, ValueError) as exc:
        raise type(exc)(f"drawing {index}: {exc}") from None
    return (curves, d, f, *options), (crs, [c.points for c in read], d, f)


def _progress_bar(total: int | None) -> Any:
    tqdm = require("tqdm", "progress=True", "progress")
    return tqdm.tqdm(total=total, unit="drawing")
