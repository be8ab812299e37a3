"""Boundary preprocessing as seen through the module's entry points."""
import math

import pytest

from strandify import _internal as m

from conftest import circle, line
from test_geometry import polyline_distance


def hairpin(gap, length=20.0, n=40):
    pts = [(length * i / n, 0.0) for i in range(n + 1)]
    pts.append((length, gap))
    pts += [(length - length * i / n, gap) for i in range(1, n + 1)]
    return pts


def apex_error(chains, gap):
    ref = ([(17 + 3 * i / 30, 0.0) for i in range(31)] + [(20.0, gap * i / 30) for i in range(31)]
           + [(20 - 3 * i / 30, gap) for i in range(31)])
    return max(min(polyline_distance(p, c) for c in chains) for p in ref)


@pytest.mark.parametrize("fs", [1.0, 2.0])
def test_refinement_follows_a_hairpin_more_closely(fs):
    stroke = hairpin(4.0)
    refined = m.strandify([stroke], 1.0, fs, simplification=0.0)[0]
    plain = m.strandify([stroke], 1.0, fs, simplification=0.0, subdivision_ratio=0.0)[0]
    assert len(refined) == len(plain) == 1
    assert apex_error(refined, 4.0) < 0.8 * apex_error(plain, 4.0)


def test_refinement_adds_boundary_points_near_turns_only():
    stroke = hairpin(4.0)
    dense = m.triangulate_curves([stroke], 1.0, 1.0)
    sparse = m.triangulate_curves([stroke], 1.0, 1.0, subdivision_ratio=0.0)
    assert len(dense) > len(sparse)
    straight = [line(0, 0, 40, 0)]
    # a straight stroke's square ends turn by 90 degrees too, but the long sides stay sparse
    assert len(m.triangulate_curves(straight, 1.0, 1.0)) < 3 * len(m.triangulate_curves(straight, 1.0, 1.0, subdivision_ratio=0.0))


@pytest.mark.parametrize("off", [0.0, -1.0, math.nan])
def test_resample_off_values_mean_subdivision(off):
    curves = [circle(0, 0, 10)]
    assert m.triangulate_curves(curves, 1.0, 1.0, resample=off) == m.triangulate_curves(curves, 1.0, 1.0)


def test_resample_spacing_sets_boundary_density():
    curves = [circle(0, 0, 10)]
    coarse = m.triangulate_curves(curves, 1.0, 1.0, resample=2.0, subdivision_ratio=0.0)
    fine = m.triangulate_curves(curves, 1.0, 1.0, resample=0.5, subdivision_ratio=0.0)
    # about (2 pi 11 + 2 pi 9) / h points: the triangle count follows the point count
    assert 40 < len(coarse) < 90
    assert 200 < len(fine) < 300
    assert m.strandify(curves, 1.0, 1.0, resample=0.5)[2] == [(0, 0)]


@pytest.mark.parametrize("off", [0.0, -1.0, math.nan])
def test_boundary_simplification_off_values(off):
    curves = [circle(0, 0, 10, n=400)]
    a = m.triangulate_curves(curves, 1.0, 1.0, boundary_simplification=off)
    assert a == m.triangulate_curves(curves, 1.0, 1.0, boundary_simplification=0.0)
    assert len(a) > len(m.triangulate_curves(curves, 1.0, 1.0))


@pytest.mark.parametrize(
    "kwargs, names",
    [
        ({"feature_size": 5e-324}, "feature_size"),
        ({"feature_size": 1e-9}, "feature_size"),
        ({"feature_size": 1.0, "resample": 1e-9}, "resample"),
    ],
)
def test_runaway_point_counts_fail_clearly(kwargs, names):
    curves = [line(0, 0, 100, 0)]
    for func in (m.strandify, m.triangulate_curves):
        with pytest.raises(ValueError, match=rf"^boundary preprocessing would create (about \d+ points|more points than can be counted), more than the limit of 3000000; .*{names}"):
            func(curves, 1.0, **kwargs)


@pytest.mark.parametrize("bd", [math.inf, 1e300, 1e-300])
def test_extreme_buffer_distances_end_quickly(bd):
    curves = [line(0, 0, 10, 0), line(5, -5, 5, 5)]
    assert isinstance(m.strandify(curves, bd, 1.0), tuple)
    assert isinstance(m.triangulate_curves(curves, bd, 1.0), list)
