"""Lists of point lists as one flat array and their lengths, and back: how the tile jobs, tile
results and batch results cross between the processes of a cluster.  A nested list pickles (and
Dask hashes it) one Python object per coordinate; the flat form is a few buffers."""

from __future__ import annotations

import itertools
from collections.abc import Sequence
from typing import Any

import numpy as np

from ._types import FloatArray, IntArray


def flat_points(point_lists: Sequence[Any]) -> tuple[FloatArray, IntArray]:
    """All points of ``point_lists`` (lists of (x, y) tuples or (n, 2) arrays) as one
    ``(N, 2)`` float64 array, and the length of every list."""
    lengths = np.fromiter(map(len, point_lists), dtype=np.intp, count=len(point_lists))
    total = int(lengths.sum())
    if point_lists and isinstance(point_lists[0], np.ndarray):
        points = np.concatenate(point_lists) if total else np.empty((0, 2), dtype=np.float64)
        return points.reshape(-1, 2), lengths
    values = itertools.chain.from_iterable(itertools.chain.from_iterable(point_lists))
    return np.fromiter(values, dtype=np.float64, count=2 * total).reshape(-1, 2), lengths


def split_rows(points: Any, lengths: IntArray) -> list[Any]:
    """The arrays of :func:`flat_points` (or :func:`flat_values`) again, as views into ``points`` (each
    C-contiguous, so that a native call reads it in one copy)."""
    return np.split(points, np.cumsum(lengths[:-1])) if len(lengths) else []


def flat_values(value_lists: Sequence[Sequence[float]]) -> tuple[FloatArray, IntArray]:
    """The same for lists of numbers: one float64 array and the length of every list."""
    lengths = np.fromiter(map(len, value_lists), dtype=np.intp, count=len(value_lists))
    values = itertools.chain.from_iterable(value_lists)
    return np.fromiter(values, dtype=np.float64, count=int(lengths.sum())), lengths
