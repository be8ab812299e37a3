"""The result of a centerline computation and its converters."""

from __future__ import annotations

import math
import operator
from array import array
from collections.abc import Sequence
from dataclasses import MISSING, dataclass, fields, replace
from functools import lru_cache
from typing import TYPE_CHECKING, Any, NamedTuple

import numpy as np

from ._crs import crs_name
from ._geometry import bounds_of, padded_bounds
from ._optional import require
from ._read_lines import read_curves, to_native
from ._sources import Carry, Provenance, carried_columns
from ._svg import group, header, line_width, polylines, view_of
from ._types import Bounds, DrawingLike, FloatArray, IntArray, Point

if TYPE_CHECKING:
    from matplotlib.axes import Axes


_INTP_IS_INT64 = np.dtype(np.intp) == np.dtype(np.int64)


def _pieces(values: Any, offsets: Any) -> list[Any]:
    """The views of ``values`` between consecutive int64 ``offsets`` (a buffer): plain slices,
    where np.split costs several NumPy calls per piece."""
    bounds = memoryview(offsets).cast("q").tolist()
    return list(map(values.__getitem__, map(slice, bounds, bounds[1:])))


class _FlatChains(NamedTuple):
    """All chain points of a native result in one array, the int64 offsets of its chains, the
    chain views cut from the points once ``chains`` was read (None before), and the buffers
    of the nodes and their ids with the origin the nodes move back by, until they are read."""

    points: FloatArray
    offsets: Any
    chains: tuple[FloatArray, ...] | None
    nodes: Any = None
    ids: Any = None
    origin: Point = (0.0, 0.0)


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
    provenance : Provenance or None
        Which input features every chain comes from, when ``sources=True``
        asked for it (see :attr:`sources` and :mod:`strandify._sources`).
    measured : (len(chains),) float array or None
        The chain lengths as measured in the CRS the chains were computed
        in, kept by :meth:`to_crs` (metres of a UTM zone where the chains
        now count in degrees); :meth:`lengths` gives them.
    """

    chains: list[FloatArray]
    nodes: FloatArray
    chain_node_ids: IntArray
    widths: list[FloatArray] | None = None
    crs: Any = None
    provenance: Provenance | None = None
    measured: FloatArray | None = None

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
        # a view of the buffer, one NumPy call (frombuffer and reshape are two)
        flat = np.ndarray((len(points) >> 4, 2), np.float64, points)
        if origin != (0.0, 0.0):
            flat += np.array(origin, dtype=np.float64)
        # Filled the way unpickling fills it: right after a native call, when the caches hold
        # none of the Python code, the generated __init__ costs a third of this conversion.
        # Only what differs from the class's defaults goes in: ``chains``, ``nodes`` and
        # ``chain_node_ids`` are left out, since most calls only convert the result, which
        # to_shapely does from the flat points; __getattr__ makes them from the buffers when
        # first read.
        result = cls.__new__(cls)
        state = result.__dict__
        state["_flat"] = tuple.__new__(_FlatChains, (flat, offsets, None, nodes, ids, origin))
        if crs is not None:
            state["crs"] = crs
        if with_widths and widths is not None:
            state["widths"] = _pieces(np.frombuffer(widths, dtype=np.float64), offsets)
        return result

    def __getattr__(self, name: str) -> Any:
        # only called for what the instance does not hold: what from_buffers left unmade
        state = self.__dict__
        flat: _FlatChains | None = state.get("_flat")
        if name not in _MADE_ON_READ or flat is None or flat.chains is not None:
            raise AttributeError(f"{type(self).__name__!r} object has no attribute {name!r}")
        chains = _pieces(flat.points, flat.offsets)
        nodes = np.ndarray((len(flat.nodes) >> 4, 2), np.float64, flat.nodes)
        if flat.origin != (0.0, 0.0):
            # into a new array: moved in place, the buffer of two threads reading at once
            # would be moved twice
            nodes = nodes + np.array(flat.origin, dtype=np.float64)
        ends = np.ndarray((len(flat.ids) >> 4, 2), np.int64, flat.ids)
        # two threads reading at once both make them: the first one's are kept
        chains = state.setdefault("chains", chains)
        state.setdefault("nodes", nodes)
        state.setdefault("chain_node_ids", ends if _INTP_IS_INT64 else ends.astype(np.intp))
        # the chains as they came, for the converters that want all points in one array
        state["_flat"] = _FlatChains(flat.points, flat.offsets, tuple(chains))
        return state[name]

    def __getstate__(self) -> dict[str, Any]:
        # the fields in their order, every list cut; a copy's chains are no views into the
        # flat points any more: it goes without them
        state = {name: getattr(self, name) for name in _UNSET}
        state.update((k, v) for k, v in self.__dict__.items() if k != "_flat")
        return state

    def _flat_chains(self) -> _FlatChains | None:
        """The flat points and offsets the chains were cut from, while ``chains`` is uncut or
        still holds exactly those cuts (their points may have been changed in place: they are
        views)."""
        flat: _FlatChains | None = self.__dict__.get("_flat")
        if flat is None or flat.chains is None:
            return flat
        cut, chains = flat.chains, self.chains
        if len(cut) != len(chains) or not all(map(operator.is_, cut, chains)):
            return None
        return flat

    def _count(self) -> int:
        """How many chains there are, without cutting them."""
        flat: _FlatChains | None = self.__dict__.get("_flat")
        if flat is None or flat.chains is not None:
            return len(self.chains)
        return (len(flat.offsets) >> 3) - 1

    def __len__(self) -> int:
        return self._count()

    def __repr__(self) -> str:
        return f"Centerlines({self._count()} chains, {len(self.nodes)} nodes)"

    @property
    def sources(self) -> list[Any] | None:
        """Per chain, the input features it comes from, as an array of their labels (a
        GeoDataFrame's index labels, else positions in the input), the one covering most of
        the chain first; None unless the call had ``sources=True``."""
        return None if self.provenance is None else self.provenance.labels()

    @property
    def bounds(self) -> Bounds | None:
        """(min x, min y, max x, max y) of all chains, None when there are none."""
        return bounds_of(self.chains)

    # -- converters -----------------------------------------------------------------

    def to_shapely(self) -> Any:
        """The chains as a shapely ``MultiLineString``, one line per chain."""
        shapely = require("shapely", "to_shapely()", "shapely")
        cut = self._flat_chains()
        if cut is not None:
            return _multilinestring(shapely, cut.points, memoryview(cut.offsets).cast("q"))
        count = len(self.chains)
        lines = np.zeros(count + 1, dtype=np.int64)
        if count:
            np.fromiter(map(len, self.chains), np.int64, count).cumsum(out=lines[1:])
        return _multilinestring(shapely, np.concatenate(self.chains) if count else None, lines)

    def lengths(self) -> FloatArray:
        """The length of every chain: measured in the CRS the chains were computed in, which
        :meth:`to_crs` does not change."""
        if self.measured is not None:
            return self.measured
        return np.array([float(np.hypot(*np.diff(c, axis=0).T).sum()) for c in self.chains], dtype=np.float64)

    def degrees(self) -> IntArray:
        """How many chain ends meet at every node (a closed loop counts twice)."""
        counts = np.zeros(len(self.nodes), dtype=np.intp)
        if len(self.chain_node_ids):
            np.add.at(counts, self.chain_node_ids.reshape(-1), 1)
        return counts

    def chain_columns(self, attributes: Carry = "main") -> dict[str, Any]:
        """The per-chain values of :meth:`to_geopandas`, as arrays by column name."""
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
        if self.provenance is not None:
            sources = np.empty(len(self.chains), dtype=object)
            sources[:] = [_plain_list(labels) for labels in self.provenance.labels()]
            columns["sources"] = sources
            columns.update(carried_columns(self.provenance, set(columns), attributes))
        return columns

    def to_geopandas(self, crs: Any = None, *, attributes: Carry = "main") -> GeoFrames:
        """Two GeoDataFrames, ``chains`` and ``nodes``, in the CRS of the input.

        ``chains`` has a LineString per chain with columns ``chain``,
        ``start_node``, ``end_node``, ``length`` and, when widths were
        measured, ``mean_width``; ``nodes`` has a Point per node with ``node``
        and ``degree``.  ``crs`` overrides the CRS kept from the input.

        With sources (``sources=True`` in the call), ``chains`` also has a
        ``sources`` column (the list of :attr:`sources` of each chain) and
        every attribute column of an input GeoDataFrame, each chain taking the
        value of its main source, the feature that covers most of its length.
        ``attributes="weighted"`` gives numeric columns the mean over all the
        chain's sources instead, weighted by the length each covers.  An
        attribute named like one of the columns above comes as
        ``source_NAME``.  Needs the ``gis`` extra.
        """
        gpd = require("geopandas", "to_geopandas()", "gis")
        shapely = require("shapely", "to_geopandas()", "gis")
        if attributes not in ("main", "weighted"):
            raise ValueError(f"attributes must be 'main' or 'weighted', got {attributes!r}")
        crs = self.crs if crs is None else crs
        columns = self.chain_columns(attributes)
        chains = gpd.GeoDataFrame(
            columns, geometry=[shapely.LineString(c) for c in self.chains], crs=crs
        )
        nodes = gpd.GeoDataFrame(
            {"node": np.arange(len(self.nodes), dtype=np.int64), "degree": self.degrees().astype(np.int64)},
            geometry=[shapely.Point(p) for p in self.nodes.reshape(-1, 2).tolist()],
            crs=crs,
        )
        return GeoFrames(chains, nodes)

    def to_geojson(self, *, nodes: bool = False, attributes: Carry = "main") -> dict[str, Any]:
        """A GeoJSON FeatureCollection with one LineString Feature per chain.

        Each Feature's properties hold ``chain`` (its index), ``start_node`` and
        ``end_node`` (indices into ``nodes``), ``length`` and, when computed,
        ``widths``; with sources, also ``sources`` and the carried attributes
        (as in :meth:`to_geopandas`).  ``nodes=True`` adds a Point Feature per
        node after the chains, with ``node`` and ``degree``.
        With a CRS other than WGS 84 the collection names it in a ``crs``
        member, the way GDAL writes and reads it, so the coordinates are not
        taken for longitudes and latitudes.
        """
        lengths = self.lengths().tolist()
        extra = {
            name: values
            for name, values in self.chain_columns(attributes).items()
            if name not in ("chain", "start_node", "end_node", "length", "mean_width")
        }
        features = []
        for k, chain in enumerate(self.chains):
            start, end = (int(v) for v in self.chain_node_ids[k])
            props: dict[str, Any] = {"chain": k, "start_node": start, "end_node": end, "length": lengths[k]}
            if self.widths is not None:
                props["widths"] = self.widths[k].tolist()
            for column, values in extra.items():
                props[column] = _json_value(values[k])
            features.append(
                {
                    "type": "Feature",
                    "geometry": {"type": "LineString", "coordinates": chain.tolist()},
                    "properties": props,
                }
            )
        if nodes:
            for i, (point, degree) in enumerate(zip(self.nodes.reshape(-1, 2).tolist(), self.degrees().tolist())):
                features.append(
                    {
                        "type": "Feature",
                        "geometry": {"type": "Point", "coordinates": point},
                        "properties": {"node": i, "degree": degree},
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

    def to_networkx(self, *, plain: bool = True) -> Any:
        """A networkx ``MultiGraph``: one node per entry of ``nodes``, one edge per chain,
        keyed by chain index.  A MultiGraph because two chains may join the same pair of
        nodes and a loop joins a node to itself.

        By default every attribute is one that every graph file format holds, so that
        ``networkx.write_graphml`` and ``write_gml`` take the graph as it is: nodes carry
        ``x``, ``y`` and ``degree``; edges ``chain`` (the index), ``length``, ``geometry``
        (the polyline as WKT, from the start node to the end node), ``mean_width`` when
        widths were measured and, with sources, ``sources`` (the labels, comma-separated)
        and the carried attributes (None values left out).  ``nx.draw(graph, pos)`` takes
        ``pos = {n: (d["x"], d["y"]) for n, d in graph.nodes(data=True)}``.

        ``plain=False`` keeps arrays instead, for computing on the graph in memory: nodes
        carry ``pos`` (x, y), edges ``chain``, ``points`` (the (k, 2) polyline), ``length``
        and, when computed, ``widths``.
        """
        nx = require("networkx", "to_networkx()", "networkx")
        if plain:
            return self._plain_graph(nx)
        graph = nx.MultiGraph()
        for i, (x, y) in enumerate(self.nodes.tolist()):
            graph.add_node(i, pos=(x, y))
        lengths = self.lengths().tolist()
        for k, chain in enumerate(self.chains):
            start, end = (int(v) for v in self.chain_node_ids[k])
            attrs: dict[str, Any] = {"chain": k, "points": chain, "length": lengths[k]}
            if self.widths is not None:
                attrs["widths"] = self.widths[k]
            graph.add_edge(start, end, key=k, **attrs)
        return graph

    def _plain_graph(self, nx: Any) -> Any:
        graph = nx.MultiGraph()
        for i, ((x, y), degree) in enumerate(zip(self.nodes.reshape(-1, 2).tolist(), self.degrees().tolist())):
            graph.add_node(i, x=x, y=y, degree=degree)
        columns = self.chain_columns()
        ids = columns.pop("start_node"), columns.pop("end_node")
        if "sources" in columns:
            columns["sources"] = np.array([",".join(map(str, v)) for v in columns["sources"]], dtype=object)
        for k, chain in enumerate(self.chains):
            attrs = {name: _json_value(values[k]) for name, values in columns.items()}
            attrs["geometry"] = wkt_line(chain)
            graph.add_edge(
                int(ids[0][k]), int(ids[1][k]), key=k, **{n: v for n, v in attrs.items() if v is not None}
            )
        return graph

    def to_crs(self, crs: Any) -> Centerlines:
        """The same chains and nodes in another CRS (needs the ``gis`` extra).  The lengths,
        widths and sources stay as they are, the lengths and widths in the units they were
        measured in: chains computed in a UTM zone and brought back to degrees keep their
        lengths in metres."""
        if self.crs is None:
            raise ValueError("these centerlines have no CRS to transform from")
        from ._crs import transform_points

        points = np.concatenate([*self.chains, self.nodes.reshape(-1, 2)]) if self.chains else self.nodes.reshape(-1, 2)
        moved = transform_points(points, self.crs, crs)
        cuts = np.cumsum([len(c) for c in self.chains])
        chains = np.split(moved[: cuts[-1] if len(cuts) else 0], cuts[:-1]) if self.chains else []
        nodes = moved[cuts[-1] if len(cuts) else 0 :]
        return replace(self, chains=list(chains), nodes=nodes, crs=_as_crs(crs), measured=self.lengths())

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


#: Every field of :class:`Centerlines` in its order, at its default (None without one): the
#: order a pickled instance holds them in, as its __init__ sets them.  The fields with a
#: default are class attributes, which an instance of :meth:`Centerlines.from_buffers` reads
#: unless it holds its own.
_UNSET = {f.name: None if f.default is MISSING else f.default for f in fields(Centerlines)}
#: The fields :meth:`Centerlines.from_buffers` leaves to be made from the buffers when first read.
_MADE_ON_READ = ("chains", "nodes", "chain_node_ids")


@lru_cache(maxsize=1)
def _ragged_lines() -> tuple[Any, int] | None:
    """The constructor behind ``shapely.from_ragged_array`` for MultiLineStrings and the type
    number it takes, when this shapely has it where 2.0 to 2.2 keep it."""
    try:
        import shapely  # type: ignore[import-untyped,unused-ignore]
        from shapely._geometry_helpers import _from_ragged_array_multi_linear  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        return None
    kind = int(shapely.GeometryType.MULTILINESTRING)
    # A private name may change what it takes or gives in any release: it is used only when it
    # builds, once tried here, what the public constructor builds from the same buffers.
    points = np.array([[0.0, 0.0], [1.0, 0.5], [2.0, 0.0], [3.0, 1.0], [4.0, 2.0]])
    offsets, parts = array("q", (0, 3, 5)), array("q", (0, 2))
    try:
        direct = _from_ragged_array_multi_linear(points, memoryview(offsets), parts, kind)[0]
        same = shapely.to_wkb(direct) == shapely.to_wkb(_public_lines(shapely, points, offsets, parts))
    except Exception:  # any failure of the private name leaves the public constructor
        return None
    return (_from_ragged_array_multi_linear, kind) if same else None


def _multilinestring(shapely: Any, points: FloatArray | None, offsets: Any) -> Any:
    """One MultiLineString: the lines the int64 ``offsets`` (a buffer, one more than there are
    lines) cut from ``points``, made in one call with no Python or shapely call per line."""
    count = len(offsets) - 1
    if not count:
        return shapely.MultiLineString([])
    parts = array("q", (0, count))
    direct = _ragged_lines()
    if direct is not None:
        # shapely's own constructor, called as from_ragged_array calls it but without its
        # checks and array conversions: the buffers are already of the types it reads, and
        # those checks cost, right after a native call, more than building the lines
        return direct[0](points, offsets, parts, direct[1])[0]
    return _public_lines(shapely, points, offsets, parts)


def _public_lines(shapely: Any, points: FloatArray | None, offsets: Any, parts: Any) -> Any:
    """The MultiLineString of the int64 buffers ``offsets`` and ``parts``, by shapely's public
    ragged-array constructor."""
    kind = shapely.GeometryType.MULTILINESTRING
    return shapely.from_ragged_array(kind, points, (np.frombuffer(offsets, np.int64), np.frombuffer(parts, np.int64)))[0]


def wkt_line(chain: FloatArray) -> str:
    """The WKT of a polyline (a Point for a chain of one distinct point), floats written to
    read back exactly."""
    pts = chain.tolist()
    if len(pts) == 1:
        return f"POINT ({pts[0][0]!r} {pts[0][1]!r})"
    return "LINESTRING (" + ", ".join(f"{x!r} {y!r}" for x, y in pts) + ")"


def _plain_list(labels: Any) -> list[Any]:
    """Labels as plain Python values (tuples of a MultiIndex kept as lists)."""
    return [list(v) if isinstance(v, tuple) else v for v in np.asarray(labels, dtype=object).tolist()]


def _json_value(value: Any) -> Any:
    """A NumPy or pandas scalar as the plain value JSON and graph files hold; missing values
    (None, NaN, pandas' NA) as None."""
    if isinstance(value, (list, np.ndarray, tuple)):
        return [_json_value(v) for v in value]
    if value is None:
        return None
    try:
        import pandas as pd  # type: ignore[import-untyped,unused-ignore]

        if pd.isna(value):
            return None
    except (ImportError, TypeError, ValueError):
        pass
    if isinstance(value, np.generic):
        value = value.item()
    # dates, decimals and other objects of a table: as the text they print as
    return value if isinstance(value, (str, int, float, bool)) else str(value)


def _as_crs(crs: Any) -> Any:
    import pyproj

    return pyproj.CRS.from_user_input(crs)


class GeoFrames(NamedTuple):
    """The GeoDataFrames of :meth:`Centerlines.to_geopandas`."""

    chains: Any
    nodes: Any
