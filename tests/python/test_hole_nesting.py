"""Holes belong to the innermost outline that contains them."""
import math
import random

import pytest

from strandify import _internal as m

from conftest import circle


def square(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1), (x0, y0)]


def ring_area(ring):
    return 0.5 * sum(
        ring[k][0] * ring[(k + 1) % len(ring)][1] - ring[(k + 1) % len(ring)][0] * ring[k][1]
        for k in range(len(ring))
    )


def contains(ring, p):
    inside = False
    j = len(ring) - 1
    for i in range(len(ring)):
        (xi, yi), (xj, yj) = ring[i], ring[j]
        if (p[1] < yj) != (p[1] < yi) and p[0] < (p[1] - yi) * (xj - xi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


FRAME = square(0, 0, 100, 100)
BOX = square(20, 20, 80, 45)
ZIG = [(20, 45)] + [((15 if i % 2 else 85), 50 + 6 * i) for i in range(1, 7)]


def test_a_frame_does_not_take_the_holes_inside_it():
    alone = m.inflate_curves([BOX, ZIG], 1.5, 3.0)
    framed = m.inflate_curves([FRAME, BOX, ZIG], 1.5, 3.0)
    assert [len(h) for _, h in alone] == [1]
    # The box keeps its own interior; the frame keeps the region between it and the box.
    box_polygon = next(p for p in framed if not contains(p[0], (5, 5)))
    assert len(box_polygon[1]) == 1
    assert ring_area(box_polygon[1][0]) == pytest.approx(ring_area(alone[0][1][0]), rel=1e-9)
    chains_alone = m.strandify([BOX, ZIG], 1.5, 3.0)[0]
    chains_framed = m.strandify([FRAME, BOX, ZIG], 1.5, 3.0)[0]
    assert len(chains_framed) == len(chains_alone) + 1  # the frame is one closed chain more


@pytest.mark.parametrize(
    "curves, holes_per_polygon",
    [
        # three nested frames: each keeps the ring-shaped gap inside it
        ([square(0, 0, 100, 100), square(10, 10, 90, 90), square(20, 20, 80, 80)], [1, 1, 1]),
        # an island (a closed loop) inside the hole of a frame: a polygon of its own
        ([square(0, 0, 100, 100), circle(50, 50, 10)], [1, 1]),
        # a hole in a hole: frame, loop inside it, dot inside the loop
        ([square(0, 0, 100, 100), circle(50, 50, 20), [(50, 50), (51, 50)]], [0, 1, 1]),
    ],
)
def test_nesting(curves, holes_per_polygon):
    polygons = m.inflate_curves(curves, 1.0, 1.0)
    assert sorted(len(h) for _, h in polygons) == sorted(holes_per_polygon)
    check_innermost(polygons)


def check_innermost(polygons):
    """Every hole lies inside its own outer, and no smaller outer also contains it."""
    for k, (outer, holes) in enumerate(polygons):
        for hole in holes:
            probe = hole[0]
            assert contains(outer, probe)
            hole_area = -ring_area(hole)
            for j, (other, _) in enumerate(polygons):
                if j != k and hole_area < ring_area(other) and contains(other, probe):
                    assert ring_area(other) >= ring_area(outer)


def loops_drawing(seed):
    rng = random.Random(seed)
    curves = []
    for _ in range(rng.randint(2, 7)):
        cx, cy = rng.uniform(20, 80), rng.uniform(20, 80)
        r = rng.uniform(4, 45)
        n = rng.randint(8, 40)
        curves.append([(cx + r * math.cos(2 * math.pi * k / n), cy + r * math.sin(2 * math.pi * k / n))
                       for k in range(n + 1)])
    return curves


@pytest.mark.parametrize("seed", range(60))
def test_generated_nestings_give_every_hole_to_its_innermost_outline(seed):
    check_innermost(m.inflate_curves(loops_drawing(seed), 1.0, 1.0))
