"""Many items through a native batch function, a chunk at a time, for the strokes batch
and the shapes batch alike.

Each item is read into a native job here and handed to the native function
``chunk_size`` at a time, so a long iterable never sits in memory as native
lists all at once.  With ``errors="skip"`` a failing item gives None and the
others go on; which items fail, and the results of the others, do not depend
on the chunking or on the order in which the native workers meet the failures.
"""

from __future__ import annotations

import itertools
from collections.abc import Callable, Iterable, Iterator
from typing import Any, TypeVar

from ._optional import require
from ._result import Centerlines
from .errors import BatchJobError

Job = tuple[Any, ...]
Context = TypeVar("Context")


class BatchResults(list[Centerlines | None]):
    """Results of :func:`centerlines_batch` with ``errors="skip"``.

    A list in input order, None where a drawing failed; ``errors`` maps the
    position of every failed drawing to its exception.
    """

    def __init__(self) -> None:
        super().__init__()
        self.errors: dict[int, Exception] = {}


def run_chunked(
    items: Iterable[Any],
    prepare: Callable[[Any, int], tuple[Job, Context]],
    native: Callable[[list[Job]], list[Any]],
    finish: Callable[[Any, Context, int], Centerlines],
    *,
    chunk_size: int,
    skip: bool,
    progress: bool,
    total: int | None,
    name_read_failures: bool = False,
) -> Any:
    """The results of ``items``, in order: a list, or a :class:`BatchResults` when ``skip``.

    ``prepare(item, index)`` reads an item into its native job and whatever
    ``finish(native_result, context, index)`` needs to turn the job's native
    result into :class:`Centerlines`.  A TypeError or ValueError while reading
    is that item's failure: raised as it is, or as :class:`BatchJobError` with
    ``name_read_failures``, unless ``skip``.  ``progress`` shows a tqdm bar of
    ``total`` items.
    """
    bar = _progress_bar(total) if progress else None
    results: Any = BatchResults() if skip else []
    try:
        for offset, chunk in _chunks(items, chunk_size):
            jobs: dict[int, Job] = {}
            context: dict[int, Context] = {}
            failed: dict[int, Exception] = {}
            for i, item in enumerate(chunk):
                try:
                    jobs[i], context[i] = prepare(item, offset + i)
                except (TypeError, ValueError) as exc:
                    if skip:
                        failed[i] = exc
                    elif name_read_failures:
                        raise BatchJobError(offset + i, str(exc)) from None
                    else:
                        raise
            done = _run_chunk(jobs, offset, skip, failed, native)
            for i in range(len(chunk)):
                if i in failed:
                    results.append(None)
                    results.errors[offset + i] = failed[i]
                    continue
                results.append(finish(done[i], context[i], offset + i))
            if bar is not None:
                bar.update(len(chunk))
    finally:
        if bar is not None:
            bar.close()
    return results


def _run_chunk(
    jobs: dict[int, Job],
    offset: int,
    skip: bool,
    failed: dict[int, Exception],
    native: Callable[[list[Job]], list[Any]],
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
            kind = getattr(exc, "kind", "unknown")
            error = BatchJobError(offset + keys[position], exc.reason, kind)  # type: ignore[attr-defined]
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


def _progress_bar(total: int | None) -> Any:
    tqdm = require("tqdm", "progress=True", "progress")
    return tqdm.tqdm(total=total, unit="drawing")
