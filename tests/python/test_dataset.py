"""Drawings the client never loads: tiles read and run by the workers, stitched in groups.

The seam stitch in groups is checked against the stitch of all tiles in this process (many
small tiles, so most chains cross seams); the whole path runs on a real LocalCluster against
the local tiled run.  A 5,000,000-point run, with the client's memory measured, is opt-in:
``STRANDIFY_BIG_DASK=1``.
"""

from __future__ import annotations

import gc
import math
import os
import random
import resource
import tracemalloc

import numpy as np
import pytest

import strandify
import strandify.dask
from strandify import _dataset, _native, _seams
from strandify.options import Options

geopandas = pytest.importorskip("geopandas")
shapely = pytest.importorskip("shapely")
distributed = pytest.importorskip("distributed")
dask_geopandas = pytest.importorskip("dask_geopandas")
pytest.importorskip("scipy")


def wobbly(rng, x, y, steps, step, turn=0.35):
    angles = rng.uniform(0, 2 * math.pi) + np.cumsum([rng.uniform(-turn, turn) for _ in range(steps)])
    moves = step * np.column_stack((np.cos(angles), np.sin(angles)))
    return np.vstack(([(x, y)], (x, y) + np.cumsum(moves[:-1], axis=0)))


def scribbles(count, cell=30.0, seed=1, first=0):
    """Crossing wobbly strokes, ten to a grid cell, the cells row by row (``first`` is the
    index of the first stroke, so a drawing can be made in slices)."""
    rng = random.Random(seed * 1_000_003 + first)
    side = math.ceil(math.sqrt((first + count) / 10)) if first == 0 else None
    out = []
    for k in range(first, first + count):
        s = k // 10
        cx, cy = (s % (side or 80)) * cell, (s // (side or 80)) * cell
        out.append(wobbly(rng, cx + rng.uniform(4, cell - 14), cy + rng.uniform(4, cell - 14), rng.randint(60, 125), 0.15))
    return out


def streets(n, spacing=9.0, seed=3):
    """A wobbly street grid with dead ends: long chains through many tiles, junctions and
    short spurs everywhere, some of them on seams."""
    rng = random.Random(seed)
    out = []
    span = n * spacing
    t = np.linspace(0.0, span, int(span / 0.4))
    for k in range(n + 1):
        wob = np.array([0.6 * math.sin(v / 7.0 + k) for v in t])
        out.append(np.column_stack((t, k * spacing + wob)))
        out.append(np.column_stack((k * spacing + wob[::-1] * 0.5, t[::-1])))
    for _ in range(4 * n):
        x, y = rng.uniform(0, span), rng.choice(range(n + 1)) * spacing
        out.append(wobbly(rng, x, y + 0.3, rng.randint(4, 20), 0.4, turn=0.1))
    return out


def chain_keys(chains):
    return sorted(np.ascontiguousarray(c, dtype=np.float64).tobytes() for c in chains)


def grouped_stitch(curves, d, f, options, far_y, blocks_of=3):
    """The tiles of one local plan, run here, put in blocks and stitched by the grouped path."""
    tiles = []
    for core, halo, job_curves, widths in _native.plan_tiles(curves, d, f, options, None):
        result = _native.run_tile((core, halo, job_curves, widths), d, f, options)
        tiles.append(((core[1], core[0]), result, core))
    reach = _seams.seam_reach(d, f, options)
    blocks = []
    for start in range(0, len(tiles), blocks_of):  # blocks of consecutive tiles in plan order
        part = tiles[start : start + blocks_of]
        opened = [_seams.open_tile(_seams.tile_pieces(r), core, reach) for _, r, core in part]
        settled = _dataset.concat_parts([_seams.settled_chains(t, d, f, options, far_y) for t in opened])
        blocks.append(_dataset.Block([k for k, _, _ in part], opened, settled))
    plan = _dataset.stitch_plan([_dataset.seam_table(b) for b in blocks], d)
    parts = [b.settled for b in blocks]
    for task in plan:
        picked = [_dataset.select_groups(blocks[b], wanted, far_y) for b, wanted in sorted(task.items())]
        parts.append(_dataset.stitch_selected(d, f, options, far_y, *picked))
    whole = _native.stitch_tiles([r for _, r, _ in tiles], d, f, options)
    return parts, whole, len(plan)


@pytest.mark.parametrize(
    ("drawing", "tile_size", "tuning"),
    [
        ("scribbles", 22.0, {}),
        ("scribbles", 40.0, {"min_tip_fraction": 4.0, "junction_merge_fraction": 3.0}),
        ("streets", 20.0, {}),
        ("streets", 31.0, {"min_tip_fraction": 0.0, "junction_merge_fraction": 0.0}),
        ("streets", 45.0, {"min_tip_fraction": 6.0, "simplification": 0.0}),
    ],
)
def test_grouped_seam_stitch_gives_the_chains_of_the_whole_stitch(drawing, tile_size, tuning):
    curves = scribbles(300) if drawing == "scribbles" else streets(12)
    curves = [list(map(tuple, c.tolist())) for c in curves]
    options = Options(**tuning).native(partition="tiles", refine_steps=None, workers=1, tile_size=tile_size)
    far_y = max(y for c in curves for _, y in c) + 1e4
    parts, whole, tasks = grouped_stitch(curves, 1.0, 1.0, options, far_y)
    got = [c for p in parts for c in _seams.split_rows(p.points, p.lengths)]
    assert chain_keys(got) == chain_keys(whole[0])
    # both ways are taken: chains settled in their tiles, and chains stitched across seams
    assert sum(len(p.lengths) for p in parts[:-tasks]) > 0 and sum(len(p.lengths) for p in parts[-tasks:]) > 0


def write_dataset(folder, slices, d=1.0):
    """A drawing written slice by slice as a spatially partitioned GeoParquet dataset."""
    os.makedirs(folder, exist_ok=True)
    points = 0
    for i, strokes in enumerate(slices):
        points += sum(len(s) for s in strokes)
        frame = geopandas.GeoDataFrame(geometry=shapely.linestrings(np.concatenate(strokes), indices=np.repeat(np.arange(len(strokes)), [len(s) for s in strokes])))
        frame.to_parquet(os.path.join(folder, f"part.{i:03d}.parquet"), write_covering_bbox=True)
    return points


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c


@pytest.fixture(scope="module")
def small_dataset(tmp_path_factory):
    folder = tmp_path_factory.mktemp("drawing")
    # moved far from zero, as map data is, so that the local origin is exercised too
    strokes = [s + (512_000.0, 4_100_000.0) for s in scribbles(1200)]
    write_dataset(folder, [strokes[k : k + 300] for k in range(0, 1200, 300)])
    frame = geopandas.GeoDataFrame(geometry=[shapely.LineString(s) for s in strokes])
    want = strandify.centerlines(frame, 1.0, 1.0, partition="tiles", tile_size=40.0, refine=False)
    return folder, want


@pytest.mark.parametrize(("as_frame", "written"), [(False, False), (False, True), (True, False)])
def test_dataset_run_on_a_cluster_equals_the_local_tiled_run(client, small_dataset, tmp_path, as_frame, written):
    folder, want = small_dataset
    source = dask_geopandas.read_parquet(str(folder)) if as_frame else folder
    output = tmp_path / "out" if written else None
    got = strandify.dask.centerlines_dataset(source, 1.0, 1.0, tile_size=40.0, block_tiles=2, client=client, output=output)
    frame = got.compute()
    assert chain_keys(shapely.get_coordinates(g) for g in frame.geometry) == chain_keys(want.chains)
    if written:
        assert len(list(output.glob("*.parquet"))) == got.npartitions


@pytest.mark.parametrize(
    ("kwargs", "error"),
    [
        ({"compute_widths": True}, ValueError),
        ({"block_tiles": 0}, ValueError),
    ],
)
def test_dataset_refusals(client, small_dataset, kwargs, error):
    with pytest.raises(error):
        strandify.dask.centerlines_dataset(small_dataset[0], 1.0, 1.0, client=client, **kwargs)


def test_dataset_refuses_what_is_not_a_dataset(client, tmp_path):
    with pytest.raises(FileNotFoundError):
        strandify.dask.centerlines_dataset(tmp_path / "missing", 1.0, 1.0, client=client)
    with pytest.raises(TypeError):
        strandify.dask.centerlines_dataset([[(0.0, 0.0), (1.0, 0.0)]], 1.0, 1.0, client=client)


BIG = 5_000_000


@pytest.mark.skipif(os.environ.get("STRANDIFY_BIG_DASK") != "1", reason="opt-in: STRANDIFY_BIG_DASK=1 (minutes)")
def test_five_million_points_with_little_client_memory(client, tmp_path):
    strokes_per_slice = 2400  # about 220,000 points: the drawing is never whole in this process
    slices = (scribbles(strokes_per_slice, first=k) for k in range(0, BIG // 90, strokes_per_slice))
    points = write_dataset(tmp_path / "big", slices)
    assert points >= BIG
    gc.collect()
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    tracemalloc.start()
    got = strandify.dask.centerlines_dataset(tmp_path / "big", 1.0, 1.0, tile_size=90.0, client=client, output=tmp_path / "out")
    chains = int(got.map_partitions(len).sum().compute())
    _, peak = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"\n{points} points, {chains} chains; client: tracemalloc peak {peak / 2**20:.1f} MiB, "
          f"max RSS {after / 1024:.0f} MiB (before the run {before / 1024:.0f} MiB)")
    assert peak < 500 * 2**20 and after < 500 * 1024
    frame = dask_geopandas.read_parquet(str(tmp_path / "big")).compute()
    want = strandify.centerlines(frame, 1.0, 1.0, partition="tiles", tile_size=90.0, refine=False, workers=2)
    del frame
    got_chains = chain_keys(shapely.get_coordinates(g) for g in dask_geopandas.read_parquet(str(tmp_path / "out")).compute().geometry)
    assert got_chains == chain_keys(want.chains)
