"""Filled shapes read into rings: every form :mod:`strandify._shapes` lists, the
regions of a filled outline's subpaths, and the mean half-width of the rings.

Rings come out as (n, 2) float64 arrays, the outer ring of each polygon first;
they are neither closed nor oriented nor repaired here, which the native stage
does.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping, Sequence
from functools import lru_cache
from itertools import accumulate
from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from ._geojson import polygons as geojson_polygons
from ._geometry import bounds_of, column_box, ring_array, ring_contains
from ._origin import ZERO, local_origin, surely_near
from ._types import Bounds, FloatArray, NativePolygon, Point, ShapeLike, is_geometry

_POLYGON_TYPES = ("Polygon", "MultiPolygon", "GeometryCollection")


def _depth(obj: Any) -> int:
    """0 for a number, 1 for a point, 2 for a ring, ...: the nesting below ``obj``."""
    if isinstance(obj, np.ndarray):
        return obj.ndim
    depth = 0
    while isinstance(obj, (Sequence, np.ndarray)) and not isinstance(obj, (str, bytes)):
        if len(obj) == 0:
            return depth + 1
        obj = obj[0]
        depth += 1
        if isinstance(obj, np.ndarray):
            return depth + obj.ndim
    return depth


def _is_native_pair(obj: Any) -> bool:
    return (
        isinstance(obj, tuple)
        and len(obj) == 2
        and _depth(obj[0]) == 2
        and isinstance(obj[1], (Sequence, np.ndarray))
        and (len(obj[1]) == 0 or _depth(obj[1]) == 3)
    )


class _Readers(NamedTuple):
    """The shapely functions a shape's points and rings are read with: the direct ones behind
    shapely's public functions where they can be used (:func:`_readers`), called without the
    array conversions and checks the public ones add, which cost more than the reading itself
    for one geometry."""

    coordinates: Callable[[Any], FloatArray]  # the (n, 2) points of one geometry
    holes: Callable[[Any], int]  # the holes of a Polygon
    exterior: Callable[[Any], Any]
    interior: Callable[[Any, int], Any]
    size: Callable[[Any], int]  # the points of a ring or a Polygon
    parts: Callable[[Any], int]  # the parts of a MultiPolygon
    part: Callable[[Any, int], Any]


def _public_coordinates(geom: Any) -> FloatArray:
    import shapely  # type: ignore[import-untyped,unused-ignore]

    points: FloatArray = shapely.get_coordinates(geom)
    return points


@lru_cache(maxsize=1)
def _public_readers() -> _Readers:
    import shapely  # type: ignore[import-untyped,unused-ignore]

    return _Readers(
        _public_coordinates,
        lambda polygon: len(polygon.interiors),
        lambda polygon: polygon.exterior,
        lambda polygon, k: polygon.interiors[k],
        shapely.get_num_coordinates,
        lambda multi: len(multi.geoms),
        lambda multi, k: multi.geoms[k],
    )


def _direct_readers() -> _Readers | None:
    """The functions recent shapely releases (2.2) keep in ``shapely.lib`` behind
    get_coordinates, the rings and parts of a shape and their counts, when this one has them."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    lib = shapely.lib
    try:
        coordinates, as_array = lib.get_coordinates, np.asarray
        holes, exterior = lib.get_num_interior_rings_scalar, lib.get_exterior_ring_scalar
        interior, size = lib.get_interior_ring_scalar, lib.get_num_coordinates_scalar
        parts, part = lib.get_num_geometries_scalar, lib.get_geometry_scalar
    except AttributeError:
        return None

    def points(geom: Any) -> FloatArray:
        # include_z, include_m and return_index all off: as shapely.get_coordinates calls it
        found: FloatArray = coordinates(as_array(geom, dtype=object), False, False, False)
        return found

    return _Readers(points, holes, exterior, interior, size, parts, part)


def _reading(readers: _Readers, geom: Any) -> list[Any]:
    """All that ``readers`` tell of a MultiPolygon, as plain values to compare."""
    told = [readers.coordinates(geom).tolist(), int(readers.parts(geom))]
    for polygon in [readers.part(geom, i) for i in range(int(readers.parts(geom)))]:
        holes = int(readers.holes(polygon))
        rings = [readers.exterior(polygon), *(readers.interior(polygon, k) for k in range(holes))]
        sizes = [int(readers.size(ring)) for ring in rings]
        told.append([readers.coordinates(polygon).tolist(), int(readers.size(polygon)), holes, *sizes])
    return told


@lru_cache(maxsize=1)
def _readers() -> _Readers:
    """shapely's direct functions, once tried here to read of a few shapes what the public
    functions read (a private name may change what it takes or gives in any release); else the
    public ones."""
    import shapely  # type: ignore[import-untyped,unused-ignore]

    public = _public_readers()
    try:
        direct = _direct_readers()
        if direct is None:
            return public
        probe = shapely.MultiPolygon(
            [
                shapely.Polygon(
                    [(0, 0), (9, 0), (9, 9), (0, 9)], [[(1, 1), (2, 1), (2, 2)], [(5, 5), (7, 5), (7, 7), (5, 7)]]
                ),
                shapely.Polygon(),
                shapely.Polygon([(10, 0, 1), (11, 0, 2), (11, 1, 3)]),
            ]
        )
        same = _reading(direct, probe) == _reading(public, probe)
    except Exception:  # any failure of the private names leaves the public functions
        return public
    return direct if same else public


def _polygon_rings(readers: _Readers, polygon: Any, points: FloatArray, holes: int, out: list[list[FloatArray]]) -> None:
    """The rings of a shapely Polygon with ``holes`` holes whose points, as GEOS gives them ring
    after ring, are ``points``: views into them, its exterior first, unless it is empty."""
    if not len(points):
        return
    if not holes:
        out.append([points])
        return
    # where every ring but the last ends (the last ends with the points), from the rings' own
    # counts: a ring's points may repeat its first one before it closes
    size = readers.size
    end = int(size(readers.exterior(polygon)))
    ends = [end]
    for k in range(holes - 1):
        end += int(size(readers.interior(polygon, k)))
        ends.append(end)
    out.append([points[a:b] for a, b in zip([0, *ends], [*ends, len(points)])])


#: Up to this many parts a MultiPolygon is read part by part with shapely's direct calls; with
#: more, shapely's calls over arrays of all parts cost less per part (measured on MultiPolygons
#: of boxes: the same near 50 parts, a fifth less at 300).
FEW_PARTS = 64


def _multipolygon_rings(readers: _Readers, geom: Any, points: FloatArray, out: list[list[FloatArray]]) -> None:
    """The rings of the parts of a shapely MultiPolygon whose points are ``points``: for the
    few parts of most shapes, part by part with a few direct calls each, which costs less than
    shapely's calls over arrays of all parts; for many (a country of hundreds of islands, which
    seldom have holes) with those calls, and a few more per part with holes."""
    count = readers.parts(geom)
    start = 0
    if count <= FEW_PARTS:
        size, holes, part = readers.size, readers.holes, readers.part
        for i in range(count):
            polygon = part(geom, i)
            end = start + int(size(polygon))
            if end > start:  # an empty part has no rings
                _polygon_rings(readers, polygon, points[start:end], holes(polygon), out)
            start = end
        return
    import shapely  # type: ignore[import-untyped,unused-ignore]

    parts = shapely.get_parts(geom)
    ends = list(accumulate(shapely.get_num_coordinates(parts).tolist()))
    holes = shapely.get_num_interior_rings(parts).tolist()
    starts = [0, *ends]
    if not any(holes):
        out.extend([points[a:b]] for a, b in zip(starts, ends) if b > a)
        return
    for polygon, k, a, b in zip(parts, holes, starts, ends):
        _polygon_rings(readers, polygon, points[a:b], k, out)


def _geometry_polygons(geom: Any, out: list[list[FloatArray]]) -> FloatArray | None:
    """Reads the polygons of ``geom`` into ``out``; returns the points of them all, read in one
    array, for a Polygon or a MultiPolygon."""
    kind = geom.geom_type
    if kind == "Polygon" or kind == "MultiPolygon":
        # one read of all points, and views into it
        readers = _readers()
        points = readers.coordinates(geom)
        if not len(points):
            return points
        if kind == "Polygon":
            _polygon_rings(readers, geom, points, readers.holes(geom), out)
        else:
            _multipolygon_rings(readers, geom, points, out)
        return points
    import shapely  # type: ignore[import-untyped,unused-ignore]

    if kind in _POLYGON_TYPES:
        for part in shapely.get_parts(geom):
            _geometry_polygons(part, out)
    elif not geom.is_empty:  # an empty geometry of any kind holds no region and is skipped
        raise TypeError(f"cannot use a {kind} as a filled shape; only Polygon and MultiPolygon are regions")
    return None


def _collect(shapes: ShapeLike, out: list[list[FloatArray]], top: bool) -> None:
    if shapes is None:
        return
    if is_geometry(shapes):
        _geometry_polygons(shapes, out)
        return
    if type(shapes).__module__.startswith("geopandas"):
        # a GeoDataFrame's geometry column, or a GeoSeries: its geometries in row order
        column: Any = getattr(shapes, "geometry", shapes)
        for geom in column:
            if geom is not None:
                _geometry_polygons(geom, out)
        return
    if hasattr(shapes, "__geo_interface__") and not isinstance(shapes, (np.ndarray, Sequence)):
        out.extend(geojson_polygons(shapes.__geo_interface__))
        return
    if isinstance(shapes, Mapping):
        out.extend(geojson_polygons(shapes))
        return
    if _is_native_pair(shapes):
        out.append([ring_array(shapes[0], "outer ring")] + [ring_array(h, "hole") for h in shapes[1]])
        return
    if not isinstance(shapes, (Sequence, np.ndarray)) or isinstance(shapes, (str, bytes)):
        raise TypeError(f"cannot read a {type(shapes).__name__} as filled shapes")
    if len(shapes) == 0:
        return
    depth = _depth(shapes)
    if all(is_geometry(s) or _is_native_pair(s) or isinstance(s, Mapping) for s in shapes):
        for s in shapes:
            _collect(s, out, False)
    elif depth == 2:
        out.append([ring_array(shapes, "ring")])
    elif depth == 3:
        out.append([ring_array(r, "ring") for r in shapes])
    elif depth == 4 and top:
        for poly in shapes:
            if len(poly):
                out.append([ring_array(r, "ring") for r in poly])
    else:
        raise TypeError("cannot tell rings, polygons and lists of polygons apart at this nesting depth")


def read_polygons(shapes: ShapeLike) -> list[list[FloatArray]]:
    """Every polygon of ``shapes`` as a list of rings, the outer ring first."""
    out: list[list[FloatArray]] = []
    _collect(shapes, out, True)
    return out


def shapes_bounds(shapes: ShapeLike, polygons: Sequence[Sequence[FloatArray]]) -> Bounds | None:
    """The box of the finite points of ``polygons``, as read from ``shapes``: the box of a
    lone ring's points, or for one shapely geometry GEOS's own box of it (the same numbers,
    without gathering the rings into one array), else the box of every ring."""
    if len(polygons) == 1 and len(polygons[0]) == 1 and len(polygons[0][0]):
        # the common shape, one ring: its box is the box of its points, unless one of them is
        # not finite, which GEOS and the rings measure each in their own way
        ring_box = column_box(polygons[0][0])
        if all(map(math.isfinite, ring_box)):
            return ring_box
    if is_geometry(shapes) and polygons:
        import shapely  # type: ignore[import-untyped,unused-ignore]

        x0, y0, x1, y1 = shapely.bounds(shapes).tolist()
        box: Bounds = (x0, y0, x1, y1)
        if all(map(math.isfinite, box)):
            return box
    return bounds_of([ring for rings in polygons for ring in rings])


def read_with_origin(shapes: ShapeLike) -> tuple[list[list[FloatArray]], Point]:
    """:func:`read_polygons` of ``shapes`` and the origin they are computed about
    (:mod:`strandify._origin`): a lone shapely Polygon or MultiPolygon has all its points read
    in one array, which tells most shapes near (0, 0) as such without measuring their box, and
    whose box is the box of the others."""
    if not is_geometry(shapes):
        read = read_polygons(shapes)
        return read, local_origin(shapes_bounds(shapes, read))
    out: list[list[FloatArray]] = []
    points = _geometry_polygons(shapes, out)
    if points is None or not len(points):
        return out, local_origin(shapes_bounds(shapes, out))
    if surely_near(points):
        return out, ZERO
    box = column_box(points)
    # GEOS's box of the geometry has the same numbers, when they are finite
    return out, local_origin(box if all(map(math.isfinite, box)) else shapes_bounds(shapes, out))


def to_native_polygons(polygons: Sequence[Sequence[FloatArray]]) -> list[NativePolygon]:
    """The ``(outer, holes)`` tuples the native function takes; the rings stay (n, 2) float64
    arrays, which it reads in one copy."""
    return [(rings[0], list(rings[1:])) for rings in polygons if len(rings)]


def _ring_area_length(ring: FloatArray) -> tuple[float, float]:
    if len(ring) < 3:
        return 0.0, 0.0
    # relative to the first point the shoelace's closing term vanishes
    rel = ring - ring[0]
    x, y = rel[:, 0], rel[:, 1]
    area = 0.5 * float(x[:-1] @ y[1:] - x[1:] @ y[:-1])
    steps = np.diff(ring, axis=0)
    length = float(np.sqrt((steps * steps).sum(axis=1)).sum()) + math.hypot(*rel[-1])
    return area, length


def mean_half_width(polygons: Sequence[Sequence[FloatArray]]) -> float:
    """Area over boundary length of the rings as given: a strip's half-width.

    Each outer ring counts with its absolute area and each hole takes its
    absolute area away, whatever their orientation.  NaN when the rings
    enclose nothing measurable.
    """
    area = length = 0.0
    with np.errstate(all="ignore"):
        for rings in polygons:
            for k, ring in enumerate(rings):
                a, l = _ring_area_length(ring)
                area += abs(a) if k == 0 else -abs(a)
                length += l
    return area / length if area > 0 and length > 0 and math.isfinite(area / length) else math.nan


def regions_from_subpaths(rings: Sequence[npt.ArrayLike]) -> list[list[FloatArray]]:
    """Polygons from the closed subpaths of one filled outline (a font glyph, an SVG path).

    A subpath that lies inside an odd number of the others is a hole of the
    smallest subpath around it, one at even depth an outer ring of a polygon
    of its own: the even-odd reading, which for outlines that do not cross
    themselves (fonts, icons) is also the nonzero one.
    """
    arrays = [r for r in (ring_array(x, "subpath") for x in rings) if len(r) >= 3]
    n = len(arrays)
    if n == 0:
        return []
    areas = np.array([abs(_ring_area_length(r)[0]) for r in arrays])
    inside = np.zeros((n, n), dtype=bool)  # inside[i, j]: ring i lies in ring j
    for j, ring in enumerate(arrays):
        probes = np.array([r[0] for r in arrays])
        inside[:, j] = ring_contains(ring, probes)
        inside[j, j] = False
    inside &= areas[:, None] < areas[None, :]
    depth = inside.sum(axis=1)
    polygons: dict[int, list[FloatArray]] = {}
    for i in np.argsort(depth, kind="stable").tolist():
        if depth[i] % 2 == 0:
            polygons[i] = [arrays[i]]
            continue
        owners = [j for j in np.flatnonzero(inside[i]).tolist() if depth[j] == depth[i] - 1]
        if owners:
            polygons[min(owners, key=lambda j: areas[j])].append(arrays[i])
    return [polygons[k] for k in sorted(polygons)]
