"""Centerlines of filled shapes: the polygon entry point, its repair of invalid rings, its
input forms, and its agreement with the stroke pipeline on the stroke pipeline's own polygons."""

from __future__ import annotations

import json
import math
import random
import warnings
from pathlib import Path

import numpy as np
import pytest
import shapely
from shapely.geometry import MultiPolygon, Polygon, box

import strandify
from strandify import _internal
from strandify.cli import main

from conftest import native_options

SQUARE = [(0.0, 0.0), (40.0, 0.0), (40.0, 40.0), (0.0, 40.0)]
INNER = [(8.0, 8.0), (32.0, 8.0), (32.0, 32.0), (8.0, 32.0)]


def lines(result: strandify.Centerlines) -> shapely.MultiLineString:
    return result.to_shapely()


def random_drawing(rng: random.Random) -> list[list[tuple[float, float]]]:
    curves = []
    for _ in range(rng.randint(1, 6)):
        x, y, a = rng.uniform(0, 80), rng.uniform(0, 80), rng.uniform(0, 2 * math.pi)
        pts = []
        for _ in range(rng.randint(2, 50)):
            a += rng.gauss(0, 0.3)
            x, y = x + math.cos(a) * rng.uniform(0.5, 3), y + math.sin(a) * rng.uniform(0.5, 3)
            pts.append((x, y))
        curves.append(pts)
    return curves


@pytest.mark.parametrize("seed", range(40))
@pytest.mark.parametrize("min_tip_fraction", [0.0, None])
def test_buffer_polygons_give_the_stroke_pipelines_result(seed: int, min_tip_fraction: float | None) -> None:
    rng = random.Random(seed)
    curves = random_drawing(rng)
    bd = rng.choice([0.5, 1.0, 2.0])
    fs = bd * rng.choice([1.0, 2.0])
    strokes = _internal.strandify(curves, bd, fs, min_tip_fraction=min_tip_fraction, compute_widths=True)
    polygons = _internal.inflate_curves(curves, bd, fs)
    options = native_options(min_tip_fraction=min_tip_fraction, compute_widths=True)
    filled = _internal.strandify_polygons(polygons, bd, fs, options)
    if min_tip_fraction is None and len(filled[0]) != len(strokes[0]):
        # a filled shape keeps the main axis of a part the stroke pipeline prunes away entirely
        assert len(filled[0]) > len(strokes[0])
        assert all(c in filled[0] for c in strokes[0])
    else:
        assert filled == strokes


@pytest.mark.parametrize(("width", "length", "angle"), [(10, 100, 0), (4, 60, 30), (20, 300, 127), (1, 15, 90)])
def test_rectangle_gives_its_long_axis(width: float, length: float, angle: float) -> None:
    rect = shapely.affinity.rotate(box(0, 0, length, width), angle, origin=(0, 0))
    axis = shapely.affinity.rotate(shapely.LineString([(0, width / 2), (length, width / 2)]), angle, origin=(0, 0))
    result = strandify.polygon_centerlines(rect, compute_widths=True)
    assert len(result.chains) == 1
    assert shapely.hausdorff_distance(lines(result), axis) < 0.15 * length
    points = shapely.points(result.chains[0])
    assert (shapely.distance(points, axis) < 0.05 * width + 1e-9).all()
    assert lines(result).length > 0.8 * length
    assert ((result.widths[0] > 0.5 * width) & (result.widths[0] < 2 * width)).all()


def test_ring_with_a_hole_gives_one_loop_between_its_boundaries() -> None:
    result = strandify.polygon_centerlines(Polygon(SQUARE, [INNER]))
    assert len(result.chains) == 1 and result.chain_node_ids[0, 0] == result.chain_node_ids[0, 1]
    mid = box(4, 4, 36, 36).exterior
    assert shapely.hausdorff_distance(lines(result), mid) < 3.0


def glyph(ch: str) -> MultiPolygon:
    pytest.importorskip("matplotlib")
    from matplotlib.font_manager import FontProperties
    from matplotlib.textpath import TextPath

    from strandify._read_shapes import regions_from_subpaths

    rings = TextPath((0, 0), ch, size=100, prop=FontProperties(family="DejaVu Sans")).to_polygons(closed_only=True)
    return MultiPolygon([Polygon(p[0], p[1:]) for p in regions_from_subpaths(rings)])


@pytest.mark.parametrize(("ch", "tips", "junctions", "holes"), [("H", 4, 2, 0), ("O", 0, 0, 1), ("T", 3, 1, 0), ("B", 0, 2, 2)])
def test_letter_outline_gives_the_letters_strokes(ch: str, tips: int, junctions: int, holes: int) -> None:
    result = strandify.polygon_centerlines(glyph(ch))
    degree = result.degrees()
    assert (int((degree == 1).sum()), int((degree >= 3).sum())) == (tips, junctions)
    # one independent cycle around every hole of the outline, and no other
    assert len(result.chains) - len(result.nodes) + 1 == holes
    assert glyph(ch).buffer(1e-6).contains(lines(result))


@pytest.mark.parametrize("ch", "ij!?")
def test_a_square_dot_stays_a_point_beside_its_stroke(ch: str) -> None:
    # The dot's skeleton is all corner: however the boundary near corners is refined, a square
    # dot is no dash.
    result = strandify.polygon_centerlines(glyph(ch))
    points = [c for c in result.chains if len(np.unique(c, axis=0)) == 1]
    assert len(points) == 1 and len(result.chains) == 2
    assert int((result.degrees() == 1).sum()) == 2  # the stroke's two ends


BOWTIE = [(0.0, 0.0), (60.0, 20.0), (60.0, 0.0), (0.0, 20.0)]


@pytest.mark.parametrize(
    "polygon",
    [
        (SQUARE[::-1], [INNER]),  # clockwise outer
        (SQUARE, [INNER[::-1]]),  # counter-clockwise hole
        (SQUARE + [SQUARE[0]], [INNER + [INNER[0]]]),  # closed rings
        ([p for p in SQUARE for _ in range(3)], [INNER]),  # repeated points
        (SQUARE, [INNER, [(100.0, 0.0), (120.0, 0.0), (120.0, 20.0)]]),  # a hole outside its outer
    ],
)
def test_invalid_rings_are_read_as_the_region_they_draw(polygon: tuple) -> None:
    reference = lines(strandify.polygon_centerlines(Polygon(SQUARE, [INNER])))
    result = strandify.polygon_centerlines([polygon], feature_size=6.0)
    assert shapely.hausdorff_distance(lines(result), reference) < 3.0


def test_self_intersecting_ring_covers_both_lobes() -> None:
    result = strandify.polygon_centerlines([(BOWTIE, [])], feature_size=3.0)
    xs = np.concatenate(result.chains)[:, 0]
    assert xs.min() < 20 and xs.max() > 40


@pytest.mark.parametrize(
    "hole",
    [
        [(0.0, 0.0), (30.0, 8.0), (30.0, 30.0), (8.0, 30.0)],  # shares the outer's corner
        [(20.0, 0.0), (32.0, 20.0), (20.0, 32.0), (8.0, 20.0)],  # touches the outer's edge
        [(0.0, 8.0), (30.0, 8.0), (30.0, 30.0), (0.0, 30.0)],  # runs along the outer's edge
    ],
)
@pytest.mark.parametrize("refine", [True, False])
def test_holes_touching_the_outer_ring_still_give_centerlines(hole: list, refine: bool) -> None:
    region = Polygon(SQUARE).difference(Polygon(hole))
    result = strandify.polygon_centerlines([(SQUARE, [hole])], feature_size=2.0, refine=refine)
    # the finishing steps may join the band's pieces into one chain around the hole
    assert len(result.chains) >= (1 if refine else 2)
    # chains may pass a touching point (the closed region is connected there); smoothing then
    # cuts its corner by a fraction of the snapping distance, feature_size / 20
    assert region.buffer(0.1).contains(lines(result))
    assert lines(result).length > 40


@pytest.mark.parametrize(
    ("polygons", "message"),
    [
        ([([(0.0, 0.0), (math.nan, 0.0), (1.0, 1.0)], [])], "polygon 0: outer ring point 1 is (NaN, 0)"),
        ([(SQUARE, []), (SQUARE, [[(0.0, 0.0), (1.0, math.inf), (1.0, 1.0)]])], "polygon 1: hole 0 point 1"),
        ([([(0.0, 0.0), (3e12, 0.0), (1.0, 1.0)], [])], "within +-2000000000000"),
        ([([(0.0, 0.0), (1.0, 1.0), (2.0, 2.0)], [])], "cover no area"),
        ([(SQUARE, [SQUARE])], "cover no area"),
    ],
)
def test_unusable_polygons_raise_a_clear_value_error(polygons: list, message: str) -> None:
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)").replace("+", r"\+")):
        _internal.strandify_polygons(polygons, None, 1.0)


def test_bad_arguments() -> None:
    with pytest.raises(ValueError, match="buffer_distance must be a positive finite number, got -1"):
        _internal.strandify_polygons([(SQUARE, [])], -1.0, 1.0)
    with pytest.raises(ValueError, match="feature_size must be a positive finite number, got 0"):
        _internal.strandify_polygons([(SQUARE, [])], None, 0.0)
    with pytest.raises(TypeError, match="argument 'polygons': expected a polygon as an"):
        _internal.strandify_polygons([SQUARE], None, 1.0)
    # run whole, the one feature size comes from the rings as given, whose lobes cancel; split
    # into components, each repaired lobe measures its own
    with pytest.raises(ValueError, match="cannot derive feature_size"):
        strandify.polygon_centerlines([BOWTIE], partition="none")
    lobes = strandify.polygon_centerlines([BOWTIE])
    assert {bool(chain[:, 0].mean() < 30) for chain in lobes.chains} == {True, False}
    assert _internal.strandify_polygons([], None, 1.0) == ([], [], [], [])
    assert len(strandify.polygon_centerlines([]).chains) == 0


def test_every_input_form_gives_the_same_result() -> None:
    outer = np.array(SQUARE)
    forms = [
        Polygon(SQUARE, [INNER]),
        MultiPolygon([Polygon(SQUARE, [INNER])]),
        [outer, np.array(INNER)],
        [[SQUARE, INNER]],
        (SQUARE, [INNER]),
        [(outer, [INNER])],
        json.loads(json.dumps(shapely.geometry.mapping(Polygon(SQUARE, [INNER])))),
    ]
    results = [strandify.polygon_centerlines(f) for f in forms]
    for r in results[1:]:
        assert [c.tolist() for c in r.chains] == [c.tolist() for c in results[0].chains]
    gpd = pytest.importorskip("geopandas")
    series = gpd.GeoSeries([Polygon(SQUARE, [INNER]), None], crs="EPSG:3857")
    result = strandify.polygon_centerlines(series, feature_size=strandify.suggest_polygon_feature_size(forms[0]))
    assert [c.tolist() for c in result.chains] == [c.tolist() for c in results[0].chains]
    assert result.crs == series.crs


def test_a_part_shorter_than_the_pruning_length_keeps_its_axis() -> None:
    stroke = [[(0.0, 0.0), (1.5, 0.0)]]
    assert _internal.strandify(stroke, 1.0, 4.0)[0] == []  # pruned away entirely
    polygons = _internal.inflate_curves(stroke, 1.0, 4.0)
    chains = _internal.strandify_polygons(polygons, 1.0, 4.0)[0]
    assert len(chains) == 1
    assert shapely.LineString(chains[0]).length > 1.0


def test_batch_raises_or_skips_failing_items() -> None:
    bad = [([(0.0, 0.0), (math.nan, 1.0), (1.0, 0.0)], [])]
    with pytest.raises(strandify.BatchJobError) as info:
        strandify.polygon_centerlines_batch([box(0, 0, 50, 5), bad])
    assert info.value.index == 1
    results = strandify.polygon_centerlines_batch([box(0, 0, 50, 5), bad, box(0, 0, 5, 50)], errors="skip")
    assert results[1] is None and set(results.errors) == {1}
    assert len(results[0].chains) == len(results[2].chains) == 1


def test_batch_threads_give_the_same_results() -> None:
    shapes = [box(0, 0, 50 + k, 5) for k in range(12)] + [box(0, 0, 30, 30).difference(box(10, 10, 20, 20))]
    one = strandify.polygon_centerlines_batch(shapes, workers=1)
    two = strandify.polygon_centerlines_batch(shapes, workers=2)
    assert all(
        len(a.chains) == len(b.chains) and all(np.array_equal(p, q) for p, q in zip(a.chains, b.chains))
        for a, b in zip(one, two)
    )
    with pytest.raises(ValueError, match="workers must be"):
        strandify.polygon_centerlines_batch(shapes, workers=0)


def test_cli_fill_reads_svg_fills_and_geojson_polygons(tmp_path: Path) -> None:
    svg = tmp_path / "shapes.svg"
    svg.write_text(
        '<svg xmlns="http://www.w3.org/2000/svg" width="200" height="100" viewBox="0 0 200 100">'
        '<path d="M10 10 H190 V30 H10 Z"/>'
        '<path d="M20 50 H80 V90 H20 Z M30 60 V80 H70 V60 Z" fill="#369" stroke="none"/>'
        '<rect x="100" y="50" width="80" height="10" stroke="black" fill="none"/></svg>'
    )
    assert main(["--fill", str(svg), "-o", str(tmp_path / "out.json")]) == 0
    out = json.loads((tmp_path / "out.json").read_text())
    assert len(out["chains"]) == 2  # the bar and the square ring; the unfilled rectangle is no region
    geo = tmp_path / "shapes.geojson"
    features = [
        {"type": "Feature", "properties": {}, "geometry": shapely.geometry.mapping(box(0, 0, 100, 10))},
        {"type": "Feature", "properties": {}, "geometry": {"type": "LineString", "coordinates": [[0, 50], [9, 50]]}},
    ]
    geo.write_text(json.dumps({"type": "FeatureCollection", "features": features}))
    assert main(["--fill", str(geo), "-o", str(tmp_path / "out.geojson")]) == 0
    assert len(json.loads((tmp_path / "out.geojson").read_text())["features"]) == 1
    assert main(["--fill", str(geo), "-o", str(tmp_path / "x.json"), "--merge-tolerance", "1"]) == 1
    assert main(["--fill", str(geo), "-o", str(tmp_path / "x.json"), "--partition", "tiles"]) == 1
    # the finishing flags reach the regions: --no-refine --partition none is the exact call
    assert main(["--fill", str(geo), "-o", str(tmp_path / "exact.json"), "--no-refine", "--partition", "none"]) == 0
    exact = json.loads((tmp_path / "exact.json").read_text())["chains"]
    fs = strandify.suggest_polygon_feature_size(box(0, 0, 100, 10))
    want = _internal.strandify_polygons([(list(box(0, 0, 100, 10).exterior.coords), [])], None, fs)[0]
    assert [[tuple(p) for p in c] for c in exact] == want


def test_nested_subpaths_alternate_between_outer_rings_and_holes() -> None:
    from strandify._read_shapes import regions_from_subpaths

    def square(c: float, r: float) -> list[tuple[float, float]]:
        return [(c - r, c - r), (c + r, c - r), (c + r, c + r), (c - r, c + r)]

    # a frame, its hole, an island in the hole, the island's hole; listed out of order
    rings = [square(50, 10), square(50, 50), square(50, 5), square(50, 40), [(200.0, 0.0), (210.0, 0.0), (205.0, 9.0)]]
    regions = regions_from_subpaths(rings)
    shapes = sorted((len(r), float(np.abs(r[0]).max())) for r in regions)
    assert shapes == [(1, 210.0), (2, 60.0), (2, 100.0)]


def test_widths_follow_the_shape() -> None:
    # a channel 8 wide that opens into one 24 wide
    shape = box(0, -4, 120, 4).union(box(120, -12, 240, 12))
    result = strandify.polygon_centerlines(shape, feature_size=4.0, compute_widths=True, simplification=0.0)
    points = np.concatenate(result.chains)
    widths = np.concatenate(result.widths)
    narrow = widths[(points[:, 0] > 20) & (points[:, 0] < 100)]
    wide = widths[(points[:, 0] > 150) & (points[:, 0] < 210)]
    assert len(narrow) and len(wide)
    assert 6 < np.median(narrow) < 11 and 20 < np.median(wide) < 28


def blobs(count: int, points: int) -> list[tuple[list[tuple[float, float]], list]]:
    """Separate wobbly disks with a hole each, `points` vertices on each outer ring."""
    rng = random.Random(7)
    out = []
    for k in range(count):
        cx, cy, r = 60.0 * (k % 8), 60.0 * (k // 8), rng.uniform(15, 25)
        outer = [
            (cx + (r + 2 * math.sin(5 * t)) * math.cos(t), cy + (r + 2 * math.sin(5 * t)) * math.sin(t))
            for t in (2 * math.pi * i / points for i in range(points))
        ]
        hole = [(cx + 5 * math.cos(-t), cy + 5 * math.sin(-t)) for t in (2 * math.pi * i / 40 for i in range(40))]
        out.append((outer, [hole]))
    return out


def test_polygon_partition_and_workers_keep_the_result() -> None:
    # about 16,000 points: enough that a call starts up to three threads
    shapes = blobs(40, 400)
    exact = _internal.strandify_polygons(shapes, 4.0, 6.0)
    parted = _internal.strandify_polygons(shapes, 4.0, 6.0, native_options(partition="components"))
    # separate polygons at one given scale: the same chains, polygon by polygon
    assert sorted(map(tuple, map(tuple, parted[0]))) == sorted(map(tuple, map(tuple, exact[0])))
    steps = ("finish_tips", "recover_corners", "keep_dots", "join_crossings")
    # a scale left out is the whole call's without components and each polygon's with them
    for partition, scale in (("none", (None, 6.0)), ("components", (4.0, 6.0)), ("components", (None, None))):
        options = native_options(partition=partition, refine_steps=steps, compute_widths=True)
        one = _internal.strandify_polygons(shapes, *scale, options)
        for workers in (2, 3):
            options = native_options(partition=partition, refine_steps=steps, compute_widths=True, workers=workers)
            assert _internal.strandify_polygons(shapes, *scale, options) == one
    with pytest.raises(ValueError, match="^option 'partition': "):
        _internal.strandify_polygons(shapes, None, 6.0, native_options(partition="tiles"))
    with pytest.raises(ValueError, match="partition"):
        strandify.polygon_centerlines(shapes, 6.0, partition="tiles")  # type: ignore[arg-type]


@pytest.mark.parametrize(
    ("stroke", "join"),
    [([(0.0, 0.0), (50.0, 0.0)], "round"), ([(0.0, 0.0), (50.0, 0.0), (50.0, 30.0)], "mitre")],
)
def test_finishing_steps_bring_a_buffered_stroke_back_to_the_stroke(stroke: list, join: str) -> None:
    truth = shapely.LineString(stroke)
    shape = truth.buffer(2.0, join_style=join)
    exact = strandify.polygon_centerlines(shape, refine=False, partition="none")
    assert [list(map(tuple, c.tolist())) for c in exact.chains] == _internal.strandify_polygons(
        [(list(shape.exterior.coords), [])], None, strandify.suggest_polygon_feature_size(shape)
    )[0]
    done = strandify.polygon_centerlines(shape)
    assert len(done.chains) == 1
    # the exact tips hook into the round caps and cut the corner; the finished line does neither
    off = shapely.hausdorff_distance(lines(done), truth)
    assert off < 0.3 * 2.0
    assert off < 0.5 * shapely.hausdorff_distance(lines(exact), truth)


@pytest.mark.parametrize(
    ("options", "arms_kept"),
    [({}, True), ({"min_tip_fraction": 2.0}, False), ({"refine": False}, False)],
)
def test_short_arms_of_an_outline_survive_the_finished_pruning(options: dict, arms_kept: bool) -> None:
    # a cross whose bar reaches 7 beyond the stem on both sides: the bar of a t
    shape = box(-3, 0, 3, 60).union(box(-10, 37, 10, 43))
    result = strandify.polygon_centerlines(shape, 4.0, **options)
    assert len(result.chains) == (4 if arms_kept else 1)
    ends = result.nodes[result.degrees() == 1]
    assert (min(ends[:, 0]) < -5 and max(ends[:, 0]) > 5) == arms_kept
    if options.get("refine") is False:
        parted = native_options(partition="components")
        native = _internal.strandify_polygons([(list(shape.exterior.coords), [])], None, 4.0, parted)
        assert [list(map(tuple, c.tolist())) for c in result.chains] == native[0]


def _polygon_job(shape: Polygon, fs: float, bd: float | None = None) -> tuple:
    rings = [list(shape.exterior.coords)], [list(r.coords) for r in shape.interiors]
    return ([(rings[0][0], rings[1])], bd, fs)


@pytest.mark.parametrize("workers", [None, 1, 2, 64])
@pytest.mark.parametrize("refine", [None, ("finish_tips", "keep_dots")])
@pytest.mark.parametrize("widths", [False, True])
def test_native_polygon_batch_gives_each_jobs_own_call(workers: int | None, refine: tuple | None, widths: bool) -> None:
    shapes = [box(0, 0, 50 + k, 5 + k % 3) for k in range(9)] + [Polygon(SQUARE, [INNER])]
    # every other job with a buffer distance of its own, the others with the shape's half-width
    jobs = [_polygon_job(s, 4.0, bd=None if k % 2 else 0.5 + k) for k, s in enumerate(shapes)]
    options = native_options(partition="components", refine_steps=refine, workers=workers, compute_widths=widths)
    out = _internal.strandify_polygons_batch(jobs, options)
    # the batch's workers cap how many jobs run at once: the single calls run on one thread
    single = native_options(partition="components", refine_steps=refine, compute_widths=widths)
    assert out == [_internal.strandify_polygons(*job, single) for job in jobs]
    assert all((len(r[3]) == len(r[0])) if widths else (r[3] == []) for r in out)


@pytest.mark.parametrize(
    ("jobs", "changes", "error", "match"),
    [
        ([[]], {}, TypeError,
         r"^argument 'jobs': expected a \(polygons, buffer_distance, feature_size\) tuple of 3 elements, got list"),
        ([(1, 2)], {}, TypeError, "tuple of length 3, got a tuple of length 2"),
        # the former eleven-element job, its tuning beside the scale
        ([_polygon_job(box(0, 0, 9, 2), 1.0) + (None,) * 8], {}, TypeError,
         "tuple of length 3, got a tuple of length 11"),
        ([_polygon_job(box(0, 0, 9, 2), 0.0)], {}, ValueError, "feature_size must be a positive"),
        ([_polygon_job(box(0, 0, 9, 2), 1.0)], {"workers": 0}, ValueError, "^option 'workers': workers must be"),
        ([_polygon_job(box(0, 0, 9, 2), 1.0)], {"partition": "tiles"}, ValueError, "^option 'partition': "),
        ([_polygon_job(box(0, 0, 9, 2), 1.0)], {"refine_steps": ("spline",)}, ValueError,
         "^option 'refine_steps': .*spline"),
    ],
)
def test_native_polygon_batch_refuses_bad_jobs(jobs: list, changes: dict, error: type, match: str) -> None:
    with pytest.raises(error, match=match):
        _internal.strandify_polygons_batch(jobs, native_options(**changes))


def test_native_polygon_batch_names_the_failing_job() -> None:
    flat = ([([(0.0, 0.0), (1.0, 1.0), (2.0, 2.0)], [])], None, 1.0)
    jobs = [_polygon_job(box(0, 0, 9, 2), 1.0), flat, _polygon_job(box(0, 0, 2, 9), 1.0)]
    with pytest.raises(ValueError, match="^strandify_polygons_batch job 1 failed: the polygons cover no area") as info:
        _internal.strandify_polygons_batch(jobs)
    assert info.value.job_index == 1 and info.value.reason.startswith("the polygons cover no area")
    assert info.value.kind == "invalid_geometry"


def test_batch_passes_the_options_of_one_call_and_checks_them() -> None:
    shapes = [box(0, 0, 60, 8), Polygon(SQUARE, [INNER])]
    batch = strandify.polygon_centerlines_batch(shapes, 5.0, compute_widths=True, refine=False, chunk_size=1)
    for got, shape in zip(batch, shapes):
        want = strandify.polygon_centerlines(shape, 5.0, compute_widths=True, refine=False)
        assert all(np.array_equal(a, b) for a, b in zip(got.chains, want.chains))
        assert got.widths is not None and all(np.array_equal(a, b) for a, b in zip(got.widths, want.widths))
    with pytest.raises(TypeError, match="colour"):
        strandify.polygon_centerlines_batch(shapes, colour="red")
    with pytest.raises(ValueError, match="chunk_size"):
        strandify.polygon_centerlines_batch(shapes, chunk_size=0)
    with pytest.raises(ValueError, match="partition"):
        strandify.polygon_centerlines_batch(shapes, partition="tiles")


def test_rings_as_float64_arrays_read_as_their_tuples() -> None:
    outer = np.array(SQUARE[::-1] + [SQUARE[-1]], dtype=np.float64)  # reversed and closed
    hole = np.array(INNER, dtype=np.float64)
    widths = native_options(compute_widths=True)
    want = _internal.strandify_polygons([(list(map(tuple, outer.tolist())), [INNER])], None, 4.0, widths)
    assert _internal.strandify_polygons([(outer, [hole])], None, 4.0, widths) == want
    assert _internal.strandify_polygons([(outer, [INNER])], None, 4.0, widths) == want


@pytest.mark.parametrize(
    "ring",
    [
        np.array(SQUARE, dtype=np.float32),  # not float64
        np.array([[x, y, 0.0] for x, y in SQUARE]),  # three columns
        np.array(SQUARE + SQUARE, dtype=np.float64)[::2],  # strided
        np.array(SQUARE, dtype=np.float64).reshape(-1),  # flat
    ],
)
def test_other_arrays_as_rings_are_refused_as_before(ring: np.ndarray) -> None:
    with pytest.raises(TypeError, match="expected a point as an"):
        _internal.strandify_polygons([(ring, [])], None, 4.0)


@pytest.mark.parametrize("ring", [np.array([[0.0, 0.0], [math.nan, 1.0], [1.0, 0.0]]), np.empty((0, 2))])
def test_array_rings_keep_the_checks_of_their_values(ring: np.ndarray) -> None:
    with pytest.raises(ValueError):
        _internal.strandify_polygons([(ring, [])], None, 4.0)


def test_shapes_that_give_no_line_are_named() -> None:
    # at the road's feature size two small lots far from it prune away (their dots not kept),
    # while two touching buildings share one chain across their common wall
    shapes = [box(0, 0, 400, 20), box(50, 200, 54, 204), box(300, 200, 303, 203),
              box(150, 100, 190, 112), box(190, 100, 230, 112)]
    road = strandify.suggest_polygon_feature_size(shapes[0])
    with pytest.warns(strandify.LostStrokesWarning, match=r"^2 of 5 polygon\(s\) gave no centerline \(polygons 1, 2,") as info:
        result = strandify.polygon_centerlines(shapes, road, keep_dots=False)
    assert len(info) == 1 and len(result.chains) >= 2
    # left to derive, each separate shape measures its own scale, as it would alone
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        derived = strandify.polygon_centerlines(shapes, keep_dots=False)
    for lot in shapes[1:3]:
        alone = strandify.polygon_centerlines(lot, keep_dots=False).chains
        assert alone and all(any(np.array_equal(a, b) for b in derived.chains) for a in alone)
