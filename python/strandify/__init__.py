"""Turn sketchy, overdrawn polylines into a clean network of centerline chains.

The native functions :func:`strandify`, :func:`strandify_batch`,
:func:`inflate_curves` and :func:`triangulate_curves` take plain lists of
``(x, y)`` tuples.  :func:`strandify_polygons` takes filled shapes instead of strokes.
:func:`centerlines` and :func:`centerlines_batch` accept
NumPy arrays, shapely lines and lists of points, fill in sensible scale
parameters and return :class:`Centerlines` objects that convert to shapely,
GeoJSON, networkx, SVG and matplotlib; :func:`polygon_centerlines` and
:func:`polygon_centerlines_batch` do the same for filled shapes (shapely
polygons, GeoSeries, ring arrays), and :func:`mask_centerlines` for raster masks
(scans, thresholded images).  Their tuning keywords are the fields of
:class:`Options`, which can also be passed whole as ``options=``; refusals are
:class:`StrandifyError` subclasses (:mod:`strandify.errors`).
"""

from ._internal import inflate_curves, strandify, strandify_batch, strandify_polygons, triangulate_curves
from ._batch import BatchResults
from ._lines import centerlines, centerlines_batch, suggest_parameters
from ._masks import mask_centerlines
from ._result import Centerlines, GeoFrames
from ._shapes import polygon_centerlines, polygon_centerlines_batch, suggest_polygon_feature_size
from ._types import CurveLike, DrawingLike
from .errors import BatchJobError, GeographicCrsWarning, LostStrokesWarning, StrandifyError
from .options import Options

__all__ = [
    "BatchJobError",
    "BatchResults",
    "Centerlines",
    "CurveLike",
    "DrawingLike",
    "GeoFrames",
    "GeographicCrsWarning",
    "LostStrokesWarning",
    "Options",
    "StrandifyError",
    "centerlines",
    "centerlines_batch",
    "inflate_curves",
    "mask_centerlines",
    "polygon_centerlines",
    "polygon_centerlines_batch",
    "strandify",
    "strandify_batch",
    "strandify_polygons",
    "suggest_parameters",
    "suggest_polygon_feature_size",
    "triangulate_curves",
]

__version__ = "0.1.0"
