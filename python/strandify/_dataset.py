"""A drawing too large for one machine, as tiles run by the workers that read them.

The client sees only each partition's bounds and point count.  From them it lays the tile
grid over the whole drawing and cuts it into *blocks* of tiles; a block is one task, which
reads the features reaching its tiles' halos (a bbox filter on GeoParquet files, or the rows of
the dask-geopandas partitions that reach them), plans the tiles there, runs the ones whose
core starts in the block, and finishes its settled pieces (:mod:`strandify._seams`).  The
seam stitch then runs in groups: the client gathers the seam ends of the open pieces (a few
numbers per seam crossing), joins the groups whose ends can meet, and each stitch task pulls
only its groups' pieces from the blocks that hold them.

The tiles are those of ``partition="tiles"`` with the same ``tile_size``: a worker plans its
features together with two anchors, zero-length curves at the drawing's corners, so that the
native planner lays the very grid it lays over the whole drawing; an anchor is dropped from
the tile it falls in.
"""

from __future__ import annotations

import math
import os
from collections.abc import Sequence
from pathlib import Path
from typing import Any, NamedTuple

import numpy as np

from . import _native
from ._origin import local_origin, moved_curves
from ._read_lines import read_curves, to_native
from ._seams import ChainPart, OpenTile, open_tile, seam_ends, seam_reach, settled_chains, stitched, subset_result, tile_pieces
from ._types import FloatArray, IntArray
from .options import NativeOptions

Box = tuple[float, float, float, float]

#: Tiles along each side of a block: a block reads its tiles' halos and the tiles reaching in
#: from below and to the left once, about 1.9 times its own area at this size, where a block of
#: one tile would read about nine times its area.
BLOCK_TILES = 4

#: Points per tile when no tile size is given, as the native planner aims for.
POINTS_PER_TILE = 20000.0


class Survey(NamedTuple):
    """A partition's bounding box and point count, which is all the client reads of it."""

    bounds: Box | None
    points: int


class Grid(NamedTuple):
    """The blocks over the drawing, about the drawing's origin."""

    origin: tuple[float, float]
    tile_size: float
    halo: float
    x0: float
    y0: float
    side: float  # of a block
    columns: int
    rows: int
    anchors: tuple[tuple[float, float], tuple[float, float]]
    far_y: float  # above every node: where stubs end
    reach: float  # of the seams (see strandify._seams)


class BlockJob(NamedTuple):
    column: int
    row: int
    read_box: Box  # in the drawing's own coordinates
    grid: Grid
    buffer_distance: float
    feature_size: float
    options: NativeOptions


class Block(NamedTuple):
    """A block's tiles, kept on the worker that ran them, and their settled chains."""

    keys: list[tuple[float, float]]  # (core min y, core min x): sorted, the planner's tile order
    tiles: list[OpenTile]
    settled: ChainPart


def survey(frame: Any) -> Survey:
    """The bounds and point count of a partition (a GeoDataFrame or GeoSeries)."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    geoms = np.asarray(frame.geometry if hasattr(frame, "geometry") else frame)
    points = int(shapely.get_num_coordinates(geoms).sum()) if len(geoms) else 0
    if not points:
        return Survey(None, 0)
    box = tuple(float(v) for v in shapely.total_bounds(geoms))
    return Survey(box if all(map(math.isfinite, box)) else None, points)  # type: ignore[arg-type]


def survey_file(path: str) -> Survey:
    import geopandas  # type: ignore[import-untyped,unused-ignore]

    return survey(geopandas.read_parquet(path, columns=[_geometry_column(path)]))


def _geometry_column(path: str) -> str:
    import json

    import pyarrow.parquet as pq  # type: ignore[import-untyped,unused-ignore]

    meta = pq.read_schema(path).metadata or {}
    geo = json.loads(meta.get(b"geo", b"{}"))
    return str(geo.get("primary_column", "geometry"))


def dataset_files(path: str | os.PathLike[str]) -> list[str]:
    """The GeoParquet files of a dataset (a file, or a directory of them, in name order)."""
    p = Path(path)
    if p.is_dir():
        files = sorted(str(f) for f in p.rglob("*.parquet"))
        if not files:
            raise ValueError(f"{path}: no .parquet files in this directory")
        return files
    if not p.exists():
        raise FileNotFoundError(f"{path}: no such file or directory")
    return [str(p)]


def total_bounds(surveys: Sequence[Survey]) -> Box | None:
    boxes = np.array([s.bounds for s in surveys if s.bounds is not None], dtype=np.float64).reshape(-1, 4)
    if not len(boxes):
        return None
    return (float(boxes[:, 0].min()), float(boxes[:, 1].min()), float(boxes[:, 2].max()), float(boxes[:, 3].max()))


def tile_halo(buffer_distance: float, feature_size: float, options: NativeOptions) -> float:
    """How far a tile sees beyond its core, as the native planner resolves it."""
    return float(_native.resolved_settings(buffer_distance, feature_size, options)["tile_halo"] or 0.0)


def lay_grid(bounds: Box, points: int, buffer_distance: float, feature_size: float, options: NativeOptions, block_tiles: int) -> Grid:
    """The tile size (given, or about :data:`POINTS_PER_TILE` points a tile) and the blocks."""
    origin = local_origin(bounds, buffer_distance)
    lo = (bounds[0] - origin[0], bounds[1] - origin[1])
    hi = (bounds[2] - origin[0], bounds[3] - origin[1])
    halo = tile_halo(buffer_distance, feature_size, options)
    reach = 2.0 * abs(buffer_distance)  # the buffers' box, as the planner grows each curve's
    width, height = hi[0] - lo[0] + 2.0 * reach, hi[1] - lo[1] + 2.0 * reach
    size = options.tile_size
    if size is None:
        area = max(width, 1e-300) * max(height, 1e-300)
        size = max(math.sqrt(area * POINTS_PER_TILE / max(points, 1)), 4.0 * halo)
    side = block_tiles * size
    # blocks start a tile before the drawing: the planner centres its grid on the drawing, so
    # the first cores start left of and below it
    x0, y0 = lo[0] - reach - size, lo[1] - reach - size
    columns = int((hi[0] + reach - x0) // side) + 1
    rows = int((hi[1] + reach - y0) // side) + 1
    far_y = hi[1] + reach + 2.0 * (size + halo)
    return Grid(origin, size, halo, x0, y0, side, columns, rows, (lo, hi), far_y, seam_reach(buffer_distance, feature_size, options))


def block_boxes(grid: Grid) -> list[tuple[int, int, Box]]:
    """Every block with the box (in the drawing's coordinates) of the features it reads: its
    own cores' halos, the cores reaching a tile beyond its upper and right sides."""
    out = []
    margin = grid.halo * 1.001 + abs(grid.tile_size) * 1e-9
    ox, oy = grid.origin
    for row in range(grid.rows):
        for column in range(grid.columns):
            x = grid.x0 + column * grid.side
            y = grid.y0 + row * grid.side
            box = (x - margin + ox, y - margin + oy, x + grid.side + grid.tile_size + margin + ox,
                   y + grid.side + grid.tile_size + margin + oy)
            out.append((column, row, box))
    return out


def intersects(a: Box, b: Box | None) -> bool:
    return b is not None and a[0] <= b[2] and b[0] <= a[2] and a[1] <= b[3] and b[1] <= a[3]


def _block_of(core: Sequence[float], grid: Grid) -> tuple[int, int]:
    column = min(max(int((core[0] - grid.x0) // grid.side), 0), grid.columns - 1)
    row = min(max(int((core[1] - grid.y0) // grid.side), 0), grid.rows - 1)
    return column, row


def _rows_reaching(frame: Any, box: Box) -> Any:
    """The rows of a GeoDataFrame whose geometry's box meets ``box``, in order."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    geoms = np.asarray(frame.geometry if hasattr(frame, "geometry") else frame)
    b = shapely.bounds(geoms)
    hit = (b[:, 0] <= box[2]) & (b[:, 2] >= box[0]) & (b[:, 1] <= box[3]) & (b[:, 3] >= box[1])
    return geoms[hit]


def read_block_files(files: Sequence[str], job: BlockJob) -> Block:
    """A block from GeoParquet files: each read with the block's bbox filter."""
    import geopandas  # type: ignore[import-untyped,unused-ignore]

    parts = []
    for path in files:
        column = _geometry_column(path)
        try:
            frame = geopandas.read_parquet(path, columns=[column], bbox=job.read_box)
        except ValueError:  # no bbox column to filter on: read, then filter
            frame = geopandas.read_parquet(path, columns=[column])
        parts.append(_rows_reaching(frame, job.read_box))
    return run_block(np.concatenate(parts) if parts else np.empty(0, dtype=object), job)


def read_block_frames(job: BlockJob, *frames: Any) -> Block:
    """A block from dask-geopandas partitions, on the worker that holds them."""
    parts = [_rows_reaching(frame, job.read_box) for frame in frames]
    return run_block(np.concatenate(parts) if parts else np.empty(0, dtype=object), job)


def _is_anchor(curve: Any, anchors: tuple[tuple[float, float], ...]) -> bool:
    return len(curve) == 2 and tuple(curve[0]) == tuple(curve[1]) and tuple(curve[0]) in anchors


def run_block(geoms: Any, job: BlockJob) -> Block:
    """Plan the features with the anchors, run the tiles whose core starts in the block."""
    import geopandas  # type: ignore[import-untyped,unused-ignore]

    grid, d, f = job.grid, job.buffer_distance, job.feature_size
    if not len(geoms):
        return Block([], [], ChainPart(np.empty((0, 2)), np.empty(0, dtype=np.intp)))
    read = read_curves(geopandas.GeoSeries(geoms))
    native, _ = to_native(moved_curves(read, grid.origin))
    anchors = tuple((float(x), float(y)) for x, y in grid.anchors)
    native.extend([[a, a] for a in anchors])
    keyed = []
    for core, halo, curves, widths in _native.plan_tiles(native, d, f, job.options, None):
        if _block_of(core, grid) != (job.column, job.row):
            continue
        curves = [c for c in curves if not _is_anchor(c, anchors)]
        if curves:
            keyed.append(((core[1], core[0]), core, (core, halo, curves, widths)))
    keyed.sort(key=lambda k: k[0])
    tiles = []
    for _, core, tile_job in keyed:
        pieces = tile_pieces(_native.run_tile(tile_job, d, f, job.options))
        tiles.append(open_tile(pieces, core, grid.reach))
    settled = [settled_chains(t, d, f, job.options, grid.far_y) for t in tiles]
    return Block([k for k, _, _ in keyed], tiles, concat_parts(settled))


def concat_parts(parts: Sequence[ChainPart]) -> ChainPart:
    if not parts:
        return ChainPart(np.empty((0, 2)), np.empty(0, dtype=np.intp))
    return ChainPart(np.concatenate([p.points for p in parts]).reshape(-1, 2), np.concatenate([p.lengths for p in parts]))


class SeamTable(NamedTuple):
    """A block's seam ends: position, tile (index into the block's keys) and group."""

    keys: list[tuple[float, float]]
    points: FloatArray
    tile: IntArray
    group: IntArray
    groups: IntArray  # groups per tile


def seam_table(block: Block) -> SeamTable:
    points, tile, group = [], [], []
    for k, t in enumerate(block.tiles):
        xy, g = seam_ends(t)
        points.append(xy)
        group.append(g)
        tile.append(np.full(len(g), k, dtype=np.intp))
    counts = np.array([int(t.group.max()) + 1 if len(t.group) else 0 for t in block.tiles], dtype=np.intp)
    if not points:
        return SeamTable([], np.empty((0, 2)), np.empty(0, dtype=np.intp), np.empty(0, dtype=np.intp), counts)
    return SeamTable(block.keys, np.concatenate(points).reshape(-1, 2), np.concatenate(tile), np.concatenate(group), counts)


def settled_of(block: Block) -> ChainPart:
    return block.settled


def select_groups(block: Block, wanted: dict[int, list[int]], far_y: float) -> list[tuple[tuple[float, float], Any]]:
    """The pieces of the ``wanted`` groups (by tile of the block), each tile as a
    ``stitch_tiles`` tile with its stubs, keyed by the tile's place in the planner's order."""
    out = []
    for k, groups in sorted(wanted.items()):
        tile = block.tiles[k]
        keep = np.isin(tile.group, np.array(groups, dtype=np.intp))
        out.append((block.keys[k], subset_result(tile, keep, far_y)))
    return out


def stitch_selected(d: float, f: float, options: NativeOptions, far_y: float, *selections: list[tuple[tuple[float, float], Any]]) -> ChainPart:
    """One stitch task: the selected tiles in the planner's order, stitched."""
    tiles = sorted((item for s in selections for item in s), key=lambda item: item[0])
    return stitched([t for _, t in tiles], d, f, options, far_y)


def stitch_plan(tables: Sequence[SeamTable], snap: float) -> list[dict[int, dict[int, list[int]]]]:
    """Which groups each stitch task takes, by block and tile: the groups whose seam ends lie
    within ``snap`` of one another's are one, stitched by the task of its first tile."""
    from scipy.sparse import coo_matrix  # type: ignore[import-untyped,unused-ignore]
    from scipy.sparse.csgraph import connected_components  # type: ignore[import-untyped,unused-ignore]
    from scipy.spatial import cKDTree  # type: ignore[import-untyped,unused-ignore]

    keys = [key for t in tables for key in t.keys]
    order = sorted(range(len(keys)), key=lambda i: keys[i])
    rank = np.empty(len(keys), dtype=np.intp)
    rank[order] = np.arange(len(keys))
    where = [(b, k) for b, t in enumerate(tables) for k in range(len(t.keys))]
    counts = np.concatenate([t.groups for t in tables]) if tables else np.empty(0, dtype=np.intp)
    base = np.concatenate(([0], np.cumsum(counts)))
    tile_start = np.concatenate(([0], np.cumsum([len(t.keys) for t in tables])))
    points = np.concatenate([t.points for t in tables]).reshape(-1, 2)
    global_tile = np.concatenate([tile_start[b] + t.tile for b, t in enumerate(tables)]).astype(np.intp)
    vertex = base[global_tile] + np.concatenate([t.group for t in tables]).astype(np.intp)
    pairs = cKDTree(points).query_pairs(snap, output_type="ndarray") if len(points) else np.empty((0, 2), dtype=np.intp)
    pairs = pairs[global_tile[pairs[:, 0]] != global_tile[pairs[:, 1]]]
    n = int(base[-1])
    graph = coo_matrix((np.ones(len(pairs)), (vertex[pairs[:, 0]], vertex[pairs[:, 1]])), shape=(n, n))
    _, label = connected_components(graph, directed=False)
    owner_tile = np.repeat(np.arange(len(counts)), counts)  # global tile of each vertex
    home = np.full(int(label.max()) + 1 if n else 0, len(keys), dtype=np.intp)
    np.minimum.at(home, label, rank[owner_tile])
    block_of = np.array([b for b, _ in where], dtype=np.intp)[owner_tile]
    slot_of = np.array([k for _, k in where], dtype=np.intp)[owner_tile]
    group_of = np.arange(n) - base[owner_tile]
    task_of = home[label]
    by_run = np.lexsort((group_of, slot_of, block_of, task_of))
    # runs of one (task, block, tile): a dict entry each, its groups in one slice
    run_keys = np.column_stack((task_of, block_of, slot_of))[by_run]
    starts = np.flatnonzero(np.concatenate(([True], (run_keys[1:] != run_keys[:-1]).any(axis=1)))) if n else np.empty(0, dtype=np.intp)
    ends = np.append(starts[1:], n)
    groups = group_of[by_run]
    tasks: dict[int, dict[int, dict[int, list[int]]]] = {}
    for a, b in zip(starts.tolist(), ends.tolist()):
        task, block, slot = run_keys[a].tolist()
        tasks.setdefault(task, {}).setdefault(block, {})[slot] = groups[a:b].tolist()
    return [tasks[h] for h in sorted(tasks)]


def chain_frame(part: ChainPart, origin: tuple[float, float], crs: Any) -> Any:
    """Chains as a GeoDataFrame of LineStrings in the drawing's own coordinates."""
    import geopandas  # type: ignore[import-untyped,unused-ignore]
    import shapely  # type: ignore[import-untyped,unused-ignore]

    points = part.points
    if origin != (0.0, 0.0):
        points = points + np.array(origin)
    lines = shapely.linestrings(points, indices=np.repeat(np.arange(len(part.lengths)), part.lengths)) if len(part.lengths) else []
    return geopandas.GeoDataFrame(geometry=geopandas.GeoSeries(lines, crs=crs))


def write_frame(part: ChainPart, origin: tuple[float, float], crs: Any, path: str) -> int:
    """Writes one part of the result as a GeoParquet file; the number of chains."""
    chain_frame(part, origin, crs).to_parquet(path, write_covering_bbox=True)
    return len(part.lengths)


def parquet_crs(path: str) -> Any:
    """The CRS a GeoParquet file declares for its geometry column (its metadata only)."""
    import json

    import pyarrow.parquet as pq  # type: ignore[import-untyped,unused-ignore]

    meta = pq.read_schema(path).metadata or {}
    geo = json.loads(meta.get(b"geo", b"{}"))
    column = geo.get("columns", {}).get(geo.get("primary_column", "geometry"), {})
    if "crs" not in column:
        return "OGC:CRS84"  # GeoParquet's default
    if column["crs"] is None:
        return None
    from pyproj import CRS

    return CRS.from_json_dict(column["crs"])
