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

from . import _native
from ._batch import BatchResults
from ._crs import crs_of
from ._lines import centerlines_batch as _local_batch
from ._optional import require
from ._origin import curves_origin, moved_curves
from ._read_lines import read_curves, to_native
from ._result import Centerlines
from ._scale import resolve
from .errors import BatchJobError
from .options import Options, check_errors, positive_integer, takes_options

__all__ = ["centerlines_batch", "centerlines_tiled"]

#: Drawings per task when the input is a plain sequence: enough to keep a worker's threads busy
#: and the per-task overhead small.
PARTITION_SIZE = 64

_PREFIX = re.compile(r"drawing \d+: ")

# A failed drawing travels back as data, (type name, reason, failure kind): exceptions with
# extra constructor arguments do not always survive pickling, and the position must be made
# global anyway.
_Outcome = tuple[Centerlines | None, tuple[str, str, str] | None]


def _run_partition(drawings: Sequence[Any], buffer_distance: Any, feature_size: Any, options: Options) -> list[_Outcome]:
    results = _local_batch(list(drawings), buffer_distance, feature_size, options=options, errors="skip")
    out: list[_Outcome] = []
    for i, result in enumerate(results):
        if result is not None:
            out.append((result, None))
            continue
        error = results.errors[i]
        if isinstance(error, BatchJobError):
            out.append((None, ("BatchJobError", error.reason, error.kind)))
        else:
            out.append((None, (type(error).__name__, _PREFIX.sub("", str(error), count=1), "")))
    return out


def _rebuild(index: int, failure: tuple[str, str, str]) -> Exception:
    name, reason, kind = failure
    if name == "BatchJobError":
        return BatchJobError(index, reason, kind)
    cls = TypeError if name == "TypeError" else ValueError
    return cls(f"drawing {index}: {reason}")


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
    ``results.errors`` under their positions in the whole input.
    """
    dask = require("dask", "strandify.dask", "dask")
    bag_module = require("dask.bag", "strandify.dask", "dask")
    positive_integer("partition_size", partition_size)
    check_errors(errors)
    tuning = Options.build(options, keywords, "strandify.dask.centerlines_batch")

    if isinstance(drawings, bag_module.Bag):
        parts = drawings.to_delayed()
    else:
        items = list(drawings)
        parts = [items[k : k + partition_size] for k in range(0, len(items), partition_size)]
    run = dask.delayed(_run_partition, pure=True)
    tasks = [run(part, buffer_distance, feature_size, tuning) for part in parts]
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
    tuning keywords (or ``options``) are those of :func:`strandify.centerlines`.
    ``client`` is as for :func:`centerlines_batch`.
    """
    dask = require("dask", "strandify.dask", "dask")
    tuning = Options.build(options, keywords, "centerlines_tiled")
    native_options = tuning.native(partition="tiles", refine_steps=None)
    crs = crs_of(curves)
    read = read_curves(curves)
    d, f = resolve(read, buffer_distance, feature_size)
    # the tiles are planned, run and stitched about the drawing's own origin, as the local run is
    origin = curves_origin(read, d)
    native, widths = to_native(moved_curves(read, origin), per_curve_widths)
    jobs = _native.plan_tiles(native, d, f, native_options, widths)
    run = dask.delayed(_native.run_tile, pure=True)
    tasks = [run(job, d, f, native_options) for job in jobs]
    if client is None:
        client = _current_client()
    results = client.gather(client.compute(tasks)) if client is not None else list(dask.compute(*tasks))
    chains, nodes, ids, chain_widths = _native.stitch_tiles(results, d, f, native_options)
    return Centerlines.from_native(
        chains, nodes, ids, chain_widths if tuning.compute_widths else None, crs=crs, origin=origin
    )


def _current_client() -> Any:
    try:
        from distributed import get_client
    except ImportError:
        return None
    try:
        return get_client()
    except ValueError:  # no client in this process
        return None
