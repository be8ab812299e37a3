"""What a reader gives and a writer needs: :class:`Drawing`, its :class:`Layer` parts,
and the units its lengths may carry."""

from __future__ import annotations

from dataclasses import dataclass, replace
from typing import Any

import numpy as np

from .._geometry import bounds_of, padded_bounds
from .._optional import require
from .._result import Centerlines
from .._types import Bounds, FloatArray
from ..errors import DrawingError

#: CSS pixels per unit of an SVG length.
SVG_UNITS = {"px": 1.0, "in": 96.0, "cm": 96.0 / 2.54, "mm": 96.0 / 25.4, "q": 96.0 / 101.6, "pt": 96.0 / 72.0, "pc": 16.0}
#: Metres per unit of a length in a projected CRS.
MAP_UNITS = {"m": 1.0, "km": 1000.0, "cm": 0.01, "mm": 0.001, "ft": 0.3048, "us-ft": 1200.0 / 3937.0, "mi": 1609.344}


@dataclass
class Layer:
    """A part of a drawing run on its own: an Inkscape layer, a stroke colour or the layer of
    a GIS file.  A GIS layer has its own ``crs`` and its ``features``, the GeoDataFrame of the
    rows its curves (or regions) come from."""

    name: str
    curves: list[FloatArray]
    stroke: str | None = None
    regions: list[list[FloatArray]] | None = None
    crs: Any = None
    features: Any = None


@dataclass
class Drawing:
    """Curves read from a file, plus what is needed to draw them back faithfully.

    ``y_up`` tells whether the source's y axis points up (GeoJSON, JSON, GIS
    files) or down (SVG).  ``viewbox`` is the SVG root's visible area as (min
    x, min y, max x, max y) in user units, and ``size`` its width and height as
    written (with their units), when it declares them.  ``layers`` holds the
    parts run apart, when the file has them; ``crs`` the coordinate reference
    system of a GIS source.  ``px_per_unit`` is how many CSS pixels one user
    unit of an SVG is.  ``features`` is the GeoDataFrame of the rows of a GIS file of one
    layer, whose attributes the results carry.
    """

    curves: list[FloatArray]
    y_up: bool
    viewbox: Bounds | None = None
    crs: Any = None
    size: tuple[str, str] | None = None
    layers: list[Layer] | None = None
    px_per_unit: float | None = None
    regions: list[list[FloatArray]] | None = None
    features: Any = None

    def frame(self) -> Bounds:
        """The area to show: the viewBox, else the curves' extent with a margin."""
        if self.viewbox is not None:
            return self.viewbox
        return padded_bounds(bounds_of(self.curves), 0.03)

    def parts(self) -> list[Layer]:
        """What runs as one drawing each: the layers, or the whole drawing."""
        if self.layers is not None:
            return self.layers
        return [Layer("", self.curves, regions=self.regions, crs=self.crs, features=self.features)]

    def length(self, value: float, unit: str) -> float:
        """``value`` ``unit`` in the drawing's own coordinates; DrawingError if it has no such unit."""
        unit = unit.lower()
        if self.px_per_unit is not None and unit in SVG_UNITS:
            return value * SVG_UNITS[unit] / self.px_per_unit
        metres = _metres_per_unit(self.crs)
        if metres is not None and unit in MAP_UNITS:
            return value * MAP_UNITS[unit] / metres
        if self.px_per_unit is not None:
            known = ", ".join(SVG_UNITS)
        elif metres is not None:
            known = ", ".join(MAP_UNITS)
        else:
            raise DrawingError(f"a length in {unit!r} needs a drawing with physical units; give it in the drawing's own units")
        raise DrawingError(f"unknown unit {unit!r} for this drawing; expected one of {known}")


#: One computed part of a drawing: the layer it came from (None for a whole
#: drawing without layers) and its centerlines.
Part = tuple[Layer | None, Centerlines]


def region_drawing(regions: list[list[FloatArray]], **kwargs: Any) -> Drawing:
    """A drawing of filled regions; its curves are every ring, for previews and the extent."""
    return Drawing([ring for rings in regions for ring in rings], y_up=True, regions=regions, **kwargs)


def _metres_per_unit(crs: Any) -> float | None:
    if crs is None:
        return None
    try:
        pyproj = require("pyproj", "lengths with units", "gis")
        info = pyproj.CRS.from_user_input(crs).axis_info
    except Exception:  # no pyproj, or a CRS it cannot read: no map units then
        return None
    if not info or info[0].unit_name in ("degree", "radian", "grad"):
        return None
    factor = float(info[0].unit_conversion_factor)
    return factor if factor > 0 else None


def with_parts(drawing: Drawing, parts: list[Layer]) -> Drawing:
    """``drawing`` made of ``parts`` (as many as ``drawing.parts()``): its layers, or its one
    part as the whole drawing."""
    curves = [c for layer in parts for c in layer.curves]
    regions = None if drawing.regions is None else [r for layer in parts for r in layer.regions or []]
    if drawing.layers is not None:
        return replace(drawing, curves=curves, regions=regions, layers=parts, crs=parts[0].crs, viewbox=None)
    only = parts[0]
    return replace(drawing, curves=curves, regions=regions, crs=only.crs, features=only.features, viewbox=None)


def reprojected(layer: Layer, crs: Any) -> Layer:
    """``layer`` in the CRS ``crs``: its curves, regions and rows."""
    from .._crs import as_crs, transform_points

    def move(arrays: list[FloatArray]) -> list[FloatArray]:
        if not arrays:
            return []
        moved = transform_points(np.concatenate(arrays), layer.crs, crs)
        return list(np.split(moved, np.cumsum([len(a) for a in arrays])[:-1]))

    regions = None
    if layer.regions is not None:
        rings = move([ring for rings in layer.regions for ring in rings])
        cuts = np.cumsum([len(rings) for rings in layer.regions])[:-1]
        regions = [list(group) for group in np.split(np.array(rings, dtype=object), cuts)] if rings else []
    features = None if layer.features is None else layer.features.to_crs(crs)
    return replace(layer, curves=move(layer.curves), regions=regions, crs=as_crs(crs), features=features)
