"""The result of a centerline computation and its converters."""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, NamedTuple

import numpy as np

from ._crs import crs_name
from ._geometry import bounds_of, padded_bounds
from ._optional import require
from ._read_lines import read_curves, to_native
from ._svg import group, header, line_width, polylines, view_of
from ._types import Bounds, DrawingLike, FloatArray, IntArray, Point

if TYPE_CHECKING:
    from matplotlib.axes import Axes


def _chain_arrays(chains: Sequence[Sequence[Point]], origin: Point) -> list[FloatArray]:
    arrays = [np.array(chain, dtype=np.float64) for chain in chains]
    if origin != (0.0, 0.0):
        offset = np.array(origin, dtype=np.float64)
        for a in arrays:
            a += offset
    return arrays


def _array(items: Sequence[tuple[Any, Any]], dtype: type[np.generic]) -> Any:
    # right after the native call NumPy's code is cold, and every further kind
    # of NumPy operation costs more than the conversion itself: stick to
    # np.array alone
    return np.array(items, dtype=dtype) if len(items) else np.empty((0, 2), dtype=dtype)


def _nodes_array(nodes: Sequence[Point], origin: Point) -> FloatArray:
    out: FloatArray = _array(nodes, np.float64)
    if origin != (0.0, 0.0):
        out += np.array(origin, dtype=np.float64)
    return out


@dataclass(frozen=True, eq=False)
class Centerlines:
    """Centerline chains of a drawing, with the nodes where they end.

    Attributes
    ----------
    chains : list of (k, 2) float arrays
        One polyline per chain.
    nodes : (m, 2) float array
        The chain end points, shared by chains that meet there.
    chain_node_ids : (len(chains), 2) int array
        For every chain the index of its start and end node in ``nodes``; both
        are equal for a closed loop.
    widths : list of (k,) float arrays, or None
        The local stroke width at every chain point, when it was asked for.
    crs : pyproj CRS or None
        The coordinate reference system of the input, when it carried one (a
        GeoDataFrame, GeoSeries or a GIS file); the converters pass it on.
    """

    chains: list[FloatArray]
    nodes: FloatArray
    chain_node_ids: IntArray
    widths: list[FloatArray] | None = None
    crs: Any = None

    @classmethod
    def from_native(
        cls,
        chains: Sequence[Sequence[Point]],
        nodes: Sequence[Point],
        chain_node_ids: Sequence[tuple[int, int]],
        widths: Sequence[Sequence[float]] | None = None,
        *,
        crs: Any = None,
        origin: Point = (0.0, 0.0),
    ) -> Centerlines:
        """Wrap the lists returned by the native ``strandify`` functions, computed about
        ``origin``: the chains and nodes move back by it, the widths stay."""
        return cls(
            chains=_chain_arrays(chains, origin),
            nodes=_nodes_array(nodes, origin),
            chain_node_ids=_array(chain_node_ids, np.intp),
            widths=None if widths is None else [np.array(w, dtype=np.float64) for w in widths],
            crs=crs,
        )

    @classmethod
    def from_buffers(
        cls, out: tuple[Any, ...], with_widths: bool, *, crs: Any = None, origin: Point = (0.0, 0.0)
    ) -> Centerlines:
        """Wrap the flat buffers of ``strandify_strokes_arrays`` (its first five items),
        computed about ``origin``: NumPy reads them in place, every chain a view into one
        array of all chain points."""
        points, offsets, nodes, ids, widths = out[:5]
        flat = np.frombuffer(points, dtype=np.float64).reshape(-1, 2)
        node_array = np.frombuffer(nodes, dtype=np.float64).reshape(-1, 2)
        if origin != (0.0, 0.0):
            offset = np.array(origin, dtype=np.float64)
            flat += offset
            node_array += offset
        # plain slices: np.split costs several NumPy calls per chain
        bounds = np.frombuffer(offsets, dtype=np.int64).tolist()
        spans = list(zip(bounds[:-1], bounds[1:]))
        per_point = None
        if with_widths and widths is not None:
            radii = np.frombuffer(widths, dtype=np.float64)
            per_point = [radii[a:b] for a, b in spans]
        return cls(
            chains=[flat[a:b] for a, b in spans],
            nodes=node_array,
            chain_node_ids=np.frombuffer(ids, dtype=np.int64).reshape(-1, 2).astype(np.intp, copy=False),
            widths=per_point,
            crs=crs,
        )

    def __len__(self) -> int:
        return len(self.chains)

    def __repr__(self) -> str:
        return f"Centerlines({len(self.chains)} chains, {len(self.nodes)} nodes)"

    @property
    def bounds(self) -> Bounds | None:
        """(min x, min y, max x, max y) of all chains, None when there are none."""
        return bounds_of(self.chains)

    # -- converters -----------------------------------------------------------------

    def to_shapely(self) -> Any:
        """The chains as a shapely ``MultiLineString``, one line per chain."""
        shapely = require("shapely", "to_shapely()", "shapely")
        if not self.chains:
            return shapely.MultiLineString([])
        # one constructor call over all points: no Python or shapely call per chain
        counts = np.fromiter(map(len, self.chains), np.int64, len(self.chains))
        lines = np.concatenate(([0], np.cumsum(counts)))
        parts = np.array([0, len(self.chains)], dtype=np.int64)
        flat = np.concatenate(self.chains)
        return shapely.from_ragged_array(shapely.GeometryType.MULTILINESTRING, flat, (lines, parts))[0]

    def lengths(self) -> FloatArray:
        """The length of every chain."""
        return np.array([float(np.hypot(*np.diff(c, axis=0).T).sum()) for c in self.chains], dtype=np.float64)

    def degrees(self) -> IntArray:
        """How many chain ends meet at every node (a closed loop counts twice)."""
        counts = np.zeros(len(self.nodes), dtype=np.intp)
        if len(self.chain_node_ids):
            np.add.at(counts, self.chain_node_ids.reshape(-1), 1)
        return counts

    def to_geopandas(self, crs: Any = None) -> GeoFrames:
        """Two GeoDataFrames, ``chains`` and ``nodes``, in the CRS of the input.

        ``chains`` has a LineString per chain with columns ``chain``,
        ``start_node``, ``end_node``, ``length`` and, when widths were
        measured, ``mean_width``; ``nodes`` has a Point per node with ``node``
        and ``degree``.  ``crs`` overrides the CRS kept from the input.
        Needs the ``gis`` extra.
        """
        gpd = require("geopandas", "to_geopandas()", "gis")
        shapely = require("shapely", "to_geopandas()", "gis")
        crs = self.crs if crs is None else crs
        ids = self.chain_node_ids.reshape(-1, 2)
        columns: dict[str, Any] = {
            "chain": np.arange(len(self.chains), dtype=np.int64),
            "start_node": ids[:, 0].astype(np.int64),
            "end_node": ids[:, 1].astype(np.int64),
            "length": self.lengths(),
        }
        if self.widths is not None:
            columns["mean_width"] = np.array(
                [float(w.mean()) if len(w) else math.nan for w in self.widths], dtype=np.float64
            )
        chains = gpd.GeoDataFrame(
            columns, geometry=[shapely.LineString(c) for c in self.chains], crs=crs
        )
        nodes = gpd.GeoDataFrame(
            {"node": np.arange(len(self.nodes), dtype=np.int64), "degree": self.degrees().astype(np.int64)},
            geometry=[shapely.Point(p) for p in self.nodes.reshape(-1, 2).tolist()],
            crs=crs,
        )
        return GeoFrames(chains, nodes)

    def to_geojson(self) -> dict[str, Any]:
        """A GeoJSON FeatureCollection with one LineString Feature per chain.

        Each Feature's properties hold ``chain`` (its index), ``start_node`` and
        ``end_node`` (indices into ``nodes``) and, when computed, ``widths``.
        With a CRS other than WGS 84 the collection names it in a ``crs``
        member, the way GDAL writes and reads it, so the coordinates are not
        taken for longitudes and latitudes.
        """
        features = []
        for k, chain in enumerate(self.chains):
            start, end = (int(v) for v in self.chain_node_ids[k])
            props: dict[str, Any] = {"chain": k, "start_node": start, "end_node": end}
            if self.widths is not None:
                props["widths"] = self.widths[k].tolist()
            features.append(
                {
                    "type": "Feature",
                    "geometry": {"type": "LineString", "coordinates": chain.tolist()},
                    "properties": props,
                }
            )
        out: dict[str, Any] = {"type": "FeatureCollection", "features": features}
        name = crs_name(self.crs)
        if name is not None:
            out["crs"] = {"type": "name", "properties": {"name": name}}
        return out

    def to_json(self) -> dict[str, Any]:
        """Plain lists: ``chains``, ``nodes``, ``chain_node_ids`` (and ``widths``)."""
        out: dict[str, Any] = {
            "chains": [c.tolist() for c in self.chains],
            "nodes": self.nodes.tolist(),
            "chain_node_ids": self.chain_node_ids.tolist(),
        }
        if self.widths is not None:
            out["widths"] = [w.tolist() for w in self.widths]
        return out

    def to_networkx(self) -> Any:
        """A networkx ``MultiGraph``: one node per entry of ``nodes``, one edge per chain.

        Nodes carry ``pos`` (x, y).  Edges are keyed by chain index and carry
        ``chain`` (the index), ``points`` (the (k, 2) polyline, from the start
        node to the end node), ``length`` and, when computed, ``widths``.  A
        MultiGraph because two chains may join the same pair of nodes and a
        loop joins a node to itself.
        """
        nx = require("networkx", "to_networkx()", "networkx")
        graph = nx.MultiGraph()
        for i, (x, y) in enumerate(self.nodes.tolist()):
            graph.add_node(i, pos=(x, y))
        for k, chain in enumerate(self.chains):
            start, end = (int(v) for v in self.chain_node_ids[k])
            attrs: dict[str, Any] = {
                "chain": k,
                "points": chain,
                "length": float(np.hypot(*np.diff(chain, axis=0).T).sum()),
            }
            if self.widths is not None:
                attrs["widths"] = self.widths[k]
            graph.add_edge(start, end, key=k, **attrs)
        return graph

    def to_svg(
        self,
        *,
        bounds: Bounds | None = None,
        stroke: str = "black",
        stroke_width: float | None = None,
        y_up: bool = False,
        width: str | None = None,
        height: str | None = None,
    ) -> str:
        """An SVG document with one ``<polyline>`` per chain.

        Coordinates are written unchanged as SVG user units.  SVG's y axis points
        down; pass ``y_up=True`` for coordinates whose y axis points up (maps,
        plots) to wrap the chains in a flip so the picture shows upright.
        ``bounds`` (min x, min y, max x, max y) sets the visible area (the
        viewBox), by default the chains' extent with a small margin.  ``width``
        and ``height`` set the physical size, e.g. ``"210mm"``; by default one
        user unit is one pixel.
        """
        minx, miny, maxx, maxy = bounds if bounds is not None else padded_bounds(self.bounds, 0.02)
        view = view_of((minx, miny, maxx, maxy))
        if stroke_width is None:
            stroke_width = line_width(view)
        # an empty width or height is left out, as None is
        lines = header(view, width or None, height or None)
        lines.append(group(stroke, stroke_width, miny + maxy if y_up else None))
        lines += polylines(self.chains, self.chain_node_ids)
        lines += ["</g>", "</svg>", ""]
        return "\n".join(lines)

    def plot(
        self,
        ax: Axes | None = None,
        *,
        strokes: DrawingLike | None = None,
        color: str = "black",
        stroke_color: str = "0.8",
        show_nodes: bool = True,
        invert_y: bool = False,
    ) -> Axes:
        """Draw the chains (and their nodes) with matplotlib; returns the Axes.

        ``strokes``, any drawing, is drawn first in ``stroke_color`` so the
        centerlines show on top of the input.  ``invert_y`` turns the y axis
        downward, as in SVG and image coordinates.
        """
        require("matplotlib", "plot()", "plot")
        from matplotlib.collections import LineCollection

        if ax is None:
            import matplotlib.pyplot as plt

            ax = plt.gca()
        if strokes is not None:
            curves, _ = to_native(read_curves(strokes))
            ax.add_collection(LineCollection(curves, colors=stroke_color, linewidths=0.8, zorder=1))
        if self.chains:
            ax.add_collection(LineCollection(self.chains, colors=color, linewidths=1.4, zorder=2))
        if show_nodes and len(self.nodes):
            ax.plot(self.nodes[:, 0], self.nodes[:, 1], "o", color=color, markersize=3, zorder=3)
        ax.set_aspect("equal", adjustable="datalim")
        ax.autoscale_view()
        if invert_y and not ax.yaxis_inverted():
            ax.invert_yaxis()
        return ax


class GeoFrames(NamedTuple):
    """The GeoDataFrames of :meth:`Centerlines.to_geopandas`."""

    chains: Any
    nodes: Any
