"""The high-level API: reading drawings, the result object and its converters, the batch."""

from __future__ import annotations

import json
import math
import warnings
import sys
import xml.etree.ElementTree as ET
from typing import Any

import numpy as np
import pytest

import strandify
from strandify import BatchJobError, Centerlines, centerlines, centerlines_batch, suggest_parameters
from strandify.options import refine_steps

from conftest import batch_failure, native_options

D, F = 3.0, 3.0

# Two overdrawn strokes crossing: a plus sign, each arm traced twice.
PLUS = [
    [(0.0, 0.0), (50.0, 0.4), (100.0, 0.0)],
    [(1.0, 1.0), (50.0, 0.8), (99.0, 1.2)],
    [(50.0, -50.0), (50.4, 0.0), (50.0, 50.0)],
    [(51.0, -49.0), (50.8, 0.0), (51.0, 49.0)],
]


def native(curves: list[list[tuple[float, float]]], d: float = D, f: float = F) -> Centerlines:
    """The native call centerlines() makes, with its default finishing steps."""
    options = native_options(refine_steps=refine_steps())
    chains, nodes, ids, _ = strandify._internal.strandify_strokes(curves, d, f, options)
    return Centerlines.from_native(chains, nodes, ids)


def points(curves: Any) -> list[list[tuple[Any, ...]]]:
    """The native curves as lists of (x, y) tuples, whether they came as lists or arrays."""
    return [list(map(tuple, c)) for c in curves]


def values(widths: Any) -> list[list[Any]]:
    """The native width lists as plain lists, whether they came as lists or arrays."""
    return [list(w) for w in widths]


#: The tuning fields of the native options that hold numbers (None: the native default).
NUMBER_FIELDS = (
    "simplification", "min_tip_fraction", "junction_merge_fraction", "subdivision_ratio", "resample",
    "boundary_simplification", "merge_tolerance", "tile_size", "max_nodes",
)


def same(a: Centerlines, b: Centerlines) -> bool:
    return (
        len(a.chains) == len(b.chains)
        and all(np.array_equal(x, y) for x, y in zip(a.chains, b.chains))
        and np.array_equal(a.nodes, b.nodes)
        and np.array_equal(a.chain_node_ids, b.chain_node_ids)
    )


# strandify_strokes_arrays' answer for a drawing without chains: no points, one chain start (the
# end), no nodes, ids, widths or lost groups, and no groups
NO_CHAINS = (bytearray(), bytearray(8), bytearray(), bytearray(), None, bytearray(), 0)


class Recorder:
    """Stands in for a native function and remembers the positional arguments it was given:
    for ``strandify_strokes_arrays``, ``(curves, buffer_distance, feature_size, options, per_curve_widths)``."""

    def __init__(self, result: Any) -> None:
        self.calls: list[tuple[Any, ...]] = []
        self.result = result

    def __call__(self, *args: Any, **kwargs: Any) -> Any:
        self.calls.append(args)
        return self.result


@pytest.fixture
def record_strandify(monkeypatch: pytest.MonkeyPatch) -> Recorder:
    rec = Recorder(NO_CHAINS)
    monkeypatch.setattr(strandify._native, "strandify_strokes_arrays", rec)
    return rec


# -- reading drawings ---------------------------------------------------------------


class TestInputShapes:
    def test_lists_of_tuples_match_the_native_call(self) -> None:
        expected = native(PLUS)
        assert len(expected.chains) >= 2  # the sample must give a real network
        assert same(centerlines(PLUS, D, F), expected)

    @pytest.mark.parametrize(
        "convert",
        [
            lambda c: [[list(p) for p in curve] for curve in c],
            lambda c: [np.array(curve) for curve in c],
            lambda c: [np.asfortranarray(curve)[::-1][::-1] for curve in c],
            lambda c: tuple(tuple(curve) for curve in c),
            lambda c: (np.array(curve) for curve in c),
            lambda c: [[np.array(p) for p in curve] for curve in c],
        ],
        ids=["lists", "arrays", "strided", "tuples", "generator", "point-arrays"],
    )
    def test_other_containers_give_the_same_result(self, convert: Any) -> None:
        assert same(centerlines(convert(PLUS), D, F), native(PLUS))

    def test_three_dimensional_array_is_a_list_of_curves(self) -> None:
        arr = np.array(PLUS)  # every curve has three points: shape (4, 3, 2)
        assert same(centerlines(arr, D, F), native(PLUS))

    def test_single_curve_is_a_drawing_of_one_curve(self, record_strandify: Recorder) -> None:
        line = [(0.0, 0.0), (10.0, 0.0), (20.0, 5.0)]
        centerlines(line, D, F)
        centerlines(np.array(line), D, F)
        centerlines([np.array(p) for p in line], D, F)
        assert len(record_strandify.calls) == 3
        for call in record_strandify.calls:
            assert points(call[0]) == [line]

    def test_points_that_are_not_pairs(self) -> None:
        # lengths that add up to two per point must not slip through as pairs
        with pytest.raises(TypeError, match="argument 'curves'"):
            centerlines([[(0.0, 0.0, 0.0), (1.0,)], PLUS[0]], D, F)
        with pytest.raises(ValueError, match=r"curve 0: .*lengths \[1, 3\]"):
            centerlines([[(0.0, 0.0, math.nan), (1.0,)], PLUS[0]], D, F)
        with pytest.raises(ValueError, match=r"curve 1: .*lengths \[2, 3\]"):
            centerlines([PLUS[0], [(0.0, 0.0), (1.0, 2.0, None)]], D, F)

    def test_integer_points_are_converted(self, record_strandify: Recorder) -> None:
        centerlines([np.array([[0, 0], [10, 0]])], D, F)
        (curves,) = [c[0] for c in record_strandify.calls]
        assert points(curves) == [[(0.0, 0.0), (10.0, 0.0)]]
        # floats, not ints (numpy's float64 is a float too)
        assert all(isinstance(v, float) for p in curves[0] for v in p)

    def test_shapely_geometries(self) -> None:
        shapely = pytest.importorskip("shapely")
        lines = [shapely.LineString(c) for c in PLUS]
        expected = native(PLUS)
        assert same(centerlines(lines, D, F), expected)
        assert same(centerlines(shapely.MultiLineString(PLUS), D, F), expected)
        mixed = [shapely.MultiLineString(PLUS[:2]), np.array(PLUS[2]), PLUS[3]]
        assert same(centerlines(mixed, D, F), expected)
        collection = shapely.GeometryCollection([shapely.MultiLineString(PLUS[:3]), lines[3]])
        assert same(centerlines(collection, D, F), expected)

    def test_shapely_z_and_rings(self, record_strandify: Recorder) -> None:
        shapely = pytest.importorskip("shapely")
        centerlines(shapely.LineString([(0, 0, 7), (5, 0, 7)]), D, F)
        centerlines(shapely.LinearRing([(0, 0), (5, 0), (5, 5)]), D, F)
        first, second = (points(c[0]) for c in record_strandify.calls)
        assert first == [[(0.0, 0.0), (5.0, 0.0)]]
        assert second == [[(0.0, 0.0), (5.0, 0.0), (5.0, 5.0), (0.0, 0.0)]]

    def test_polygons_are_refused_with_a_hint(self) -> None:
        shapely = pytest.importorskip("shapely")
        with pytest.raises(TypeError, match="boundary"):
            centerlines(shapely.Polygon([(0, 0), (1, 0), (1, 1)]), D, F)

    @pytest.mark.parametrize(
        "drawing",
        [[], (), np.empty((0, 2)), np.empty((0, 0, 2)), [[]], [np.empty((0, 2))], [[(1.0, 2.0)]]],
        ids=["list", "tuple", "array", "array3d", "empty-curve", "empty-array", "one-point"],
    )
    def test_empty_input_gives_an_empty_result(self, drawing: Any) -> None:
        result = centerlines(drawing, D, F)
        assert len(result) == 0
        assert result.chains == []
        assert result.nodes.shape == (0, 2)
        assert result.chain_node_ids.shape == (0, 2)
        assert result.bounds is None

    @pytest.mark.parametrize(
        "drawing, error, text",
        [
            ("abc", TypeError, "str"),
            (None, TypeError, "None"),
            (42, TypeError, "int"),
            (["abc"], TypeError, "curve 0"),
            ([[(0, 0), (1, 1)], [(0, 0, 0), (1, 1, 1)]], ValueError, r"curve 1.*\(2, 3\)"),
            ([[(0, 0), (1, 1)], [(0, 0), (1,)]], ValueError, r"curve 1: .*lengths \[1, 2\]"),
            ([[("a", "b"), (1, 1)]], TypeError, "curve 0"),
            ([[(0, 0), (1, 1)], 5], ValueError, "curve 1"),
            (np.zeros((3, 3)), ValueError, r"\(3, 3\)"),
        ],
    )
    def test_unreadable_drawings(self, drawing: Any, error: type[Exception], text: str) -> None:
        with pytest.raises(error, match=text):
            centerlines(drawing, D, F)


class TestNanRows:
    def test_nan_rows_split_curves(self, record_strandify: Recorder) -> None:
        nan = math.nan
        arr = np.array([[0, 0], [1, 0], [nan, 5], [2, 0], [3, 0], [4, 1], [5, nan], [6, 0], [7, 0]], float)
        centerlines([arr, [(9.0, 9.0), (9.0, 10.0)]], D, F)
        (curves,) = [points(c[0]) for c in record_strandify.calls]
        assert curves == [
            [(0.0, 0.0), (1.0, 0.0)],
            [(2.0, 0.0), (3.0, 0.0), (4.0, 1.0)],
            [(6.0, 0.0), (7.0, 0.0)],
            [(9.0, 9.0), (9.0, 10.0)],
        ]

    def test_leading_trailing_and_repeated_nan_rows_and_lone_points(self, record_strandify: Recorder) -> None:
        nan = math.nan
        curve = [(nan, nan), (0, 0), (1, 1), (nan, 0), (nan, 0), (5, 5), (nan, nan), (2, 2), (3, 3), (nan, 1)]
        centerlines([curve, [(nan, nan)], [(nan, 1.0), (4.0, 4.0)]], D, F)
        (curves,) = [points(c[0]) for c in record_strandify.calls]
        # (5, 5) stands alone between gaps and draws nothing
        assert curves == [[(0.0, 0.0), (1.0, 1.0)], [(2.0, 2.0), (3.0, 3.0)]]

    def test_nan_split_equals_separate_curves(self) -> None:
        joined = np.concatenate([np.array(PLUS[0]), [[np.nan, np.nan]], np.array(PLUS[1])])
        assert same(centerlines([joined, *PLUS[2:]], D, F), native(PLUS))

    def test_widths_are_cut_with_their_curve(self, record_strandify: Recorder) -> None:
        nan = math.nan
        curve = np.array([[0, 0], [1, 0], [nan, 0], [2, 0], [3, 0], [4, 0]], float)
        centerlines([curve, [(0, 5), (1, 5)]], D, F, per_curve_widths=[[1, 2, 3, 4, 5, 6], []])
        (call,) = record_strandify.calls
        assert points(call[0]) == [[(0.0, 0.0), (1.0, 0.0)], [(2.0, 0.0), (3.0, 0.0), (4.0, 0.0)], [(0.0, 5.0), (1.0, 5.0)]]
        assert values(call[4]) == [[1.0, 2.0], [4.0, 5.0, 6.0], []]

    @pytest.mark.parametrize("gap", [math.inf, -math.inf])
    def test_infinite_coordinates_are_gaps_too(self, record_strandify: Recorder, gap: float) -> None:
        curve = [(0.0, 0.0), (1.0, 0.0), (gap, 1.0), (2.0, 2.0), (3.0, 2.0), (4.0, gap)]
        centerlines([curve, [(9.0, 9.0), (9.0, 10.0)]], D, F)
        assert points(record_strandify.calls[0][0]) == [[(0.0, 0.0), (1.0, 0.0)], [(2.0, 2.0), (3.0, 2.0)], [(9.0, 9.0), (9.0, 10.0)]]

    def test_a_stroke_through_an_infinite_point_keeps_its_finite_parts(self) -> None:
        cut = [(50.0, 0.0), (50.0, -20.0), (math.inf, math.inf), (50.0, -25.0), (50.0, -60.0)]
        result = centerlines([[(0.0, 0.0), (100.0, 0.0)], cut], 2.0, 4.0)
        assert max(-c[:, 1].min() for c in result.chains) > 55


class TestParameters:
    def test_keywords_reach_the_native_call(self, record_strandify: Recorder) -> None:
        centerlines(
            PLUS, 2.0, 4.0, simplification=0.1, min_tip_fraction=0.2, junction_merge_fraction=0.3,
            per_curve_widths=[[1, 1, 1]], compute_widths=True, subdivision_ratio=0.4, max_nodes=50,
            resample=0.5, boundary_simplification=0.6, merge_tolerance=0.7, partition="none", workers=3,
        )
        (args,) = record_strandify.calls
        assert args[1:3] == (2.0, 4.0)
        assert args[3] == native_options(
            simplification=0.1, min_tip_fraction=0.2, junction_merge_fraction=0.3, compute_widths=True,
            subdivision_ratio=0.4, max_nodes=50, resample=0.5, boundary_simplification=0.6,
            merge_tolerance=0.7, partition="none", workers=3, tile_size=None, refine_steps=refine_steps(),
        )
        assert values(args[4]) == [[1.0, 1.0, 1.0], [], [], []]

    def test_optional_values_default_to_none(self, record_strandify: Recorder) -> None:
        centerlines(PLUS, 2.0, 4.0)
        (call,) = record_strandify.calls
        options = call[3]
        assert {name: getattr(options, name) for name in NUMBER_FIELDS} == dict.fromkeys(NUMBER_FIELDS)
        assert (options.compute_widths, options.partition) == (False, "components")
        assert call[4] is None  # per_curve_widths

    def test_derived_scale(self) -> None:
        lengths = sorted(float(np.hypot(*np.diff(np.array(c), axis=0).T).sum()) for c in PLUS)
        d, f = suggest_parameters(PLUS)
        assert d == pytest.approx((lengths[1] + lengths[2]) / 2 * 0.025)
        assert f == pytest.approx(2 * d)
        assert suggest_parameters(PLUS, buffer_distance=5.0) == (5.0, 10.0)
        assert suggest_parameters(PLUS, feature_size=5.0) == (2.5, 5.0)
        assert suggest_parameters(PLUS, 1.0, 9.0) == (1.0, 9.0)
        assert suggest_parameters([]) == (1.0, 2.0)
        assert suggest_parameters([[(3.0, 3.0), (3.0, 3.0)]]) == (1.0, 2.0)

    def test_derived_scale_ignores_gaps_and_infinities(self) -> None:
        curve = [(0.0, 0.0), (30.0, 40.0), (math.nan, 1e9), (math.inf, 3.0), (30.0, 40.0), (30.0, 80.0)]
        assert suggest_parameters([curve]) == pytest.approx((90 * 0.025, 90 * 0.05))

    @pytest.mark.parametrize(
        ("far", "same_scale"),
        [([(330.0, 0.0), (330.0, 40.0)], True), ([(3000.0, 3000.0), (3001.0, 3000.0)], False)],
    )
    def test_a_far_away_stroke_leaves_the_other_chains_alone(self, far: Any, same_scale: bool) -> None:
        # an H of three strokes: with the extent-based scale of old, one stroke far
        # away grew every buffer and merged the H away
        h = [[(0.0, 0.0), (0.0, 40.0)], [(30.0, 0.0), (30.0, 40.0)], [(0.0, 20.0), (30.0, 20.0)]]
        alone = centerlines(h)
        assert len(alone) == 5
        d, _ = suggest_parameters(h + [far])
        assert (d == suggest_parameters(h)[0]) is same_scale
        assert 0.8 < d / suggest_parameters(h)[0] <= 1.0
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", strandify.LostStrokesWarning)  # the speck may be pruned
            near = [c for c in centerlines(h + [far]).chains if c[:, 0].max() < 100]
        assert len(near) == 5
        if same_scale:
            key = lambda c: c.tolist()  # noqa: E731
            assert all(np.array_equal(a, b) for a, b in zip(sorted(alone.chains, key=key), sorted(near, key=key)))

    @pytest.mark.parametrize("value", [0.0, -1.0, math.nan, math.inf])
    def test_buffer_distance_is_checked(self, value: float) -> None:
        with pytest.raises(ValueError, match="buffer_distance must be a positive finite number"):
            centerlines(PLUS, value)
        with pytest.raises(ValueError, match="buffer_distance must be a positive finite number"):
            centerlines_batch([PLUS], value)

    def test_buffer_distance_of_the_wrong_type(self) -> None:
        with pytest.raises(TypeError, match="buffer_distance must be a number, got str"):
            centerlines(PLUS, "1")  # type: ignore[arg-type]

    def test_feature_size_too_small_for_any_buffer(self) -> None:
        with pytest.raises(ValueError, match="buffer_distance derived from feature_size 5e-324"):
            centerlines(PLUS, feature_size=5e-324)

    def test_strokes_too_long_to_measure(self) -> None:
        with pytest.raises(ValueError, match="cannot derive buffer_distance"):
            suggest_parameters([[(-1e308, 0.0), (1e308, 0.0)], [(-1e308, 1.0), (1e308, 1.0)]])

    def test_a_lost_group_of_strokes_is_reported(self) -> None:
        big = [[(0.0, 0.0), (100.0, 0.0)], [(0.0, 1.0), (100.0, 1.0)]]
        speck = [[(500.0, 500.0), (501.0, 500.0)]]
        # kept dots would keep the speck
        # the speck is named by its index in the drawing
        with pytest.warns(strandify.LostStrokesWarning, match=r"1 of 2 separate group.*the groups of strokes 2;"):
            centerlines(big + speck, 1.5, 6.0, keep_dots=False)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            centerlines(big, 1.5, 6.0, keep_dots=False)
            centerlines(big + speck, 1.5, 6.0)
        with pytest.warns(strandify.LostStrokesWarning, match="drawing 1: 1 of 2"):
            centerlines_batch([big, big + speck], 1.5, 6.0, keep_dots=False)

    def test_defaults_equal_explicit_values(self) -> None:
        d, f = suggest_parameters(PLUS)
        assert same(centerlines(PLUS), centerlines(PLUS, d, f))

    def test_widths(self) -> None:
        result = centerlines(PLUS, D, F, compute_widths=True)
        assert result.widths is not None
        assert [len(w) for w in result.widths] == [len(c) for c in result.chains]
        assert all((w > 0).all() for w in result.widths)
        assert centerlines(PLUS, D, F).widths is None

    def test_widths_of_the_wrong_length(self) -> None:
        with pytest.raises(ValueError, match=r"per_curve_widths\[1\] has 2 entries but curve 1 has 3 points"):
            centerlines(PLUS, D, F, per_curve_widths=[[], [1.0, 2.0]])
        with pytest.raises(ValueError, match="entry for curve 4 but only 4 curve"):
            centerlines(PLUS, D, F, per_curve_widths=[[], [], [], [], [1.0]])

    def test_native_failures_surface(self) -> None:
        with pytest.raises(ValueError, match="exceeding max_nodes limit of 1"):
            centerlines(PLUS, D, F, max_nodes=1)
        with pytest.raises(ValueError, match="feature_size must be a positive finite number, got -1"):
            centerlines(PLUS, D, -1.0)


# -- the result and its converters ----------------------------------------------------


def handmade() -> Centerlines:
    """Two chains between the same nodes, a loop, and one plain chain, with widths."""
    return Centerlines.from_native(
        [
            [(0.0, 0.0), (5.0, 1.0), (10.0, 0.0)],
            [(0.0, 0.0), (5.0, -1.0), (10.0, 0.0)],
            [(10.0, 0.0), (12.0, 3.0), (14.0, 0.0), (10.0, 0.0)],
            [(0.0, 0.0), (0.0, 0.1)],
        ],
        [(0.0, 0.0), (10.0, 0.0), (0.0, 0.1)],
        [(0, 1), (0, 1), (1, 1), (0, 2)],
        [[1.0, 2.0, 3.0], [1.0, 1.0, 1.0], [4.0, 4.0, 4.0, 4.0], [0.5, 0.5]],
    )


class TestResult:
    def test_shapes_and_types(self) -> None:
        r = handmade()
        assert len(r) == 4
        assert all(c.dtype == np.float64 and c.shape[1] == 2 for c in r.chains)
        assert r.nodes.shape == (3, 2)
        assert r.chain_node_ids.dtype == np.intp and r.chain_node_ids.shape == (4, 2)
        assert r.bounds == (0.0, -1.0, 14.0, 3.0)
        assert repr(r) == "Centerlines(4 chains, 3 nodes)"

    def test_geojson(self) -> None:
        r = handmade()
        data = json.loads(json.dumps(r.to_geojson(), allow_nan=False))
        assert data["type"] == "FeatureCollection"
        assert [f["geometry"]["type"] for f in data["features"]] == ["LineString"] * 4
        assert [f["geometry"]["coordinates"] for f in data["features"]] == [c.tolist() for c in r.chains]
        props = [f["properties"] for f in data["features"]]
        assert [(p["chain"], p["start_node"], p["end_node"]) for p in props] == [(0, 0, 1), (1, 0, 1), (2, 1, 1), (3, 0, 2)]
        assert props[0]["widths"] == [1.0, 2.0, 3.0]
        assert "widths" not in centerlines(PLUS, D, F).to_geojson()["features"][0]["properties"]

    def test_json(self) -> None:
        data = handmade().to_json()
        assert data["chain_node_ids"] == [[0, 1], [0, 1], [1, 1], [0, 2]]
        assert data["nodes"] == [[0.0, 0.0], [10.0, 0.0], [0.0, 0.1]]
        assert data["widths"][3] == [0.5, 0.5]

    def test_shapely(self) -> None:
        shapely = pytest.importorskip("shapely")
        r = handmade()
        multi = r.to_shapely()
        assert multi.geom_type == "MultiLineString"
        assert [np.asarray(g.coords).tolist() for g in multi.geoms] == [c.tolist() for c in r.chains]
        assert centerlines([], D, F).to_shapely().is_empty
        # and back in: the chains as a drawing
        assert same(centerlines(multi, D, F), centerlines(r.chains, D, F))
        del shapely

    def test_networkx_multigraph_keeps_parallel_chains_and_loops(self) -> None:
        nx = pytest.importorskip("networkx")
        g = handmade().to_networkx(plain=False)
        assert isinstance(g, nx.MultiGraph)
        assert dict(g.nodes(data="pos")) == {0: (0.0, 0.0), 1: (10.0, 0.0), 2: (0.0, 0.1)}
        assert g.number_of_edges(0, 1) == 2
        assert g.number_of_edges(1, 1) == 1
        loop = g.edges[1, 1, 2]
        assert loop["chain"] == 2
        assert loop["points"].tolist() == [[10.0, 0.0], [12.0, 3.0], [14.0, 0.0], [10.0, 0.0]]
        assert loop["length"] == pytest.approx(2 * math.hypot(2, 3) + 4)
        assert loop["widths"].tolist() == [4.0, 4.0, 4.0, 4.0]
        assert sorted(k for _, _, k in g.edges(keys=True)) == [0, 1, 2, 3]
        # by default, what graph files hold: the same graph, scalars and WKT
        plain = handmade().to_networkx()
        assert {n: (d["x"], d["y"]) for n, d in plain.nodes(data=True)} == dict(g.nodes(data="pos"))
        assert sorted(plain.edges(keys=True)) == sorted(g.edges(keys=True))
        assert plain.edges[1, 1, 2]["geometry"] == "LINESTRING (10.0 0.0, 12.0 3.0, 14.0 0.0, 10.0 0.0)"

    def test_svg(self) -> None:
        r = handmade()
        root = ET.fromstring(r.to_svg())
        ns = {"s": "http://www.w3.org/2000/svg"}
        lines = root.findall(".//s:polyline", ns)
        assert len(lines) == 4
        pts = [[tuple(map(float, p.split(","))) for p in line.get("points", "").split()] for line in lines]
        assert pts == [[tuple(p) for p in c.tolist()] for c in r.chains]
        assert [(line.get("data-start-node"), line.get("data-end-node")) for line in lines][2] == ("1", "1")
        group = root.find("s:g", ns)
        assert group is not None and group.get("transform") is None
        x, y, w, h = map(float, root.get("viewBox", "").split())
        assert x < 0 and y < -1 and x + w > 14 and y + h > 3

    def test_svg_flip_and_bounds(self) -> None:
        root = ET.fromstring(handmade().to_svg(bounds=(-1.0, -2.0, 15.0, 4.0), y_up=True, stroke="red"))
        assert root.get("viewBox") == "-1.0 -2.0 16.0 6.0"
        group = root.find("{http://www.w3.org/2000/svg}g")
        assert group is not None
        assert group.get("transform") == "matrix(1 0 0 -1 0 2.0)"
        assert group.get("stroke") == "red"

    def test_svg_of_nothing_is_valid(self) -> None:
        root = ET.fromstring(centerlines([], D, F).to_svg())
        assert root.get("viewBox") == "0.0 0.0 1.0 1.0"

    def test_plot(self) -> None:
        matplotlib = pytest.importorskip("matplotlib")
        matplotlib.use("Agg")
        from matplotlib.collections import LineCollection
        from matplotlib.figure import Figure

        ax = Figure().add_subplot()
        r = handmade()
        assert r.plot(ax, strokes=PLUS, invert_y=True) is ax
        assert len(ax.collections) == 2  # strokes, then chains
        chains = ax.collections[1]
        assert isinstance(chains, LineCollection) and len(chains.get_segments()) == 4
        assert ax.yaxis_inverted()
        ax2 = Figure().add_subplot()
        centerlines([], D, F).plot(ax2)
        assert len(ax2.collections) == 0

    @pytest.mark.parametrize(
        "method, extra",
        [("to_shapely", "shapely"), ("to_networkx", "networkx"), ("plot", "plot")],
    )
    def test_missing_optional_library_names_the_extra(
        self, monkeypatch: pytest.MonkeyPatch, method: str, extra: str
    ) -> None:
        module = {"shapely": "shapely", "networkx": "networkx", "plot": "matplotlib"}[extra]
        monkeypatch.setitem(sys.modules, module, None)  # makes the import fail
        with pytest.raises(ImportError, match=rf"pip install 'strandify\[{extra}\]'"):
            getattr(handmade(), method)()


# -- the batch ------------------------------------------------------------------------


def one_chain_buffers(stroke: Any) -> tuple[Any, ...]:
    """The flat buffers of ``strandify_strokes_arrays_batch`` for a result whose one chain is
    ``stroke``, its ends the two nodes, nothing lost."""
    points = np.asarray(stroke, dtype=np.float64)
    ends = np.concatenate((points[:1], points[-1:]))
    return (
        bytearray(points.tobytes()),
        bytearray(np.array([0, len(points)], dtype=np.int64).tobytes()),
        bytearray(ends.tobytes()),
        bytearray(np.array([0, 1], dtype=np.int64).tobytes()),
        None,
        bytearray(),
        1,
    )


class FakeBatch:
    """Stands in for ``strandify_strokes_arrays_batch``: answers each job with a one-chain
    result that tells which drawing it was, and remembers the jobs and options of every chunk."""

    def __init__(self, fail_at: int | None = None) -> None:
        self.chunks: list[list[tuple[Any, ...]]] = []
        self.options: list[Any] = []
        self.fail_at = fail_at

    def __call__(self, jobs: list[tuple[Any, ...]], options: Any) -> list[Any]:
        self.chunks.append(jobs)
        self.options.append(options)
        for i, job in enumerate(jobs):
            assert isinstance(job, tuple) and len(job) == 3
            if len(job[0]) and job[0][0][0][0] == self.fail_at:
                # as the native batch does: the text, plus the position and reason as attributes
                raise batch_failure(i, "skeleton has 9 nodes, exceeding max_nodes limit of 1")
        return [one_chain_buffers(job[0][0]) for job in jobs]


def numbered(n: int) -> list[list[list[tuple[float, float]]]]:
    """Drawing k is a single stroke starting at x = k, k units long."""
    return [[[(float(k), 0.0), (float(2 * k + 1), 0.0)]] for k in range(n)]


class TestBatch:
    def test_chunks_and_order(self, monkeypatch: pytest.MonkeyPatch) -> None:
        fake = FakeBatch()
        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", fake)
        results = centerlines_batch(iter(numbered(7)), chunk_size=3)
        assert [len(c) for c in fake.chunks] == [3, 3, 1]
        assert [r.chains[0][0, 0] for r in results] == [0, 1, 2, 3, 4, 5, 6]

    def test_parameters_per_drawing(self, monkeypatch: pytest.MonkeyPatch) -> None:
        fake = FakeBatch()
        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", fake)
        centerlines_batch(numbered(3), merge_tolerance=0.5, max_nodes=9, chunk_size=10)
        jobs = fake.chunks[0]
        # drawing k is k + 1 units long: derived sizes follow each drawing
        assert [job[1] for job in jobs] == pytest.approx([0.025, 0.05, 0.075])
        assert [job[2] for job in jobs] == pytest.approx([0.05, 0.1, 0.15])
        # the tuning keywords reach the native batch in its options, the same for every drawing
        (options,) = fake.options
        tuned = {name: getattr(options, name) for name in NUMBER_FIELDS}
        assert tuned == {**dict.fromkeys(NUMBER_FIELDS), "max_nodes": 9, "merge_tolerance": 0.5}
        centerlines_batch(numbered(2), 4.0, chunk_size=10)
        assert [job[1:3] for job in fake.chunks[1]] == [(4.0, 8.0), (4.0, 8.0)]

    def test_failure_names_the_position_in_the_whole_batch(self, monkeypatch: pytest.MonkeyPatch) -> None:
        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", FakeBatch(fail_at=5))
        with pytest.raises(BatchJobError) as info:
            centerlines_batch(numbered(8), chunk_size=2)
        assert info.value.index == 5
        assert info.value.reason == "skeleton has 9 nodes, exceeding max_nodes limit of 1"
        assert str(info.value) == "strandify_batch job 5 failed: skeleton has 9 nodes, exceeding max_nodes limit of 1"

    def test_unreadable_drawing_is_named(self, monkeypatch: pytest.MonkeyPatch) -> None:
        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", FakeBatch())
        with pytest.raises(ValueError, match=r"^drawing 4: curve 0: expected points of shape"):
            centerlines_batch([*numbered(4), [np.zeros((3, 3))]], chunk_size=2)

    @pytest.mark.parametrize("size", [0, -1, 1.5, True])
    def test_bad_chunk_size(self, size: Any) -> None:
        with pytest.raises(ValueError, match="chunk_size"):
            centerlines_batch(numbered(2), chunk_size=size)

    def test_empty(self) -> None:
        assert centerlines_batch([]) == []

    def test_real_batch_equals_single_calls(self) -> None:
        drawings = [PLUS, PLUS[:2], [], [np.array(c) * 2 for c in PLUS], PLUS[2:]]
        results = centerlines_batch(drawings, D, F, chunk_size=2)
        assert len(results) == 5
        for drawing, result in zip(drawings, results):
            assert same(result, centerlines(drawing, D, F))
            assert result.widths is None

    def test_real_failure(self) -> None:
        with pytest.raises(BatchJobError) as info:
            centerlines_batch([[], PLUS, PLUS], D, F, max_nodes=1, chunk_size=2)
        assert info.value.index in (1, 2)
        assert "exceeding max_nodes limit of 1" in info.value.reason
        assert info.value.kind == "node_limit"

    def test_feature_size_error_passes_through(self) -> None:
        with pytest.raises(ValueError, match="feature_size must be a positive finite number, got 0"):
            centerlines_batch([PLUS], D, 0.0)

    def test_progress_bar(self, capsys: pytest.CaptureFixture[str]) -> None:
        pytest.importorskip("tqdm")
        results = centerlines_batch([PLUS, PLUS[:2], PLUS[2:]], D, F, chunk_size=2, progress=True)
        assert len(results) == 3
        assert "3/3" in capsys.readouterr().err

    def test_progress_without_tqdm(self, monkeypatch: pytest.MonkeyPatch) -> None:
        monkeypatch.setitem(sys.modules, "tqdm", None)
        with pytest.raises(ImportError, match=r"pip install 'strandify\[progress\]'"):
            centerlines_batch([PLUS], D, F, progress=True)
