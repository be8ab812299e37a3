"""Tiled runs against the untiled pipeline: the same network, chains close by."""
import math
import random

import numpy as np
import pytest

import strandify
from strandify import _internal as m

from conftest import circle, line, native_options

scipy_spatial = pytest.importorskip("scipy.spatial")


def glyph_grid(seed, count, cell=40.0):
    """Sketches of crossing, slightly jittered strokes, one per grid cell."""
    rng = random.Random(seed)
    side = math.ceil(math.sqrt(count))
    curves = []
    for s in range(count):
        ox, oy = (s % side) * cell, (s // side) * cell
        for _ in range(rng.randint(4, 9)):
            x0, y0 = ox + rng.uniform(2, 28), oy + rng.uniform(2, 28)
            length = rng.uniform(8, 26)
            if rng.random() < 0.5:
                x1, y1 = x0 + length, y0 + rng.uniform(-2, 2)
            else:
                x1, y1 = x0 + rng.uniform(-2, 2), y0 + length
            n = max(2, int(length / 1.5))
            curves.append([(x0 + (x1 - x0) * i / (n - 1) + rng.gauss(0, 0.1),
                            y0 + (y1 - y0) * i / (n - 1) + rng.gauss(0, 0.1)) for i in range(n)])
    return curves


def tips_and_junctions(result):
    chains, nodes, ids = result[:3]
    degree = np.zeros(len(nodes), dtype=int)
    for s, e in ids:
        degree[s] += 1
        degree[e] += 1
    return int((degree == 1).sum()), int((degree >= 3).sum())


def densified(chains, step=0.25):
    """Points along the chains every `step` at most: simplified chains keep few vertices, and
    where they are kept differs between two runs even when the lines coincide."""
    out = []
    for c in chains:
        c = np.asarray(c, dtype=float)
        for p, q in zip(c[:-1], c[1:]):
            n = max(1, int(np.ceil(np.hypot(*(q - p)) / step)))
            out.append(p + (q - p) * (np.arange(n)[:, None] / n))
        out.append(c[-1:])
    return np.concatenate(out)


def hausdorff(a, b):
    pa, pb = densified(a[0]), densified(b[0])
    return max(scipy_spatial.cKDTree(pb).query(pa)[0].max(), scipy_spatial.cKDTree(pa).query(pb)[0].max())


def tiled_run(curves, bd, fs, **changes):
    """strandify with partition='tiles' and the other options changed as given."""
    return m.strandify_strokes(curves, bd, fs, native_options(partition="tiles", **changes))


def test_one_tile_is_the_partitioned_pipeline():
    curves = glyph_grid(1, 9)
    parted = m.strandify_strokes(curves, 1.0, 1.0, native_options(partition="components"))
    assert tiled_run(curves, 1.0, 1.0) == parted


@pytest.mark.parametrize("seed, count, tile_size", [(2, 16, 60.0), (3, 25, 45.0), (4, 9, 30.0)])
def test_tiles_give_the_same_network(seed, count, tile_size):
    curves = glyph_grid(seed, count)
    exact = m.strandify(curves, 1.0, 1.0)
    tiled = tiled_run(curves, 1.0, 1.0, tile_size=tile_size)
    assert tips_and_junctions(tiled) == tips_and_junctions(exact)
    assert len(tiled[0]) == len(exact[0])
    assert hausdorff(exact, tiled) < 1.0


def test_closed_and_long_strokes_across_many_seams():
    ring = circle(0, 0, 30, n=400)
    long_line = line(-100, 50, 100, 52, n=300)
    tiled = tiled_run([ring, long_line], 1.0, 1.0, tile_size=12.0)
    exact = m.strandify([ring, long_line], 1.0, 1.0)
    assert len(tiled[0]) == len(exact[0]) == 2
    loops = [ids for ids in tiled[2] if ids[0] == ids[1]]
    assert len(loops) == 1  # the ring comes back as one closed chain
    line_chain = next(c for c, ids in zip(tiled[0], tiled[2]) if ids[0] != ids[1])
    exact_line = next(c for c, ids in zip(exact[0], exact[2]) if ids[0] != ids[1])
    ends = sorted([line_chain[0], line_chain[-1]])
    want = sorted([exact_line[0], exact_line[-1]])
    assert np.allclose(ends, want, atol=0.5)
    assert hausdorff(exact, tiled) < 1.0


def test_framed_drawing_across_seams():
    frame = [(0, 0), (100, 0), (100, 100), (0, 100), (0, 0)]
    box = [(20, 20), (80, 20), (80, 45), (20, 45), (20, 20)]
    zig = [(20, 45)] + [((15 if i % 2 else 85), 50 + 6 * i) for i in range(1, 7)]
    curves = [[(float(x), float(y)) for x, y in c] for c in (frame, box, zig)]
    exact = m.strandify(curves, 1.5, 3.0)
    tiled = tiled_run(curves, 1.5, 3.0, tile_size=35.0)
    assert tips_and_junctions(tiled) == tips_and_junctions(exact)
    assert hausdorff(exact, tiled) < 3.0


def test_widths_threads_and_batch():
    curves = glyph_grid(5, 16)
    one = tiled_run(curves, 1.0, 1.0, tile_size=50.0, compute_widths=True)
    assert tiled_run(curves, 1.0, 1.0, tile_size=50.0, compute_widths=True, workers=2) == one
    exact = m.strandify(curves, 1.0, 1.0, compute_widths=True)
    assert np.median(np.concatenate(one[3])) == pytest.approx(np.median(np.concatenate(exact[3])), rel=0.05)
    options = native_options(partition="tiles", tile_size=50.0, compute_widths=True)
    assert m.strandify_strokes_batch([(curves, 1.0, 1.0)], options) == [one]
    with pytest.warns(UserWarning, match="do not run with partition='tiles'"):
        result = strandify.centerlines(curves, 1.0, 1.0, partition="tiles", tile_size=50.0)
    assert len(result.chains) == len(one[0])


@pytest.mark.parametrize(
    "tile_size, text",
    [(0.0, "tile_size must be a positive finite number"), (math.nan, "tile_size must be a positive finite"),
     (1e-3, "increase tile_size")],
)
def test_bad_tile_sizes_are_refused(tile_size, text):
    with pytest.raises(ValueError, match=text):
        tiled_run(glyph_grid(6, 4), 1.0, 1.0, tile_size=tile_size)


def test_max_nodes_counts_every_tile():
    curves = glyph_grid(7, 16)
    with pytest.raises(ValueError, match="exceeding max_nodes limit of 10") as info:
        tiled_run(curves, 1.0, 1.0, tile_size=40.0, max_nodes=10)
    assert info.value.kind == "node_limit"


def test_curves_without_a_buffer_do_not_spread_over_tiles():
    curves = glyph_grid(8, 4) + [[(0.0, 0.0), (math.inf, 5.0)], [(math.nan, 1.0), (2.0, 2.0)]]
    assert tiled_run(curves, 1.0, 1.0, tile_size=20.0) == tiled_run(curves[:-2], 1.0, 1.0, tile_size=20.0)
