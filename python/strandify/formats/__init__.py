"""Reading drawings from files, and writing results; one module per format.

Input formats, chosen by extension (or, for standard input, by a look at the
content):

- ``.svg``: every path, polyline, polygon, line, rect, circle and ellipse,
  with its transforms applied and curved segments flattened (needs the ``svg``
  extra).  Coordinates are the root element's user units (its viewBox).
  Only drawn strokes are read: a shape's stroke, set on it or inherited
  from its groups (through attributes, ``style`` and style sheets), must be
  a paint other than ``none`` or ``transparent``; SVG's initial stroke is
  ``none``, so a shape that sets only a fill is a filled shape, not a
  stroke.  Hidden shapes (``display:none``, ``visibility:hidden``) are
  skipped, and the content of ``<defs>``, ``<symbol>``, ``<marker>`` and
  ``<mask>`` counts only where a ``<use>`` places it (with the use's
  position, transform and inherited style).  Inkscape layers
  (groups with ``inkscape:groupmode="layer"``) and, on request, stroke
  colours are kept apart as layers, each its own drawing.
- ``.geojson``: LineString and MultiLineString geometries, bare or inside
  Features, FeatureCollections and GeometryCollections; other geometries are
  skipped.  Only x and y of each position are used; a ``crs`` member is kept.
- ``.json``: a list of curves, each a list of ``[x, y]`` pairs; also an object
  holding such a list under ``"curves"`` or ``"chains"`` (so results read back
  in; the ``"layers"`` of a result run in parts come back as layers), or any
  GeoJSON object.  ``null`` coordinates count as NaN and split
  their curve.
- ``.png``, ``.tif``, ``.tiff`` and ``.bmp``: an image read as a mask, its foreground's
  regions always read as filled shapes, in pixels with y down
  (:mod:`strandify.formats.raster`; the ``raster`` extra).
- every other extension (``.gpkg``, ``.shp``, ``.gpx``, ``.fgb``, ``.parquet``,
  ``.osm.pbf``, ``.gml``, ``.kml``, ...) through pyogrio and GDAL (the ``gis``
  extra): the line geometries of each layer (of a GPX file, its tracks and
  routes), each layer a drawing of its own with its own CRS and its rows
  (:mod:`strandify.formats.gis`); ``layers`` picks layers by name.

With ``fill=True`` the regions are read instead of the strokes: the filled
shapes of an SVG (every shape whose fill is not ``none``, stroked or not; the
subpaths of one shape nested as in a font glyph, see
:func:`strandify._read_shapes.regions_from_subpaths`), and the Polygon and
MultiPolygon geometries of GeoJSON, JSON and GIS files.  ``Drawing.regions``
holds them, as lists of rings with the outer ring first; ``Drawing.curves``
then holds every ring, for previews and the drawing's extent.

Output formats, chosen by extension: ``.svg`` (the source's width, height and
viewBox kept, one group per layer), ``.geojson`` (a FeatureCollection, see
:meth:`Centerlines.to_geojson`, with the CRS), ``.json`` (see
:meth:`Centerlines.to_json`), ``.gpkg`` (layers ``chains`` and ``nodes``,
see :meth:`Centerlines.to_geopandas`; the layers of a GIS file each as a
layer of chains of its name and one of nodes named ``NAME_nodes``), ``.fgb``
(FlatGeobuf) and ``.parquet`` (GeoParquet), which hold the chains.  Formats
of one layer of features name each chain's layer in a ``layer`` column and
hold one CRS, the first layer's: the others are reprojected to it.
"""

from __future__ import annotations

import importlib.util
import os
import warnings
from collections.abc import Sequence
from dataclasses import replace
from pathlib import Path

from .._geojson import lines as geojson_curves
from .._result import Centerlines
from ..errors import DrawingError
from . import geojson, gis, json, raster, svg
from .drawing import MAP_UNITS, SVG_UNITS, Drawing, Layer, Part
from .png import render_png

__all__ = [
    "GIS_INPUTS",
    "INPUT_FORMATS",
    "MAP_UNITS",
    "OUTPUT_FORMATS",
    "RASTER_INPUTS",
    "SVG_UNITS",
    "Drawing",
    "DrawingError",
    "Layer",
    "Part",
    "geojson_curves",
    "read_drawing",
    "render",
    "render_png",
    "sniff",
]

GIS_INPUTS = gis.EXTENSIONS
RASTER_INPUTS = raster.EXTENSIONS
TEXT_INPUTS = (".svg", ".geojson", ".json")
INPUT_FORMATS = (*TEXT_INPUTS, *RASTER_INPUTS, *GIS_INPUTS)
OUTPUT_FORMATS = (".svg", ".geojson", ".json", *gis.WRITERS)


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
    layers: Sequence[str] | None = None,
    threshold: float | None = None,
    invert: bool = False,
) -> Drawing:
    """Read the curves of a file (format by extension, or ``fmt``).

    ``data``, when given, is the file's content (standard input).  ``layers`` picks
    the layers of a GIS file by name.  An image (``RASTER_INPUTS``) is a mask: the regions
    of its foreground, where its values lie above ``threshold`` (below with ``invert``),
    are read as filled shapes whatever ``fill`` says (see :mod:`strandify.formats.raster`).
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
    if ext in RASTER_INPUTS:
        return _read_mask(path, ext, data, layers, threshold, invert)
    if threshold is not None or invert:
        raise DrawingError("--threshold and --invert read images (" + ", ".join(RASTER_INPUTS) + f"); a {ext} file is none")
    if ext not in TEXT_INPUTS and (data is not None or ext not in GIS_INPUTS and not gis_available()):
        if data is not None and ext in GIS_INPUTS:
            raise DrawingError(f"{ext} files cannot be read from standard input")
        raise DrawingError(_unknown(ext))
    if layers is not None and ext in (".geojson", ".json"):
        raise DrawingError(f"--layer picks layers of GIS files and Inkscape layers of SVGs; a {ext} file has none")
    raw = None if ext not in TEXT_INPUTS else data if data is not None else _read_bytes(path)
    try:
        drawing = _read(path, ext, raw, by_stroke, fill, layers)
    except gis.UnknownFormat:
        raise DrawingError(_unknown(ext)) from None
    if fill and not drawing.regions and not (drawing.layers and any(layer.regions for layer in drawing.layers)):
        hint = "; it has strokes: leave out --fill to trace them"
        raise DrawingError(_nothing_found(ext, fill) + (hint if _has_curves(path, ext, raw, fill=False) else ""))
    if not any(len(c) for c in drawing.curves):
        hint = f"; it has {'filled shapes' if ext == '.svg' else 'polygons'}: trace them with --fill"
        raise DrawingError(_nothing_found(ext, fill) + (hint if _has_curves(path, ext, raw, fill=True) else ""))
    return drawing


def _read_mask(
    path: Path, ext: str, data: bytes | None, layers: Sequence[str] | None, threshold: float | None, invert: bool
) -> Drawing:
    if data is not None:
        raise DrawingError(f"{ext} images cannot be read from standard input")
    if layers is not None:
        raise DrawingError(f"--layer picks layers of GIS files; a {ext} image has none")
    drawing = raster.read(path, threshold, invert)
    if not drawing.regions:
        raise DrawingError("the image has no foreground at this threshold (see --threshold and --invert)")
    return drawing


def gis_available() -> bool:
    """Whether pyogrio, the reader of every GIS format, is installed."""
    return importlib.util.find_spec("pyogrio") is not None


def _unknown(ext: str) -> str:
    return (
        f"unknown input format {ext or '(no extension)'!r}; expected .svg, .geojson, .json, an image "
        f"mask ({', '.join(RASTER_INPUTS)}) or a vector format GDAL reads ({', '.join(GIS_INPUTS)}, ...; needs the gis extra)"
    )


def _read(
    path: Path, ext: str, raw: bytes | None, by_stroke: bool, fill: bool, layers: Sequence[str] | None = None
) -> Drawing:
    if raw is None:
        if layers is None:
            return gis.read(path, ext, fill)
        return gis.read(path, ext, fill, layers)
    if ext == ".svg":
        drawing = svg.read(raw, by_stroke, fill)
        return drawing if layers is None else _picked_layers(drawing, layers)
    return json.read(raw, geojson=ext == ".geojson", fill=fill)


def _picked_layers(drawing: Drawing, names: Sequence[str]) -> Drawing:
    """An SVG drawing of its Inkscape layers named ``names`` (by label, or id without one)."""
    if drawing.layers is None:
        raise DrawingError("--layer picks Inkscape layers; this SVG has none")
    known = list(dict.fromkeys(layer.name for layer in drawing.layers))
    unknown = [n for n in names if n not in known]
    if unknown:
        raise DrawingError(f"no layer named {', '.join(map(repr, unknown))}; the SVG's layers are {', '.join(map(repr, known))}")
    kept = [layer for layer in drawing.layers if layer.name in names]
    curves = [c for layer in kept for c in layer.curves]
    regions = None if drawing.regions is None else [r for layer in kept for r in layer.regions or []]
    return replace(drawing, layers=kept, curves=curves, regions=regions)


def _has_curves(path: Path, ext: str, raw: bytes | None, fill: bool) -> bool:
    """Whether the file, read the other way (as regions with ``fill``), holds anything."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the notes of skipped layers were given once
            return any(len(c) for c in _read(path, ext, raw, False, fill).curves)
    except DrawingError:
        return False


def _nothing_found(ext: str, fill: bool) -> str:
    if fill:
        return "no filled shapes found" if ext == ".svg" else "no Polygon or MultiPolygon geometries found"
    if ext == ".svg":
        return "no stroked paths, polylines or lines found"
    if ext == ".geojson":
        return "no LineString or MultiLineString geometries found"
    if ext not in TEXT_INPUTS:
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


def render(
    result: Centerlines | list[Part], ext: str, drawing: Drawing | None = None, *, nodes: bool = False
) -> bytes:
    """The bytes of ``result`` in the output format of extension ``ext``.

    ``result`` is one :class:`Centerlines`, or the results of a drawing's
    layers.  For SVG, ``drawing`` (the source) sets the size and visible area
    and tells whether the y axis must be flipped to show the picture upright.  ``nodes``
    adds a Point feature per node to GeoJSON.
    """
    parts: list[Part] = result if isinstance(result, list) else [(None, result)]
    if drawing is not None and drawing.crs is not None:
        parts = [(layer, r if r.crs is not None else replace(r, crs=drawing.crs)) for layer, r in parts]
    ext = ext.lower()
    if ext == ".svg":
        return svg.render(parts, drawing).encode()
    if ext in gis.WRITERS:
        return gis.render(parts, ext)
    if ext == ".geojson":
        return json.dump(geojson.render(parts, nodes))
    if ext == ".json":
        return json.dump(json.render(parts))
    raise DrawingError(
        f"unknown output format {ext or '(no extension)'!r}; expected one of {', '.join(OUTPUT_FORMATS)}"
    )
