"""The names of the values that travel between the package's modules.

Aliases for arrays, points and boxes, what the readers accept (curves,
drawings, shapes), what they give (:class:`Curve`, :class:`CurveList`) and the
tuples the native polygon functions take; also the two tests that tell a
shapely geometry and a GeoPandas object apart from plain coordinates.
"""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from itertools import accumulate, repeat
from typing import TYPE_CHECKING, Any, Literal, NamedTuple, TypeAlias

import numpy as np
import numpy.typing as npt

if TYPE_CHECKING:
    from shapely.geometry.base import BaseGeometry  # type: ignore[import-untyped,unused-ignore]

FloatArray: TypeAlias = npt.NDArray[np.float64]
IntArray: TypeAlias = npt.NDArray[np.intp]
Point: TypeAlias = tuple[float, float]
#: (min x, min y, max x, max y)
Bounds = tuple[float, float, float, float]

#: One curve: an ``(n, 2)`` array, a sequence of ``(x, y)`` pairs, or a shapely
#: LineString / LinearRing (a MultiLineString counts as several curves).
CurveLike: TypeAlias = "npt.ArrayLike | BaseGeometry"
#: A drawing: an iterable of curves, a single curve, an ``(k, n, 2)`` array or
#: a shapely geometry holding lines.
DrawingLike: TypeAlias = "npt.ArrayLike | BaseGeometry | Iterable[CurveLike]"

#: A shape: shapely (Multi)Polygon(s), a GeoSeries or GeoDataFrame, a GeoJSON
#: mapping, or nested coordinates (see the documentation of :mod:`strandify._shapes`).
ShapeLike: TypeAlias = Any
#: One polygon as the native function takes it: outer ring and holes, each a
#: C-contiguous (n, 2) float64 array (point tuples are read as well).
NativePolygon: TypeAlias = tuple[FloatArray, list[FloatArray]]
#: The leading arguments of ``strandify_polygons``, which are also a job of
#: ``strandify_polygons_batch``: polygons, buffer_distance (None: the shape's
#: mean half-width) and feature_size (None: derived from the shapes).
NativeJob: TypeAlias = tuple[list[NativePolygon], float | None, float | None]

Partition = Literal["none", "components", "tiles"]


class Curve(NamedTuple):
    """A curve as read: its points, plus the same points as tuples if already built."""

    points: FloatArray
    tuples: list[Any] | None = None


class CurveList(list[Curve]):
    """Curves as read.  ``stacked`` holds all their points in one array when
    they were read in one pass, so whole-drawing checks need one NumPy call
    instead of one per curve."""

    stacked: FloatArray | None = None
    #: whether ``stacked`` is known to hold no NaN
    gapless: bool = False
    #: the box of ``stacked`` when it was measured on reading (and so is finite)
    bounds: Bounds | None = None
    #: whether every curve's points are C-contiguous rows of ``stacked``, as the native
    #: calls read them
    rows: bool = False


def curves_of(arrays: Iterable[FloatArray]) -> CurveList:
    """Curves of these points, without tuples.  Built in C: the ``__new__`` a NamedTuple
    generates is Python code, which costs a small drawing as much as the rest of its reading."""
    return CurveList(map(tuple.__new__, repeat(Curve), zip(arrays, repeat(None))))


def row_runs(points: FloatArray, counts: Iterable[int]) -> Iterator[FloatArray]:
    """The runs of ``counts`` consecutive rows of ``points``, as views, in order."""
    ends = list(accumulate(counts))
    return map(points.__getitem__, map(slice, [0, *ends[:-1]], ends))


def is_geometry(obj: object) -> bool:
    """A shapely geometry, told by its module so that shapely need not be imported."""
    # asked of the class: asked of the instance, the property would ask GEOS for the type
    kind = type(obj)
    return kind.__module__.startswith("shapely") and hasattr(kind, "geom_type")


def is_geopandas(obj: object) -> bool:
    """A GeoDataFrame or GeoSeries, told the same way."""
    return type(obj).__module__.startswith("geopandas") and hasattr(obj, "crs")
