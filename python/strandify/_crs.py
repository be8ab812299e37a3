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


#: What to do about data in degrees, in the API.
DEGREES_HINT = (
    'pass crs="utm" to compute in the UTM zone of the data, or reproject to a projected CRS first '
    "(gdf.to_crs(gdf.estimate_utm_crs()), or ogr2ogr -t_srs)"
)


def check_crs(crs: Any, where: str = "", stacklevel: int = 2, hint: str = DEGREES_HINT) -> None:
    """Warn with :class:`GeographicCrsWarning` when ``crs`` counts in degrees; ``hint`` says
    what to do about it."""
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
                f"feature sizes are lengths, not a projected CRS's metres; {hint}"
            ),
            stacklevel=stacklevel + 1,
        )


def work_crs(drawing: Any, crs: Any) -> Any:
    """A GeoDataFrame or GeoSeries ``drawing`` reprojected to ``crs`` ("utm": the UTM zone of
    its middle); ``drawing`` itself when ``crs`` is None.  Anything else with a ``crs`` is a
    ValueError: plain coordinates carry no CRS to reproject from."""
    if crs is None:
        return drawing
    if not is_geopandas(drawing) or getattr(drawing, "crs", None) is None:
        raise ValueError("crs= reprojects a GeoDataFrame or GeoSeries that has a CRS; this input has none")
    target = drawing.estimate_utm_crs() if isinstance(crs, str) and crs.lower() == "utm" else crs
    return drawing.to_crs(target)


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


def as_crs(crs: Any) -> Any:
    """``crs`` (a pyproj CRS, an authority string such as "EPSG:32633", WKT) as a pyproj CRS."""
    import pyproj

    return pyproj.CRS.from_user_input(crs)


def is_geographic(crs: Any) -> bool:
    """Whether ``crs`` counts in degrees; False for None or a CRS pyproj cannot read."""
    if crs is None:
        return False
    try:
        return bool(as_crs(crs).is_geographic)
    except Exception:  # no pyproj, or a name it does not know
        return False


def transform_points(points: Any, source: Any, target: Any) -> Any:
    """``(n, 2)`` points from CRS ``source`` to ``target``, x and y in each CRS's
    easting/longitude order whatever its declared axis order."""
    import numpy as np
    import pyproj

    transformer = pyproj.Transformer.from_crs(as_crs(source), as_crs(target), always_xy=True)
    x, y = transformer.transform(points[:, 0], points[:, 1])
    return np.column_stack((np.asarray(x, dtype=np.float64), np.asarray(y, dtype=np.float64)))


def local_utm(crs: Any, bounds: tuple[float, float, float, float]) -> Any:
    """The UTM zone of the middle of ``bounds`` (in ``crs``), as geopandas estimates it."""
    import geopandas as gpd  # type: ignore[import-untyped,unused-ignore]
    import shapely  # type: ignore[import-untyped,unused-ignore]

    return gpd.GeoSeries([shapely.box(*bounds)], crs=as_crs(crs)).estimate_utm_crs()


def mercator_stretch(crs: Any, bounds: tuple[float, float, float, float]) -> float | None:
    """How many times too long lengths in Web Mercator (EPSG:3857) are in the middle of
    ``bounds``: 1/cos(latitude).  None for any other CRS."""
    import math

    import numpy as np

    try:
        code = as_crs(crs).to_epsg()
    except Exception:
        return None
    if code != 3857:
        return None
    middle = np.array([[(bounds[0] + bounds[2]) / 2, (bounds[1] + bounds[3]) / 2]])
    latitude = float(transform_points(middle, crs, "EPSG:4326")[0, 1])
    return 1.0 / math.cos(math.radians(latitude))
