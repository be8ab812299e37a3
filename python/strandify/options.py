"""The checks of the tuning values the high-level functions take.

Each check returns the value to use and raises the error the caller's users
have always seen; the functions for strokes and for filled shapes, the batches
and the Dask helpers share them, so that one value is refused with one message
wherever it is given.
"""

from __future__ import annotations

import math
import os
from collections.abc import Mapping
from typing import Any

from ._types import Partition

#: The ways the high-level functions may split a drawing's work.
PARTITIONS: tuple[str, ...] = ("none", "components", "tiles")
#: The ways filled shapes may be split: tiles cut strokes, not regions.
SHAPE_PARTITIONS: tuple[str, ...] = ("none", "components")
#: What a batch does with a failing item.
ERROR_MODES: tuple[str, ...] = ("raise", "skip")
#: The finishing steps of ``refine``, in the order the keywords list them.
REFINE_STEPS = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "radius_tips")


def positive_number(name: str, value: Any) -> float:
    """``value`` as a float; TypeError unless it is a number, ValueError unless positive and finite."""
    if isinstance(value, (bool, str, bytes)):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}")
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, got {type(value).__name__}") from None
    if not (number > 0 and math.isfinite(number)):
        raise ValueError(f"{name} must be a positive finite number, got {value!r}")
    return number


def positive_integer(name: str, value: Any, *, or_none: bool = False) -> int:
    """``value`` unless it is not an int of at least 1 (a bool does not count)."""
    if isinstance(value, bool) or not isinstance(value, int) or value < 1:
        raise ValueError(f"{name} must be a positive integer{' or None' if or_none else ''}, got {value!r}")
    return value


def check_partition(value: Any, allowed: tuple[str, ...] = PARTITIONS) -> Partition:
    if value in allowed and isinstance(value, str):
        return value  # type: ignore[return-value]
    words = [repr(name) for name in allowed]
    choice = f"{words[0]} or {words[1]}" if len(words) == 2 else f"one of {', '.join(words)}"
    raise ValueError(f"partition must be {choice}, got {value!r}")


def check_tile_size(value: Any) -> float | None:
    return None if value is None else positive_number("tile_size", value)


def thread_count(workers: Any) -> int:
    """A per-call thread count: None means one per CPU available to the process."""
    if workers is None:
        return max(1, len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1)
    return positive_integer("workers", workers, or_none=True)


def check_chunk_size(value: Any) -> int:
    return positive_integer("chunk_size", value)


def check_errors(value: Any) -> None:
    if value not in ERROR_MODES:
        raise ValueError(f'errors must be "raise" or "skip", got {value!r}')


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


def steps_of(arguments: Mapping[str, Any]) -> tuple[str, ...] | None:
    """:func:`refine_steps` of a call's arguments, which hold ``refine`` and every step keyword."""
    return refine_steps(arguments["refine"], **{name: arguments[name] for name in REFINE_STEPS})
