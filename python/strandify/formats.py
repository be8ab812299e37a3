"""Reading drawings from SVG, GeoJSON and JSON files, and writing results.

Input formats, chosen by extension:

- ``.svg``: every path, polyline, polygon, line, rect, circle and ellipse,
  with its transforms applied and curved segments flattened (needs the ``svg``
  extra).  Coordinates are the root element's user units (its viewBox).
- ``.geojson``: LineString and MultiLineString geometries, bare or inside
  Features, FeatureCollections and GeometryCollections; other geometries are
  skipped.  Only x and y of each position are used.
- ``.json``: a list of curves, each a list of ``[x, y]`` pairs; also an object
  holding such a list under ``"curves"`` or ``"chains"`` (so results read back
  in), or any GeoJSON object.  ``null`` coordinates count as NaN and split
  their curve.

Output formats, chosen by extension: ``.svg``, ``.geojson`` (a
FeatureCollection, see :meth:`Centerlines.to_geojson`) and ``.json`` (see
:meth:`Centerlines.to_json`).
"""

from __future__ import annotations

import io
import json
import math
import os
import xml.etree.ElementTree as ET
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np

from ._convert import FloatArray, bounds_of, diagonal
from ._optional import require
from ._result import Bounds, Centerlines, _num

INPUT_FORMATS = (".svg", ".geojson", ".json")
OUTPUT_FORMATS = (".svg", ".geojson", ".json")

# Curved SVG segments are cut into pieces about this fraction of the drawing's
# diagonal long: far finer than any sensible feature size, so the flattening
# never shows in the centerlines.
_FLATTEN_FRACTION = 1.0 / 1000.0
_MAX_PIECES_PER_SEGMENT = 1000
_SVG_NS = "http://www.w3.org/2000/svg"


class DrawingError(ValueError):
    """A file could not be read as a drawing; the message says why."""


@dataclass
class Drawing:
    """Curves read from a file, plus what is needed to draw them back faithfully.

    ``y_up`` tells whether the source's y axis points up (GeoJSON, JSON) or down
    (SVG).  ``viewbox`` is the SVG root's visible area as (min x, min y, max x,
    max y) in user units, when it declares one.
    """

    curves: list[FloatArray]
    y_up: bool
    viewbox: Bounds | None = None

    def frame(self) -> Bounds:
        """The area to show: the viewBox, else the curves' extent with a margin."""
        if self.viewbox is not None:
            return self.viewbox
        box = bounds_of(self.curves)
        if box is None:
            return (0.0, 0.0, 1.0, 1.0)
        pad = diagonal(box) * 0.03 or 1.0
        return (box[0] - pad, box[1] - pad, box[2] + pad, box[3] + pad)


def read_drawing(path: str | os.PathLike[str]) -> Drawing:
    """Read the curves of an SVG, GeoJSON or JSON file (format by extension).

    Raises :class:`DrawingError` for unreadable or unusable files, including
    files that hold no curves at all.
    """
    path = Path(path)
    ext = path.suffix.lower()
    if ext not in INPUT_FORMATS:
        raise DrawingError(
            f"unknown input format {ext or '(no extension)'!r}; expected one of {', '.join(INPUT_FORMATS)}"
        )
    if ext == ".svg":
        drawing = _read_svg(path)
    else:
        drawing = Drawing(_read_json_curves(_load_json(path), geojson=ext == ".geojson"), y_up=True)
    if not any(len(c) for c in drawing.curves):
        raise DrawingError(_nothing_found(ext))
    return drawing


def _nothing_found(ext: str) -> str:
    if ext == ".svg":
        return "no paths, polylines or lines found"
    if ext == ".geojson":
        return "no LineString or MultiLineString geometries found"
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


def _load_json(path: Path) -> Any:
    try:
        text = _read_bytes(path).decode("utf-8-sig")
    except UnicodeDecodeError:
        raise DrawingError("not a UTF-8 text file") from None
    try:
        return json.loads(text)
    except json.JSONDecodeError as exc:
        raise DrawingError(f"invalid JSON: {exc.msg} (line {exc.lineno}, column {exc.colno})") from None
    except RecursionError:
        raise DrawingError("invalid JSON: nested too deeply") from None


# -- JSON and GeoJSON ----------------------------------------------------------------


def _read_json_curves(data: Any, *, geojson: bool) -> list[FloatArray]:
    if isinstance(data, dict) and "type" in data:
        return _geojson_curves(data)
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
    if not isinstance(coords, list):
        raise bad
    if not coords:
        return np.empty((0, 2), dtype=np.float64)
    if any(isinstance(v, (str, bool)) for p in coords if isinstance(p, list) for v in p):
        raise bad
    try:
        arr = np.array(coords, dtype=np.float64)
    except (TypeError, ValueError):
        raise bad from None
    if arr.ndim != 2 or arr.shape[1] < 2:
        raise bad
    return np.ascontiguousarray(arr[:, :2])


def _geojson_curves(data: dict[str, Any]) -> list[FloatArray]:
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
            if not isinstance(features, list):
                raise DrawingError(f'{at}a FeatureCollection needs a "features" list')
            stack.extend((f, f"feature {i}") for i, f in reversed(list(enumerate(features))))
        elif kind == "Feature":
            stack.append((obj.get("geometry"), where))
        elif kind == "GeometryCollection":
            geoms = obj.get("geometries")
            if not isinstance(geoms, list):
                raise DrawingError(f'{at}a GeometryCollection needs a "geometries" list')
            stack.extend((g, where) for g in reversed(geoms))
        elif kind == "LineString":
            curves.append(_points(obj.get("coordinates"), f"{at}LineString"))
        elif kind == "MultiLineString":
            lines = obj.get("coordinates")
            if not isinstance(lines, list):
                raise DrawingError(f"{at}MultiLineString coordinates must be a list of lines")
            curves.extend(_points(line, f"{at}MultiLineString") for line in lines)
        elif not isinstance(kind, str):
            raise DrawingError(f'{at}missing or invalid "type"')
    return curves


# -- SVG -----------------------------------------------------------------------------


def _read_svg(path: Path) -> Drawing:
    se = require("svgelements", "reading SVG", "svg")
    data = _read_bytes(path)  # as bytes, so the XML declaration decides the encoding
    try:
        root = ET.fromstring(data)  # svgelements skips over broken markup; refuse it up front
    except ET.ParseError as exc:
        raise DrawingError(f"invalid SVG: {exc}") from None
    if root.tag not in ("svg", f"{{{_SVG_NS}}}svg"):
        raise DrawingError("invalid SVG: the root element is not <svg>")
    viewbox = _viewbox(root)
    if viewbox is not None:
        # Coordinates stay in the units the drawing was made in.  svgelements
        # would map them through the viewBox into the viewport, and mapping them
        # back costs exactness, so the root's viewBox is taken off before parsing;
        # its size becomes the root's size, which percentages resolve against.
        del root.attrib["viewBox"]
        root.set("width", _num(viewbox[2] - viewbox[0]))
        root.set("height", _num(viewbox[3] - viewbox[1]))
    try:
        svg = se.SVG.parse(io.BytesIO(ET.tostring(root)), reify=True)
        shapes = [list(se.Path(e)) for e in svg.elements() if isinstance(e, se.Shape)]
    except Exception as exc:  # svgelements raises assorted errors on odd input
        raise DrawingError(f"invalid SVG: {exc}") from None
    step = _flatten_step(shapes)
    curves = [c for shape in shapes for c in _flatten(se, shape, step)]
    return Drawing(curves, y_up=False, viewbox=viewbox)


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
    rough = np.asarray(seg.npoint(np.linspace(0.0, 1.0, 9)), dtype=np.float64)
    length = float(np.hypot(*np.diff(rough, axis=0).T).sum())
    pieces = int(min(max(math.ceil(length / step), 2), _MAX_PIECES_PER_SEGMENT)) if math.isfinite(length) else 2
    pts = np.asarray(seg.npoint(np.linspace(0.0, 1.0, pieces + 1)[1:]), dtype=np.float64)
    return list(map(tuple, pts.tolist()))


# -- writing -------------------------------------------------------------------------


def render(result: Centerlines, ext: str, drawing: Drawing | None = None) -> bytes:
    """The bytes of ``result`` in the output format of extension ``ext``.

    For SVG, ``drawing`` (the source) sets the visible area and tells whether
    the y axis must be flipped to show the picture upright.
    """
    ext = ext.lower()
    if ext == ".svg":
        if drawing is None:
            return result.to_svg().encode()
        return result.to_svg(bounds=drawing.frame(), y_up=drawing.y_up).encode()
    if ext == ".geojson":
        data = result.to_geojson()
    elif ext == ".json":
        data = result.to_json()
    else:
        raise DrawingError(
            f"unknown output format {ext or '(no extension)'!r}; expected one of {', '.join(OUTPUT_FORMATS)}"
        )
    try:
        return (json.dumps(data, allow_nan=False) + "\n").encode()
    except ValueError:
        raise DrawingError("cannot write non-finite coordinates as JSON") from None


def render_png(result: Centerlines, drawing: Drawing, dpi: int = 150) -> bytes:
    """A PNG of the input strokes (light) under the centerlines (dark)."""
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
