"""SVG files: every drawn path, polyline, polygon, line, rect, circle and ellipse in (the
``svg`` extra), the results out with the source's size and view, one group per layer."""

from __future__ import annotations

import io
import math
import re
import xml.etree.ElementTree as ET
from typing import Any

import numpy as np

from .._geometry import bounds_of, padded_bounds
from .._optional import require
from .._read_shapes import regions_from_subpaths
from .._svg import INKSCAPE_NS, SVG_NS, attr, group, header, line_width, num, polylines, view_of
from .._types import Bounds, FloatArray
from ..errors import DrawingError
from .drawing import SVG_UNITS, Drawing, Layer, Part

# Curved SVG segments are cut into pieces about this fraction of the drawing's
# diagonal long: far finer than any sensible feature size, so the flattening
# never shows in the centerlines.
_FLATTEN_FRACTION = 1.0 / 1000.0
_MAX_PIECES_PER_SEGMENT = 1000
_LAYER_MARK = "data-strandify-layer"
# Containers whose content SVG draws only where a <use> (or a marker property) places it;
# svgelements would draw it where it stands too.
_TEMPLATES = ("symbol", "marker", "mask")
_HREFS = ("href", "{http://www.w3.org/1999/xlink}href")
# Nested <use> elements multiply: a few hundred bytes can ask for billions of shapes.  No real
# drawing comes near this many elements once every <use> is replaced by what it shows.
_MAX_EXPANDED_ELEMENTS = 1_000_000


def _local(tag: str) -> str:
    return tag.rpartition("}")[2]


def _prepare(root: ET.Element) -> list[str]:
    """Ready the tree for svgelements and mark the Inkscape layers; returns the layer names."""
    _check_uses(root)
    names: list[str] = []
    for elem in list(root.iter()):
        tag = _local(elem.tag) if isinstance(elem.tag, str) else ""
        if tag == "path" and elem.get("d") is None:
            elem.set("d", "")  # draws nothing (matplotlib's glyph of a space); svgelements needs the text
        if tag == "g" and elem.get(f"{{{INKSCAPE_NS}}}groupmode") == "layer":
            elem.set(_LAYER_MARK, str(len(names)))
            names.append(elem.get(f"{{{INKSCAPE_NS}}}label") or elem.get("id") or f"layer {len(names) + 1}")
        if tag != "defs":
            _hide_templates(elem)
    return names


def _hide_templates(parent: ET.Element) -> None:
    """Wrap each template child of ``parent`` in a <defs>: drawn where used, not where it stands."""
    for k, child in enumerate(list(parent)):
        if isinstance(child.tag, str) and _local(child.tag) in _TEMPLATES:
            defs = ET.Element(child.tag[: len(child.tag) - len(_local(child.tag))] + "defs")
            defs.append(child)
            parent[k] = defs


def _check_uses(root: ET.Element) -> None:
    """Refuse <use> references that loop, or that expand the document past a sane size."""
    ids = {e.get("id"): e for e in root.iter() if e.get("id") is not None}
    sizes: dict[ET.Element, int] = {}
    busy: set[ET.Element] = set()

    def expanded(elem: ET.Element) -> int:
        if elem in sizes:
            return sizes[elem]
        if elem in busy:
            raise DrawingError("invalid SVG: a <use> shows an element that contains it")
        busy.add(elem)
        count = 1 + sum(expanded(child) for child in elem)
        # svgelements follows href before xlink:href, and takes the id after the first character
        href = next((elem.get(name) for name in _HREFS if elem.get(name) is not None), None)
        if isinstance(elem.tag, str) and _local(elem.tag) == "use" and href and href[1:] in ids:
            count += expanded(ids[href[1:]])
        busy.discard(elem)
        if count > _MAX_EXPANDED_ELEMENTS:
            raise DrawingError(f"invalid SVG: its <use> elements expand to more than {_MAX_EXPANDED_ELEMENTS} elements")
        sizes[elem] = count
        return count

    try:
        expanded(root)
    except RecursionError:
        raise DrawingError("invalid SVG: elements nested too deeply") from None


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


def _painted(e: Any, paint: Any) -> bool:
    """Whether a shape's ``paint`` (its stroke or fill as svgelements resolved it: set on the
    shape, inherited through groups, styles and <use>, else SVG's initial value) shows."""
    if e.values.get("visibility") in ("hidden", "collapse"):
        return False
    return paint is not None and paint.value is not None and paint.alpha != 0


def _drawn(e: Any) -> bool:
    return _painted(e, e.stroke)  # SVG's initial stroke is none: a shape with a fill alone has none


def _filled(e: Any) -> bool:
    return _painted(e, e.fill)


def read(data: bytes, by_stroke: bool = False, fill: bool = False) -> Drawing:
    """The drawn shapes (with ``fill``, the filled ones) of an SVG document, see the package's documentation."""
    se = require("svgelements", "reading SVG", "svg")
    try:
        root = ET.fromstring(data)  # svgelements skips over broken markup; refuse it up front
    except ET.ParseError as exc:
        raise DrawingError(f"invalid SVG: {exc}") from None
    except LookupError as exc:  # an encoding the interpreter does not know
        raise DrawingError(f"invalid SVG: {exc}") from None
    if root.tag not in ("svg", f"{{{SVG_NS}}}svg"):
        raise DrawingError("invalid SVG: the root element is not <svg>")
    viewbox, size, px_per_unit = _view(root)
    layer_names = _prepare(root)
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
        # the subpaths of a filled shape close implicitly
        regions = regions_from_subpaths(flat) if fill else None
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


def _view(root: ET.Element) -> tuple[Bounds | None, tuple[str, str] | None, float | None]:
    """The root's visible area, its size as written, and CSS pixels per user unit (None when
    they make no finite scale); takes the viewBox off the root, see below."""
    width_text, height_text = root.get("width"), root.get("height")
    width_px, height_px = _svg_length(width_text), _svg_length(height_text)
    viewbox = _viewbox(root.attrib.pop("viewBox", None))
    size = None
    if width_text is not None and height_text is not None and width_px is not None and height_px is not None:
        size = (width_text, height_text)
    if viewbox is None:
        # without a viewBox (or with one SVG ignores as invalid) user units are pixels
        if width_px is not None and height_px is not None:
            viewbox = (0.0, 0.0, width_px, height_px)
        return viewbox, size, 1.0
    # Coordinates stay in the units the drawing was made in.  svgelements would map them
    # through the viewBox into the viewport, and mapping them back costs exactness, so the
    # viewBox stays off the root; its size becomes the root's size, which percentages
    # resolve against.
    root.set("width", num(viewbox[2] - viewbox[0]))
    root.set("height", num(viewbox[3] - viewbox[1]))
    px_per_unit = 1.0
    if width_px is not None:
        px_per_unit = width_px / (viewbox[2] - viewbox[0])
    elif height_px is not None:
        px_per_unit = height_px / (viewbox[3] - viewbox[1])
    # a viewBox of 1e308 units shown 1e-300 px wide has no finite scale: no physical units then
    return viewbox, size, px_per_unit if 0 < px_per_unit < math.inf else None


def _viewbox(text: str | None) -> Bounds | None:
    """A viewBox as (min x, min y, max x, max y), if it is a usable one."""
    if text is None:
        return None
    try:
        x, y, w, h = (float(v) for v in text.replace(",", " ").split())
    except ValueError:
        return None
    box = (x, y, x + w, y + h)
    # far from the origin a small box loses its width: 1e308 + 793.7 is 1e308
    if not (box[2] - box[0] > 0 and box[3] - box[1] > 0 and all(map(math.isfinite, box))):
        return None
    return box


def _flatten_step(shapes: list[list[Any]]) -> float:
    ends = [(s.end.x, s.end.y) for shape in shapes for s in shape if s.end is not None]
    if not ends:
        return 1.0
    pts = np.array(ends, dtype=np.float64)
    # SVG numbers are finite: a point that is not came from a number or transform that overflowed
    if not np.isfinite(pts).all():
        raise DrawingError("invalid SVG: coordinates overflow (a number or transform too large)")
    span = float(np.hypot(*(pts.max(axis=0) - pts.min(axis=0))))
    return span * _FLATTEN_FRACTION if math.isfinite(span) and span > 0 else 1.0


def _flatten(se: Any, segments: list[Any], step: float) -> list[FloatArray]:
    """Each subpath as a polyline.  One that draws without ever leaving its start is a dot,
    kept as two equal points: a round cap shows it, and it is how a chain of no length is
    written."""
    curves: list[FloatArray] = []
    current: list[tuple[float, float]] = []
    drew = False

    def finish() -> None:
        if len(current) >= 2 or (drew and current):
            curves.append(np.array(current if len(current) >= 2 else current * 2, dtype=np.float64))

    for seg in segments:
        if isinstance(seg, se.Move):
            finish()
            current, drew = [(seg.end.x, seg.end.y)], False
            continue
        if not current:
            current = [(seg.start.x, seg.start.y)]
        drew = True
        if isinstance(seg, (se.Line, se.Close)):
            end = (seg.end.x, seg.end.y)
            if end != current[-1]:
                current.append(end)
        else:
            current.extend(_sample(seg, step))
    finish()
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


# -- writing ---------------------------------------------------------------------


def render(parts: list[Part], drawing: Drawing | None) -> str:
    """The parts as SVG: in the size and view of ``drawing``, and one Inkscape layer each
    unless the result is one whole drawing."""
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
        box = padded_bounds(bounds_of([c for _, r in parts for c in r.chains]), 0.02)
    view = view_of(box)
    width, height = drawing.size if drawing is not None and drawing.size is not None else (None, None)
    stroke_width = line_width(view)
    flip_about = box[1] + box[3] if drawing is not None and drawing.y_up else None
    lines = header(view, width, height, inkscape=True)
    for k, (layer, r) in enumerate(parts):
        name = layer.name if layer is not None else f"layer {k + 1}"
        stroke = (layer.stroke if layer is not None else None) or "black"
        lead = f'id="layer{k + 1}" inkscape:groupmode="layer" inkscape:label="{attr(name)}" '
        lines.append(group(stroke, stroke_width, flip_about, lead))
        lines.extend(polylines(r.chains, r.chain_node_ids, prefix=f"layer{k + 1}-"))
        lines.append("</g>")
    lines += ["</svg>", ""]
    return "\n".join(lines)
