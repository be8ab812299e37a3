"""High-level entry points: drawings in, :class:`Centerlines` out."""

from __future__ import annotations

import itertools
from collections.abc import Iterable, Iterator, Sequence, Sized
from typing import Any

import numpy.typing as npt

from . import _internal
from ._convert import Curve, DrawingLike, bounds_of, diagonal, read_curves, to_native
from ._optional import require
from ._result import Centerlines

#: Without a ``buffer_distance``, it is this fraction of the drawing's
#: bounding-box diagonal.
BUFFER_FRACTION = 0.01
#: Without a ``feature_size``, it is this multiple of the buffer distance (and
#: the other way round when only ``feature_size`` is given).
FEATURE_PER_BUFFER = 2.0


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

    The buffer distance defaults to ``BUFFER_FRACTION`` (1%) of the diagonal of
    the drawing's bounding box and the feature size to ``FEATURE_PER_BUFFER`` (2)
    times the buffer distance.  Given only one of them, the other follows from
    it by that same ratio.  A drawing without extent falls back to 1.
    """
    return _resolve(read_curves(curves), buffer_distance, feature_size)


def _resolve(
    curves: Sequence[Curve], buffer_distance: float | None, feature_size: float | None
) -> tuple[float, float]:
    if buffer_distance is None and feature_size is None:
        buffer_distance = diagonal(bounds_of(curves)) * BUFFER_FRACTION or 1.0
    if feature_size is None:
        assert buffer_distance is not None
        feature_size = buffer_distance * FEATURE_PER_BUFFER
    if buffer_distance is None:
        buffer_distance = feature_size / FEATURE_PER_BUFFER
    return buffer_distance, feature_size


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
) -> Centerlines:
    """Compute the centerline network of a sketchy drawing.

    ``curves`` is a list of curves, each an ``(n, 2)`` array, a list of
    ``(x, y)`` pairs or a shapely LineString; a shapely MultiLineString or a
    single curve works as a whole drawing too.  Rows with a NaN coordinate split
    their curve into separate strokes, and parts left with fewer than two points
    are dropped.  ``per_curve_widths`` gives per-point radii, one array per curve
    (after MultiLineStrings are split into their lines), cut at NaN rows along
    with the points.

    ``buffer_distance`` and ``feature_size`` default as described in
    :func:`suggest_parameters`; every other keyword has the meaning and default
    of :func:`strandify.strandify`.
    """
    read = read_curves(curves)
    native, widths = to_native(read, per_curve_widths)
    buffer_distance, feature_size = _resolve(read, buffer_distance, feature_size)
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
    )
    return Centerlines.from_native(chains, nodes, ids, chain_widths if compute_widths else None)


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
    chunk_size: int = 64,
    progress: bool = False,
) -> list[Centerlines]:
    """Compute the centerlines of many drawings in parallel; results in input order.

    The drawings are read lazily and handed to :func:`strandify.strandify_batch`
    ``chunk_size`` at a time, so a long iterable never sits in memory as native
    lists all at once.  A missing ``buffer_distance`` or ``feature_size`` is
    derived for each drawing on its own (:func:`suggest_parameters`).  With
    ``progress=True`` a tqdm bar counts the drawings (needs the ``progress``
    extra).  A failing drawing raises :class:`BatchJobError` naming its position
    in the whole batch; results of the other drawings are then discarded.
    Width measurement is not available in a batch.
    """
    if isinstance(chunk_size, bool) or not isinstance(chunk_size, int) or chunk_size < 1:
        raise ValueError(f"chunk_size must be a positive integer, got {chunk_size!r}")
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
    bar = _progress_bar(drawings) if progress else None
    results: list[Centerlines] = []
    try:
        for offset, chunk in _chunks(drawings, chunk_size):
            jobs = [
                _job(drawing, offset + i, buffer_distance, feature_size, options)
                for i, drawing in enumerate(chunk)
            ]
            try:
                out = _internal.strandify_batch(jobs)
            except ValueError as exc:
                index = getattr(exc, "job_index", None)
                if index is None:
                    raise
                raise BatchJobError(offset + index, exc.reason) from None  # type: ignore[attr-defined]
            results.extend(Centerlines.from_native(*r) for r in out)
            if bar is not None:
                bar.update(len(chunk))
    finally:
        if bar is not None:
            bar.close()
    return results


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
) -> tuple[Any, ...]:
    try:
        read = read_curves(drawing)
    except (TypeError, ValueError) as exc:
        raise type(exc)(f"drawing {index}: {exc}") from None
    curves, _ = to_native(read)
    d, f = _resolve(read, buffer_distance, feature_size)
    return (curves, d, f, *options)


def _progress_bar(drawings: Iterable[Any]) -> Any:
    tqdm = require("tqdm", "progress=True", "progress")
    total = len(drawings) if isinstance(drawings, Sized) else None
    return tqdm.tqdm(total=total, unit="drawing")
