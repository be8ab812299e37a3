"""Reading drawings from files, and writing results.

Input formats, chosen by extension (or, for standard input, by a look at the
content):

- ``.svg``: every path, polyline, polygon, line, rect, circle and ellipse,
  with its transforms applied and curved segments flattened (needs the ``svg``
  extra).  Coordinates are the root element's user units (its viewBox).
  Nothing that is not drawn is read: shapes whose stroke is ``none`` or
  ``transparent`` (fill only), hidden ones (``display:none``,
  ``visibility:hidden``) and the content of ``<defs>``.  Inkscape layers
  (groups with ``inkscape:groupmode="layer"``) and, on request, stroke
  colours are kept apart as layers, each its own drawing.
- ``.geojson``: LineString and MultiLineString geometries, bare or inside
  Features, FeatureCollections and GeometryCollections; other geometries are
  skipped.  Only x and y of each position are used; a ``crs`` member is kept.
- ``.json``: a list of curves, each a list of ``[x, y]`` pairs; also an object
  holding such a list under ``"curves"`` or ``"chains"`` (so results read back
  in), or any GeoJSON object.  ``null`` coordinates count as NaN and split
  their curve.
- ``.gpkg``, ``.shp`` and ``.gpx`` through pyogrio (the ``gis`` extra): the
  line geometries of every layer (of a GPX file, its tracks and routes), with
  the layer's CRS.

With ``fill=True`` the regions are read instead of the strokes: the filled
shapes of an SVG (every shape whose fill is not ``none``, stroked or not; the
subpaths of one shape nested as in a font glyph, see
:func:`strandify._polygons.regions_from_subpaths`), and the Polygon and
MultiPolygon geometries of GeoJSON, JSON and GIS files.  ``Drawing.regions``
holds them, as lists of rings with the outer ring first; ``Drawing.curves``
then holds every ring, for previews and the drawing's extent.

Output formats, chosen by extension: ``.svg`` (the source's width, height and
viewBox kept, one group per layer), ``.geojson`` (a FeatureCollection, see
:meth:`Centerlines.to_geojson`, with the CRS), ``.json`` (see
:meth:`Centerlines.to_json`) and ``.gpkg`` (layers ``chains`` and ``nodes``,
see :meth:`Centerlines.to_geopandas`).
"""

from __future__ import annotations

import io
import json
import math
import os
import re
import tempfile
import warnings
import xml.etree.ElementTree as ET
from dataclasses import dataclass, replace
from pathlib import Path
from typing import Any

import numpy as np

from ._convert import FloatArray, bounds_of, diagonal
from ._optional import require
from ._result import Bounds, Centerlines, _attr, _num, crs_name, svg_polylines

GIS_INPUTS = (".gpkg", ".shp", ".gpx")
INPUT_FORMATS = (".svg", ".geojson", ".json", *GIS_INPUTS)
OUTPUT_FORMATS = (".svg", ".geojson", ".json", ".gpkg")

# Curved SVG segments are cut into pieces about this fraction of the drawing's
# diagonal long: far finer than any sensible feature size, so the flattening
# never shows in the centerlines.
_FLATTEN_FRACTION = 1.0 / 1000.0
_MAX_PIECES_PER_SEGMENT = 1000
_SVG_NS = "http://www.w3.org/2000/svg"
_INKSCAPE_NS = "http://www.inkscape.org/namespaces/inkscape"
_SHAPES = ("path", "polyline", "polygon", "line", "rect", "circle", "ellipse")
_LAYER_MARK = "data-strandify-layer"
_SKIP_MARK = "data-strandify-skip"

#: CSS pixels per unit of an SVG length.
SVG_UNITS = {"px": 1.0, "in": 96.0, "cm": 96.0 / 2.54, "mm": 96.0 / 25.4, "q": 96.0 / 101.6, "pt": 96.0 / 72.0, "pc": 16.0}
#: Metres per unit of a length in a projected CRS.
MAP_UNITS = {"m": 1.0, "km": 1000.0, "cm": 0.01, "mm": 0.001, "ft": 0.3048, "us-ft": 1200.0 / 3937.0, "mi": 1609.344}


class DrawingError(ValueError):
    """A file could not be read as a drawing; the message says why."""


@dataclass
class Layer:
    """A part of a drawing run on its own: an Inkscape layer or a stroke colour."""

    name: str
    curves: list[FloatArray]
    stroke: str | None = None
    regions: list[list[FloatArray]] | None = None


@dataclass
class Drawing:
    """Curves read from a file, plus what is needed to draw them back faithfully.

    ``y_up`` tells whether the source's y axis points up (GeoJSON, JSON, GIS
    files) or down (SVG).  ``viewbox`` is the SVG root's visible area as (min
    x, min y, max x, max y) in user units, and ``size`` its width and height as
    written (with their units), when it declares them.  ``layers`` holds the
    parts run apart, when the file has them; ``crs`` the coordinate reference
    system of a GIS source.  ``px_per_unit`` is how many CSS pixels one user
    unit of an SVG is.
    """

    curves: list[FloatArray]
    y_up: bool
    viewbox: Bounds | None = None
    crs: Any = None
    size: tuple[str, str] | None = None
    layers: list[Layer] | None = None
    px_per_unit: float | None = None
    regions: list[list[FloatArray]] | None = None

    def frame(self) -> Bounds:
        """The area to show: the viewBox, else the curves' extent with a margin."""
        if self.viewbox is not None:
            return self.viewbox
        box = bounds_of(self.curves)
        if box is None:
            return (0.0, 0.0, 1.0, 1.0)
        pad = diagonal(box) * 0.03 or 1.0
        return (box[0] - pad, box[1] - pad, box[2] + pad, box[3] + pad)

    def parts(self) -> list[Layer]:
        """What runs as one drawing each: the layers, or the whole drawing."""
        return self.layers if self.layers is not None else [Layer("", self.curves, regions=self.regions)]

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


def sniff(data: bytes) -> str:
    """The input extension that ``data`` looks like (for standard input)."""
    text = data.lstrip(b"\xef\xbb\xbf \t\r\n")[:1]
    if text == b"<":
        return ".svg"
    if text in (b"{", b"["):
        return ".json"
    raise DrawingError("cannot tell the format of standard input; use --from")


def read_drawing(
    path: str | os.PathLike[str],
    *,
    by_stroke: bool = False,
    data: bytes | None = None,
    fmt: str | None = None,
    fill: bool = False,
) -> Drawing:
    """Read the curves of a file (format by extension, or ``fmt``).

    ``data``, when given, is the file's content (standard input).
    ``by_stroke`` splits an SVG's layers further by stroke colour (by fill
    colour with ``fill``).  ``fill`` reads the filled regions instead of the
    strokes (see the module's documentation).  Raises :class:`DrawingError`
    for unreadable or unusable files, including files that hold no curves (or
    no regions) at all.
    """
    path = Path(path)
    ext = (fmt or path.suffix).lower()
    if ext and not ext.startswith("."):
        ext = "." + ext
    if ext not in INPUT_FORMATS:
        raise DrawingError(
            f"unknown input format {ext or '(no extension)'!r}; expected one of {', '.join(INPUT_FORMATS)}"
        )
    if ext in GIS_INPUTS:
        if data is not None:
            raise DrawingError(f"{ext} files cannot be read from standard input")
        drawing = _read_gis(path, ext, fill)
    else:
        raw = data if data is not None else _read_bytes(path)
        if ext == ".svg":
            drawing = _read_svg(raw, by_stroke, fill)
        elif fill:
            parsed = _load_json(raw)
            drawing = _region_drawing(_json_regions(parsed), crs=_json_crs(parsed))
        else:
            parsed = _load_json(raw)
            drawing = Drawing(_read_json_curves(parsed, geojson=ext == ".geojson"), y_up=True, crs=_json_crs(parsed))
    if fill and not drawing.regions and not (drawing.layers and any(layer.regions for layer in drawing.layers)):
        raise DrawingError("no filled shapes found" if ext == ".svg" else "no Polygon or MultiPolygon geometries found")
    if not any(len(c) for c in drawing.curves):
        raise DrawingError(_nothing_found(ext))
    return drawing


def _region_drawing(regions: list[list[FloatArray]], **kwargs: Any) -> Drawing:
    return Drawing([ring for rings in regions for ring in rings], y_up=True, regions=regions, **kwargs)


def _json_regions(data: Any) -> list[list[FloatArray]]:
    from ._polygons import _mapping_polygons

    if not (isinstance(data, dict) and "type" in data):
        raise DrawingError("--fill reads GeoJSON Polygon and MultiPolygon geometries; this JSON holds none")
    regions: list[list[FloatArray]] = []
    try:
        _mapping_polygons(data, regions, strict=False)
        return regions
    except (TypeError, AttributeError) as exc:
        raise DrawingError(str(exc)) from None


def _nothing_found(ext: str) -> str:
    if ext == ".svg":
        return "no paths, polylines or lines found"
    if ext == ".geojson":
        return "no LineString or MultiLineString geometries found"
    if ext in GIS_INPUTS:
        return "no line geometries found"
    return "no curves found"


def _read_bytes(path: Path) -> bytes:
    try:
        return path.read_bytes()
    except FileNotFoundError:
        raise DrawingError("file not found") from None
    except IsADirectoryError:
        raise DrawingError("is a directory, not a file") from None
    except PermissionError:
        raise DrawingError("permission denied") from None
    except OSError as exc:
        raise DrawingError(exc.strerror or str(exc)) from None


def _load_json(data: bytes) -> Any:
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


def _json_crs(data: Any) -> Any:
    crs = data.get("crs") if isinstance(data, dict) else None
    if isinstance(crs, dict) and crs.get("type") == "name":
        name = (crs.get("properties") or {}).get("name")
        if isinstance(name, str) and name:
            return name
    return None


# -- GIS files -----------------------------------------------------------------------


def _read_gis(path: Path, ext: str, fill: bool = False) -> Drawing:
    pyogrio = require("pyogrio", f"reading {ext}", "gis")
    require("geopandas", f"reading {ext}", "gis")
    if not path.exists():
        raise DrawingError("file not found")
    if path.is_dir():
        raise DrawingError("is a directory, not a file")
    from ._convert import read_curves

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
                from ._polygons import read_polygons

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
        return _region_drawing(regions, crs=crs)
    return Drawing(curves, y_up=True, crs=crs)


# -- JSON and GeoJSON ----------------------------------------------------------------


def _read_json_curves(data: Any, *, geojson: bool) -> list[FloatArray]:
    if isinstance(data, dict) and "type" in data:
        return geojson_curves(data)
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
    return [_points(curve, f"curve {i}") for i, curve in enumerate(items)]


def _points(coords: Any, what: str) -> FloatArray:
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


def geojson_curves(data: dict[str, Any]) -> list[FloatArray]:
    curves: list[FloatArray] = []
    # an explicit stack: a hostile file could nest collections deep enough to
    # exhaust the interpreter's recursion limit
    stack: list[tuple[Any, str]] = [(data, "")]
    while stack:
        obj, where = stack.pop()
        at = f"{where}: " if where else ""
        if obj is None:
            continue  # a Feature without geometry
        if not isinstance(obj, dict):
            raise DrawingError(f"{at}expected a GeoJSON object")
        kind = obj.get("type")
        if kind == "FeatureCollection":
            features = obj.get("features")
            if isinstance(features, tuple):
                features = list(features)
            if not isinstance(features, list):
                raise DrawingError(f'{at}a FeatureCollection needs a "features" list')
            stack.extend((f, f"feature {i}") for i, f in reversed(list(enumerate(features))))
        elif kind == "Feature":
            stack.append((obj.get("geometry"), where))
        elif kind == "GeometryCollection":
            geoms = obj.get("geometries")
            if isinstance(geoms, tuple):
                geoms = list(geoms)
            if not isinstance(geoms, list):
                raise DrawingError(f'{at}a GeometryCollection needs a "geometries" list')
            stack.extend((g, where) for g in reversed(geoms))
        elif kind == "LineString":
            curves.append(_points(obj.get("coordinates"), f"{at}LineString"))
        elif kind == "MultiLineString":
            lines = obj.get("coordinates")
            if not isinstance(lines, (list, tuple)):
                raise DrawingError(f"{at}MultiLineString coordinates must be a list of lines")
            curves.extend(_points(line, f"{at}MultiLineString") for line in lines)
        elif not isinstance(kind, str):
            raise DrawingError(f'{at}missing or invalid "type"')
    return curves


# -- SVG -----------------------------------------------------------------------------


def _declared_stroke(elem: ET.Element) -> str | None:
    style = elem.get("style") or ""
    found = None
    for item in style.split(";"):
        key, _, value = item.partition(":")
        if key.strip() == "stroke":
            found = value.strip()
    if found is None:
        found = elem.get("stroke")
    return None if found is None else found.strip().lower()


def _local(tag: str) -> str:
    return tag.rpartition("}")[2]


def _mark(root: ET.Element) -> list[str]:
    """Mark shapes whose stroke is declared invisible, and the Inkscape layers; returns the layer names."""
    names: list[str] = []
    stack: list[tuple[ET.Element, str | None]] = [(root, None)]
    while stack:
        elem, stroke = stack.pop()
        own = _declared_stroke(elem)
        stroke = own if own is not None else stroke
        tag = _local(elem.tag) if isinstance(elem.tag, str) else ""
        if tag in _SHAPES and stroke in ("none", "transparent"):
            elem.set(_SKIP_MARK, "1")
        if tag == "g" and elem.get(f"{{{_INKSCAPE_NS}}}groupmode") == "layer":
            elem.set(_LAYER_MARK, str(len(names)))
            names.append(elem.get(f"{{{_INKSCAPE_NS}}}label") or elem.get("id") or f"layer {len(names) + 1}")
        stack.extend((child, stroke) for child in reversed(list(elem)))
    return names


_SVG_LENGTH = re.compile(r"\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*([a-zA-Z]*)\s*")


def _svg_length(text: str | None) -> float | None:
    """A root width or height in CSS pixels; None for none, percentages and nonsense."""
    match = _SVG_LENGTH.fullmatch(text) if text is not None else None
    if match is None:
        return None
    unit = match.group(2).lower() or "px"
    if unit not in SVG_UNITS:
        return None
    value = float(match.group(1)) * SVG_UNITS[unit]
    return value if value > 0 and math.isfinite(value) else None


def _drawn(e: Any) -> bool:
    if e.values.get(_SKIP_MARK) or e.values.get("visibility") in ("hidden", "collapse"):
        return False
    stroke = e.stroke
    return not (stroke is not None and stroke.value is not None and stroke.alpha == 0)


def _filled(e: Any) -> bool:
    if e.values.get("visibility") in ("hidden", "collapse"):
        return False
    fill = e.fill
    return fill is not None and fill.value is not None and fill.alpha != 0


def _read_svg(data: bytes, by_stroke: bool = False, fill: bool = False) -> Drawing:
    se = require("svgelements", "reading SVG", "svg")
    try:
        root = ET.fromstring(data)  # svgelements skips over broken markup; refuse it up front
    except ET.ParseError as exc:
        raise DrawingError(f"invalid SVG: {exc}") from None
    except LookupError as exc:  # an encoding the interpreter does not know
        raise DrawingError(f"invalid SVG: {exc}") from None
    if root.tag not in ("svg", f"{{{_SVG_NS}}}svg"):
        raise DrawingError("invalid SVG: the root element is not <svg>")
    width_text, height_text = root.get("width"), root.get("height")
    width_px, height_px = _svg_length(width_text), _svg_length(height_text)
    viewbox = _viewbox(root)
    px_per_unit = 1.0
    if viewbox is not None:
        if width_px is not None:
            px_per_unit = width_px / (viewbox[2] - viewbox[0])
        elif height_px is not None:
            px_per_unit = height_px / (viewbox[3] - viewbox[1])
        # Coordinates stay in the units the drawing was made in.  svgelements
        # would map them through the viewBox into the viewport, and mapping them
        # back costs exactness, so the root's viewBox is taken off before parsing;
        # its size becomes the root's size, which percentages resolve against.
        del root.attrib["viewBox"]
        root.set("width", _num(viewbox[2] - viewbox[0]))
        root.set("height", _num(viewbox[3] - viewbox[1]))
    elif width_px is not None and height_px is not None:
        viewbox = (0.0, 0.0, width_px, height_px)  # user units are pixels then
    size = None
    if width_text is not None and height_text is not None and width_px is not None and height_px is not None:
        size = (width_text, height_text)
    layer_names = _mark(root)
    try:
        svg = se.SVG.parse(io.BytesIO(ET.tostring(root)), reify=True)
        shapes = []
        for e in svg.elements():
            if fill and isinstance(e, se.Shape) and not isinstance(e, se.SimpleLine) and _filled(e):
                shapes.append((e.values.get(_LAYER_MARK), e.fill.hex, list(se.Path(e))))
            elif not fill and isinstance(e, se.Shape) and _drawn(e):
                stroke = e.stroke.hex if e.stroke is not None and e.stroke.value is not None else None
                shapes.append((e.values.get(_LAYER_MARK), stroke, list(se.Path(e))))
    except Exception as exc:  # svgelements raises assorted errors on odd input
        raise DrawingError(f"invalid SVG: {exc}") from None
    step = _flatten_step([s for _, _, s in shapes])
    groups: dict[tuple[Any, Any], Layer] = {}
    curves: list[FloatArray] = []
    for layer, stroke, segments in shapes:
        flat = _flatten(se, segments, step)
        curves.extend(flat)
        regions = _regions(flat) if fill else None
        key = (layer, stroke if by_stroke else None)
        if key not in groups:
            name = layer_names[int(layer)] if layer is not None else ""
            if by_stroke:
                name = f"{name} {stroke or 'none'}".strip()
            groups[key] = Layer(name or "layer", [], stroke if by_stroke else None, [] if fill else None)
        groups[key].curves.extend(flat)
        if regions is not None:
            groups[key].regions.extend(regions)  # type: ignore[union-attr]
    layers = list(groups.values()) if (layer_names or by_stroke) and groups else None
    regions = [r for g in groups.values() for r in (g.regions or [])] if fill else None
    return Drawing(
        curves, y_up=False, viewbox=viewbox, size=size, layers=layers, px_per_unit=px_per_unit, regions=regions
    )


def _regions(subpaths: list[FloatArray]) -> list[list[FloatArray]]:
    """The polygons one filled SVG shape covers (its subpaths closed implicitly)."""
    from ._polygons import regions_from_subpaths

    return regions_from_subpaths(subpaths)


def _viewbox(root: ET.Element) -> Bounds | None:
    """The root's viewBox as (min x, min y, max x, max y), if it has a usable one."""
    text = root.get("viewBox")
    if text is None:
        return None
    try:
        x, y, w, h = (float(v) for v in text.replace(",", " ").split())
    except ValueError:
        return None
    if not (w > 0 and h > 0 and all(map(math.isfinite, (x, y, w, h)))):
        return None
    return (x, y, x + w, y + h)


def _flatten_step(shapes: list[list[Any]]) -> float:
    ends = [(s.end.x, s.end.y) for shape in shapes for s in shape if s.end is not None]
    if not ends:
        return 1.0
    pts = np.array(ends, dtype=np.float64)
    span = float(np.hypot(*(np.nanmax(pts, axis=0) - np.nanmin(pts, axis=0))))
    return span * _FLATTEN_FRACTION if math.isfinite(span) and span > 0 else 1.0


def _flatten(se: Any, segments: list[Any], step: float) -> list[FloatArray]:
    curves: list[FloatArray] = []
    current: list[tuple[float, float]] = []
    for seg in segments:
        if isinstance(seg, se.Move):
            if len(current) >= 2:
                curves.append(np.array(current, dtype=np.float64))
            current = [(seg.end.x, seg.end.y)]
        elif isinstance(seg, (se.Line, se.Close)):
            end = (seg.end.x, seg.end.y)
            if not current:
                current = [(seg.start.x, seg.start.y)]
            if end != current[-1]:
                current.append(end)
        else:
            if not current:
                current = [(seg.start.x, seg.start.y)]
            current.extend(_sample(seg, step))
    if len(current) >= 2:
        curves.append(np.array(current, dtype=np.float64))
    return curves


def _sample(seg: Any, step: float) -> list[tuple[float, float]]:
    try:
        with np.errstate(all="ignore"):
            rough = np.asarray(seg.npoint(np.linspace(0.0, 1.0, 9)), dtype=np.float64)
            length = float(np.hypot(*np.diff(rough, axis=0).T).sum())
            ratio = length / step
            pieces = int(min(max(math.ceil(ratio), 2), _MAX_PIECES_PER_SEGMENT)) if math.isfinite(ratio) else 2
            pts = np.asarray(seg.npoint(np.linspace(0.0, 1.0, pieces + 1)[1:]), dtype=np.float64)
    except (OverflowError, ValueError, ZeroDivisionError):
        raise DrawingError("invalid SVG: a curve's control points are too large to draw") from None
    if not np.isfinite(pts).all():
        raise DrawingError("invalid SVG: a curve's control points are too large to draw")
    return list(map(tuple, pts.tolist()))


# -- writing -------------------------------------------------------------------------

#: One computed part of a drawing: the layer it came from (None for a whole
#: drawing without layers) and its centerlines.
Part = tuple[Layer | None, Centerlines]


def render(result: Centerlines | list[Part], ext: str, drawing: Drawing | None = None) -> bytes:
    """The bytes of ``result`` in the output format of extension ``ext``.

    ``result`` is one :class:`Centerlines`, or the results of a drawing's
    layers.  For SVG, ``drawing`` (the source) sets the size and visible area
    and tells whether the y axis must be flipped to show the picture upright.
    """
    parts: list[Part] = result if isinstance(result, list) else [(None, result)]
    if drawing is not None and drawing.crs is not None:
        parts = [(layer, r if r.crs is not None else replace(r, crs=drawing.crs)) for layer, r in parts]
    ext = ext.lower()
    if ext == ".svg":
        return _render_svg(parts, drawing).encode()
    if ext == ".gpkg":
        return _render_gpkg(parts)
    if ext == ".geojson":
        data = _merged_geojson(parts)
    elif ext == ".json":
        data = parts[0][1].to_json() if len(parts) == 1 and parts[0][0] is None else {
            "layers": [{"name": layer.name if layer else "", **r.to_json()} for layer, r in parts]
        }
    else:
        raise DrawingError(
            f"unknown output format {ext or '(no extension)'!r}; expected one of {', '.join(OUTPUT_FORMATS)}"
        )
    try:
        return (json.dumps(data, allow_nan=False) + "\n").encode()
    except ValueError:
        raise DrawingError("cannot write non-finite coordinates as JSON") from None


def _merged_geojson(parts: list[Part]) -> dict[str, Any]:
    if len(parts) == 1 and parts[0][0] is None:
        return parts[0][1].to_geojson()
    out: dict[str, Any] = {"type": "FeatureCollection", "features": []}
    for layer, r in parts:
        data = r.to_geojson()
        for feature in data["features"]:
            feature["properties"]["layer"] = layer.name if layer else ""
        out["features"].extend(data["features"])
        if "crs" in data:
            out["crs"] = data["crs"]
    return out


def _render_gpkg(parts: list[Part]) -> bytes:
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


def _render_svg(parts: list[Part], drawing: Drawing | None) -> str:
    if drawing is None:
        return parts[0][1].to_svg() if len(parts) == 1 else _layered_svg(parts, None)
    if len(parts) == 1 and parts[0][0] is None:
        width, height = drawing.size if drawing.size is not None else (None, None)
        return parts[0][1].to_svg(bounds=drawing.frame(), y_up=drawing.y_up, width=width, height=height)
    return _layered_svg(parts, drawing)


def _layered_svg(parts: list[Part], drawing: Drawing | None) -> str:
    """One Inkscape layer per part, in the source's size and viewBox."""
    if drawing is not None:
        box = drawing.frame()
    else:
        merged = [c for _, r in parts for c in r.chains]
        b = bounds_of(merged)
        pad = diagonal(b) * 0.02 or 1.0 if b is not None else 1.0
        box = (b[0] - pad, b[1] - pad, b[2] + pad, b[3] + pad) if b is not None else (0.0, 0.0, 1.0, 1.0)
    minx, miny, maxx, maxy = box
    w = maxx - minx if maxx > minx else 1.0
    h = maxy - miny if maxy > miny else 1.0
    if drawing is not None and drawing.size is not None:
        size = f'width="{_attr(drawing.size[0])}" height="{_attr(drawing.size[1])}"'
    else:
        size = f'width="{_num(w)}" height="{_num(h)}"'
    stroke_width = max(math.hypot(w, h) / 400.0, 1e-9)
    flip = drawing is not None and drawing.y_up
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" xmlns:inkscape="{_INKSCAPE_NS}" '
        f'viewBox="{_num(minx)} {_num(miny)} {_num(w)} {_num(h)}" {size}>',
    ]
    for k, (layer, r) in enumerate(parts):
        name = layer.name if layer is not None else f"layer {k + 1}"
        stroke = (layer.stroke if layer is not None else None) or "black"
        attrs = (
            f'id="layer{k + 1}" inkscape:groupmode="layer" inkscape:label="{_attr(name)}" fill="none" '
            f'stroke="{_attr(stroke)}" stroke-width="{_num(stroke_width)}" stroke-linecap="round" stroke-linejoin="round"'
        )
        if flip:
            attrs += f' transform="matrix(1 0 0 -1 0 {_num(miny + maxy)})"'
        lines.append(f"<g {attrs}>")
        lines.extend(svg_polylines(r, prefix=f"layer{k + 1}-"))
        lines.append("</g>")
    lines += ["</svg>", ""]
    return "\n".join(lines)


def render_png(result: Centerlines | list[Part], drawing: Drawing, dpi: int = 150) -> bytes:
    """A PNG of the input strokes (light) under the centerlines (dark)."""
    if isinstance(result, list):
        result = Centerlines(
            chains=[c for _, r in result for c in r.chains],
            nodes=np.concatenate([r.nodes for _, r in result]) if result else np.empty((0, 2)),
            chain_node_ids=np.empty((0, 2), dtype=np.intp),
        )
    require("matplotlib", "--png", "plot")
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    minx, miny, maxx, maxy = drawing.frame()
    aspect = (maxy - miny) / (maxx - minx) if maxx > minx and maxy > miny else 1.0
    width = 8.0
    height = min(max(width * aspect, 2.0), 16.0)
    fig = Figure(figsize=(width, height), dpi=dpi)
    FigureCanvasAgg(fig)
    ax = fig.add_axes((0.02, 0.02, 0.96, 0.96))
    result.plot(ax, strokes=drawing.curves, stroke_color="#b4b4b4", color="#111111", invert_y=not drawing.y_up)
    ax.set_xlim(minx, maxx)
    ax.set_ylim((miny, maxy) if drawing.y_up else (maxy, miny))
    ax.set_axis_off()
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=dpi, facecolor="white")
    return buf.getvalue()
