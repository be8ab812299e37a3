"""JSON files: a list of curves, each a list of ``[x, y]`` pairs, an object holding one
under ``"curves"`` or ``"chains"`` (so results read back in, as do the ``"layers"`` of a
result run in parts), or any GeoJSON object; and the results written as plain lists.

``null`` coordinates count as NaN and split their curve.  A ``.geojson`` file
is read here too, held to GeoJSON.
"""

from __future__ import annotations

import importlib
import json
from typing import Any

from .._geojson import lines, positions
from .._types import FloatArray
from ..errors import DrawingError
from .drawing import Drawing, Layer, Part, region_drawing
from .geojson import declared_crs, feature_rows, regions


def load(data: bytes) -> Any:
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError:
        raise DrawingError("not a UTF-8 text file") from None
    try:
        return json.loads(text)
    except json.JSONDecodeError as exc:
        raise DrawingError(f"invalid JSON: {exc.msg} (line {exc.lineno}, column {exc.colno})") from None
    except RecursionError:
        raise DrawingError("invalid JSON: nested too deeply") from None
    except ValueError as exc:  # e.g. an integer beyond the interpreter's digit limit
        raise DrawingError(f"invalid JSON: {exc}") from None


def read(data: bytes, *, geojson: bool, fill: bool) -> Drawing:
    """The drawing of a JSON (``geojson``: a GeoJSON) file's content."""
    parsed = load(data)
    crs = declared_crs(parsed)
    if fill:
        shapes = regions(parsed)
        rows = feature_rows(parsed, fill, crs)
        # the shapes of a file with attributes run as its rows: only when the rows hold every
        # polygon read here (a polygon inside a geometry collection is no row's)
        if rows is not None and _polygon_count(rows) != len(shapes):
            rows = None
        return region_drawing(shapes, crs=crs, features=rows)
    if not geojson and isinstance(parsed, dict) and "type" not in parsed and "layers" in parsed:
        return _layered(parsed["layers"])
    curves = _curves(parsed, geojson=geojson)
    return Drawing(curves, y_up=True, crs=crs, features=feature_rows(parsed, fill, crs))


def _polygon_count(rows: Any) -> int:
    shapely: Any = importlib.import_module("shapely")
    return int(shapely.get_num_geometries(rows.geometry.to_numpy()).sum())


def _layered(layers: Any) -> Drawing:
    """The layers :func:`render` writes for a drawing run in parts, each a drawing of its own again."""
    if not isinstance(layers, list) or not all(isinstance(layer, dict) for layer in layers):
        raise DrawingError('"layers" must be a list of objects, each with its "chains"')
    parts = [
        Layer(str(layer.get("name") or f"layer {k + 1}"), _curve_list(layer.get("chains"), f"layers[{k}].chains"))
        for k, layer in enumerate(layers)
    ]
    return Drawing([c for part in parts for c in part.curves], y_up=True, layers=parts or None)


def _curves(data: Any, *, geojson: bool) -> list[FloatArray]:
    if isinstance(data, dict) and "type" in data:
        return lines(data)
    if geojson:
        raise DrawingError("not a GeoJSON object (no \"type\" member)")
    if isinstance(data, dict):
        for key in ("curves", "chains"):
            if key in data:
                return _curve_list(data[key], key)
        raise DrawingError('expected a list of curves, or an object with "curves" or "chains"')
    if isinstance(data, list):
        return _curve_list(data, None)
    raise DrawingError(f"expected a list of curves, got a JSON {type(data).__name__}")


def _curve_list(items: Any, key: str | None) -> list[FloatArray]:
    where = f'"{key}"' if key else "the top-level list"
    if not isinstance(items, list):
        raise DrawingError(f"{where} must be a list of curves")
    return [positions(curve, f"curve {i}") for i, curve in enumerate(items)]


def render(parts: list[Part]) -> dict[str, Any]:
    """:meth:`Centerlines.to_json`; with layers, one such object per layer under ``layers``."""
    if len(parts) == 1 and parts[0][0] is None:
        return parts[0][1].to_json()
    return {"layers": [{"name": layer.name if layer else "", **r.to_json()} for layer, r in parts]}


def dump(data: dict[str, Any]) -> bytes:
    """``data`` as JSON text; finite numbers only, as JSON has no others."""
    try:
        return (json.dumps(data, allow_nan=False) + "\n").encode()
    except ValueError:
        raise DrawingError("cannot write non-finite coordinates as JSON") from None
