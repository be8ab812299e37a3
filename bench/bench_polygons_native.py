"""The native side of ``strandify.polygon_centerlines`` alone, on rings read beforehand.

The shapes are those of bench_polygons.py: the 62 DejaVu Sans outlines and the 177 Natural
Earth countries.  Each shape goes once through ``strandify.polygon_centerlines`` (defaults) with
the native call recorded, so that the loop then times exactly the arguments that call passes
(``_internal.strandify_polygons_arrays``), with ``workers=1``: reading the shapes and building
the result are the Python layer's and stay out.

With ``--baseline PATH`` a second build of the extension (a copy of another
``_internal*.so``) runs in the same loop, the two sides alternating, and the ratio and whether
every output is the same byte for byte are printed.  Times are CPU seconds of the process, best
and median of ``--repeats`` passes; pin to one core (``taskset -c 1``) for steady figures.
Not a test: the figures depend on the machine.
Run ``python bench/bench_polygons_native.py [--repeats N] [--baseline PATH]``.
"""

from __future__ import annotations

import argparse
import dataclasses
import importlib.machinery
import importlib.util
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
    spec = importlib.util.spec_from_file_location("strandify_baseline._internal", path, loader=loader)
    assert spec is not None
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def run(function: Callable[..., Any], calls: list[Call]) -> tuple[float, list[Any]]:
    outputs = []
    start = time.process_time()
    for call in calls:
        outputs.append(function(*call))
    return time.process_time() - start, outputs


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
        outputs: dict[str, list[Any]] = {}
        for _ in range(args.repeats):
            for side, function in sides.items():
                seconds, outputs[side] = run(function, calls)
                times[side].append(seconds)
        line = f"{name:10s} ({len(calls)} calls)"
        for side in sides:
            line += f"  {side}: best {1e3 * min(times[side]):7.2f} ms median {1e3 * statistics.median(times[side]):7.2f} ms"
        if "baseline" in sides:
            ratio = min(times["baseline"]) / min(times["current"])
            same = all(same_output(a, b) for a, b in zip(outputs["current"], outputs["baseline"]))
            line += f"  baseline/current {ratio:.3f}x  outputs {'identical' if same else 'DIFFER'}"
        print(line, flush=True)


if __name__ == "__main__":
    main()
