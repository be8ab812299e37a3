"""The partitioned union against the exact one-call union, and the per-call thread count."""
import math
import random
import subprocess
import sys

import numpy as np
import pytest

import strandify
from strandify import _internal as m

from conftest import circle, line, native_options


def scribbles(seed, n, extent, step=2.0):
    """n wobbly strokes scattered over a square: many separate groups and some large ones."""
    rng = random.Random(seed)
    curves = []
    for _ in range(n):
        x, y = rng.uniform(0, extent), rng.uniform(0, extent)
        a = rng.uniform(0, 2 * math.pi)
        pts = []
        for _ in range(rng.randint(3, 25)):
            pts.append((x, y))
            a += rng.uniform(-0.4, 0.4)
            x, y = x + step * math.cos(a), y + step * math.sin(a)
        curves.append(pts)
    return curves


def square(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)]


# A frame drawn as one closed stroke around a box, a zigzag and an island inside its hole; a
# second frame made of four separate sides whose hole holds a dot that touches none of them.
FRAMED = [
    square(0, 0, 100, 100),
    square(20, 20, 80, 45),
    [(20, 45)] + [((15 if i % 2 else 85), 50 + 6 * i) for i in range(1, 7)],
    circle(50, 32, 4),
]
SIDES = [line(200, 0, 300, 0), line(300, 0, 300, 100), line(300, 100, 200, 100), line(200, 100, 200, 0)]
DOT = [[(250.0, 50.0), (251.0, 50.5)]]
DRAWINGS = {
    "framed": (FRAMED + SIDES + DOT, 1.5, 1.0),
    "rings": ([circle(30 * k, 0, 8 + k % 3) for k in range(8)] + [circle(30 * k, 0, 3) for k in range(8)], 1.0, 0.5),
    "scribbles": (scribbles(7, 150, 120), 1.0, 1.0),
    "dense": (scribbles(8, 300, 60), 0.8, 0.5),
}


def polygon_key(polygon):
    outer, holes = polygon
    return (len(outer), len(holes), round(min(outer)[0], 2), round(min(outer)[1], 2))


# The union per group rounds the intersection points of its own steps; where buffer edges cross at
# a grazing angle that moves a point along them by up to about 1e-3 units (see the README).
ROUNDING = 1e-3


def assert_same_polygons(a, b, tol=ROUNDING):
    assert len(a) == len(b)
    for p, q in zip(sorted(a, key=polygon_key), sorted(b, key=polygon_key)):
        assert polygon_key(p) == polygon_key(q)
        np.testing.assert_allclose(p[0], q[0], atol=tol, rtol=0)
        assert sorted(map(len, p[1])) == sorted(map(len, q[1]))


def chain_set(result):
    return sorted(tuple(c) for c in result[0])


def assert_same_network(a, b, tol=ROUNDING):
    """Same number of chains and nodes, every chain point within tol of the other result."""
    assert len(a[0]) == len(b[0]) and len(a[1]) == len(b[1])
    pa = np.array([p for c in a[0] for p in c])
    pb = np.array([p for c in b[0] for p in c])
    assert len(pa) == len(pb)
    if chain_set(a) == chain_set(b):
        return
    from scipy.spatial import cKDTree

    assert max(cKDTree(pb).query(pa)[0].max(), cKDTree(pa).query(pb)[0].max()) <= tol


@pytest.mark.parametrize("name", sorted(DRAWINGS))
def test_partitioned_union_matches_the_exact_one(name):
    curves, d, f = DRAWINGS[name]
    parted = native_options(partition="components")
    exact = m.inflate_curves(curves, d, f)
    assert_same_polygons(exact, m.inflate_strokes(curves, d, f, parted))
    assert_same_network(m.strandify(curves, d, f), m.strandify_strokes(curves, d, f, parted))


def test_framed_drawing_keeps_its_holes_across_groups():
    curves, d, f = DRAWINGS["framed"]
    polygons = m.inflate_strokes(curves, d, f, native_options(partition="components"))
    # frame, box and the ring island inside the box each with a hole; the sides' frame with its
    # hole; the dot without
    holes = sorted(len(h) for _, h in polygons)
    assert len(polygons) == 5 and holes == [0, 1, 1, 1, 1]


def test_closed_strokes_keep_their_holes():
    curves = [circle(20 * k, 0, 5) for k in range(5)]
    polygons = m.inflate_strokes(curves, 1.0, 0.5, native_options(partition="components"))
    assert len(polygons) == 5 and all(len(h) == 1 for _, h in polygons)


def test_per_curve_widths_are_partitioned_with_their_curves():
    curves = [line(0, 0, 30, 0, 10), line(100, 0, 130, 0, 10), line(15, -5, 15, 5, 5)]
    widths = [[1.0 + 0.1 * i for i in range(10)], [2.0] * 10, []]
    exact = m.strandify(curves, 1.0, 1.0, per_curve_widths=widths, compute_widths=True)
    options = native_options(compute_widths=True, partition="components")
    parted = m.strandify_strokes(curves, 1.0, 1.0, options, per_curve_widths=widths)
    assert_same_network(exact, parted)


@pytest.mark.parametrize("partition", ["none", "components"])
def test_result_does_not_depend_on_the_thread_count(partition):
    # Seven copies side by side: enough points (about 15,000) that a call starts up to three
    # threads; small calls stay on one, where a thread costs more than it saves.
    scribbles, d, f = DRAWINGS["scribbles"]
    curves = [[(x + 200.0 * k, y) for x, y in c] for k in range(7) for c in scribbles]
    one = m.strandify_strokes(curves, d, f, native_options(compute_widths=True, partition=partition))
    for workers in (2, 3, 64, 10**6):
        options = native_options(compute_widths=True, partition=partition, workers=workers)
        assert m.strandify_strokes(curves, d, f, options) == one
    triangles = m.triangulate_strokes(curves, d, f, native_options(partition=partition))
    assert m.triangulate_strokes(curves, d, f, native_options(partition=partition, workers=2)) == triangles


@pytest.mark.parametrize(
    "changes, error, text",
    [
        ({"partition": "tiles?"}, ValueError, "^option 'partition': partition must be 'none', 'components' or 'tiles'"),
        ({"partition": 1}, TypeError, "^argument 'options': option 'partition': "),
        ({"workers": 0}, ValueError, "^option 'workers': workers must be a positive integer"),
        ({"workers": -3}, ValueError, "^option 'workers': workers must be a positive integer"),
        ({"workers": 2.0}, TypeError, "^argument 'options': option 'workers': "),
    ],
)
def test_bad_partition_and_workers_are_refused(changes, error, text):
    options = native_options(**changes)
    for call in (m.strandify_strokes, m.inflate_strokes, m.triangulate_strokes):
        with pytest.raises(error, match=text):
            call([line(0, 0, 10, 0)], 1.0, 1.0, options)


def test_unions_cannot_be_tiled():
    for call in (m.inflate_strokes, m.triangulate_strokes):
        with pytest.raises(ValueError, match="^option 'partition': partition must be 'none' or 'components' here"):
            call([line(0, 0, 10, 0)], 1.0, 1.0, native_options(partition="tiles"))


def test_batch_partition_gives_the_single_call_results():
    drawings = [DRAWINGS[k][0] for k in sorted(DRAWINGS)]
    jobs = [(c, 1.0, 1.0) for c in drawings]
    parted = native_options(partition="components")
    batch = m.strandify_strokes_batch(jobs, parted)
    assert batch == [m.strandify_strokes(c, 1.0, 1.0, parted) for c in drawings]
    with pytest.raises(ValueError, match="^option 'partition': partition must be"):
        m.strandify_strokes_batch(jobs, native_options(partition="all"))


def test_high_level_default_is_partitioned_and_none_is_exact():
    curves, d, f = DRAWINGS["scribbles"]
    exact = strandify.centerlines(curves, d, f, partition="none", refine=False)
    native = m.strandify(curves, d, f)
    assert [c.tolist() for c in exact.chains] == [[list(p) for p in c] for c in native[0]]
    fast = strandify.centerlines(curves, d, f, refine=False)
    assert len(fast.chains) == len(exact.chains) and len(fast.nodes) == len(exact.nodes)
    batch = strandify.centerlines_batch([curves, curves], d, f, refine=False)
    assert all(len(r.chains) == len(fast.chains) for r in batch)
    with pytest.raises(ValueError, match="partition must be one of"):
        strandify.centerlines(curves, d, f, partition="pieces")
    with pytest.raises(ValueError, match="workers must be"):
        strandify.centerlines(curves, d, f, workers=0)


def test_cli_partition_flag(tmp_path):
    import json

    src = tmp_path / "in.json"
    src.write_text(json.dumps(DRAWINGS["scribbles"][0]))
    outputs = {}
    for mode in ("none", "components"):
        out = tmp_path / f"{mode}.json"
        done = subprocess.run(
            [sys.executable, "-m", "strandify", str(src), "-o", str(out), "-d", "1", "-f", "1", "--partition", mode],
            capture_output=True, text=True,
        )
        assert done.returncode == 0, done.stderr
        outputs[mode] = json.loads(out.read_text())
    assert outputs["none"].keys() == outputs["components"].keys()
    bad = subprocess.run([sys.executable, "-m", "strandify", str(src), "-o", "-", "--partition", "x"],
                         capture_output=True, text=True)
    assert bad.returncode == 2 and "--partition" in bad.stderr
