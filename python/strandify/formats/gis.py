"""GeoPackage, Shapefile and GPX files through pyogrio (the ``gis`` extra): their line
geometries (with ``fill``, their polygons) with the layer's CRS in, GeoPackages out."""

from __future__ import annotations

import tempfile
import warnings
from pathlib import Path
from typing import Any

from .._optional import require
from .._read_lines import read_curves
from .._read_shapes import read_polygons
from .._types import FloatArray
from ..errors import DrawingError
from .drawing import Drawing, Part, region_drawing

#: The extensions read here.
EXTENSIONS = (".gpkg", ".shp", ".gpx")


def read(path: Path, ext: str, fill: bool = False) -> Drawing:
    """The line geometries of every layer of the file (of a GPX file, its tracks and routes)."""
    pyogrio = require("pyogrio", f"reading {ext}", "gis")
    require("geopandas", f"reading {ext}", "gis")
    if not path.exists():
        raise DrawingError("file not found")
    if path.is_dir():
        raise DrawingError("is a directory, not a file")
    try:
        layers = [str(row[0]) for row in pyogrio.list_layers(path)]
        if ext == ".gpx":
            layers = [name for name in layers if name in ("tracks", "routes")]
        curves: list[FloatArray] = []
        regions: list[list[FloatArray]] = []
        crs: Any = None
        for layer in layers:
            frame = pyogrio.read_dataframe(path, layer=layer)
            if crs is None and frame.crs is not None:
                crs = frame.crs
            geoms = frame.geometry
            if fill:
                areas = geoms[geoms.geom_type.isin(["Polygon", "MultiPolygon"]) & ~geoms.is_empty]
                regions.extend(read_polygons(areas))
                continue
            lines = geoms[geoms.geom_type.isin(["LineString", "MultiLineString", "LinearRing"]) & ~geoms.is_empty]
            curves.extend(c.points for c in read_curves(lines))
    except DrawingError:
        raise
    except Exception as exc:  # GDAL reports assorted errors on broken files
        raise DrawingError(f"cannot read {ext} file: {str(exc).strip().splitlines()[0] if str(exc).strip() else type(exc).__name__}") from None
    if fill:
        return region_drawing(regions, crs=crs)
    return Drawing(curves, y_up=True, crs=crs)


def render(parts: list[Part]) -> bytes:
    """A GeoPackage with the layers ``chains`` and ``nodes`` (see :meth:`Centerlines.to_geopandas`)."""
    pyogrio = require("pyogrio", "writing .gpkg", "gis")
    pd = require("pandas", "writing .gpkg", "gis")
    chains, nodes = [], []
    for layer, r in parts:
        c, n = r.to_geopandas()
        if layer is not None:
            c["layer"] = layer.name
            n["layer"] = layer.name
        chains.append(c)
        nodes.append(n)
    gpd = require("geopandas", "writing .gpkg", "gis")
    crs = parts[0][1].crs if parts else None
    with tempfile.TemporaryDirectory() as tmp:
        target = Path(tmp) / "out.gpkg"
        for name, frames in (("chains", chains), ("nodes", nodes)):
            frame = gpd.GeoDataFrame(pd.concat(frames, ignore_index=True), geometry="geometry", crs=crs)
            kind = "LineString" if name == "chains" else "Point"
            with warnings.catch_warnings():
                # a drawing without CRS (an SVG, plain JSON) is written without one, as asked
                warnings.filterwarnings("ignore", message=".*'crs' was not provided")
                pyogrio.write_dataframe(frame, target, layer=name, driver="GPKG", geometry_type=kind)
        return target.read_bytes()
