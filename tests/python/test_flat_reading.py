"""Shapes and drawings read in one pass, and results kept as the flat buffers they came in: the
same rings, strokes and lines as read and converted piece by piece, whatever is done to a result
afterwards.  The shapes are Natural Earth's countries (pyogrio's test fixture) and the strokes
KanjiVG's."""

from __future__ import annotations

import copy
import math
import pickle
from dataclasses import replace
from functools import lru_cache
from pathlib import Path
from typing import Any, Callable

import numpy as np
import pytest
import shapely
import shapely.affinity
from shapely import wkt

import strandify
import strandify._read_shapes
import strandify._result
from strandify._geometry import bounds_of
from strandify._read_lines import native_strokes, read_curves
from strandify._origin import curves_origin, local_origin
from strandify._read_shapes import read_polygons, read_with_origin, shapes_bounds

from conftest import kanjivg_strokes

pyogrio = pytest.importorskip("pyogrio")

COUNTRIES_PATH = Path(pyogrio.__file__).parent / "tests" / "fixtures" / "naturalearth_lowres" / "naturalearth_lowres.shp"


@pytest.fixture(scope="module")
def countries() -> dict[str, Any]:
    frame = pyogrio.read_dataframe(COUNTRIES_PATH)
    return dict(zip(frame["name"], frame.geometry))


def ring_by_ring(geom: Any) -> list[list[np.ndarray]]:
    """Every non-empty polygon of ``geom`` as shapely gives its rings one by one."""
    out = []
    for part in shapely.get_parts(geom):
        if part.geom_type in ("MultiPolygon", "GeometryCollection"):
            out += ring_by_ring(part)
        elif part.geom_type == "Polygon" and not part.is_empty:
            out.append([shapely.get_coordinates(part.exterior)] + [shapely.get_coordinates(r) for r in part.interiors])
    return out


def assert_same_rings(got: list[list[np.ndarray]], want: list[list[np.ndarray]]) -> None:
    assert [len(rings) for rings in got] == [len(rings) for rings in want]
    for rings, wanted in zip(got, want):
        for ring, ring_wanted in zip(rings, wanted):
            # as the native call reads a ring in one copy
            assert ring.dtype == np.float64 and ring.flags.c_contiguous and ring.shape[1:] == (2,)
            np.testing.assert_array_equal(ring, ring_wanted)


# one hole (Lesotho), parts without holes, a lone ring
@pytest.mark.parametrize("name", ["South Africa", "Indonesia", "Canada", "Fiji", "France", "Italy", "Chile", "Egypt"])
def test_a_country_reads_as_its_rings_one_by_one(countries: dict[str, Any], name: str) -> None:
    geom = countries[name]
    assert_same_rings(read_polygons(geom), ring_by_ring(geom))


@pytest.mark.parametrize(
    "make",
    [
        # holes in one part of a MultiPolygon but not in the others
        lambda c: shapely.MultiPolygon([*shapely.get_parts(c["Italy"]), c["South Africa"], *shapely.get_parts(c["France"])]),
        # a polygon with two holes
        lambda c: c["Brazil"].difference(shapely.union(shapely.Point(-50, -10).buffer(2), shapely.Point(-60, -5).buffer(1))),
        # coordinates with z, which are read without it
        lambda c: shapely.force_3d(c["South Africa"], 5.0),
        # shapes inside a collection, in order
        lambda c: shapely.GeometryCollection([c["Fiji"], shapely.LineString(), c["South Africa"]]),
        # more parts than are read one by one, with a hole in one of them, and without any
        lambda c: shapely.MultiPolygon([p for g in c.values() for p in shapely.get_parts(g)]),
        lambda c: shapely.MultiPolygon([p for g in c.values() for p in shapely.get_parts(g) if not p.interiors]),
        # a few parts, an empty one among them
        lambda c: shapely.MultiPolygon([*shapely.get_parts(c["Italy"]), shapely.Polygon(), c["South Africa"]]),
    ],
    ids=["holes in one part", "two holes", "z", "collection", "many parts", "many parts without holes", "empty part"],
)
def test_composed_shapes_read_as_their_rings_one_by_one(countries: dict[str, Any], make: Callable[[Any], Any]) -> None:
    geom = make(countries)
    assert_same_rings(read_polygons(geom), ring_by_ring(geom))


@pytest.mark.parametrize(
    "text",
    [
        "MULTIPOLYGON (EMPTY, ((0 0, 4 0, 4 4, 0 0)), EMPTY)",
        "MULTIPOLYGON (((0 0, 9 0, 9 9, 0 9, 0 0), (1 1, 2 1, 2 2, 1 1), (5 5, 6 5, 6 6, 5 5)), EMPTY, ((20 0, 24 0, 24 4, 20 0)))",
        "POLYGON EMPTY",
        "MULTIPOLYGON EMPTY",
        "LINESTRING EMPTY",
        "GEOMETRYCOLLECTION (POINT EMPTY, POLYGON EMPTY, POLYGON ((0 0, 1 0, 1 1, 0 0)))",
    ],
)
def test_empty_parts_are_skipped_as_when_read_one_by_one(text: str) -> None:
    geom = wkt.loads(text)
    assert_same_rings(read_polygons(geom), ring_by_ring(geom))


def glyph(ch: str) -> Any:
    """The outline of a DejaVu Sans glyph as one shapely shape, its counters as holes."""
    pytest.importorskip("matplotlib")
    from matplotlib.font_manager import FontProperties
    from matplotlib.textpath import TextPath

    from strandify._read_shapes import regions_from_subpaths

    rings = TextPath((0, 0), ch, size=100, prop=FontProperties(family="DejaVu Sans")).to_polygons(closed_only=True)
    polygons = [shapely.Polygon(p[0], p[1:]) for p in regions_from_subpaths(rings)]
    return polygons[0] if len(polygons) == 1 else shapely.MultiPolygon(polygons)


# one hole, two holes, holes in one part of several, parts without holes, no hole
@pytest.mark.parametrize("ch", ["O", "B", "8", "%", "ä", "Ø", "@", "i", "L"])
def test_a_glyph_reads_as_its_rings_one_by_one(ch: str) -> None:
    geom = glyph(ch)
    assert_same_rings(read_polygons(geom), ring_by_ring(geom))


@pytest.mark.parametrize("name", ["South Africa", "Indonesia", "Canada", "Brazil"])
def test_the_public_shapely_functions_read_the_same_rings(countries: dict[str, Any], name: str, monkeypatch: pytest.MonkeyPatch) -> None:
    # where shapely does not have the direct functions where they are looked for
    shapes = [countries[name], glyph("B"), glyph("%"), shapely.MultiPolygon([p for g in countries.values() for p in shapely.get_parts(g)])]
    direct = [read_polygons(geom) for geom in shapes]
    monkeypatch.setattr(strandify._read_shapes, "_readers", strandify._read_shapes._public_readers)
    for geom, read in zip(shapes, direct):
        assert_same_rings(read_polygons(geom), read)
        assert_same_rings(read, ring_by_ring(geom))


def _counts_one_more(geom: Any) -> int:
    return int(shapely.get_num_coordinates(geom)) + 1


def _refuses(*args: Any) -> Any:
    raise TypeError("takes other arguments now")


@pytest.mark.parametrize("changed", [_counts_one_more, _refuses, None], ids=["counts", "signature", "gone"])
def test_a_changed_direct_function_is_left_for_the_public_ones(
    countries: dict[str, Any], changed: Callable[..., Any] | None, monkeypatch: pytest.MonkeyPatch
) -> None:
    # a shapely release whose direct ring count takes or gives something else, or has none (the
    # public functions do not call it)
    geom = countries["South Africa"]
    if changed is None:
        monkeypatch.delattr(shapely.lib, "get_num_coordinates_scalar")
    else:
        monkeypatch.setattr(shapely.lib, "get_num_coordinates_scalar", changed)
    strandify._read_shapes._readers.cache_clear()
    try:
        assert strandify._read_shapes._readers() == strandify._read_shapes._public_readers()
        assert_same_rings(read_polygons(geom), ring_by_ring(geom))
    finally:
        monkeypatch.undo()
        strandify._read_shapes._readers.cache_clear()


def test_a_line_is_still_refused_as_a_shape() -> None:
    with pytest.raises(TypeError, match="LineString"):
        read_polygons(shapely.LineString([(0, 0), (1, 1)]))


def lines_of(geometry: Any) -> list[list[list[float]]]:
    return [shapely.get_coordinates(line).tolist() for line in shapely.get_parts(geometry)]


def country_lines(countries: dict[str, Any], name: str, far: bool, **keywords: Any) -> strandify.Centerlines:
    """The centerlines of a country; ``far``: moved to where map coordinates in metres lie, so
    that they are computed about another origin and moved back."""
    geom = countries[name]
    if far:
        geom = shapely.affinity.translate(shapely.affinity.scale(geom, 1e4, 1e4, origin=(0, 0)), 5e5, 4e6)
    return strandify.polygon_centerlines(geom, **keywords)


def reversed_in_place(r: strandify.Centerlines) -> strandify.Centerlines:
    r.chains.reverse()
    return r


def one_chain_swapped(r: strandify.Centerlines) -> strandify.Centerlines:
    r.chains[0] = r.chains[0][::-1].copy()
    return r


def one_chain_added(r: strandify.Centerlines) -> strandify.Centerlines:
    r.chains.append(r.chains[0] + 1.0)
    return r


def last_chain_dropped(r: strandify.Centerlines) -> strandify.Centerlines:
    r.chains.pop()
    return r


def points_moved_in_place(r: strandify.Centerlines) -> strandify.Centerlines:
    for chain in r.chains:
        chain += 2.5
    return r


def nodes_read_first(r: strandify.Centerlines) -> strandify.Centerlines:
    assert len(r.nodes) and len(r.chain_node_ids)
    return r


CHANGES = [
    lambda r: r,
    lambda r: replace(r, chains=r.chains[::-1]),
    lambda r: replace(r, crs=None),
    nodes_read_first,
    reversed_in_place,
    one_chain_swapped,
    one_chain_added,
    last_chain_dropped,
    points_moved_in_place,
    lambda r: pickle.loads(pickle.dumps(r)),
    copy.copy,
    copy.deepcopy,
    lambda r: points_moved_in_place(pickle.loads(pickle.dumps(r))),
    lambda r: points_moved_in_place(copy.deepcopy(r)),
]
CHANGE_IDS = [
    "none", "replaced", "other field replaced", "nodes read first", "reversed", "swapped", "added", "dropped", "moved", "pickled", "copy",
    "deepcopy", "pickled then moved", "deepcopy then moved",
]


@pytest.mark.parametrize("change", CHANGES, ids=CHANGE_IDS)
@pytest.mark.parametrize("far", [False, True], ids=["near", "far"])
@pytest.mark.parametrize("name", ["Italy", "Chile", "Indonesia"])
def test_shapely_lines_are_the_chains_whatever_was_done_to_them(
    countries: dict[str, Any], name: str, far: bool, change: Callable[[Any], Any]
) -> None:
    result = change(country_lines(countries, name, far))
    assert len(result.chains) >= 2  # enough to reorder
    assert lines_of(result.to_shapely()) == [c.tolist() for c in result.chains]


def fields_of(r: strandify.Centerlines) -> tuple[Any, ...]:
    return (
        [c.tolist() for c in r.chains], r.nodes.tolist(), r.chain_node_ids.tolist(),
        None if r.widths is None else [w.tolist() for w in r.widths], len(r), repr(r),
    )


@pytest.mark.parametrize(
    "copied",
    [lambda r: pickle.loads(pickle.dumps(r)), copy.copy, copy.deepcopy, lambda r: replace(r), lambda r: r],
    ids=["pickled", "copy", "deepcopy", "replace", "itself"],
)
@pytest.mark.parametrize("far", [False, True], ids=["near", "far"])
def test_a_result_copied_before_its_fields_are_read_has_the_same_fields(
    countries: dict[str, Any], far: bool, copied: Callable[[Any], Any]
) -> None:
    # the chains, nodes and their ids are made from the native buffers when first read
    fresh = country_lines(countries, "Indonesia", far, compute_widths=True)
    copy_of_fresh = copied(fresh)
    assert fields_of(copy_of_fresh) == fields_of(fresh) == fields_of(country_lines(countries, "Indonesia", far, compute_widths=True))
    assert copy_of_fresh.widths is not None


@pytest.mark.parametrize("change", [CHANGES[0], points_moved_in_place, one_chain_added], ids=["none", "moved", "added"])
@pytest.mark.parametrize("far", [False, True], ids=["near", "far"])
def test_shapely_public_constructor_gives_the_same_lines(
    countries: dict[str, Any], far: bool, change: Callable[[Any], Any], monkeypatch: pytest.MonkeyPatch
) -> None:
    # where shapely does not have its ragged-array constructor where it is looked for
    direct = change(country_lines(countries, "Indonesia", far)).to_shapely()
    monkeypatch.setattr(strandify._result, "_ragged_lines", lambda: None)
    public = change(country_lines(countries, "Indonesia", far)).to_shapely()
    assert shapely.to_wkb(public) == shapely.to_wkb(direct)


def _takes_more(*args: Any) -> Any:
    raise TypeError("takes another argument now")


def _swaps_lines(points: Any, offsets: Any, parts: Any, kind: int) -> Any:
    return shapely.from_ragged_array(shapely.GeometryType.MULTILINESTRING, points[::-1].copy(),
                                     (np.frombuffer(offsets, np.int64), np.frombuffer(parts, np.int64)))


@pytest.mark.parametrize("changed", [_takes_more, _swaps_lines], ids=["signature", "result"])
def test_a_changed_private_constructor_is_left_for_the_public_one(
    countries: dict[str, Any], changed: Callable[..., Any], monkeypatch: pytest.MonkeyPatch
) -> None:
    # a shapely release whose private constructor takes or builds something else
    import shapely._geometry_helpers as helpers

    expected = country_lines(countries, "Indonesia", False).to_shapely()
    monkeypatch.setattr(helpers, "_from_ragged_array_multi_linear", changed)
    strandify._result._ragged_lines.cache_clear()
    try:
        assert strandify._result._ragged_lines() is None
        assert shapely.to_wkb(country_lines(countries, "Indonesia", False).to_shapely()) == shapely.to_wkb(expected)
    finally:
        strandify._result._ragged_lines.cache_clear()


@pytest.mark.parametrize("change", CHANGES, ids=CHANGE_IDS)
def test_stroke_lines_are_the_chains_whatever_was_done_to_them(change: Callable[[Any], Any]) -> None:
    result = change(strandify.centerlines(kanji("水")))
    assert len(result.chains) >= 2
    assert lines_of(result.to_shapely()) == [c.tolist() for c in result.chains]


@lru_cache(maxsize=None)
def _kanji_points(char: str) -> tuple[tuple[tuple[float, float], ...], ...]:
    # finding a character's file among KanjiVG's lists all of them: once per character
    return tuple(tuple(map(tuple, np.asarray(c, dtype=np.float64).tolist())) for c in kanjivg_strokes(char))


def kanji(char: str) -> list[list[tuple[float, float]]]:
    """The strokes of a KanjiVG character as lists of point tuples."""
    return [list(c) for c in _kanji_points(char)]


def with_gaps(curves: list[list[tuple[float, float]]], gap: tuple[float, float]) -> list[list[tuple[float, float]]]:
    """Every stroke with ``gap`` put in after its third point (a NaN cuts it, an infinity too)."""
    return [c[:3] + [gap] + c[3:] for c in curves]


@pytest.mark.parametrize(
    "gap", [None, (math.nan, math.nan), (math.nan, 1.0), (math.inf, 5.0), (3.0, -math.inf)], ids=["none", "nan", "nan x", "inf", "-inf y"]
)
@pytest.mark.parametrize("char", ["水", "永"])
def test_point_lists_give_the_chains_and_box_of_the_same_arrays(char: str, gap: tuple[float, float] | None) -> None:
    curves = kanji(char)
    if gap is not None:
        curves = with_gaps(curves, gap)
    arrays = [np.array(c, dtype=np.float64) for c in curves]
    finite = np.concatenate(arrays)
    finite = finite[np.isfinite(finite).all(axis=1)]
    assert bounds_of(read_curves(curves)) == (*finite.min(axis=0).tolist(), *finite.max(axis=0).tolist())
    from_lists, from_arrays = strandify.centerlines(curves), strandify.centerlines(arrays)
    assert [c.tolist() for c in from_lists.chains] == [c.tolist() for c in from_arrays.chains]
    assert from_lists.nodes.tolist() == from_arrays.nodes.tolist()


def moved_out(geom: Any, extents: float, sign: float) -> Any:
    """``geom`` moved so that its box starts ``extents`` times its extent from zero along x and
    along y, on the side ``sign`` gives."""
    x0, y0, x1, y1 = geom.bounds
    extent = max(x1 - x0, y1 - y0)
    if sign > 0:
        return shapely.affinity.translate(geom, extents * extent - x0, extents * extent - y0)
    return shapely.affinity.translate(geom, -extents * extent - x1, -extents * extent - y1)


# around the distance at which a shape leaves (0, 0) for the corner of its box
@pytest.mark.parametrize("extents", [0.0, 1.0, 15.0, 15.999, 16.0, 16.001, 17.0, 1e4])
@pytest.mark.parametrize("sign", [1.0, -1.0], ids=["up", "down"])
@pytest.mark.parametrize("name", ["Italy", "Chile", "Indonesia", "Fiji", "South Africa"])
def test_a_shape_is_computed_about_the_origin_its_box_gives(countries: dict[str, Any], name: str, extents: float, sign: float) -> None:
    for geom in (countries[name], moved_out(countries[name], extents, sign)):
        read, origin = read_with_origin(geom)
        assert_same_rings(read, ring_by_ring(geom))
        assert origin == local_origin(shapes_bounds(geom, read_polygons(geom)))


@pytest.mark.parametrize(
    "text",
    [
        # a point that is not finite among the two the origin is first told from (the first and
        # the middle one), or elsewhere
        "POLYGON ((0 0, 4 0, 4 NaN, 0 4, 0 0))",
        "POLYGON ((1000 1000, 1004 1000, NaN 1004, 1000 1004, 1000 1000))",
        "POLYGON ((1000 1000, 1004 1000, 1004 1004, 1000 NaN, 1000 1000))",
        "POLYGON ((1000 1000, 1004 1000, 1004 Infinity, 1000 1004, 1000 1000))",
        "POLYGON ((0 0, 1e308 0, 1e308 1e308, 0 1e308, 0 0))",
        "POLYGON ((5 5, 5 5, 5 5, 5 5))",
        "POLYGON ((0 0, 0 0, 0 0, 0 0))",
    ],
)
def test_points_that_are_not_finite_leave_the_origin_to_the_box(text: str) -> None:
    with np.errstate(invalid="ignore"):
        geom = wkt.loads(text)
    read, origin = read_with_origin(geom)
    assert origin == local_origin(shapes_bounds(geom, read_polygons(geom)))


@pytest.mark.parametrize(
    "gap", [None, (math.nan, math.nan), (math.inf, 5.0), (3.0, -math.inf)], ids=["none", "nan", "inf", "-inf y"]
)
@pytest.mark.parametrize("scale", [1.0, 1e306], ids=["plain", "near the largest float"])
def test_point_lists_are_cut_where_the_same_arrays_are(gap: tuple[float, float] | None, scale: float) -> None:
    # point lists are told gapless by the least and greatest of all their coordinates
    curves = [[(x * scale, y * scale) for x, y in c] for c in kanji("永")]
    if gap is not None:
        curves = with_gaps(curves, gap)
    from_lists = native_strokes(read_curves(curves))
    from_arrays = native_strokes(read_curves([np.array(c, dtype=np.float64) for c in curves]))
    assert [np.asarray(s).tolist() for s in from_lists[0]] == [np.asarray(s).tolist() for s in from_arrays[0]]
    assert from_lists[2] == from_arrays[2]


@pytest.mark.parametrize("extents", [0.0, 1.0, 15.0, 15.999, 16.0, 16.001, 17.0, 1e4])
@pytest.mark.parametrize("sign", [1.0, -1.0], ids=["up", "down"])
@pytest.mark.parametrize("pad", [0.0, 3.0, 200.0])
@pytest.mark.parametrize("first", [None, (math.nan, 0.0)], ids=["finite", "nan first"])
def test_strokes_are_computed_about_the_origin_their_box_gives(extents: float, sign: float, pad: float, first: tuple[float, float] | None) -> None:
    # the origin of point lists is first told from two of their points, without their box
    curves = kanji("水")
    x0, y0, x1, y1 = bounds_of(read_curves(curves))
    extent = max(x1 - x0, y1 - y0)
    dx, dy = (extents * extent - x0, extents * extent - y0) if sign > 0 else (-extents * extent - x1, -extents * extent - y1)
    moved = [[(x + dx, y + dy) for x, y in c] for c in curves]
    if first is not None:
        moved[0].insert(0, first)
    read = read_curves(moved)
    assert curves_origin(read, pad) == local_origin(bounds_of(read), pad)
