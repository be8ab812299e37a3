"""Provenance: which input features each chain comes from, and the attributes it inherits.

A chain comes from the features whose region covers it: the buffer of a stroke
(every point within ``buffer_distance`` of it) or the filled shape itself, each
feature simplified by 0.05 x ``feature_size`` as the buffer boundary is (a
piece that no simplified shape holds, on the wall between two touching
shapes, counts for the shapes within that tolerance of it).  The
chain is cut into pieces no longer than a feature size; a piece counts for
every feature whose region holds its midpoint, with its length.  A chain's
sources are those features, by covered length, the longest first (ties by
input order); its main source is the first.  A chain that no region holds
(smoothing can pull a short chain a hair outside) takes the nearest feature,
with a covered length of 0.

The matching is shapely's STRtree over the features, queried with every
piece's midpoint at once, so its cost is a few array operations per call.
Every coordinate is taken relative to the drawing's local origin first.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np

from ._read_lines import looks_like_point, read_curves
from ._read_shapes import read_polygons
from ._types import Curve, FloatArray, IntArray, Point, is_geometry, is_geopandas

#: How ``Centerlines.to_geopandas`` fills the carried attribute columns: the main
#: source's value, or for numeric columns the length-weighted mean of all sources.
Carry = Literal["main", "weighted"]

#: The pieces a chain is cut into are at most this many feature sizes long: details below
#: a feature size are pruned away anyway.
PIECE_PER_FEATURE = 1.0
#: The features are matched as simplified by this many feature sizes, the tolerance the
#: buffer boundary is simplified with.  Drawn strokes come with hundreds of points per
#: stroke (flattened curves); testing the distance to every one of them cost 40% of the
#: call on 10,000 KanjiVG strokes, and 7% this way (bench/bench_sources.py).
SIMPLIFY_PER_FEATURE = 0.05


@dataclass(frozen=True, eq=False)
class Provenance:
    """The sources of every chain of a result.

    ``rows`` holds, per chain, the positions of its source features in the input
    and ``lengths`` the chain length each covers, in the same order (longest
    first).  ``index`` is the input's index (a GeoDataFrame's or GeoSeries'
    labels), None for plain inputs, whose positions are their labels.
    ``table`` holds the input's attribute columns (a GeoDataFrame without its
    geometry), None when it has none.
    """

    rows: list[IntArray]
    lengths: list[FloatArray]
    index: Any = None
    table: Any = None

    def labels(self) -> list[Any]:
        """Per chain, the labels of its sources (positions for plain inputs)."""
        if self.index is None:
            return list(self.rows)
        return [self.index.take(r).to_numpy() for r in self.rows]

    def main_rows(self) -> IntArray:
        """The position of every chain's main source, -1 for a chain without any."""
        return np.array([int(r[0]) if len(r) else -1 for r in self.rows], dtype=np.intp)


def stroke_features(drawing: Any, read: Sequence[Curve]) -> tuple[Any, Any]:
    """The features of a strokes input, ``read`` being its curves as read, as a shapely
    geometry array with the input's index (None for a plain input): the rows of a
    GeoDataFrame or GeoSeries, the Features of a GeoJSON FeatureCollection, the items of a
    list or of a (k, n, 2) array, or the whole drawing when it is one geometry or one curve."""
    if is_geopandas(drawing):
        geoms = drawing.geometry if hasattr(drawing, "geometry") else drawing
        return np.asarray(geoms.values, dtype=object), drawing.index
    if isinstance(drawing, Mapping) and drawing.get("type") == "FeatureCollection":
        items: Sequence[Any] = [f for f in drawing.get("features") or [] if f.get("geometry")]
        return np.array([_lines_of(read_curves(f["geometry"])) for f in items], dtype=object), None
    listed = isinstance(drawing, (list, tuple)) or (isinstance(drawing, np.ndarray) and drawing.ndim == 3)
    if not listed or (len(drawing) and looks_like_point(drawing[0])):
        return np.array([_lines_of(read)], dtype=object), None
    items = list(drawing)
    # one curve per item, in order, without gaps: every line in one call
    one_each = len(read) == len(items) and not any(
        is_geometry(item) and item.geom_type not in ("LineString", "LinearRing") for item in items
    )
    if one_each and not any(np.isnan(c.points).any() for c in read):
        return _linestrings([c.points for c in read]), None
    return np.array([_lines_of(read_curves([item])) for item in items], dtype=object), None


def shape_features(shapes: Any) -> tuple[Any, Any]:
    """The features of a shapes input: the rows of a GeoDataFrame or GeoSeries, else the
    polygons as read (a MultiPolygon counted by its parts)."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    if is_geopandas(shapes):
        geoms = shapes.geometry if hasattr(shapes, "geometry") else shapes
        return np.asarray(geoms.values, dtype=object), shapes.index
    polygons = read_polygons(shapes)
    return np.array([shapely.Polygon(p[0], p[1:]) for p in polygons], dtype=object), None


def attribute_table(drawing: Any) -> Any:
    """The attribute columns of a GeoDataFrame (None for anything else, or without any)."""
    if not (is_geopandas(drawing) and hasattr(drawing, "columns")):
        return None
    table = drawing.drop(columns=[drawing.geometry.name])
    return table if len(table.columns) else None


def find_sources(
    chains: Sequence[FloatArray],
    features: Any,
    reach: float,
    feature_size: float,
    origin: Point = (0.0, 0.0),
) -> tuple[list[IntArray], list[FloatArray]]:
    """Per chain, the positions of the features within ``reach`` of it (0: the shapes that hold
    it), ordered by the chain length they cover, and those lengths; see the module's
    documentation."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    n = len(chains)
    if n == 0:
        return [], []
    tolerance = SIMPLIFY_PER_FEATURE * feature_size
    features = _finite_features(features)
    # shapes keep their topology, so that a simplified polygon still holds what it held
    features = shapely.simplify(features, tolerance, preserve_topology=reach <= 0)
    if origin != (0.0, 0.0):
        offset = np.array(origin, dtype=np.float64)
        features = shapely.transform(features, lambda c: c - offset)
        chains = [c - offset for c in chains]
    tree = shapely.STRtree(features)
    mids, weights, owner = _pieces(chains, PIECE_PER_FEATURE * feature_size)
    points = shapely.points(mids)
    if reach > 0:
        hit_piece, hit_feature = tree.query(points, predicate="dwithin", distance=reach)
    else:
        hit_piece, hit_feature = _held(tree, points, tolerance)
    rows, lengths = _ranked(owner[hit_piece], hit_feature, weights[hit_piece], n, len(features))
    missing = [k for k in range(n) if not len(rows[k])]
    if missing and len(tree):
        lines = shapely.linestrings(chains[missing[0]]) if len(missing) == 1 else None
        geoms = [lines] if lines is not None else [_line_or_point(chains[k]) for k in missing]
        which, nearest = tree.query_nearest(geoms, all_matches=True)
        for k, j in zip(missing, _first_per_input(which, nearest, len(missing))):
            if j >= 0:
                rows[k] = np.array([j], dtype=np.intp)
                lengths[k] = np.zeros(1, dtype=np.float64)
    return rows, lengths


def _finite_features(features: Any) -> Any:
    """The features with their coordinates finite: a NaN or infinite coordinate splits a line
    there (as it splits a drawn curve), and leaves a shape out (GEOS measures nothing against
    it).  Positions stay where they were."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    features = np.asarray(features, dtype=object)
    if np.isfinite(shapely.get_coordinates(features)).all():
        return features
    out = features.copy()
    for k, geom in enumerate(features):
        if geom is None or np.isfinite(shapely.get_coordinates(geom)).all():
            continue
        runs = []
        if shapely.get_type_id(geom) in (1, 2, 5):  # LineString, LinearRing, MultiLineString
            for part in shapely.get_parts(geom):
                coords = shapely.get_coordinates(part)
                good = np.isfinite(coords).all(axis=1)
                cuts = np.flatnonzero(np.diff(np.concatenate(([0], good.astype(np.int8), [0]))))
                runs += [coords[a:b] for a, b in zip(cuts[::2], cuts[1::2]) if b - a >= 2]
        out[k] = shapely.MultiLineString(runs) if runs else None
    return out


def _held(tree: Any, points: Any, tolerance: float) -> tuple[IntArray, IntArray]:
    """(point, shape) pairs: the shapes that hold each point, or for a point that none holds,
    those within ``tolerance`` of it."""
    inside = tree.query(points, predicate="intersects")
    loose = np.setdiff1d(np.arange(len(points)), inside[0])
    near = tree.query(points[loose], predicate="dwithin", distance=tolerance)
    piece = np.concatenate([inside[0], loose[near[0]]])
    shape = np.concatenate([inside[1], near[1]])
    return piece, shape


def _line_or_point(chain: FloatArray) -> Any:
    import shapely  # type: ignore[import-untyped,unused-ignore]

    return shapely.linestrings(chain) if len(chain) >= 2 else shapely.points(chain[0])


def _first_per_input(which: IntArray, nearest: IntArray, count: int) -> list[int]:
    """For every query, its lowest nearest feature (ties give several); -1 for none."""
    out = [-1] * count
    for i, j in zip(which.tolist(), nearest.tolist()):
        if out[i] < 0 or j < out[i]:
            out[i] = j
    return out


def _pieces(chains: Sequence[FloatArray], longest: float) -> tuple[FloatArray, FloatArray, IntArray]:
    """Midpoints, lengths and chain of the pieces the chains are cut into: every segment split
    into equal parts no longer than ``longest``.  A chain of one point (a dot) is one piece
    of length 0 at that point."""
    counts = np.fromiter((len(c) for c in chains), dtype=np.intp, count=len(chains))
    points = np.concatenate(chains) if len(chains) else np.empty((0, 2))
    chain_of_point = np.repeat(np.arange(len(chains), dtype=np.intp), counts)
    # a segment joins two consecutive points of the same chain
    same = chain_of_point[1:] == chain_of_point[:-1]
    starts, ends = points[:-1][same], points[1:][same]
    owner = chain_of_point[:-1][same]
    seg = ends - starts
    seg_len = np.hypot(seg[:, 0], seg[:, 1])
    parts = np.maximum(np.ceil(seg_len / longest), 1).astype(np.intp) if longest > 0 else np.ones(len(seg), np.intp)
    which = np.repeat(np.arange(len(seg), dtype=np.intp), parts)
    first = np.repeat(np.cumsum(parts) - parts, parts)
    t = (np.arange(len(which), dtype=np.float64) - first + 0.5) / parts[which]
    mids = starts[which] + seg[which] * t[:, None]
    weights = (seg_len / parts)[which]
    piece_owner = owner[which]
    # chains with no segment at all (a single point) still get one piece
    lone = np.flatnonzero(np.bincount(owner, minlength=len(chains)) == 0)
    lone = lone[counts[lone] > 0]
    if len(lone):
        firsts = np.cumsum(counts) - counts
        mids = np.concatenate([mids, points[firsts[lone]]])
        weights = np.concatenate([weights, np.zeros(len(lone))])
        piece_owner = np.concatenate([piece_owner, lone])
    return mids, weights, piece_owner


def _ranked(
    chain: IntArray, feature: IntArray, weight: FloatArray, n_chains: int, n_features: int
) -> tuple[list[IntArray], list[FloatArray]]:
    """Per chain, its features by summed weight (largest first, ties by position)."""
    key = chain.astype(np.int64) * max(n_features, 1) + feature
    pairs, inverse = np.unique(key, return_inverse=True)
    total = np.bincount(inverse, weights=weight, minlength=len(pairs))
    pair_chain = pairs // max(n_features, 1)
    pair_feature = pairs % max(n_features, 1)
    order = np.lexsort((pair_feature, -total, pair_chain))
    pair_chain, pair_feature, total = pair_chain[order], pair_feature[order], total[order]
    cuts = np.searchsorted(pair_chain, np.arange(n_chains + 1))
    rows = [pair_feature[a:b].astype(np.intp) for a, b in zip(cuts[:-1], cuts[1:])]
    lengths = [total[a:b] for a, b in zip(cuts[:-1], cuts[1:])]
    return rows, lengths


def _linestrings(arrays: list[FloatArray]) -> Any:
    """One LineString per array, built in one call; arrays under two points give None."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    out = np.full(len(arrays), None, dtype=object)
    keep = [i for i, a in enumerate(arrays) if len(a) >= 2]
    if keep:
        coords = np.concatenate([arrays[i] for i in keep])
        index = np.repeat(np.arange(len(keep)), [len(arrays[i]) for i in keep])
        out[keep] = shapely.linestrings(coords, indices=index)
    return out


def _lines_of(curves: Sequence[Any]) -> Any:
    """One geometry of the curves of a feature, cut at NaN rows: None when nothing is drawn."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    parts: list[FloatArray] = []
    for arr, _ in curves:
        bad = np.isnan(arr).any(axis=1)
        if not bad.any():
            if len(arr) >= 2:
                parts.append(arr)
            continue
        edges = np.flatnonzero(np.diff(np.concatenate(([True], bad, [True])).astype(np.int8)))
        parts.extend(arr[a:b] for a, b in zip(edges[::2], edges[1::2]) if b - a >= 2)
    if not parts:
        return None
    if len(parts) == 1:
        return shapely.linestrings(parts[0])
    return shapely.multilinestrings([shapely.linestrings(p) for p in parts])


def carried_columns(provenance: Provenance, taken: set[str], carry: Carry) -> dict[str, Any]:
    """The attribute columns a result inherits, one value per chain: the main source's value,
    or with ``carry="weighted"`` for numeric columns the mean over the sources weighted by
    the length each covers.  A column whose name the result already uses is renamed
    ``source_NAME``; a chain without a source gets a missing value."""
    table = provenance.table
    if table is None:
        return {}
    import pandas as pd  # type: ignore[import-untyped,unused-ignore]

    main = provenance.main_rows()
    has = main >= 0
    out: dict[str, Any] = {}
    for name in table.columns:
        column = table[name]
        values = column.take(np.where(has, main, 0)).reset_index(drop=True)
        if not has.all():
            values = values.astype(object) if not pd.api.types.is_float_dtype(values) else values
            values[~has] = None
        if carry == "weighted" and pd.api.types.is_numeric_dtype(column) and not pd.api.types.is_bool_dtype(column):
            values = pd.Series(_weighted(column.to_numpy(dtype=np.float64), provenance), dtype=np.float64)
        key = str(name)
        out[f"source_{key}" if key in taken else key] = values.to_numpy()
    return out


def _weighted(values: FloatArray, provenance: Provenance) -> FloatArray:
    """The covered-length-weighted mean of ``values`` over every chain's sources (NaN values
    left out; the plain mean where the sources cover no length, NaN without any value)."""
    out = np.full(len(provenance.rows), np.nan)
    for k, (rows, lengths) in enumerate(zip(provenance.rows, provenance.lengths)):
        v = values[rows]
        ok = ~np.isnan(v)
        if not ok.any():
            continue
        w = lengths[ok]
        out[k] = float(np.average(v[ok], weights=w)) if w.sum() > 0 else float(v[ok].mean())
    return out
