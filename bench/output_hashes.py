"""Hashes of every entry point's results on seeded drawings, to show that a change of layout
leaves every output the same bit for bit.

    python bench/output_hashes.py --write build/hashes-before.json
    ... change the code, rebuild ...
    python bench/output_hashes.py --check build/hashes-before.json

Each entry point gets one hash per drawing (the bytes of its chains, nodes, ids and widths);
--check names the entry points and the first drawings whose results differ.
"""

from __future__ import annotations

import argparse
import hashlib
import io
import json
import math
import random
import sys
import tempfile
import warnings
from collections.abc import Callable, Iterable
from pathlib import Path
from typing import Any

import numpy as np

import strandify
from strandify import _internal


def _walk(r: random.Random, n: int, step: float, x: float, y: float) -> list[tuple[float, float]]:
    heading = r.uniform(0, 2 * math.pi)
    out = []
    for _ in range(n):
        heading += r.gauss(0, 0.25)
        x += step * math.cos(heading)
        y += step * math.sin(heading)
        out.append((x, y))
    return out


def drawing(seed: int) -> list[list[tuple[float, float]]]:
    """Strokes of several kinds: wobbly walks, straight lines crossing, overdrawn traces, dots."""
    r = random.Random(seed)
    curves: list[list[tuple[float, float]]] = []
    for _ in range(r.randint(1, 4)):
        curves.append(_walk(r, r.randint(10, 60), r.uniform(0.3, 1.2), r.uniform(0, 30), r.uniform(0, 30)))
    for _ in range(r.randint(0, 3)):
        x0, y0, x1, y1 = (r.uniform(0, 30) for _ in range(4))
        n = r.randint(2, 25)
        curves.append([(x0 + (x1 - x0) * i / (n - 1), y0 + (y1 - y0) * i / (n - 1)) for i in range(n)])
    if r.random() < 0.5 and curves:  # an overdrawn copy of one stroke
        base = curves[r.randrange(len(curves))]
        curves.append([(x + r.gauss(0, 0.3), y + r.gauss(0, 0.3)) for x, y in base])
    if r.random() < 0.3:  # a dot
        cx, cy, rad = r.uniform(0, 30), r.uniform(0, 30), r.uniform(0.2, 1.5)
        curves.append([(cx + rad * math.cos(t / 8 * math.pi), cy + rad * math.sin(t / 8 * math.pi)) for t in range(17)])
    return curves


def shape(seed: int) -> list[list[np.ndarray]]:
    """Filled shapes as [outer, *holes] ring arrays: stars, blobs, frames."""
    r = random.Random(seed + 100_000)
    polygons: list[list[np.ndarray]] = []
    for _ in range(r.randint(1, 3)):
        cx, cy = r.uniform(0, 40), r.uniform(0, 40)
        k = r.randint(3, 9)
        n = k * r.randint(2, 6)
        outer = []
        for i in range(n):
            t = 2 * math.pi * i / n
            rad = r.uniform(4, 8) if i % 2 else r.uniform(1.5, 4)
            outer.append((cx + rad * math.cos(t), cy + rad * math.sin(t)))
        rings = [np.asarray(outer, dtype=np.float64)]
        if r.random() < 0.3:
            rad = r.uniform(0.3, 1.0)
            rings.append(np.asarray([(cx + rad * math.cos(t), cy - rad * math.sin(t)) for t in np.linspace(0, 2 * math.pi, 12, endpoint=False)]))
        polygons.append(rings)
    return polygons


def _digest(*parts: Any) -> str:
    h = hashlib.sha256()
    for part in parts:
        if isinstance(part, (bytes, bytearray)):
            h.update(part)
        else:
            h.update(repr(part).encode())
    return h.hexdigest()[:16]


def _centerlines_digest(result: Any) -> str:
    if result is None:
        return "none"
    parts: list[Any] = [np.ascontiguousarray(c).tobytes() for c in result.chains]
    parts.append(np.ascontiguousarray(result.nodes).tobytes())
    parts.append(np.ascontiguousarray(result.chain_node_ids).tobytes())
    if result.widths is not None:
        parts.extend(np.ascontiguousarray(w).tobytes() for w in result.widths)
    return _digest(*parts)


def _native_digest(result: Any) -> str:
    return _digest(result)


def _per_item(fn: Callable[[Any], Any], items: Iterable[Any], digest: Callable[[Any], str]) -> list[str]:
    out = []
    for item in items:
        try:
            out.append(digest(fn(item)))
        except (TypeError, ValueError) as exc:
            out.append(f"{type(exc).__name__}: {exc}")
    return out


def hashes(count: int, distributed_count: int) -> dict[str, list[str]]:
    drawings = [drawing(s) for s in range(count)]
    shapes = [shape(s) for s in range(count)]
    d, f = 1.0, 1.0
    cl = _centerlines_digest
    out: dict[str, list[str]] = {}
    # the exact native functions
    out["native.strandify"] = _per_item(lambda c: _internal.strandify(c, d, f, compute_widths=True), drawings, _native_digest)
    out["native.strandify_tuned"] = _per_item(
        lambda c: _internal.strandify(c, d, f, 0.05, 1.0, 1.0, None, False, 1.0, None, None, 0.02, 0.0), drawings, _native_digest
    )
    jobs = [(c, d, f) + (None,) * 8 for c in drawings]
    out["native.strandify_batch"] = [_native_digest(r) for r in _internal.strandify_batch(jobs)]
    out["native.inflate_curves"] = _per_item(lambda c: _internal.inflate_curves(c, d, f), drawings, _native_digest)
    out["native.triangulate_curves"] = _per_item(lambda c: _internal.triangulate_curves(c, d, f), drawings, _native_digest)
    # the high-level API in its modes
    out["centerlines"] = _per_item(lambda c: strandify.centerlines(c, d, f), drawings, cl)
    out["centerlines.auto_scale"] = _per_item(lambda c: strandify.centerlines(c), drawings, cl)
    out["centerlines.exact"] = _per_item(lambda c: strandify.centerlines(c, d, f, partition="none", refine=False), drawings, cl)
    out["centerlines.none_refined"] = _per_item(lambda c: strandify.centerlines(c, d, f, partition="none"), drawings, cl)
    out["centerlines.widths"] = _per_item(lambda c: strandify.centerlines(c, d, f, compute_widths=True, radius_tips=True), drawings, cl)
    out["centerlines.tuned"] = _per_item(
        lambda c: strandify.centerlines(
            c, d, f, simplification=0.05, min_tip_fraction=1.0, junction_merge_fraction=1.0,
            subdivision_ratio=1.0, boundary_simplification=0.02, merge_tolerance=0.0, keep_dots=False,
        ),
        drawings,
        cl,
    )
    out["centerlines.tiles"] = _per_item(
        lambda c: strandify.centerlines(c, d, f, partition="tiles", tile_size=12.0, refine=False, workers=2), drawings, cl
    )
    out["centerlines_batch"] = [cl(r) for r in strandify.centerlines_batch(drawings, d, f, errors="skip", chunk_size=50)]
    out["centerlines_batch.exact"] = [
        cl(r) for r in strandify.centerlines_batch(drawings, partition="none", refine=False, errors="skip")
    ]
    out["polygon_centerlines"] = _per_item(lambda s: strandify.polygon_centerlines(s), shapes, cl)
    out["polygon_centerlines.exact"] = _per_item(
        lambda s: strandify.polygon_centerlines(s, 1.0, partition="none", refine=False), shapes, cl
    )
    out["polygon_centerlines.widths"] = _per_item(
        lambda s: strandify.polygon_centerlines(s, 1.0, buffer_distance=2.0, compute_widths=True, min_tip_fraction=1.0), shapes, cl
    )
    out["polygon_centerlines_batch"] = [cl(r) for r in strandify.polygon_centerlines_batch(shapes, errors="skip")]
    out.update(_cli_hashes(drawings[: max(1, count // 20)]))
    out.update(_vpype_hashes(drawings[: max(1, count // 20)]))
    if distributed_count:
        out.update(_dask_hashes(drawings[:distributed_count]))
    return out


def _cli_hashes(drawings: list[Any]) -> dict[str, list[str]]:
    from strandify import cli

    found: dict[str, list[str]] = {"cli.json": [], "cli.svg": [], "cli.fill.geojson": []}
    with tempfile.TemporaryDirectory() as tmp:
        for i, curves in enumerate(drawings):
            src = Path(tmp, f"d{i}.json")
            src.write_text(json.dumps([[list(p) for p in c] for c in curves]))
            for ext, extra in (("json", []), ("svg", ["-f", "0.8"])):
                dst = Path(tmp, f"o{i}.{ext}")
                code = cli.main([str(src), "-o", str(dst), "-d", "1", *extra])
                found[f"cli.{ext}"].append(_digest(code, dst.read_bytes() if dst.exists() else b""))
            geo = {"type": "FeatureCollection", "features": [
                {"type": "Feature", "properties": {}, "geometry": {"type": "Polygon", "coordinates": [r.tolist() for r in rings]}}
                for rings in shape(i)
            ]}
            src = Path(tmp, f"s{i}.geojson")
            src.write_text(json.dumps(geo))
            dst = Path(tmp, f"s{i}.out.geojson")
            code = cli.main([str(src), "-o", str(dst), "--fill"])
            found["cli.fill.geojson"].append(_digest(code, dst.read_bytes() if dst.exists() else b""))
    return found


def _vpype_hashes(drawings: list[Any]) -> dict[str, list[str]]:
    try:
        from strandify.vpype_plugin import process
    except ImportError:
        return {}
    lines = [[np.asarray(c)[:, 0] + 1j * np.asarray(c)[:, 1] for c in curves] for curves in drawings]
    return {"vpype.process": [_digest(*[np.asarray(x).tobytes() for x in process(l, buffer_distance=1.0)]) for l in lines]}


def _dask_hashes(drawings: list[Any]) -> dict[str, list[str]]:
    try:
        from distributed import Client, LocalCluster
    except ImportError:
        return {}
    from strandify import dask as sdask

    with LocalCluster(n_workers=1, threads_per_worker=2, processes=False, dashboard_address=None) as cluster, Client(cluster) as client:
        batch = sdask.centerlines_batch(drawings, 1.0, 1.0, client=client, errors="skip")
        tiled = [sdask.centerlines_tiled(c, 1.0, 1.0, tile_size=12.0, client=client) for c in drawings]
    return {"dask.centerlines_batch": [_centerlines_digest(r) for r in batch], "dask.centerlines_tiled": [_centerlines_digest(r) for r in tiled]}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=600)
    parser.add_argument("--distributed", type=int, default=40, help="drawings run on a local Dask cluster")
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--write", type=Path)
    group.add_argument("--check", type=Path)
    args = parser.parse_args()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        found = hashes(args.count, args.distributed)
    if args.write:
        args.write.parent.mkdir(parents=True, exist_ok=True)
        args.write.write_text(json.dumps(found, indent=0))
        print(f"wrote {sum(map(len, found.values()))} hashes of {len(found)} entry points to {args.write}")
        return 0
    expected = json.loads(args.check.read_text())
    bad = 0
    for name in sorted(set(expected) | set(found)):
        a, b = expected.get(name), found.get(name)
        if a == b:
            continue
        bad += 1
        if a is None or b is None:
            print(f"{name}: {'missing now' if b is None else 'new'}")
            continue
        diff = [i for i, (x, y) in enumerate(zip(a, b)) if x != y]
        print(f"{name}: {len(diff)} of {len(a)} differ (first: {diff[:5]}; {a[diff[0]] if diff else ''} -> {b[diff[0]] if diff else ''})")
    total = sum(map(len, expected.values()))
    print(f"{len(expected) - bad} of {len(expected)} entry points identical ({total} hashes)")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
