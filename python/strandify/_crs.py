"""Coordinate reference systems: the one a GeoPandas input carries, the warning for
degrees, and the name a GeoJSON ``crs`` member gives it."""

from __future__ import annotations

import warnings
from typing import Any

from ._types import is_geopandas
from .errors import GeographicCrsWarning


def crs_of(drawing: object, stacklevel: int = 3) -> Any:
    """The CRS a GeoDataFrame or GeoSeries carries, else None; warns for degrees."""
    if not is_geopandas(drawing):
        return None
    crs = getattr(drawing, "crs", None)
    check_crs(crs, stacklevel=stacklevel + 1)
    return crs


def check_crs(crs: Any, where: str = "", stacklevel: int = 2) -> None:
    """Warn with :class:`GeographicCrsWarning` when ``crs`` counts in degrees."""
    if crs is None:
        return
    if isinstance(crs, str):
        try:
            import pyproj

            crs = pyproj.CRS.from_user_input(crs)
        except Exception:  # no pyproj, or a name it does not know: nothing to tell
            return
    if getattr(crs, "is_geographic", False):
        warnings.warn(
            GeographicCrsWarning(
                f"{where}the CRS {crs.to_string()} counts in degrees, but buffer distances and "
                f"feature sizes are lengths; reproject to a projected CRS first (e.g. the UTM zone "
                f"of the data: gdf.to_crs(gdf.estimate_utm_crs()), or ogr2ogr -t_srs)"
            ),
            stacklevel=stacklevel + 1,
        )


def crs_name(crs: Any) -> str | None:
    """The name of ``crs`` for a GeoJSON ``crs`` member; None for none or WGS 84."""
    if crs is None:
        return None
    if isinstance(crs, str):
        text = crs
    else:
        authority = crs.to_authority() if hasattr(crs, "to_authority") else None
        if authority is None:
            return str(crs.to_wkt()) if hasattr(crs, "to_wkt") else str(crs)
        text = f"urn:ogc:def:crs:{authority[0]}::{authority[1]}"
    if text.upper() in ("EPSG:4326", "URN:OGC:DEF:CRS:EPSG::4326", "URN:OGC:DEF:CRS:OGC:1.3:CRS84", "OGC:CRS84"):
        return None
    return text
