"""The finishing steps (``refine``): each on constructed drawings, and the exact path untouched."""

from __future__ import annotations

import json
import math
import random
from pathlib import Path

import numpy as np
import pytest

from strandify import _internal, centerlines
from strandify.cli import main
from strandify.options import refine_steps

from conftest import native_options

ALL = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "radius_tips")
DEFAULT = ("finish_tips", "recover_corners", "keep_dots", "join_crossings")
# The steps on by default besides those: the Python keywords and the command line add them.
ALSO_ON = ("round_pens", "real_ends")
Curve = list[tuple[float, float]]


def line(p: tuple[float, float], q: tuple[float, float], step: float = 0.5) -> Curve:
    n = max(1, math.ceil(math.hypot(q[0] - p[0], q[1] - p[1]) / step))
    return [(p[0] + (q[0] - p[0]) * t / n, p[1] + (q[1] - p[1]) * t / n) for t in range(n + 1)]


def polar(angle_deg: float, r: float) -> tuple[float, float]:
    a = math.radians(angle_deg)
    return (r * math.cos(a), r * math.sin(a))


def v_shape(angle: float, arm: float = 30.0) -> list[Curve]:
    """One stroke down one arm to the apex at the origin and up the other, opening upward."""
    a, b = polar(90 + angle / 2, arm), polar(90 - angle / 2, arm)
    return [line(a, (0.0, 0.0))[:-1] + line((0.0, 0.0), b)]


def x_shape(angle: float, arm: float = 30.0) -> list[Curve]:
    return [line(polar(180 + angle / 2, arm), polar(angle / 2, arm)),
            line(polar(180 - angle / 2, arm), polar(-angle / 2, arm))]


def run(curves: list[Curve], refine=DEFAULT, bd: float = 1.0, fs: float = 1.0):
    return _internal.strandify_strokes(curves, bd, fs, native_options(refine_steps=refine))


def degrees(ids: list[tuple[int, int]]) -> dict[int, int]:
    deg: dict[int, int] = {}
    for a, b in ids:
        deg[a] = deg.get(a, 0) + 1
        deg[b] = deg.get(b, 0) + 1
    return deg


def tips_and_junctions(result) -> tuple[int, int]:
    deg = degrees(result[2])
    return sum(d == 1 for d in deg.values()), sum(d >= 3 for d in deg.values())


def sketch(seed: int) -> list[Curve]:
    rng = random.Random(seed)
    curves = []
    for _ in range(12):
        x, y, h = rng.uniform(0, 60), rng.uniform(0, 60), rng.uniform(0, 2 * math.pi)
        c = []
        for _ in range(rng.randint(3, 40)):
            c.append((x + rng.gauss(0, 0.1), y + rng.gauss(0, 0.1)))
            h += rng.gauss(0, 0.2)
            x, y = x + math.cos(h), y + math.sin(h)
        curves.append(c)
    return curves


# -- the exact path ----------------------------------------------------------------------


@pytest.mark.parametrize("seed", range(4))
def test_no_refine_is_the_exact_call(seed: int) -> None:
    curves = sketch(seed)
    exact = _internal.strandify(curves, 1.0, 1.0)
    assert _internal.strandify_strokes(curves, 1.0, 1.0) == exact
    assert _internal.strandify_strokes(curves, 1.0, 1.0, native_options(refine_steps=None)) == exact
    assert _internal.strandify_strokes(curves, 1.0, 1.0, native_options(refine_steps=())) == exact
    got = centerlines(curves, 1.0, 1.0, refine=False)
    assert [c.tolist() for c in got.chains] == [list(map(list, c)) for c in exact[0]]
    assert got.nodes.tolist() == [list(p) for p in exact[1]]
    assert _internal.strandify_batch([(curves, 1.0, 1.0, *([None] * 8))]) == [exact[:3]]
    jobs = [(curves, 1.0, 1.0)]
    assert _internal.strandify_strokes_batch(jobs) == [exact]
    assert _internal.strandify_strokes_batch(jobs, native_options(refine_steps=None)) == [exact]


@pytest.mark.parametrize("seed", range(3))
def test_batch_refines_like_single_calls(seed: int) -> None:
    drawings = [sketch(seed), v_shape(30), x_shape(25)]
    jobs = [(d, 1.0, 1.0) for d in drawings]
    assert _internal.strandify_strokes_batch(jobs, native_options(refine_steps=ALL)) == [run(d, ALL) for d in drawings]


def test_keywords_choose_the_steps() -> None:
    curves = sketch(7) + v_shape(30)
    got = centerlines(curves, 1.0, 1.0, finish_tips=False, radius_tips=True)
    want = run(curves, ("recover_corners", "keep_dots", "join_crossings", "radius_tips") + ALSO_ON)
    assert [c.tolist() for c in got.chains] == [list(map(list, c)) for c in want[0]]
    assert (
        refine_steps(
            True,
            finish_tips=False,
            recover_corners=False,
            keep_dots=False,
            join_crossings=False,
            round_pens=False,
            real_ends=False,
        )
        is None
    )


@pytest.mark.parametrize(
    "value, error", [("finish_tips", TypeError), (["finish_tip"], ValueError), ([1], TypeError), (3, TypeError)]
)
def test_bad_step_names(value, error) -> None:
    options = native_options(refine_steps=value)
    text = "^(argument 'options': )?option 'refine_steps': "
    with pytest.raises(error, match=text):
        _internal.strandify_strokes([line((0, 0), (10, 0))], 1.0, 1.0, options)
    with pytest.raises(error, match=text):
        _internal.strandify_strokes_batch([], options)


def test_cli_no_refine_writes_the_exact_chains(tmp_path: Path) -> None:
    curves = sketch(3)
    src = tmp_path / "in.json"
    src.write_text(json.dumps([[list(p) for p in c] for c in curves]))
    for flags, refine in (
        (["--no-refine"], None),
        ([], DEFAULT + ALSO_ON),
        (["--no-keep-dots", "--radius-tips"], ALL[:2] + ALL[3:] + ALSO_ON),
    ):
        out = tmp_path / "out.json"
        assert main([str(src), "-o", str(out), "-d", "1", "-f", "1", *flags]) == 0
        chains = json.loads(out.read_text())["chains"]
        assert chains == [list(map(list, c)) for c in run(curves, refine)[0]]


# -- tips ----------------------------------------------------------------------------------


@pytest.mark.parametrize("bd", [0.5, 1.0, 2.0])
@pytest.mark.parametrize("angle", [0.0, 33.0, 90.0])
def test_a_straight_stroke_ends_where_it_was_drawn(bd: float, angle: float) -> None:
    a, b = polar(angle, 10.0), polar(angle, 90.0)
    exact = run([line(a, b)], None, bd, bd)
    ends = sorted(map(tuple, exact[1]))
    assert max(math.dist(p, q) for p, q in zip(ends, sorted([a, b]))) > 0.2 * bd  # the cap's centroid
    got = run([line(a, b)], DEFAULT, bd, bd)
    assert len(got[0]) == 1
    assert np.allclose(sorted(got[1], key=lambda p: math.hypot(*p)), [a, b], atol=1e-6)


def test_a_hook_is_straightened_and_a_real_turn_left_alone() -> None:
    hooked = line((0, 0), (40, 0)) + line((40, 0), (40.4, 0.5))[1:]
    exact = max(run([hooked], None)[0][0][::-1])
    assert exact[1] > 0.15  # the exact tip follows the hook
    tip = max(run([hooked])[0][0][::-1])
    assert abs(tip[1]) < 0.1 and 39.9 < tip[0] < 40.6
    # a turn longer than the stretch the direction comes from: the end is not straight
    turned = line((0, 0), (40, 0)) + line((40, 0), (40, 1.8))[1:]
    assert max(run([turned], ("finish_tips",))[1]) == max(run([turned], None)[1])


# -- corners -------------------------------------------------------------------------------


@pytest.mark.parametrize("angle", [20, 30, 45, 60])
def test_a_v_keeps_its_apex(angle: float) -> None:
    exact = run(v_shape(angle), None)
    got = run(v_shape(angle))
    assert tips_and_junctions(got) == (2, 0)
    if angle < 60:
        assert tips_and_junctions(exact) == (3, 1)  # the spur the step removes
        # the corner stays sharp through smoothing: a vertex sits on the apex
        assert min(math.hypot(*p) for p in got[0][0][1:-1]) < 0.05


def test_a_real_stub_along_the_bisector_stays() -> None:
    stub = line((0.0, 0.0), (0.0, -5.0))
    got = run(v_shape(30) + [stub])
    assert tips_and_junctions(got) == (3, 1)
    assert min(p[1] for p in got[1]) == pytest.approx(-5.0, abs=0.3)


@pytest.mark.parametrize("stem", [4.0, 10.0])
def test_t_joins_are_not_corners(stem: float) -> None:
    curves = [line((-20, 0), (20, 0)), line((0, 0), (0, -stem))]
    got = run(curves)
    assert tips_and_junctions(got) == tips_and_junctions(run(curves, None)) == (3, 1)


# -- crossings -----------------------------------------------------------------------------


@pytest.mark.parametrize("angle", [20, 30, 45, 60, 90])
def test_a_crossing_is_one_four_way_node(angle: float) -> None:
    got = run(x_shape(angle))
    deg = degrees(got[2])
    assert sorted(deg.values()) == [1, 1, 1, 1, 4]
    centre = next(n for n, d in deg.items() if d == 4)
    assert math.hypot(*got[1][centre]) < 0.5
    if angle <= 45:
        assert tips_and_junctions(run(x_shape(angle), None))[1] == 2


def test_two_close_t_joins_stay_apart() -> None:
    curves = [line((0, -20), (0, 20)), line((3, -20), (3, 20)), line((0, 0), (3, 0))]
    exact = run(curves, None)
    assert tips_and_junctions(run(curves)) == tips_and_junctions(exact)


# -- dots ----------------------------------------------------------------------------------


def test_dots_survive_as_a_point_or_a_dash() -> None:
    big = line((0, 0), (30, 0))
    speck = [(50.0, 10.0), (50.3, 10.2)]  # its buffer has no skeleton at all
    dash = line((70.0, 10.0), (72.5, 10.0))
    exact = run([big, speck, dash], None, 1.0, 2.0)
    assert len(exact[0]) == 1
    got = run([big, speck, dash], DEFAULT, 1.0, 2.0)
    assert len(got[0]) == 3
    points = [c for c in got[0] if c[0] == c[-1]]
    assert [len(c) for c in points] == [2]
    assert math.dist(points[0][0], (50.15, 10.1)) < 0.15
    (a, b), = [(c[0], c[-1]) for c in got[0] if c[0][0] > 65]
    assert abs(a[1] - 10) < 0.1 and abs(b[1] - 10) < 0.1 and abs(a[0] - b[0]) > 2.0


def test_loops_are_left_alone() -> None:
    circle = [(10 * math.cos(t / 20), 10 * math.sin(t / 20)) for t in range(int(40 * math.pi) + 2)]
    assert run([circle], ALL) == run([circle], None)


# -- radius-compensated tips ---------------------------------------------------------------


def test_radius_tips_prune_less_never_more() -> None:
    kept_only_compensated = 0
    for k in range(8, 25):
        curves = [line((-20, 0), (20, 0)), line((0, 0), (0, -k / 10))]
        exact = tips_and_junctions(run(curves, None))[0]
        compensated = tips_and_junctions(run(curves, ("radius_tips",)))[0]
        assert compensated >= exact
        kept_only_compensated += compensated > exact
    assert kept_only_compensated >= 1


def test_refined_nodes_are_finite_and_chains_valid() -> None:
    for seed in range(6):
        chains, nodes, ids, _ = run(sketch(seed), ALL)
        arr = np.array([p for c in chains for p in c])
        assert np.isfinite(arr).all() and np.isfinite(np.array(nodes)).all()
        for c, (a, b) in zip(chains, ids):
            assert len(c) >= 2 and tuple(c[0]) == tuple(nodes[a]) and tuple(c[-1]) == tuple(nodes[b])
