"""The native side of ``strandify.polygon_centerlines`` alone, on rings read beforehand.

The shapes are those of bench_polygons.py: the 62 DejaVu Sans outlines and the 177 Natural
Earth countries.  Each shape goes once through ``strandify.polygon_centerlines`` (defaults) with
the native call recorded, so that the loop then times exactly the arguments that call passes
(``_internal.strandify_polygons_arrays``), with ``workers=1``: reading the shapes and building
the result are the Python layer's and stay out.

With ``--baseline PATH`` a second build of the extension (a copy of another
``_internal*.so``) runs in the same loop, the two sides alternating, and the ratio and whether
every output is the same byte for byte are printed.  Times are CPU seconds of the process: best
and median of ``--repeats`` passes, and the sum over the calls of each call's best time (what
the ratio compares: a burst of load on the machine then spoils one call, not a pass); pin to
one core (``taskset -c 1``) for steady figures.
Not a test: the figures depend on the machine.
Run ``python bench/bench_polygons_native.py [--repeats N] [--baseline PATH]``.
"""

from __future__ import annotations

import argparse
import dataclasses
import importlib.machinery
import importlib.util
import math
import os
import statistics
import sys
import time
import warnings
from collections.abc import Callable
from typing import Any

import strandify
from strandify import _internal, _native

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_polygons import country_shapes, glyph_shapes  # noqa: E402

Call = tuple[Any, ...]


def recorded_calls(shapes: list[Any]) -> list[Call]:
    """The arguments of the native call that ``polygon_centerlines`` makes for each shape."""
    calls: list[Call] = []
    real = _native.strandify_polygons_arrays

    def record(*args: Any) -> Any:
        polygons, buffer_distance, feature_size, options = args
        calls.append((polygons, buffer_distance, feature_size, dataclasses.replace(options, workers=1)))
        return real(*args)

    _native.strandify_polygons_arrays = record  # type: ignore[assignment]
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # shapes that lose a part say so once, here
            for shape in shapes:
                strandify.polygon_centerlines(shape)
    finally:
        _native.strandify_polygons_arrays = real
    return calls


def load_extension(path: str) -> Any:
    """Another build of the extension, beside the one strandify imported."""
    loader = importlib.machinery.ExtensionFileLoader("strandify_baseline._internal", path)
    found = importlib.util.spec_from_file_location("strandify_baseline._internal", path, loader=loader)
    assert found is not None
    module = importlib.util.module_from_spec(found)
    loader.exec_module(module)
    return module


def run(function: Callable[..., Any], calls: list[Call], per_call: list[float]) -> tuple[float, list[Any]]:
    """One pass over the calls: its CPU seconds and outputs; `per_call` keeps every call's
    smallest time so far."""
    outputs = []
    start = time.process_time_ns()
    for k, call in enumerate(calls):
        before = time.process_time_ns()
        outputs.append(function(*call))
        per_call[k] = min(per_call[k], (time.process_time_ns() - before) * 1e-9)
    return (time.process_time_ns() - start) * 1e-9, outputs


def same_output(a: Any, b: Any) -> bool:
    return all(bytes(x) == bytes(y) if isinstance(x, bytearray) else x == y for x, y in zip(a, b))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=15)
    parser.add_argument("--baseline", help="path of another build's _internal*.so")
    args = parser.parse_args()
    sides: dict[str, Callable[..., Any]] = {"current": _internal.strandify_polygons_arrays}
    if args.baseline:
        sides["baseline"] = load_extension(args.baseline).strandify_polygons_arrays
    for name, shapes in (("glyphs", glyph_shapes()), ("countries", country_shapes())):
        calls = recorded_calls([shape for _, shape, _ in shapes])
        times: dict[str, list[float]] = {side: [] for side in sides}
        fastest: dict[str, list[float]] = {side: [math.inf] * len(calls) for side in sides}
        outputs: dict[str, list[Any]] = {}
        for _ in range(args.repeats):
            for side, function in sides.items():
                seconds, outputs[side] = run(function, calls, fastest[side])
                times[side].append(seconds)
        line = f"{name:10s} ({len(calls)} calls)"
        for side in sides:
            line += (
                f"  {side}: best {1e3 * min(times[side]):7.2f} ms median {1e3 * statistics.median(times[side]):7.2f} ms"
                f" sum of per-call bests {1e3 * sum(fastest[side]):7.2f} ms"
            )
        if "baseline" in sides:
            ratio = sum(fastest["baseline"]) / sum(fastest["current"])
            same = all(same_output(a, b) for a, b in zip(outputs["current"], outputs["baseline"]))
            line += f"  baseline/current {ratio:.3f}x  outputs {'identical' if same else 'DIFFER'}"
        print(line, flush=True)


if __name__ == "__main__":
    main()
