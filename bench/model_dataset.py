"""A model of ``strandify.dask.centerlines_dataset`` on a 10^8-point road network, fed with
figures measured here on a small run.

Measured (one run, this machine):

* per tile, in this process: the block task's work (read + plan + run + settle) per tile and
  per point, the stitch work per stitched chain, and the sizes that travel: the GeoParquet
  bytes a block reads against its own share, the seam table a block sends to the client, the
  open pieces a stitch task pulls from the blocks, and the chains written;
* the skew: the costliest block against the mean, and the share of open pieces in the largest
  stitch group;
* on a LocalCluster of two workers: how many trivial tasks per second Dask's scheduler runs.

Modelled: 10^8 points in tiles of ``--points-per-tile`` points, on 10, 100 and 1,000 workers
of one core each, with ``--bandwidth`` bytes/s per worker link: the time of each phase (the
client's serial steps, the scheduler's task rate, the block and stitch phases with their
largest task), the data moved, and which of them limits the run.  Printed, not asserted.

    python bench/model_dataset.py [--town N] [--tile-size S] [--block-tiles K] [--total N] [--bandwidth B]
"""

from __future__ import annotations

import argparse
import math
import os
import pickle
import random
import sys
import tempfile
import time
from dataclasses import replace

import numpy as np

import strandify
import strandify.dask
from strandify import _dataset
from strandify.options import Options


def wobbly(rng: random.Random, x: float, y: float, steps: int, step: float, turn: float) -> np.ndarray:
    angles = rng.uniform(0, 2 * math.pi) + np.cumsum([rng.uniform(-turn, turn) for _ in range(steps)])
    moves = step * np.column_stack((np.cos(angles), np.sin(angles)))
    return np.vstack(([(x, y)], (x, y) + np.cumsum(moves[:-1], axis=0)))


def road_network(blocks: int, spacing: float = 12.0, seed: int = 7) -> list[np.ndarray]:
    """A town grid of wobbly streets (a street per ``spacing``), denser towards one corner as
    real networks are uneven, with dead-end lanes off the streets."""
    rng = random.Random(seed)
    span = blocks * spacing
    out = []
    t = np.linspace(0.0, span, int(span / 0.5))
    for k in range(blocks + 1):
        wob = 0.8 * np.sin(t / 9.0 + k)
        out.append(np.column_stack((t, k * spacing + wob)))
        out.append(np.column_stack((k * spacing + wob, t)))
    for _ in range(12 * blocks * blocks // 4):
        # lanes: three in four in the denser half of the town
        u = rng.random() ** 0.6 if rng.random() < 0.75 else rng.random()
        x, y = u * span, rng.randrange(blocks + 1) * spacing
        out.append(wobbly(rng, x, y + 0.4, rng.randint(6, 30), 0.5, 0.15))
    return out


def write(strokes: list[np.ndarray], folder: str, files: int) -> int:
    import geopandas
    import shapely

    order = np.argsort([s[0, 1] for s in strokes], kind="stable")  # bands: spatial partitions
    total = 0
    for i, part in enumerate(np.array_split(order, files)):
        lines = [shapely.LineString(strokes[k]) for k in part]
        frame = geopandas.GeoDataFrame(geometry=lines)
        path = os.path.join(folder, f"part.{i:03d}.parquet")
        frame.to_parquet(path, write_covering_bbox=True)
        total += os.path.getsize(path)
    return total


def measure_in_process(folder: str, d: float, f: float, tile_size: float, block_tiles: int) -> dict[str, float]:
    files = _dataset.dataset_files(folder)
    surveys = [_dataset.survey_file(p) for p in files]
    bounds = _dataset.total_bounds(surveys)
    assert bounds is not None
    points = sum(s.points for s in surveys)
    native = Options().native(partition="tiles", refine_steps=None, workers=1)
    grid = _dataset.lay_grid(bounds, points, d, f, replace(native, tile_size=tile_size), block_tiles)
    native = replace(native, tile_size=grid.tile_size)
    blocks, block_seconds, read_bytes = [], [], 0.0
    file_bytes = sum(os.path.getsize(p) for p in files)
    area = (bounds[2] - bounds[0]) * (bounds[3] - bounds[1])
    for column, row, box in _dataset.block_boxes(grid):
        hits = [p for p, s in zip(files, surveys) if _dataset.intersects(box, s.bounds)]
        if not hits:
            continue
        job = _dataset.BlockJob(column, row, box, grid, d, f, native)
        start = time.perf_counter()
        block = _dataset.read_block_files(hits, job)
        block_seconds.append(time.perf_counter() - start)
        blocks.append(block)
        # what a bbox read costs: the box's share of the drawing's bytes, assuming even spread
        clipped = max(0.0, min(box[2], bounds[2]) - max(box[0], bounds[0])) * max(0.0, min(box[3], bounds[3]) - max(box[1], bounds[1]))
        read_bytes += file_bytes * clipped / area
    tiles = sum(len(b.tiles) for b in blocks)
    tables = [_dataset.seam_table(b) for b in blocks]
    start = time.perf_counter()
    plan = _dataset.stitch_plan(tables, d)
    plan_seconds = time.perf_counter() - start
    seam_ends = sum(len(t.tile) for t in tables)
    picked_bytes, stitch_seconds, stitched_chains, largest, selects = 0.0, [], 0, 0, 0
    out_bytes = sum(len(pickle.dumps(b.settled, protocol=5)) for b in blocks)
    for task in plan:
        picked = [_dataset.select_groups(blocks[b], wanted, grid.far_y) for b, wanted in sorted(task.items())]
        selects += len(picked)
        picked_bytes += sum(len(pickle.dumps(p, protocol=5)) for p in picked)
        pieces = sum(int(np.isin(blocks[b].tiles[k].group, groups).sum()) for b, wanted in task.items() for k, groups in wanted.items())
        largest = max(largest, pieces)
        start = time.perf_counter()
        part = _dataset.stitch_selected(d, f, native, grid.far_y, *picked)
        stitch_seconds.append(time.perf_counter() - start)
        stitched_chains += len(part.lengths)
        out_bytes += len(pickle.dumps(part, protocol=5))
    all_pieces = sum(len(t.pieces.lengths) for b in blocks for t in b.tiles)
    open_pieces = sum(int((t.group >= 0).sum()) for b in blocks for t in b.tiles)
    per_block = np.array(block_seconds) / np.maximum(1, [len(b.tiles) for b in blocks])
    return {
        "points": points, "tiles": tiles, "blocks": len(blocks), "stitch_tasks": len(plan), "select_tasks": selects,
        "tile_seconds": sum(block_seconds) / tiles, "block_skew": max(block_seconds) / np.mean(block_seconds),
        "tile_skew": float(per_block.max() / per_block.mean()),
        "stitch_seconds_per_chain": sum(stitch_seconds) / max(1, stitched_chains),
        "plan_seconds_per_end": plan_seconds / max(1, seam_ends), "seam_ends_per_tile": seam_ends / tiles,
        "seam_bytes_per_tile": sum(len(pickle.dumps(t, protocol=5)) for t in tables) / tiles,
        "read_factor": read_bytes / file_bytes, "file_bytes_per_point": file_bytes / points,
        "picked_bytes_per_tile": picked_bytes / tiles, "out_bytes_per_point": out_bytes / points,
        "open_share": open_pieces / max(1, all_pieces), "largest_group_share": largest / max(1, open_pieces),
        "stitch_chains_per_tile": stitched_chains / tiles, "block_tiles": block_tiles,
        "halo_per_tile": grid.halo / grid.tile_size,
    }


def scheduler_rate(tasks: int = 4000) -> float:
    import distributed

    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        client.gather(client.map(abs, range(100), pure=False))  # warm
        start = time.perf_counter()
        client.gather(client.map(abs, range(tasks), pure=False))
        return tasks / (time.perf_counter() - start)


def model(m: dict[str, float], rate: float, total_points: float, workers: int, bandwidth: float, block_tiles: int) -> dict[str, float]:
    tiles = total_points / (m["points"] / m["tiles"])
    blocks = tiles / block_tiles**2
    stitch_tasks = tiles * m["stitch_tasks"] / m["tiles"]
    tasks = blocks * 4 + stitch_tasks * 2 + m["select_tasks"] / m["tiles"] * tiles + total_points / 1e6
    block_cost = m["tile_seconds"] * block_tiles**2
    # a block is one task: the phase lasts at least its costliest block; skew scales the mean
    block_phase = max(blocks * block_cost / workers, block_cost * m["block_skew"])
    stitch_work = tiles * m["stitch_chains_per_tile"] * m["stitch_seconds_per_chain"]
    # the largest group, taken at its measured share of the open pieces: on a street grid
    # whose streets run along the seams the groups join up, so it grows with the drawing
    largest_group = m["largest_group_share"] * stitch_work
    stitch_phase = max(stitch_work / workers, largest_group)
    # a block reads its tiles, a tile more above and to the right, and a halo all round
    def area(k: float) -> float:
        return ((k + 1 + 2 * m["halo_per_tile"]) / k) ** 2

    read = total_points * m["file_bytes_per_point"] * m["read_factor"] * area(block_tiles) / area(m["block_tiles"])
    seams = tiles * m["seam_bytes_per_tile"]
    picked = tiles * m["picked_bytes_per_tile"]
    written = total_points * m["out_bytes_per_point"]
    client = tiles * m["seam_ends_per_tile"] * m["plan_seconds_per_end"] + seams / bandwidth
    transfer = (read + picked + written) / (workers * bandwidth)
    scheduler = tasks / rate
    phases = {"client (seam plan)": client, "scheduler": scheduler, "blocks": block_phase, "stitch": stitch_phase, "transfer": transfer}
    return {"tiles": tiles, "blocks": blocks, "tasks": tasks, "read": read, "seams": seams, "picked": picked,
            "written": written, "largest_pull": m["largest_group_share"] * picked, "time": client + max(scheduler, block_phase + stitch_phase + transfer), **phases}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--town", type=int, default=90, help="streets along each side of the measured town")
    parser.add_argument("--tile-size", type=float, default=None, help="default: about 20,000 points a tile")
    parser.add_argument("--block-tiles", type=int, default=_dataset.BLOCK_TILES)
    parser.add_argument("--total", type=float, default=1e8)
    parser.add_argument("--bandwidth", type=float, default=1e9, help="bytes/s per worker link (assumed)")
    args = parser.parse_args()
    strokes = road_network(args.town)
    with tempfile.TemporaryDirectory() as folder:
        write(strokes, folder, 8)
        m = measure_in_process(folder, 1.5, 2.0, args.tile_size, args.block_tiles)
    rate = scheduler_rate()
    print("measured on a small road network (one run, this machine):")
    print(f"  {m['points']:.0f} points, {m['tiles']:.0f} tiles ({m['points'] / m['tiles']:.0f} points a tile), {m['blocks']:.0f} blocks, "
          f"{m['stitch_tasks']:.0f} stitch tasks, {m['select_tasks']:.0f} selections")
    print(f"  block work {m['tile_seconds'] * 1e3:.1f} ms a tile ({m['tile_seconds'] / (m['points'] / m['tiles']) * 1e6:.2f} us a point); "
          f"costliest block {m['block_skew']:.2f}x the mean, costliest tile (per block) {m['tile_skew']:.2f}x")
    print(f"  stitch {m['stitch_seconds_per_chain'] * 1e6:.0f} us a stitched chain, {m['stitch_chains_per_tile']:.1f} stitched chains a tile; "
          f"open pieces {m['open_share']:.1%}, largest group {m['largest_group_share']:.1%} of them")
    print(f"  seam plan {m['plan_seconds_per_end'] * 1e6:.1f} us a seam end, {m['seam_ends_per_tile']:.1f} ends ({m['seam_bytes_per_tile']:.0f} B) a tile to the client")
    print(f"  bytes: input {m['file_bytes_per_point']:.1f} B a point, read {m['read_factor']:.2f}x of it; "
          f"pulled by stitch tasks {m['picked_bytes_per_tile'] / 1e3:.1f} kB a tile; chains out {m['out_bytes_per_point']:.1f} B a point")
    print(f"  scheduler: {rate:.0f} trivial tasks a second (LocalCluster, 2 workers)")
    print("  stitch rounds: one (every group is stitched by one task, whatever its size); "
          "top GB: what the largest stitch task pulls")
    print(f"\nmodel: {args.total:.0e} points, blocks of {args.block_tiles}x{args.block_tiles} tiles, {args.bandwidth / 1e9:.1f} GB/s a worker link")
    print(f"{'workers':>8} {'time s':>9} {'tasks':>9} {'read GB':>8} {'pulled GB':>9} {'client MB':>9} {'out GB':>7} {'top GB':>7}  phases (s) -> limit")
    for workers in (10, 100, 1000):
        for block_tiles in sorted({args.block_tiles, 1}, reverse=True):
            r = model(m, rate, args.total, workers, args.bandwidth, block_tiles)
            phases = {k: r[k] for k in ("client (seam plan)", "scheduler", "blocks", "stitch", "transfer")}
            limit = max(phases, key=lambda k: phases[k])
            shown = ", ".join(f"{k} {v:.0f}" for k, v in phases.items())
            print(f"{workers:>8} {r['time']:>9.0f} {r['tasks']:>9.0f} {r['read'] / 1e9:>8.1f} {r['picked'] / 1e9:>9.2f} "
                  f"{r['seams'] / 1e6:>9.0f} {r['written'] / 1e9:>7.1f} {r['largest_pull'] / 1e9:>7.2f}  [{block_tiles}x{block_tiles}] {shown} -> {limit}")


if __name__ == "__main__":
    sys.exit(main())
