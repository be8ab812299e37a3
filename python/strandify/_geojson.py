"""GeoJSON objects (and ``__geo_interface__`` mappings) read into lines and polygons.

One walk through the collections, :func:`geometries`, serves both: the lines
of a drawing (from files and from mappings handed to the API) and the polygons
of filled shapes.  It walks in two manners.  ``checked``, for the lines, holds
every object to GeoJSON (dicts, ``features`` and ``geometries`` lists) and
names the feature at fault in a :class:`DrawingError`; unchecked, for the
shapes, takes any mapping and any iterable of members, and leaves what is not
a geometry to the caller.
"""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from typing import Any

import numpy as np

from ._geometry import ring_array
from ._types import FloatArray
from .errors import DrawingError


def _members(obj: Any, kind: str, key: str, at: str, checked: bool) -> list[Any]:
    members = obj.get(key)
    if not checked:
        return list(members or [])
    if isinstance(members, tuple):  # mappings from __geo_interface__
        members = list(members)
    if not isinstance(members, list):
        raise DrawingError(f'{at}a {kind} needs a "{key}" list')
    return members


def geometries(data: Any, *, checked: bool) -> Iterator[tuple[Any, Any, str]]:
    """Every object below ``data`` that is not a collection, as ``(type, object, at)``.

    ``at`` is ``"feature {i}: "`` inside a FeatureCollection, else empty; the
    type is None for an object that is not a mapping (unchecked only).
    Features without geometry are passed over.
    """
    # an explicit stack: a hostile file could nest collections deep enough to
    # exhaust the interpreter's recursion limit
    stack: list[tuple[Any, str]] = [(data, "")]
    while stack:
        obj, where = stack.pop()
        at = f"{where}: " if where else ""
        if obj is None:
            continue  # a Feature without geometry
        if checked and not isinstance(obj, dict):
            raise DrawingError(f"{at}expected a GeoJSON object")
        kind = obj.get("type") if isinstance(obj, Mapping) else None
        if kind == "FeatureCollection":
            features = _members(obj, kind, "features", at, checked)
            stack.extend((f, f"feature {i}") for i, f in reversed(list(enumerate(features))))
        elif kind == "Feature":
            stack.append((obj.get("geometry"), where))
        elif kind == "GeometryCollection":
            stack.extend((g, where) for g in reversed(_members(obj, kind, "geometries", at, checked)))
        else:
            yield kind, obj, at


def positions(coords: Any, what: str) -> FloatArray:
    """A list of [x, y(, ...)] positions as an (n, 2) array; extra ordinates are dropped."""
    bad = DrawingError(f"{what}: expected a list of [x, y] number pairs")
    if not isinstance(coords, (list, tuple)):  # tuples: mappings from __geo_interface__
        raise bad
    if not coords:
        return np.empty((0, 2), dtype=np.float64)
    if any(isinstance(v, (str, bool)) for p in coords if isinstance(p, (list, tuple)) for v in p):
        raise bad
    try:
        arr = np.array(coords, dtype=np.float64)
    except OverflowError:
        raise DrawingError(f"{what}: a coordinate is too large for a floating-point number") from None
    except (TypeError, ValueError):
        raise bad from None
    if arr.ndim != 2 or arr.shape[1] < 2:
        raise bad
    return np.ascontiguousarray(arr[:, :2])


def lines(data: Any) -> list[FloatArray]:
    """The LineString and MultiLineString geometries of ``data``, one array per line; other
    geometries are skipped, anything that is not GeoJSON raises :class:`DrawingError`."""
    curves: list[FloatArray] = []
    for kind, obj, at in geometries(data, checked=True):
        if kind == "LineString":
            curves.append(positions(obj.get("coordinates"), f"{at}LineString"))
        elif kind == "MultiLineString":
            parts = obj.get("coordinates")
            if not isinstance(parts, (list, tuple)):
                raise DrawingError(f"{at}MultiLineString coordinates must be a list of lines")
            curves.extend(positions(line, f"{at}MultiLineString") for line in parts)
        elif not isinstance(kind, str):
            raise DrawingError(f'{at}missing or invalid "type"')
    return curves


def polygons(data: Mapping[str, Any], strict: bool = True) -> list[list[FloatArray]]:
    """The polygons of a GeoJSON object, each a list of rings; other geometries raise TypeError,
    or are skipped when not ``strict`` (files mix lines and points with their areas)."""
    out: list[list[FloatArray]] = []
    for kind, obj, _ in geometries(data, checked=False):
        if kind == "Polygon":
            coords = obj.get("coordinates") or []
            if len(coords):
                out.append([ring_array(r, "Polygon") for r in coords])
        elif kind == "MultiPolygon":
            for poly in obj.get("coordinates") or []:
                if len(poly):
                    out.append([ring_array(r, "MultiPolygon") for r in poly])
        elif strict:
            raise TypeError(f"cannot use a GeoJSON {kind!r} as a filled shape; only Polygon and MultiPolygon are regions")
    return out
