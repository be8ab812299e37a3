"""The native calls that answer in flat buffers: the same chains as the list-returning calls, and
the parts of the drawing that gave no chain, found natively as the package's own check finds
them; and the one-pass reading of point lists."""

import math
import random

import numpy as np
import pytest
from shapely.geometry import Point, box

from strandify import _internal as m
from strandify._checks import lost_groups, lost_shapes
from strandify._read_shapes import read_polygons, to_native_polygons
from strandify._result import Centerlines

from conftest import circle, line, native_options

REFINED = native_options(
    partition="components", refine_steps=("finish_tips", "recover_corners", "keep_dots", "join_crossings")
)


def scattered_drawing(seed):
    """Strokes of many sizes at random places: long ones that survive, specks that pruning may
    remove, some close enough to share a group."""
    rng = random.Random(seed)
    curves = []
    for _ in range(rng.randint(3, 14)):
        x, y = rng.uniform(0, 200), rng.uniform(0, 200)
        length = rng.choice((0.4, 1.0, 3.0, 25.0))
        angle = rng.uniform(0, math.pi)
        curves.append(line(x, y, x + length * math.cos(angle), y + length * math.sin(angle), n=rng.randint(2, 30)))
    return curves


def decoded(out):
    return Centerlines.from_buffers(out, with_widths=out[4] is not None)


@pytest.mark.parametrize("options", [None, native_options(compute_widths=True), REFINED], ids=["exact", "widths", "refined"])
@pytest.mark.parametrize("seed", range(6))
def test_buffers_hold_the_chains_of_the_list_call(seed, options):
    curves = scattered_drawing(seed)
    chains, nodes, ids, widths = m.strandify_strokes(curves, 1.0, 2.0, options)
    got = decoded(m.strandify_strokes_arrays(curves, 1.0, 2.0, options))
    assert [c.tolist() for c in got.chains] == [[list(p) for p in c] for c in chains]
    assert got.nodes.tolist() == [list(p) for p in nodes]
    assert got.chain_node_ids.tolist() == [list(i) for i in ids]
    if options is not None and options.compute_widths:
        assert [w.tolist() for w in got.widths] == widths
    else:
        assert got.widths is None


@pytest.mark.parametrize("feature_size", [2.0, 8.0, 20.0])
@pytest.mark.parametrize("seed", range(8))
def test_lost_groups_agree_with_the_python_check(seed, feature_size):
    curves = scattered_drawing(100 + seed)
    out = m.strandify_strokes_arrays(curves, 1.0, feature_size, native_options(partition="components"))
    chains = decoded(out).chains
    want, groups = lost_groups([np.array(c) for c in curves], chains, 1.0)
    assert np.frombuffer(out[5], dtype=np.int64).tolist() == want
    assert out[6] == groups


def test_a_pruned_speck_is_named_by_its_first_stroke():
    big = [line(0, 0, 100, 0), line(0, 1, 100, 1)]
    speck = [[(500.0, 500.0), (500.5, 500.0)], [(500.2, 500.1), (500.6, 500.1)]]
    out = m.strandify_strokes_arrays(big + speck, 1.5, 6.0)
    assert np.frombuffer(out[5], dtype=np.int64).tolist() == [2]
    assert out[6] == 2


def test_no_strokes_no_groups():
    out = m.strandify_strokes_arrays([], 1.0, 1.0)
    assert decoded(out).chains == [] and out[6] == 0 and len(out[5]) == 0


SHAPES = [
    box(0, 0, 100, 10),
    Point(300, 300).buffer(1.0),  # pruned away at this feature size
    box(0, 50, 10, 150),
    Point(0, 300).buffer(20),
    box(200, 0, 201, 1),  # pruned too
]


# kept dots would keep the small shapes
@pytest.mark.parametrize("refine", [None, ("finish_tips", "recover_corners", "join_crossings")], ids=["exact", "refined"])
def test_lost_shapes_agree_with_the_python_check(refine):
    read = read_polygons(SHAPES)
    polygons = to_native_polygons(read)
    out = m.strandify_polygons_arrays(polygons, None, 6.0, native_options(refine_steps=refine))
    want = lost_shapes(read, decoded(out).chains)
    assert want  # the sample must lose a shape
    assert np.frombuffer(out[5], dtype=np.int64).tolist() == want
    assert out[6] == len(SHAPES)


@pytest.mark.parametrize(
    "curves",
    [
        [[(0.0, 0.0), (1.5, -2.0)], [(3, 4), (5, 6), (7, 8)]],
        ([(0.0, 0.0), (1.0, 1.0)],),
        [[[0.0, 0.0], [1.0, 1.0]], [(math.nan, 1.0), (2.0, math.inf)]],
        [[], [(1e300, -1e-300), (2**60 + 1, -(2**53) - 1)]],
    ],
)
def test_point_lists_are_read_exactly(curves):
    points, counts = m.read_point_lists(curves)
    want = np.array([p for c in curves for p in c], dtype=np.float64).reshape(-1, 2)
    np.testing.assert_array_equal(np.frombuffer(points).reshape(-1, 2), want)
    assert np.frombuffer(counts, dtype=np.int64).tolist() == [len(c) for c in curves]


@pytest.mark.parametrize(
    "curves",
    [
        [[(0.0, 0.0, 1.0), (1.0, 1.0, 1.0)]],  # a point of three coordinates
        [[(0.0, 0.0), (1.0,)]],
        [[(0.0, "1"), (1.0, 1.0)]],  # a coordinate that is not a number
        [[(np.float64(0.0), 0.0), (1.0, 1.0)]],  # a number the package's own reader converts
        [[(True, 0.0), (1.0, 1.0)]],
        [np.zeros((2, 2))],  # a curve that is not a list
        [[(0.0, 0.0), (10**400, 1.0)]],  # too large for a float
        iter([[(0.0, 0.0), (1.0, 1.0)]]),
    ],
)
def test_other_drawings_are_left_to_the_package(curves):
    assert m.read_point_lists(curves) is None


def test_widths_follow_their_chain_points():
    curves = [circle(0, 0, 10), line(-20, 0, 20, 0)]
    got = decoded(m.strandify_strokes_arrays(curves, 1.0, 1.0, native_options(compute_widths=True)))
    assert [len(w) for w in got.widths] == [len(c) for c in got.chains]
    assert all(np.all(w > 0) for w in got.widths)
