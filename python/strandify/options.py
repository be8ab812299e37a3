"""Every tuning option in one value, and the checks of what the high-level functions take.

:class:`Options` is the one record of the tuning keywords: their names, defaults, checks and
help texts live in its fields, and every entry point of the package (the strokes and shapes
functions, their batches, :mod:`strandify.dask` and the command line, whose flags are made from
the fields) builds one and hands it to the native side as one value (:meth:`Options.native`).
A new option is one field here (and one line of the native field table).

Each check returns the value to use and raises the error the caller's users have always seen,
so that one value is refused with one message wherever it is given.
"""

from __future__ import annotations

import inspect
import math
import os
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field, fields, replace
from functools import lru_cache
from time import monotonic
from typing import Any, TypeVar

from ._types import Partition

#: The ways the high-level functions may split a drawing's work.
PARTITIONS: tuple[str, ...] = ("none", "components", "tiles")
#: The ways filled shapes may be split: tiles cut strokes, not regions.
SHAPE_PARTITIONS: tuple[str, ...] = ("none", "components")
#: What a batch does with a failing item.
ERROR_MODES: tuple[str, ...] = ("raise", "skip")
#: The finishing steps of ``refine``, in the order the keywords list them.
REFINE_STEPS = (
    "finish_tips",
    "recover_corners",
    "keep_dots",
    "join_crossings",
    "radius_tips",
    "round_pens",
    "real_ends",
)


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


#: How long a count of the CPUs available to the process is used before it is asked again. A
#: process may be moved to other CPUs while it runs, and its calls follow within this time;
#: the count sets how many threads a call may start, never what it computes, and asking on
#: every call costs a system call and a set of every CPU, a microsecond of a small call.
CPU_COUNT_SECONDS = 0.25

_cpus_counted: tuple[float, int] = (-math.inf, 1)


def available_cpus() -> int:
    """The CPUs available to the process (at least 1), as counted at most CPU_COUNT_SECONDS ago."""
    global _cpus_counted
    now = monotonic()
    counted_at, count = _cpus_counted
    if now - counted_at < CPU_COUNT_SECONDS:
        return count
    count = max(1, len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count() or 1)
    _cpus_counted = (now, count)
    return count


def thread_count(workers: Any) -> int:
    """A per-call thread count: None means one per CPU available to the process."""
    if workers is None:
        return available_cpus()
    return positive_integer("workers", workers, or_none=True)


def check_chunk_size(value: Any) -> int:
    return positive_integer("chunk_size", value)


def check_errors(value: Any) -> None:
    if value not in ERROR_MODES:
        raise ValueError(f'errors must be "raise" or "skip", got {value!r}')


def check_real(name: str, value: Any) -> None:
    """None, or anything the native side reads as a float (a float, an int, an object with
    ``__float__`` or ``__index__``); otherwise the TypeError the native conversion gives."""
    if value is None or isinstance(value, float):
        return
    kind = type(value)
    if not (hasattr(kind, "__float__") or hasattr(kind, "__index__")) or isinstance(value, (str, bytes)):
        raise TypeError(f"argument '{name}': must be real number, not {kind.__name__}")


def refine_steps(
    refine: bool = True,
    *,
    finish_tips: bool = True,
    recover_corners: bool = True,
    keep_dots: bool = True,
    join_crossings: bool = True,
    radius_tips: bool = False,
    round_pens: bool = True,
    real_ends: bool = True,
) -> tuple[str, ...] | None:
    """The native ``refine`` value for these keywords: None (exact chains) or the step names."""
    if not refine:
        return None
    chosen = (finish_tips, recover_corners, keep_dots, join_crossings, radius_tips, round_pens, real_ends)
    steps = tuple(name for name, on in zip(REFINE_STEPS, chosen) if on)
    return steps or None


def _option(default: Any, kind: str, help: str) -> Any:
    """A field of :class:`Options`.  ``kind`` says how the command line reads it: "length" (a
    non-negative number, optionally with a unit), "size" (the same, positive), "fraction" (a
    non-negative number), "count" (a positive integer), "on" (on by default, ``--no-NAME``
    turns it off), "off" (``--NAME`` turns it on), "choice" (one of :data:`PARTITIONS`), or ""
    (no flag of its own).  ``help`` is the flag's help text."""
    return field(default=default, metadata={"kind": kind, "help": help})


@dataclass(frozen=True)
class Options:
    """The tuning of a call: every keyword of :func:`strandify.centerlines` and
    :func:`strandify.polygon_centerlines` beyond the drawing and its scale, checked once.

    Pass one as ``options=`` to any function of the package, or give its fields as keywords
    (a keyword beside ``options=`` replaces that field).  ``partition``, ``tile_size`` and
    ``workers`` say how a call splits its work; ``refine`` and the step keywords choose the
    finishing steps (see :func:`strandify.centerlines`); the others have the meaning and
    default of :func:`strandify.strandify`.
    """

    simplification: float | None = _option(None, "length", "tolerance of the final chain simplification (default F/10)")
    min_tip_fraction: float | None = _option(None, "fraction", "side branches shorter than this times F are pruned")
    junction_merge_fraction: float | None = _option(None, "fraction", "junctions closer than this times F merge")
    max_nodes: int | None = _option(None, "count", "refuse drawings whose skeleton has more nodes than this")
    subdivision_ratio: float | None = _option(None, "fraction", "boundary refinement ratio")
    resample: float | None = _option(None, "length", "resample the buffer boundary at this spacing")
    boundary_simplification: float | None = _option(None, "length", "tolerance of the boundary simplification")
    merge_tolerance: float | None = _option(None, "length", "curve ends closer than this are joined")
    compute_widths: bool = _option(False, "", "measure the local width at every chain point")
    sources: bool = _option(
        False, "", "find the input features each chain comes from (the strokes and shapes calls and their batches)"
    )
    partition: Partition = _option(
        "components",
        "choice",
        "components (default): union each group of strokes with overlapping buffers on its own, "
        "fast on large drawings; tiles: also cut one large mass into tiles; none: the exact one-call union",
    )
    tile_size: float | None = _option(
        None, "size", "side of a tile with --partition tiles (default: about 20,000 points per tile)"
    )
    workers: int | None = _option(None, "", "threads of one call (default: one per CPU)")
    refine: bool = _option(True, "on", "return the exact skeleton chains, without any finishing step")
    finish_tips: bool = _option(True, "on", "leave tips where the skeleton ends them")
    recover_corners: bool = _option(True, "on", "keep the spur a sharp corner grows")
    keep_dots: bool = _option(True, "on", "let pruning remove dots")
    join_crossings: bool = _option(True, "on", "keep the two junctions of a shallow crossing")
    radius_tips: bool = _option(False, "off", "prune side branches by their length beyond a wide junction's radius")
    round_pens: bool = _option(True, "on", "buffer strokes with square caps and joins, as the exact pipeline does")
    real_ends: bool = _option(True, "on", "prune short branches to where an input line ends like any other spur")

    def __post_init__(self) -> None:
        for name in _REAL_FIELDS:
            check_real(name, getattr(self, name))
        check_partition(self.partition)
        check_tile_size(self.tile_size)
        if self.workers is not None:
            thread_count(self.workers)

    @classmethod
    def build(cls, options: Options | None, keywords: Mapping[str, Any], function: str) -> Options:
        """``options`` (None: the defaults) with ``keywords`` replacing its fields; a keyword
        that names no field is the TypeError Python gives for it, naming ``function``."""
        for name in keywords:
            if name not in OPTION_NAMES:
                raise TypeError(f"{function}() got an unexpected keyword argument {name!r}")
        if options is None:
            return cls(**keywords) if keywords else _default_options()
        if not isinstance(options, Options):
            raise TypeError(f"options must be a strandify.options.Options, got {type(options).__name__}")
        return replace(options, **keywords) if keywords else options

    @property
    def refine_steps(self) -> tuple[str, ...] | None:
        """The finishing steps to run, by name; None for the exact chains."""
        return refine_steps(self.refine, **{name: getattr(self, name) for name in REFINE_STEPS})

    def native(self, **changes: Any) -> NativeOptions:
        """The value the native calls read: every field they know, ``workers`` as a thread
        count (one per CPU when None) and the steps by name, with ``changes`` on top (a batch
        passes ``workers=self.workers``, where None leaves every thread of the pool to it)."""
        workers = thread_count(self.workers)
        if self is _default_options() and not changes:
            # most calls: found by the thread count alone, without hashing every field
            return _default_native(workers)
        try:
            return _native_of(self, workers, tuple(sorted(changes.items())))
        except TypeError:  # a change that cannot be a cache key
            return _native_uncached(self, workers, changes)


def _native_uncached(options: Options, workers: int, changes: Mapping[str, Any]) -> NativeOptions:
    values = {name: getattr(options, name) for name in _SHARED_FIELDS}
    values["workers"] = workers
    values["refine_steps"] = options.refine_steps
    values.update(changes)
    return NativeOptions(**values)


# Both values are frozen, so that every call with the same tuning (most calls: the defaults) can
# share one instead of building and checking it again.
@lru_cache(maxsize=64)
def _native_of(options: Options, workers: int, changes: tuple[tuple[str, Any], ...]) -> NativeOptions:
    return _native_uncached(options, workers, dict(changes))


@lru_cache(maxsize=1)
def _default_options() -> Options:
    return Options()


@lru_cache(maxsize=8)
def _default_native(workers: int) -> NativeOptions:
    return _native_uncached(_default_options(), workers, {})


@dataclass(frozen=True)
class NativeOptions:
    """What the native calls beyond the exact four read from their ``options`` argument, by
    attribute name: the same names as :class:`Options`, but the steps as ``refine_steps`` and
    ``workers`` None meaning one thread (in a native batch: no cap)."""

    simplification: float | None = None
    min_tip_fraction: float | None = None
    junction_merge_fraction: float | None = None
    subdivision_ratio: float | None = None
    resample: float | None = None
    boundary_simplification: float | None = None
    merge_tolerance: float | None = None
    tile_size: float | None = None
    max_nodes: int | None = None
    compute_widths: bool = False
    partition: Partition = "none"
    workers: int | None = None
    refine_steps: tuple[str, ...] | None = None


#: The names of the fields of :class:`Options`, in their order.
OPTION_NAMES: tuple[str, ...] = tuple(f.name for f in fields(Options))
_REAL_FIELDS = tuple(f.name for f in fields(Options) if f.metadata["kind"] in ("length", "fraction"))
_SHARED_FIELDS = tuple(name for name in OPTION_NAMES if name in {f.name for f in fields(NativeOptions)} and name != "workers")

F = TypeVar("F", bound=Callable[..., Any])


def takes_options(function: F) -> F:
    """Shows the fields of :class:`Options` in the signature of ``function``, which takes them
    as ``**keywords``: ``help()`` and ``inspect.signature`` then list every keyword with its
    default, from the one record that defines them."""
    signature = inspect.signature(function)
    own = [p for p in signature.parameters.values() if p.kind is not inspect.Parameter.VAR_KEYWORD]
    taken = {p.name for p in own}
    added = [
        inspect.Parameter(f.name, inspect.Parameter.KEYWORD_ONLY, default=f.default, annotation=f.type)
        for f in fields(Options)
        if f.name not in taken
    ]
    function.__signature__ = signature.replace(parameters=own + added)  # type: ignore[attr-defined]
    return function
