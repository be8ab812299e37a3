"""Many drawings on a Dask cluster: each partition of drawings is one native batch on a worker.

Needs the ``dask`` extra (``pip install strandify[dask]``).  The scheduling is Dask's own: this
module only cuts the drawings into partitions, hands each partition to the native batch on a
worker and puts the results back in input order, so they are exactly the results of a local
:func:`strandify.centerlines_batch` with the same options.

What crosses between the processes is a few flat arrays per task, never nested lists: those
pickle one object per coordinate, and Dask would hash them element by element to name the
task.  Tasks carry no hashed names at all (``pure=False``): every call is new work anyway.
"""
from __future__ import annotations

import os
import re
import warnings
from collections.abc import Iterable, Sequence
from dataclasses import replace
from typing import Any, Literal, NamedTuple

import numpy as np

from . import _dataset, _native
from ._batch import BatchResults, _run_chunk
from ._checks import warn_lost_groups
from ._crs import crs_of
from ._lines import stroke_options, with_stroke_sources
from ._optional import require
from ._origin import curves_origin, moved_curves
from ._ragged import flat_points, split_rows
from ._read_lines import read_curves, stroke_arrays, to_native
from ._result import Centerlines
from ._scale import resolve
from ._types import FloatArray, IntArray, Point
from .errors import BatchJobError, LostStrokesWarning
from .options import NativeOptions, Options, check_errors, positive_integer, positive_number, takes_options

__all__ = ["centerlines_batch", "centerlines_dataset", "centerlines_tiled"]

#: Drawings per task when the input is a plain sequence: enough to keep a worker's threads busy
#: and the per-task overhead small.
PARTITION_SIZE = 64

_PREFIX = re.compile(r"drawing \d+: ")

# A failed drawing travels back as data, (type name, reason, failure kind): exceptions with
# extra constructor arguments do not always survive pickling, and the position must be made
# global anyway.
Failure = tuple[str, str, str]


class Drawings(NamedTuple):
    """A partition of read drawings: every stroke's points in one array."""

    points: FloatArray
    stroke_lengths: IntArray
    strokes: IntArray  # strokes per drawing
    stroke_curves: IntArray  # the index of the read curve every stroke was cut from, in its drawing
    scales: FloatArray  # (buffer distance, feature size) per drawing
    origins: FloatArray
    crs: list[Any]
    failures: dict[int, Failure]  # drawings that could not be read, by position in the partition


class Outcome(NamedTuple):
    """A partition's results: every chain's points (moved back) in one array."""

    points: FloatArray
    chain_lengths: IntArray
    chains: IntArray  # chains per drawing
    nodes: FloatArray
    node_counts: IntArray
    ids: IntArray
    widths: FloatArray | None
    crs: list[Any]
    failures: dict[int, Failure]
    lost: dict[int, str]  # the LostStrokesWarning of a drawing, by position


def _failure(error: Exception) -> Failure:
    if isinstance(error, BatchJobError):
        return ("BatchJobError", error.reason, error.kind)
    return (type(error).__name__, _PREFIX.sub("", str(error), count=1), "")


def _read_drawing(
    drawing: Any, buffer_distance: Any, feature_size: Any
) -> tuple[list[FloatArray], list[int], float, float, Point, Any]:
    crs = crs_of(drawing, stacklevel=4)
    read = read_curves(drawing)
    d, f = resolve(read, buffer_distance, feature_size)
    origin = curves_origin(read, d)
    return *stroke_arrays(moved_curves(read, origin)), d, f, origin, crs


def read_drawings(drawings: Sequence[Any], buffer_distance: Any, feature_size: Any) -> Drawings:
    """Read a partition of drawings into arrays, where it is (the client, or a worker for a bag)."""
    strokes: list[FloatArray] = []
    sources: list[int] = []
    counts, scales, origins, crs = [], [], [], []
    failures: dict[int, Failure] = {}
    for i, drawing in enumerate(drawings):
        try:
            arrays, curves, d, f, origin, c = _read_drawing(drawing, buffer_distance, feature_size)
        except (TypeError, ValueError) as error:
            failures[i] = _failure(error)
            arrays, curves, d, f, origin, c = [], [], 1.0, 1.0, (0.0, 0.0), None
        strokes.extend(arrays)
        sources.extend(curves)
        counts.append(len(arrays))
        scales.append((d, f))
        origins.append(origin)
        crs.append(c)
    points, lengths = flat_points(strokes)
    return Drawings(
        points, lengths, np.array(counts, dtype=np.intp), np.array(sources, dtype=np.intp),
        np.array(scales, dtype=np.float64).reshape(-1, 2), np.array(origins, dtype=np.float64).reshape(-1, 2),
        crs, failures,
    )


def _lost_warning(lost: list[int], groups: int, d: float, f: float) -> str | None:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", LostStrokesWarning)
        warn_lost_groups(lost, groups, d, f)
    return str(caught[0].message) if caught else None


# The flat buffers of a drawing that gave no result: no chain, no node, nothing lost.
_NO_RESULT = (b"", np.zeros(1, dtype=np.int64).tobytes(), b"", b"", b"", b"", 0)


def run_drawings(part: Drawings, options: NativeOptions) -> Outcome:
    """The native batch over a partition, on a worker; failures and lost strokes as data."""
    per_drawing = split_rows(np.arange(len(part.stroke_lengths)), part.strokes)
    strokes = split_rows(part.points, part.stroke_lengths)
    jobs = {
        i: ([strokes[k] for k in ks], float(d), float(f))
        for i, (ks, (d, f)) in enumerate(zip(per_drawing, part.scales.tolist()))
        if i not in part.failures
    }
    failed: dict[int, Exception] = {}
    done = _run_chunk(jobs, 0, True, failed, lambda batch: _native.strandify_strokes_arrays_batch(batch, options))
    failures = dict(part.failures) | {i: _failure(e) for i, e in failed.items()}
    results = [done.get(i, _NO_RESULT) for i in range(len(part.strokes))]
    points = _joined([r[0] for r in results], np.float64).reshape(-1, 2)
    offsets = [np.frombuffer(r[1], dtype=np.int64) for r in results]
    chain_lengths = _joined([np.diff(o) for o in offsets], np.int64).astype(np.intp)
    chain_counts = np.array([len(o) - 1 for o in offsets], dtype=np.intp)
    nodes = _joined([r[2] for r in results], np.float64).reshape(-1, 2)
    node_counts = np.array([len(r[2]) // 16 for r in results], dtype=np.intp)
    ids = _joined([r[3] for r in results], np.int64).reshape(-1, 2).astype(np.intp)
    widths = _joined([r[4] or b"" for r in results], np.float64) if options.compute_widths else None
    _move_back(points, np.repeat(part.origins, _points_per_drawing(chain_lengths, chain_counts), axis=0))
    _move_back(nodes, np.repeat(part.origins, node_counts, axis=0))
    lost: dict[int, str] = {}
    curves = split_rows(part.stroke_curves, part.strokes)
    for i in done:
        # the native batch names a lost group by its first stroke; the drawing's curve it was
        # cut from names it as a local batch does
        firsts = np.frombuffer(results[i][5], dtype=np.int64)
        message = _lost_warning(sorted(set(curves[i][firsts].tolist())), results[i][6], *part.scales[i].tolist())
        if message is not None:
            lost[i] = message
    return Outcome(points, chain_lengths, chain_counts, nodes, node_counts, ids, widths, part.crs, failures, lost)


def _joined(buffers: list[Any], dtype: type) -> Any:
    """The values of every flat buffer one after another, as one new (writable) array."""
    views: list[Any] = [np.frombuffer(b, dtype=dtype) for b in buffers]
    return np.concatenate(views) if views else np.empty(0, dtype=dtype)


def _points_per_drawing(chain_lengths: IntArray, chain_counts: IntArray) -> IntArray:
    ends = np.cumsum(chain_counts)
    totals = np.concatenate(([0], np.cumsum(chain_lengths)))
    return np.diff(np.concatenate(([0], totals[ends])))


def _move_back(points: FloatArray, origins: FloatArray) -> None:
    # only where the origin is not zero, as a local call does: adding 0.0 would turn -0.0 into 0.0
    moved = (origins != 0.0).any(axis=1)
    points[moved] += origins[moved]


def read_and_run(drawings: Sequence[Any], buffer_distance: Any, feature_size: Any, options: NativeOptions) -> Outcome:
    """A bag partition: read on the worker that holds it, then run there."""
    return run_drawings(read_drawings(list(drawings), buffer_distance, feature_size), options)


def _rebuild(index: int, failure: Failure) -> Exception:
    name, reason, kind = failure
    if name == "BatchJobError":
        return BatchJobError(index, reason, kind)
    cls = TypeError if name == "TypeError" else ValueError
    return cls(f"drawing {index}: {reason}")


def _results_of(out: Outcome) -> list[Centerlines | None]:
    chains = split_rows(out.points, out.chain_lengths)
    widths = None if out.widths is None else split_rows(out.widths, out.chain_lengths)
    nodes = split_rows(out.nodes, out.node_counts)
    chain_start = np.concatenate(([0], np.cumsum(out.chains))).tolist()
    results: list[Centerlines | None] = []
    for i, (a, b) in enumerate(zip(chain_start[:-1], chain_start[1:])):
        if i in out.failures:
            results.append(None)
            continue
        results.append(
            Centerlines(chains[a:b], nodes[i], out.ids[a:b], None if widths is None else widths[a:b], out.crs[i])
        )
    return results


@takes_options
def centerlines_batch(
    drawings: Iterable[Any],
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    client: Any = None,
    partition_size: int = PARTITION_SIZE,
    errors: Literal["raise", "skip"] = "raise",
    options: Options | None = None,
    **keywords: Any,
) -> list[Centerlines] | BatchResults:
    """:func:`strandify.centerlines_batch` with the drawings spread over a Dask cluster.

    ``drawings`` is a ``dask.bag.Bag`` (each of its partitions becomes one task) or any
    iterable of drawings (cut into tasks of ``partition_size`` drawings).  ``client`` is a
    ``distributed.Client``; without one the current client is used when there is one, else
    Dask's default scheduler.  The tuning keywords (or ``options``) are those of
    :func:`strandify.centerlines_batch`, and the results are the same, in input order.  With
    ``errors="raise"`` the failure of the first failing drawing (in input order) is raised
    once all tasks have finished; with ``errors="skip"`` the failures are in
    ``results.errors`` under their positions in the whole input.  ``sources=True`` finds the
    provenance of every result's chains here, on the client, which holds the drawings (so
    ``drawings`` may not be a Bag then).
    """
    bag_module = require("dask.bag", "strandify.dask", "dask")
    positive_integer("partition_size", partition_size)
    check_errors(errors)
    tuning = Options.build(options, keywords, "strandify.dask.centerlines_batch")
    # one thread per task: the cluster's worker threads are the parallelism
    native = stroke_options(tuning, 2, workers=tuning.workers or 1)
    client = client if client is not None else _current_client()
    if isinstance(drawings, bag_module.Bag):
        if tuning.sources:
            raise ValueError("sources=True needs the drawings here: give an iterable of drawings, not a Bag")
        parts = drawings.to_delayed()
        outcomes = _compute(client, [(read_and_run, part, buffer_distance, feature_size, native) for part in parts])
    else:
        items = list(drawings)
        # a generator: with a client each partition is on its way while the next one is read
        calls = ((run_drawings, read_drawings(items[k : k + partition_size], buffer_distance, feature_size), native)
                 for k in range(0, len(items), partition_size))
        outcomes = _compute(client, calls, scatter=True)
    gathered: list[Centerlines] | BatchResults = _gathered(outcomes, errors)
    if tuning.sources:
        for i, result in enumerate(gathered):
            if result is not None:
                gathered[i] = _with_sources(result, items[i], buffer_distance, feature_size)
    return gathered


def _with_sources(result: Centerlines, drawing: Any, buffer_distance: float | None, feature_size: float | None) -> Centerlines:
    """``result`` of ``drawing`` with its provenance, found as the local batch finds it."""
    read = read_curves(drawing)
    d, f = resolve(read, buffer_distance, feature_size)
    return with_stroke_sources(result, drawing, read, d, f, curves_origin(read, d))


def _gathered(outcomes: list[Outcome], errors: str) -> Any:
    """The results of all partitions in input order; the first failure raised, or kept."""
    results: Any = BatchResults() if errors == "skip" else []
    first: Exception | None = None
    for out in outcomes:
        offset = len(results)
        for i, message in sorted(out.lost.items()):
            warnings.warn(LostStrokesWarning(f"drawing {offset + i}: {message}"), stacklevel=3)
        for i, result in enumerate(_results_of(out)):
            if i in out.failures:
                error = _rebuild(offset + i, out.failures[i])
                first = first or error
                if errors == "skip":
                    results.errors[offset + i] = error
            results.append(result)
    if first is not None and errors == "raise":
        raise first
    return results


@takes_options
def centerlines_tiled(
    curves: Any,
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    client: Any = None,
    per_curve_widths: Sequence[Any] | None = None,
    options: Options | None = None,
    **keywords: Any,
) -> Centerlines:
    """One large drawing as tiles on a Dask cluster: ``partition="tiles"`` with the tiles as tasks.

    The drawing is read, merged, decimated and cut into tiles here
    (``_internal.plan_tiles``); each tile runs as one task on a worker
    (``_internal.run_tile``), and the pieces are stitched here
    (``_internal.stitch_tiles``).  The result is exactly that of
    :func:`strandify.centerlines` with ``partition="tiles"``, ``refine=False``
    and the same ``tile_size``: the finishing steps do not run on tiles.  The
    tuning keywords (or ``options``) are those of :func:`strandify.centerlines`, ``sources``
    included (found here, on the client).
    ``client`` is as for :func:`centerlines_batch`.
    """
    require("dask", "strandify.dask", "dask")
    tuning = Options.build(options, keywords, "centerlines_tiled")
    native_options = tuning.native(partition="tiles", refine_steps=None)
    crs = crs_of(curves)
    read = read_curves(curves)
    d, f = resolve(read, buffer_distance, feature_size)
    # the tiles are planned, run and stitched about the drawing's own origin, as the local run is
    origin = curves_origin(read, d)
    native, widths = to_native(moved_curves(read, origin), per_curve_widths)
    jobs = [_flat_job(job) for job in _native.plan_tiles(native, d, f, native_options, widths)]
    client = client if client is not None else _current_client()
    tiles = _compute(client, [(run_flat_tile, job, d, f, native_options) for job in jobs], scatter=True)
    chains, nodes, ids, chain_widths = _native.stitch_tiles(list(map(_tile_result, tiles)), d, f, native_options)
    result = Centerlines.from_native(
        chains, nodes, ids, chain_widths if tuning.compute_widths else None, crs=crs, origin=origin
    )
    return with_stroke_sources(result, curves, read, d, f, origin) if tuning.sources else result


@takes_options
def centerlines_dataset(
    source: Any,
    buffer_distance: float,
    feature_size: float,
    *,
    output: str | os.PathLike[str] | None = None,
    client: Any = None,
    block_tiles: int = _dataset.BLOCK_TILES,
    options: Options | None = None,
    **keywords: Any,
) -> Any:
    """The centerlines of a drawing the client never loads, as tiles on a Dask cluster.

    ``source`` is a GeoParquet dataset (a file, or a directory of files; written with a bbox
    column, e.g. ``to_parquet(..., write_covering_bbox=True)``, each worker reads only the
    rows reaching its tiles) or a dask-geopandas GeoDataFrame of lines.  The client reads
    each partition's bounds and point count only; every task reads, plans and runs a block
    of ``block_tiles`` x ``block_tiles`` tiles, and the chains crossing tile seams are
    stitched in groups, each group by one task, from the pieces of the tiles it touches.

    The chains are those of :func:`strandify.centerlines` with ``partition="tiles"``,
    ``refine=False`` and the same ``tile_size`` (without one, tiles of about 20,000 points,
    counted before decimation), in another order, provided that the drawing's extreme points
    survive decimation (the grid is laid on the raw bounds) and that strokes joined end to end
    reach the same tiles.  ``buffer_distance`` and ``feature_size`` are required: they are
    not estimated from a drawing nobody reads whole.  Widths (``compute_widths``) are not
    computed here.  The result is a dask-geopandas GeoDataFrame of LineStrings; with
    ``output`` (a directory) the parts are written there as a GeoParquet dataset by the
    workers, and the dataset is returned read back lazily.  ``client`` is a
    ``distributed.Client`` (the current one when not given).
    """
    require("dask_geopandas", "strandify.dask", "dask")
    d = positive_number("buffer_distance", buffer_distance)
    f = positive_number("feature_size", feature_size)
    positive_integer("block_tiles", block_tiles)
    tuning = Options.build(options, keywords, "strandify.dask.centerlines_dataset")
    if tuning.compute_widths:
        raise ValueError("centerlines_dataset does not compute widths (compute_widths=True)")
    native = tuning.native(partition="tiles", refine_steps=None, workers=1)
    client = client if client is not None else _current_client()
    if client is None:
        raise ValueError("centerlines_dataset needs a distributed.Client (none given, none current)")
    source_parts = _DatasetSource(source, client)
    bounds = _dataset.total_bounds(source_parts.surveys)
    if bounds is None:
        return _empty_result(source_parts.crs)
    points = sum(s.points for s in source_parts.surveys)
    grid = _dataset.lay_grid(bounds, points, d, f, native, block_tiles)
    native = replace(native, tile_size=grid.tile_size)
    blocks = source_parts.blocks(
        [_dataset.BlockJob(column, row, box, grid, d, f, native) for column, row, box in _dataset.block_boxes(grid)]
    )
    tables = client.gather([client.submit(_dataset.seam_table, b, pure=False) for b in blocks])
    parts = [client.submit(_dataset.settled_of, b, pure=False) for b in blocks]
    # a chain end on a seam meets the nearest end across it within half the buffer distance
    for task in _dataset.stitch_plan(tables, d):
        picked = [client.submit(_dataset.select_groups, blocks[b], wanted, grid.far_y, pure=False) for b, wanted in sorted(task.items())]
        parts.append(client.submit(_dataset.stitch_selected, d, f, native, grid.far_y, *picked, pure=False))
    del blocks  # the tiles' pieces go once every part has taken what it needs
    return _chain_dataset(client, parts, grid.origin, source_parts.crs, output)


class _DatasetSource:
    """The partitions of a GeoParquet dataset or a dask-geopandas GeoDataFrame: their surveys,
    and the block tasks that read them."""

    def __init__(self, source: Any, client: Any) -> None:
        self.client = client
        if isinstance(source, (str, os.PathLike)):
            self.files: list[str] | None = _dataset.dataset_files(source)
            self.frames: list[Any] = []
            self.crs = _dataset.parquet_crs(self.files[0])
            futures = client.map(_dataset.survey_file, self.files, pure=False)
        else:
            dask = require("dask", "strandify.dask", "dask")
            if not hasattr(source, "to_delayed") or not hasattr(source, "crs"):
                raise TypeError(f"expected a GeoParquet path or a dask-geopandas GeoDataFrame, got {type(source).__name__}")
            self.files = None
            self.frames = source.to_delayed()
            self.crs = source.crs
            futures = client.compute([dask.delayed(_dataset.survey, pure=False)(p) for p in self.frames])
        self.surveys: list[_dataset.Survey] = client.gather(futures)

    def blocks(self, jobs: list[_dataset.BlockJob]) -> list[Any]:
        """A task per block that has any partition reaching it, reading just those."""
        out = []
        delayed_jobs = []
        for job in jobs:
            hits = [i for i, s in enumerate(self.surveys) if _dataset.intersects(job.read_box, s.bounds)]
            if not hits:
                continue
            if self.files is not None:
                out.append(self.client.submit(_dataset.read_block_files, [self.files[i] for i in hits], job, pure=False))
            else:
                dask = require("dask", "strandify.dask", "dask")
                delayed_jobs.append(dask.delayed(_dataset.read_block_frames, pure=False)(job, *[self.frames[i] for i in hits]))
        if delayed_jobs:  # one graph: a partition several blocks read is computed once
            out.extend(self.client.compute(delayed_jobs))
        return out


def _chain_dataset(client: Any, parts: list[Any], origin: Point, crs: Any, output: Any) -> Any:
    dask_geopandas = require("dask_geopandas", "strandify.dask", "dask")
    if output is not None:
        folder = os.fspath(output)
        os.makedirs(folder, exist_ok=True)
        writes = [
            client.submit(_dataset.write_frame, part, origin, crs, os.path.join(folder, f"part.{i:05d}.parquet"), pure=False)
            for i, part in enumerate(parts)
        ]
        client.gather(writes)
        return dask_geopandas.read_parquet(folder)
    dd = require("dask.dataframe", "strandify.dask", "dask")
    dask = require("dask", "strandify.dask", "dask")
    frames = [client.submit(_dataset.chain_frame, part, origin, crs, pure=False) for part in parts]
    meta = _empty_frame(crs)
    return dd.from_delayed([dask.delayed(frame) for frame in frames], meta=meta, verify_meta=False)


def _empty_frame(crs: Any) -> Any:
    import geopandas  # type: ignore[import-untyped,unused-ignore]

    return geopandas.GeoDataFrame(geometry=geopandas.GeoSeries([], crs=crs))


def _empty_result(crs: Any) -> Any:
    dask_geopandas = require("dask_geopandas", "strandify.dask", "dask")
    return dask_geopandas.from_geopandas(_empty_frame(crs), npartitions=1)


class FlatTile(NamedTuple):
    """A tile's pieces as arrays: every piece's points in one array."""

    points: FloatArray
    lengths: IntArray
    nodes: Any  # (start node, end node) per piece, uint64
    on_seam: Any  # (start on seam, end on seam) per piece, bool
    node_count: int
    skeleton_nodes: int
    boundary: FloatArray


def _flat_job(job: tuple[Any, Any, Any, Any]) -> tuple[Any, Any, FloatArray, IntArray, Any]:
    core, halo, curves, widths = job
    points, lengths = flat_points(curves)
    return core, halo, points, lengths, widths


def run_flat_tile(job: tuple[Any, Any, FloatArray, IntArray, Any], d: float, f: float, options: NativeOptions) -> FlatTile:
    """One tile on a worker: its job and its pieces as arrays."""
    core, halo, points, lengths, widths = job
    pieces, node_count, skeleton_nodes, boundary = _native.run_tile((core, halo, split_rows(points, lengths), widths), d, f, options)
    flat, piece_lengths = flat_points([p[0] for p in pieces])
    ends = np.array([(p[1], p[2]) for p in pieces], dtype=np.uint64).reshape(-1, 2)
    seams = np.array([(p[3], p[4]) for p in pieces], dtype=bool).reshape(-1, 2)
    return FlatTile(flat, piece_lengths, ends, seams, node_count, skeleton_nodes, flat_points([boundary])[0])


def _tile_result(tile: FlatTile) -> tuple[list[Any], int, int, FloatArray]:
    """What stitch_tiles reads, the pieces' points as views into the tile's one array."""
    starts, ends = tile.nodes.T.tolist()
    start_seams, end_seams = tile.on_seam.T.tolist()
    pieces = list(zip(split_rows(tile.points, tile.lengths), starts, ends, start_seams, end_seams))
    return pieces, tile.node_count, tile.skeleton_nodes, tile.boundary


def _compute(client: Any, calls: Iterable[tuple[Any, ...]], scatter: bool = False) -> list[Any]:
    """The values of ``calls`` (a function and its arguments each), as Dask tasks without hashed
    names.  With a client and ``scatter``, every call's first argument (its data) goes straight
    to a worker and the call runs where it is, each submitted as soon as it is built."""
    if client is None or not scatter:
        dask = require("dask", "strandify.dask", "dask")
        tasks = [dask.delayed(call[0], pure=False)(*call[1:]) for call in calls]
        return client.gather(client.compute(tasks)) if client is not None else list(dask.compute(*tasks))
    futures = []
    for function, data, *rest in calls:
        [part] = client.scatter([data], hash=False)
        futures.append(client.submit(function, part, *rest, pure=False))
    return client.gather(futures)  # type: ignore[no-any-return]


def _current_client() -> Any:
    try:
        from distributed import get_client
    except ImportError:
        return None
    try:
        return get_client()
    except ValueError:  # no client in this process
        return None
