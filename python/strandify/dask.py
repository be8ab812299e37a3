"""Many drawings on a Dask cluster: each partition of drawings is one native batch on a worker.

Needs the ``dask`` extra (``pip install strandify[dask]``).  The scheduling is Dask's own: this
module only cuts the drawings into partitions, hands each partition to
:func:`strandify.centerlines_batch` on a worker and puts the results back in input order, so
they are exactly the results of a local :func:`strandify.centerlines_batch` with the same
options.
"""

from __future__ import annotations

import re
from collections.abc import Iterable, Sequence
from typing import Any, Literal

from . import _internal
from ._batch import BatchResults
from ._crs import crs_of
from ._lines import centerlines_batch as _local_batch
from ._optional import require
from ._read_lines import read_curves, to_native
from ._result import Centerlines
from ._scale import resolve
from .errors import BatchJobError
from .options import check_errors, check_partition, check_tile_size, positive_integer

__all__ = ["centerlines_batch", "centerlines_tiled"]

#: Drawings per task when the input is a plain sequence: enough to keep a worker's threads busy
#: and the per-task overhead small.
PARTITION_SIZE = 64

_PREFIX = re.compile(r"drawing \d+: ")

# A failed drawing travels back as data, (type name, reason): exceptions with extra constructor
# arguments do not always survive pickling, and the position must be made global anyway.
_Outcome = tuple[Centerlines | None, tuple[str, str] | None]


def _run_partition(drawings: Sequence[Any], buffer_distance: Any, feature_size: Any, options: dict[str, Any]) -> list[_Outcome]:
    results = _local_batch(list(drawings), buffer_distance, feature_size, errors="skip", **options)
    out: list[_Outcome] = []
    for i, result in enumerate(results):
        if result is not None:
            out.append((result, None))
            continue
        error = results.errors[i]
        if isinstance(error, BatchJobError):
            out.append((None, ("BatchJobError", error.reason)))
        else:
            out.append((None, (type(error).__name__, _PREFIX.sub("", str(error), count=1))))
    return out


def _rebuild(index: int, failure: tuple[str, str]) -> Exception:
    kind, reason = failure
    if kind == "BatchJobError":
        return BatchJobError(index, reason)
    cls = TypeError if kind == "TypeError" else ValueError
    return cls(f"drawing {index}: {reason}")


def centerlines_batch(
    drawings: Iterable[Any],
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    client: Any = None,
    partition_size: int = PARTITION_SIZE,
    errors: Literal["raise", "skip"] = "raise",
    **options: Any,
) -> list[Centerlines] | BatchResults:
    """:func:`strandify.centerlines_batch` with the drawings spread over a Dask cluster.

    ``drawings`` is a ``dask.bag.Bag`` (each of its partitions becomes one task) or any
    iterable of drawings (cut into tasks of ``partition_size`` drawings).  ``client`` is a
    ``distributed.Client``; without one the current client is used when there is one, else
    Dask's default scheduler.  The other keywords are those of
    :func:`strandify.centerlines_batch`, and the results are the same, in input order.  With
    ``errors="raise"`` the failure of the first failing drawing (in input order) is raised
    once all tasks have finished; with ``errors="skip"`` the failures are in
    ``results.errors`` under their positions in the whole input.
    """
    dask = require("dask", "strandify.dask", "dask")
    bag_module = require("dask.bag", "strandify.dask", "dask")
    positive_integer("partition_size", partition_size)
    check_errors(errors)
    if "partition" in options:
        options["partition"] = check_partition(options["partition"])
    for unsupported in ("chunk_size", "progress"):
        if unsupported in options:
            raise TypeError(f"strandify.dask.centerlines_batch() got an unexpected keyword argument {unsupported!r}")

    if isinstance(drawings, bag_module.Bag):
        parts = drawings.to_delayed()
    else:
        items = list(drawings)
        parts = [items[k : k + partition_size] for k in range(0, len(items), partition_size)]
    run = dask.delayed(_run_partition, pure=True)
    tasks = [run(part, buffer_distance, feature_size, options) for part in parts]
    if client is None:
        client = _current_client()
    if client is not None:
        outcomes = client.gather(client.compute(tasks))
    else:
        outcomes = list(dask.compute(*tasks))

    results: Any = BatchResults() if errors == "skip" else []
    index = 0
    for part in outcomes:
        for result, failure in part:
            if failure is not None:
                error = _rebuild(index, failure)
                if errors == "raise":
                    raise error
                results.append(None)
                results.errors[index] = error
            else:
                results.append(result)
            index += 1
    return results  # type: ignore[no-any-return]


def centerlines_tiled(
    curves: Any,
    buffer_distance: float | None = None,
    feature_size: float | None = None,
    *,
    tile_size: float | None = None,
    client: Any = None,
    per_curve_widths: Sequence[Any] | None = None,
    compute_widths: bool = False,
    simplification: float | None = None,
    min_tip_fraction: float | None = None,
    junction_merge_fraction: float | None = None,
    subdivision_ratio: float | None = None,
    resample: float | None = None,
    boundary_simplification: float | None = None,
    merge_tolerance: float | None = None,
    max_nodes: int | None = None,
) -> Centerlines:
    """One large drawing as tiles on a Dask cluster: ``partition="tiles"`` with the tiles as tasks.

    The drawing is read, merged, decimated and cut into tiles here
    (``_internal.plan_tiles``); each tile runs as one task on a worker
    (``_internal.run_tile``), and the pieces are stitched here
    (``_internal.stitch_tiles``).  The result is exactly that of
    :func:`strandify.centerlines` with ``partition="tiles"`` and the same
    ``tile_size``.  ``client`` is as for :func:`centerlines_batch`.
    """
    dask = require("dask", "strandify.dask", "dask")
    tile_size = check_tile_size(tile_size)
    crs = crs_of(curves)
    read = read_curves(curves)
    native, widths = to_native(read, per_curve_widths)
    d, f = resolve(read, buffer_distance, feature_size)
    jobs = _internal.plan_tiles(native, d, f, widths, merge_tolerance, tile_size)
    tuning = (simplification, min_tip_fraction, junction_merge_fraction, subdivision_ratio, resample, boundary_simplification)
    run = dask.delayed(_internal.run_tile, pure=True)
    tasks = [run(job, d, f, *tuning) for job in jobs]
    if client is None:
        client = _current_client()
    results = client.gather(client.compute(tasks)) if client is not None else list(dask.compute(*tasks))
    chains, nodes, ids, chain_widths = _internal.stitch_tiles(
        results, d, f, simplification, min_tip_fraction, junction_merge_fraction, compute_widths, max_nodes
    )
    return Centerlines.from_native(chains, nodes, ids, chain_widths if compute_widths else None, crs=crs)


def _current_client() -> Any:
    try:
        from distributed import get_client
    except ImportError:
        return None
    try:
        return get_client()
    except ValueError:  # no client in this process
        return None
