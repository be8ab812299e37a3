"""Stitching tiles without bringing every tile's pieces to one place.

``stitch_tiles`` joins chain pieces where they meet on the seams, prunes the tips and merges
the junctions that the seams cut in two, and finishes every chain.  What it changes is local:
a node moves or changes degree only when a seam end lies within the length of a prunable tip
or of a mergeable junction pair from it, along the chains.  So each tile's pieces fall in two
kinds:

- *open* pieces: those with a seam end, or with an end node near the tile's core boundary (within
  ``reach``, which bounds those lengths), or at a node of degree two (a node the stitch joins
  through).  Open pieces sharing such a node are one group, and a group is stitched with the
  groups of the tiles it meets across a seam;
- *settled* pieces: every other one.  The stitch leaves them as they are and finishes each of
  them alone, so the tile finishes them itself.

A subset stitched apart must see every node of its pieces with its full degree, since the
degree decides tips, joins and how a chain end is finished.  Pieces of the other kind at a
shared node are stood in for by *stubs*: two-point pieces from the node to a point above the
whole drawing (``far_y``), which no stitch step touches (they cross no seam and end at nodes of
degree one and of unchanged degree) and which are dropped from the result by that far end.
Stitching a subset keeps the relative order of its tiles, pieces, nodes and seam ends, and
``stitch_tiles`` visits them in that order, so every chain comes out with the very points, and
the direction, the stitch of all tiles gives it.
"""

from __future__ import annotations

from typing import Any, NamedTuple

import numpy as np

from . import _native
from ._ragged import flat_points, split_rows
from ._types import FloatArray, IntArray
from .options import NativeOptions

Box = tuple[float, float, float, float]


def seam_reach(buffer_distance: float, feature_size: float, options: NativeOptions) -> float:
    """How far from a seam the stitch can change a node: a tip it prunes or a junction pair it
    merges is measured along the chain from a seam end, and a matched seam end lies up to half
    the snap distance (a quarter buffer distance) off the seam; a buffer distance covers it.
    The lengths are the ones the native side resolves for this scale and these options."""
    settings = _native.resolved_settings(buffer_distance, feature_size, options)
    longest = max(float(settings["tip_length"] or 0.0), float(settings["junction_merge_distance"] or 0.0))
    return longest + abs(buffer_distance)


class TilePieces(NamedTuple):
    """A tile's chain pieces as arrays (the pieces of ``run_tile``, every point in one array)."""

    points: FloatArray
    lengths: IntArray
    nodes: Any  # (start node, end node) per piece, int64; meaningless at a seam end
    on_seam: Any  # (start on seam, end on seam) per piece, bool
    node_count: int
    skeleton_nodes: int


class OpenTile(NamedTuple):
    """What a tile keeps for the seam stitch: its pieces, which of them are open and the
    group (connected through the tile's nodes) of each open piece."""

    pieces: TilePieces
    degree: IntArray  # per tile node
    group: IntArray  # per piece: its group among the open pieces, -1 for a settled piece


class ChainPart(NamedTuple):
    """Finished chains, every point in one array."""

    points: FloatArray
    lengths: IntArray


def tile_pieces(result: tuple[list[Any], int, int, Any]) -> TilePieces:
    """The arrays of a ``run_tile`` result."""
    pieces, node_count, skeleton_nodes, _ = result
    points, lengths = flat_points([np.asarray(p[0], dtype=np.float64).reshape(-1, 2) for p in pieces])
    nodes = np.array([(p[1], p[2]) for p in pieces], dtype=np.int64).reshape(-1, 2)
    on_seam = np.array([(p[3], p[4]) for p in pieces], dtype=bool).reshape(-1, 2)
    return TilePieces(points, lengths, nodes, on_seam, int(node_count), int(skeleton_nodes))


def _end_points(pieces: TilePieces) -> FloatArray:
    """(start, end) point of every piece, shape (n, 2, 2)."""
    last = np.cumsum(pieces.lengths) - 1
    starts = last + 1 - pieces.lengths
    return np.stack((pieces.points[starts], pieces.points[last]), axis=1)


def _node_degrees(pieces: TilePieces) -> IntArray:
    at_node = ~pieces.on_seam
    return np.bincount(pieces.nodes[at_node], minlength=pieces.node_count).astype(np.intp)


def open_tile(pieces: TilePieces, core: Box, reach: float) -> OpenTile:
    """Which pieces of a tile the seam stitch needs, and their groups."""
    n = len(pieces.lengths)
    degree = _node_degrees(pieces)
    ends = _end_points(pieces)
    at_node = ~pieces.on_seam
    near = np.zeros(pieces.node_count, dtype=bool)
    ids = pieces.nodes[at_node]
    xy = ends[at_node]
    inset = np.minimum.reduce((xy[:, 0] - core[0], core[2] - xy[:, 0], xy[:, 1] - core[1], core[3] - xy[:, 1]))
    near[ids[inset <= reach]] = True
    touched = near | (degree == 2)
    opened = pieces.on_seam.any(axis=1) | _ends_at(touched, pieces.nodes, at_node).any(axis=1)
    group = np.full(n, -1, dtype=np.intp)
    which = np.flatnonzero(opened)
    if len(which):
        group[which] = _groups_through_nodes(pieces, which, touched)
    return OpenTile(pieces, degree, group)


def _ends_at(nodes: Any, ids: Any, at_node: Any) -> Any:
    """Which piece ends (``ids``, where ``at_node``) are at a node of the mask ``nodes``."""
    if not len(nodes):
        return np.zeros_like(at_node)
    return at_node & nodes[np.where(at_node, ids, 0)]


def _groups_through_nodes(pieces: TilePieces, which: IntArray, touched: Any) -> IntArray:
    """Connected components of the pieces ``which``, two pieces joined by a shared node the
    stitch may change (``touched``); numbered in the order of their first piece.  A node it
    leaves alone does not join its pieces: each group sees it with its full degree (stubs)."""
    from scipy.sparse import coo_matrix  # type: ignore[import-untyped,unused-ignore]
    from scipy.sparse.csgraph import connected_components  # type: ignore[import-untyped,unused-ignore]

    k = len(which)
    at_node = ~pieces.on_seam[which]
    at_node = _ends_at(touched, pieces.nodes[which], at_node)
    piece_of = np.repeat(np.arange(k), 2).reshape(-1, 2)[at_node]
    node_of = k + pieces.nodes[which][at_node]
    size = k + pieces.node_count
    graph = coo_matrix((np.ones(len(piece_of)), (piece_of, node_of)), shape=(size, size))
    _, labels = connected_components(graph, directed=False)
    first: dict[int, int] = {}
    for label in labels[:k].tolist():
        first.setdefault(label, len(first))
    return np.array([first[label] for label in labels[:k].tolist()], dtype=np.intp)


def seam_ends(tile: OpenTile) -> tuple[FloatArray, IntArray]:
    """Every seam end of the tile's open pieces, and its piece's group."""
    ends = _end_points(tile.pieces)
    mask = tile.pieces.on_seam
    rows = np.nonzero(mask)[0]
    return ends[mask], tile.group[rows]


def subset_result(tile: OpenTile, keep: Any, far_y: float) -> tuple[list[Any], int, int, FloatArray]:
    """A ``stitch_tiles`` tile of the pieces ``keep`` (a mask), with a stub for every piece
    left out at one of their nodes."""
    pieces = tile.pieces
    at_node = ~pieces.on_seam
    kept_ends = np.bincount(pieces.nodes[keep][at_node[keep]], minlength=pieces.node_count)
    used = np.zeros(pieces.node_count, dtype=bool)
    used[pieces.nodes[keep][at_node[keep]]] = True
    missing = np.where(used, tile.degree - kept_ends, 0)
    chains = split_rows(pieces.points, pieces.lengths)
    out: list[Any] = []
    for i in np.flatnonzero(keep).tolist():
        (s, e), (ss, es) = pieces.nodes[i].tolist(), pieces.on_seam[i].tolist()
        out.append((chains[i], s, e, ss, es))
    ends = _end_points(pieces)
    position = np.zeros((pieces.node_count, 2))
    position[pieces.nodes[at_node]] = ends[at_node]
    stub = pieces.node_count
    for node in np.flatnonzero(missing).tolist():
        x, y = position[node].tolist()
        for _ in range(int(missing[node])):
            out.append((np.array([[x, y], [x, far_y]]), node, stub, False, False))
            stub += 1
    return out, stub, 0, np.empty((0, 2))


def stitched(tiles: list[tuple[list[Any], int, int, FloatArray]], d: float, f: float, options: NativeOptions, far_y: float) -> ChainPart:
    """``stitch_tiles`` over a subset, the stubs' chains dropped."""
    chains, nodes, ids, _ = _native.stitch_tiles(tiles, d, f, options)
    node_y = np.array([p[1] for p in nodes], dtype=np.float64)
    ends = np.array(ids, dtype=np.intp).reshape(-1, 2)
    real = ~(node_y[ends] == far_y).any(axis=1) if len(ends) else np.zeros(0, dtype=bool)
    arrays = [np.array(c, dtype=np.float64).reshape(-1, 2) for c, r in zip(chains, real.tolist()) if r]
    return ChainPart(*flat_points(arrays))


def settled_chains(tile: OpenTile, d: float, f: float, options: NativeOptions, far_y: float) -> ChainPart:
    """The tile's settled pieces, finished as the stitch of all tiles finishes them."""
    keep = tile.group < 0
    if not keep.any():
        return ChainPart(np.empty((0, 2)), np.empty(0, dtype=np.intp))
    return stitched([subset_result(tile, keep, far_y)], d, f, options, far_y)
