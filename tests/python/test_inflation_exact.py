"""Buffers on the 10^-6 grid, far from the origin and at radii the offsetter cannot hold."""
import math

import pytest

from strandify import _internal as m


def on_micro_grid(v):
    return abs(v * 1e6 - round(v * 1e6)) < 1e-6 and float(round(v * 1e6)) / 1e6 == v


def test_union_coordinates_are_multiples_of_a_millionth():
    (outer, holes), = m.inflate_curves([[(5.5, 7.25), (5.5, 7.25)]], 1.2345674, 1.0)
    assert holes == []
    assert all(on_micro_grid(x) and on_micro_grid(y) for x, y in outer)
    assert sorted({x for x, _ in outer}) == [4.265432, 6.734568]


@pytest.mark.parametrize("radius", [2147.0, 3000.0, 1e4, 123456.789])
@pytest.mark.parametrize("widths", [False, True])
def test_coincident_points_give_a_square_of_the_full_radius(radius, widths):
    curve = [(5.0, 5.0), (5.0, 5.0), (5.0, 5.0)]
    if widths:
        polygons = m.inflate_curves([curve], 1.0, 1.0, per_curve_widths=[[radius] * 3])
    else:
        polygons = m.inflate_curves([curve], radius, 1.0)
    (outer, holes), = polygons
    half = math.ceil(radius * 1e6) / 1e6
    assert sorted({x for x, _ in outer}) == pytest.approx([5.0 - half, 5.0 + half], abs=1e-9)
    assert sorted({y for _, y in outer}) == pytest.approx([5.0 - half, 5.0 + half], abs=1e-9)
    assert len(outer) == 4 and holes == []


@pytest.mark.parametrize("offset", [0.0, 1e9, 1e10, 1e11, 1e12, -1e12])
def test_a_loop_far_from_the_origin_keeps_its_hole(offset):
    loop = [(offset + 10 * math.cos(2 * math.pi * k / 40), offset + 10 * math.sin(2 * math.pi * k / 40))
            for k in range(41)]
    polygons = m.inflate_curves([loop], 1.0, 1.0)
    assert [len(h) for _, h in polygons] == [1]


@pytest.mark.parametrize(
    "curves, bd",
    [
        ([[(0.0, 0.0), (0.0, 40.0)], [(30.0, 0.0), (-1e12, 40.0)]], 1e-6),
        ([[(0.0, 0.0), (10.0, 0.0), (10.0, 10.0), (0.0, 10.0), (0.0, 0.0)]], 0.0),
    ],
)
def test_rings_come_back_open(curves, bd):
    for outer, holes in m.inflate_curves(curves, bd, 1.0):
        for ring in [outer, *holes]:
            assert len(ring) >= 3
            dx, dy = ring[-1][0] - ring[0][0], ring[-1][1] - ring[0][1]
            assert dx * dx + dy * dy > 1e-10


@pytest.mark.parametrize(
    "value, text",
    [(-1e24, "-1000000000000000000000000"), (-1e22, "-10000000000000000000000"),
     (-0.0, "-0"), (-2.5e-7, "-0.00000025"), (float("nan"), "NaN")],
)
def test_feature_size_message_writes_the_shortest_decimal(value, text):
    with pytest.raises(ValueError) as info:
        m.strandify([[(0.0, 0.0), (1.0, 0.0)]], 1.0, value)
    assert str(info.value) == f"feature_size must be a positive finite number, got {text}"
