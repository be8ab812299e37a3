"""GeoJSON files: the lines (or, with ``fill``, the polygons) of any GeoJSON object, its
``crs`` member, and the results written back as one FeatureCollection."""

from __future__ import annotations

import importlib.util
from typing import Any

from .._crs import as_crs
from .._geojson import polygons
from .._types import FloatArray
from ..errors import DrawingError
from .drawing import Part


def declared_crs(data: Any) -> Any:
    """The CRS a ``crs`` member names, the way GDAL writes it; None without one.  A name that
    is no CRS is refused here, with the file, rather than when a writer or a length needs it."""
    crs = data.get("crs") if isinstance(data, dict) else None
    if isinstance(crs, dict) and crs.get("type") == "name":
        properties = crs.get("properties")
        name = properties.get("name") if isinstance(properties, dict) else None
        if isinstance(name, str) and name:
            _check_crs_name(name)
            return name
    return None


def _check_crs_name(name: str) -> None:
    if importlib.util.find_spec("pyproj") is None:
        return  # nothing here reads it then; it is only written back as it came
    try:
        as_crs(name)
    except Exception as exc:  # pyproj's CRSError, and whatever a hostile string gives it
        raise DrawingError(f"the crs member names {name[:80]!r}, which is not a coordinate reference system ({type(exc).__name__})") from None


def feature_rows(data: Any, fill: bool, crs: Any) -> Any:
    """The features of a FeatureCollection with lines (with ``fill``, polygons) as a
    GeoDataFrame, whose properties the results then carry as a GIS layer's attributes do; None
    for any other GeoJSON object, without geopandas, or when geopandas cannot read the
    features (the lines themselves are read here either way)."""
    if not isinstance(data, dict) or data.get("type") != "FeatureCollection":
        return None
    features = data.get("features")
    if not isinstance(features, list) or importlib.util.find_spec("geopandas") is None:
        return None
    geopandas: Any = importlib.import_module("geopandas")
    kinds = ("Polygon", "MultiPolygon") if fill else ("LineString", "MultiLineString")
    try:
        frame = geopandas.GeoDataFrame.from_features(features, crs=crs)
        if "geometry" not in frame or not len(frame):
            return None
        geoms = frame.geometry
        rows = frame[geoms.geom_type.isin(kinds) & ~geoms.is_empty]
    except Exception:  # a feature shapely cannot build: the file reads as before, without attributes
        return None
    return rows if len(rows) else None


def same_crs(a: Any, b: Any) -> bool:
    """Whether two CRSs are the same one."""
    return bool(as_crs(a).equals(as_crs(b)))


def regions(data: Any) -> list[list[FloatArray]]:
    """The Polygon and MultiPolygon geometries of a GeoJSON object; the others are skipped."""
    if not (isinstance(data, dict) and "type" in data):
        raise DrawingError("--fill reads GeoJSON Polygon and MultiPolygon geometries; this JSON holds none")
    try:
        return polygons(data, strict=False)
    except (TypeError, ValueError, AttributeError) as exc:
        raise DrawingError(str(exc)) from None


def render(parts: list[Part], nodes: bool = False) -> dict[str, Any]:
    """One FeatureCollection (see :meth:`Centerlines.to_geojson`, ``nodes`` adding the node
    Points); with layers, each feature names its layer in the ``layer`` property, and all are
    in the first layer's CRS."""
    if len(parts) == 1 and parts[0][0] is None:
        return parts[0][1].to_geojson(nodes=nodes)
    out: dict[str, Any] = {"type": "FeatureCollection", "features": []}
    crs = parts[0][1].crs if parts else None
    for layer, r in parts:
        if r.crs is not None and crs is not None and not same_crs(r.crs, crs):
            r = r.to_crs(crs)  # a FeatureCollection holds one CRS
        data = r.to_geojson(nodes=nodes)
        for feature in data["features"]:
            feature["properties"]["layer"] = layer.name if layer else ""
        out["features"].extend(data["features"])
        if "crs" in data:
            out["crs"] = data["crs"]
    return out
