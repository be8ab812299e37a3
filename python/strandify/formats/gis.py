"""Vector GIS files through pyogrio and GDAL (the ``gis`` extra): GeoPackage, Shapefile, GPX,
FlatGeobuf, GeoParquet, OpenStreetMap PBF, GML, KML and whatever else GDAL opens.

Each layer of a file is a drawing of its own, in its own CRS, with its line geometries (with
``fill``, its polygons) and its rows, whose attributes the results carry.  Out go
GeoPackages (a ``chains`` and a ``nodes`` layer, or for the layers of a GIS file a layer of
chains under each layer's name and one of nodes beside it), FlatGeobuf and GeoParquet files
(the chains).
"""

from __future__ import annotations

import json
import tempfile
import warnings
from collections.abc import Sequence
from pathlib import Path
from typing import Any

import numpy as np

from .._optional import require
from .._read_lines import read_curves
from .._read_shapes import read_polygons
from .._types import FloatArray
from ..errors import DrawingError
from .drawing import Drawing, Layer, Part
from .geojson import same_crs

#: The extensions known to be GIS files; any other extension is offered to GDAL as well.
EXTENSIONS = (".gpkg", ".shp", ".gpx", ".fgb", ".parquet", ".pbf", ".gml", ".kml", ".gdb", ".dxf")
#: The extensions written here, with GDAL's driver (None: written by geopandas).
WRITERS = {".gpkg": "GPKG", ".fgb": "FlatGeobuf", ".parquet": None}

_LINES = ("LineString", "MultiLineString", "LinearRing")
_POLYGONS = ("Polygon", "MultiPolygon")


class UnknownFormat(DrawingError):
    """GDAL does not know the file's format."""


def read(path: Path, ext: str, fill: bool = False, layers: Sequence[str] | None = None) -> Drawing:
    """The line geometries (with ``fill``, the polygons) of the file, a drawing per layer.

    ``layers`` picks layers by name; without it every layer is read (of a GPX file, its
    tracks and routes), and a layer without geometries of the kind asked for is skipped with
    a warning.  A file of one layer gives a drawing without layers."""
    pyogrio = require("pyogrio", f"reading {ext or 'GIS files'}", "gis")
    require("geopandas", f"reading {ext or 'GIS files'}", "gis")
    if not path.exists():
        raise DrawingError("file not found")
    if path.is_dir() and ext != ".gdb":
        raise DrawingError("is a directory, not a file")
    try:
        names = [path.stem] if ext == ".parquet" else [str(row[0]) for row in pyogrio.list_layers(path)]
    except Exception as exc:  # GDAL reports assorted errors on broken files
        text = _first_line(exc)
        if ext not in EXTENSIONS and ("not recognized" in text or "supported file format" in text):
            raise UnknownFormat(text) from None
        raise DrawingError(f"cannot read {ext} file: {text}") from None
    chosen = _chosen(names, ext, layers)
    out: list[Layer] = []
    for name in chosen:
        try:
            layer, rows = _layer(pyogrio, path, name, fill)
        except DrawingError:
            raise
        except Exception as exc:
            raise DrawingError(f"cannot read {ext} file: {_first_line(exc)}") from None
        if layer is None:
            # an empty layer loses nothing; one of other geometries is worth a note
            if rows and (layers is not None or len(chosen) > 1):
                warnings.warn(_skipped(pyogrio, path, name, fill), UserWarning, stacklevel=2)
            continue
        out.append(layer)
    return _drawing(out, fill)


def _chosen(names: list[str], ext: str, layers: Sequence[str] | None) -> list[str]:
    if layers is None:
        if ext == ".gpx":
            return [name for name in names if name in ("tracks", "routes")]
        return names
    missing = [name for name in layers if name not in names]
    if missing:
        raise DrawingError(f"no layer {missing[0]!r}; the file has {', '.join(map(repr, names)) or 'none'}")
    return list(dict.fromkeys(layers))


def _layer(pyogrio: Any, path: Path, name: str, fill: bool) -> tuple[Layer | None, int]:
    """One layer as a drawing's part (None when it holds nothing of the kind asked for), and
    how many rows it has."""
    # GDAL's OpenStreetMap reader refuses to read one layer after another with its own
    # node index, which needs the nodes in file order within every layer
    extra = {"USE_CUSTOM_INDEXING": "NO"} if path.suffix.lower() in (".pbf", ".osm") else {}
    if path.suffix.lower() == ".parquet":
        # GeoParquet through pyarrow: GDAL's reader of it is not in every build
        frame = require("geopandas", "reading .parquet", "gis").read_parquet(path)
    else:
        frame = pyogrio.read_dataframe(path, layer=name, **extra)
    geoms = frame.geometry
    kinds = _POLYGONS if fill else _LINES
    rows = frame[geoms.geom_type.isin(kinds) & ~geoms.is_empty]
    if not len(rows):
        return None, len(frame)
    if fill:
        regions = read_polygons(rows)
        rings = [ring for group in regions for ring in group]
        return Layer(name, rings, regions=regions, crs=rows.crs, features=rows), len(frame)
    curves: list[FloatArray] = [c.points for c in read_curves(rows)]
    return Layer(name, curves, crs=rows.crs, features=rows), len(frame)


def _skipped(pyogrio: Any, path: Path, name: str, fill: bool) -> str:
    """The note for a layer of other geometries."""
    kind = "other geometrie" if path.suffix.lower() == ".parquet" else str(pyogrio.read_info(path, layer=name).get("geometry_type"))
    if not fill and "Polygon" in kind:
        return f"layer {name!r} skipped: it holds {kind}s; trace them with --fill"
    if fill and "Line" in kind:
        return f"layer {name!r} skipped: it holds {kind}s; leave out --fill to trace them"
    return f"layer {name!r} skipped: it holds {kind}, not {'polygons' if fill else 'lines'}"


def _drawing(layers: list[Layer], fill: bool) -> Drawing:
    curves = [c for layer in layers for c in layer.curves]
    regions = [r for layer in layers for r in layer.regions or []] if fill else None
    crs = layers[0].crs if layers else None
    if len(layers) == 1:
        only = layers[0]
        return Drawing(curves, y_up=True, crs=crs, regions=regions, features=only.features)
    return Drawing(curves, y_up=True, crs=crs, regions=regions, layers=layers)


def _first_line(exc: Exception) -> str:
    text = str(exc).strip()
    return text.splitlines()[0] if text else type(exc).__name__


def render(parts: list[Part], ext: str) -> bytes:
    """The bytes of a GeoPackage, FlatGeobuf or GeoParquet file of the results."""
    require("pyogrio", f"writing {ext}", "gis")
    with tempfile.TemporaryDirectory() as tmp:
        target = Path(tmp) / f"out{ext}"
        for layer_name, frame, kind in _frames(parts, ext):
            _write(frame, target, ext, layer_name, kind)
        return target.read_bytes()


def _frames(parts: list[Part], ext: str) -> list[tuple[str, Any, str]]:
    """(layer name, GeoDataFrame, geometry type) of every layer to write."""
    pd = require("pandas", f"writing {ext}", "gis")
    gpd = require("geopandas", f"writing {ext}", "gis")
    if ext == ".gpkg" and parts and all(layer is not None and layer.crs is not None for layer, _ in parts):
        # the layers of a GIS file come back as layers of their own names, each in its CRS
        out = []
        for layer, result in parts:
            assert layer is not None
            chains, nodes = result.to_geopandas()
            out += [(layer.name, chains, "LineString"), (f"{layer.name}_nodes", nodes, "Point")]
        return out
    crs = parts[0][1].crs if parts else None
    chains, nodes = [], []
    for layer, result in parts:
        if result.crs is not None and crs is not None and not same_crs(result.crs, crs):
            result = result.to_crs(crs)  # one file layer holds one CRS: the first part's
        c, n = result.to_geopandas()
        if layer is not None:
            c["layer"] = layer.name
            n["layer"] = layer.name
        chains.append(c)
        nodes.append(n)
    frames = [("chains", gpd.GeoDataFrame(pd.concat(chains, ignore_index=True), geometry="geometry", crs=crs), "LineString")]
    if ext == ".gpkg":
        frames.append(("nodes", gpd.GeoDataFrame(pd.concat(nodes, ignore_index=True), geometry="geometry", crs=crs), "Point"))
    return frames


def _write(frame: Any, target: Path, ext: str, layer: str, kind: str) -> None:
    frame = _flat(frame)
    if WRITERS[ext] is None:
        require("pyarrow", "writing .parquet", "gis")
        frame.to_parquet(target)
        return
    pyogrio = require("pyogrio", f"writing {ext}", "gis")
    with warnings.catch_warnings():
        # a drawing without CRS (an SVG, plain JSON) is written without one, as asked
        warnings.filterwarnings("ignore", message=".*'crs' was not provided")
        pyogrio.write_dataframe(frame, target, layer=layer, driver=WRITERS[ext], geometry_type=kind)


def _flat(frame: Any) -> Any:
    """``frame`` with list and other non-scalar values (``sources``, list attributes) as JSON
    text, which every format holds."""
    for name in frame.columns:
        if name == frame.geometry.name or frame[name].dtype != object:
            continue
        values = frame[name].tolist()
        if any(isinstance(v, (list, tuple, dict, np.ndarray)) for v in values):
            frame = frame.assign(**{name: [_json_text(v) for v in values]})
    return frame


def _json_text(value: Any) -> Any:
    if value is None or isinstance(value, (str, int, float, bool)):
        return value
    return json.dumps(value.tolist() if isinstance(value, np.ndarray) else value, default=str)
