"""The finishing steps (``refine``): each on constructed drawings, and the exact path untouched."""

from __future__ import annotations

import itertools
import json
import math
import random
from pathlib import Path

import numpy as np
import pytest

from strandify import _internal, centerlines
from strandify.cli import main
from strandify.options import refine_steps

from conftest import kanjivg_strokes, native_options

ALL = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "radius_tips", "round_pens")
DEFAULT = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "round_pens")
# The step on by default besides those (the Python keywords and the command line add it); the
# tests of the other steps leave it out, since it only keeps branches that pruning would cut.
ALSO_ON = ("real_ends",)
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
    want = run(curves, ("recover_corners", "keep_dots", "join_crossings", "radius_tips", "round_pens") + ALSO_ON)
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
    # square caps put the cap's face exactly a radius out; round ones are polygons whose chords
    # lie up to the arc tolerance (a fifth of feature_size) inside the circle
    for steps, tolerance in ((tuple(s for s in DEFAULT if s != "round_pens"), 1e-6), (DEFAULT, 0.2 * bd)):
        got = run([line(a, b)], steps, bd, bd)
        assert len(got[0]) == 1
        assert np.allclose(sorted(got[1], key=lambda p: math.hypot(*p)), [a, b], atol=tolerance)


def test_a_hook_is_straightened_and_a_real_turn_left_alone() -> None:
    hooked = line((0, 0), (40, 0)) + line((40, 0), (40.4, 0.5))[1:]
    exact = max(run([hooked], None)[0][0][::-1])
    assert exact[1] > 0.15  # the exact tip follows the hook
    tip = max(run([hooked])[0][0][::-1])
    assert abs(tip[1]) < 0.1 and 39.9 < tip[0] < 40.6
    # a turn longer than the stretch the direction comes from: the end is not straight. The
    # reference runs a step that leaves this line alone, so that both mesh it alike.
    turned = line((0, 0), (40, 0)) + line((40, 0), (40, 1.8))[1:]
    assert max(run([turned], ("finish_tips",))[1]) == max(run([turned], ("keep_dots",))[1])


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


def star(angles: tuple[float, ...], arm: float = 30.0) -> list[Curve]:
    return [line(polar(a + 180, arm), polar(a, arm)) for a in angles]


@pytest.mark.parametrize(
    "curves",
    [
        star((0, 45, 90, 135)),
        star((5, 50, 95, 140)),
        star((0, 40, 95, 130)),
        # two strokes crossing and two more starting where they cross, as in the middle of 木
        [line((-30, 0), (30, 0)), line((0, 30), (0, -30)), line((0, 0), polar(-130, 30)), line((0, 0), polar(-50, 30))],
    ],
    ids=["four lines", "four lines turned", "four lines unevenly", "two lines and two starts"],
)
def test_a_crossing_of_more_strokes_is_one_node(curves: list[Curve]) -> None:
    got = run(curves)
    deg = degrees(got[2])
    ends = 2 * len(curves) - sum(1 for c in curves if c[0] == (0.0, 0.0))
    assert sorted(deg.values()) == [1] * ends + [ends]
    centre = next(n for n, d in deg.items() if d == ends)
    assert math.hypot(*got[1][centre]) < 1.0


def test_a_crossing_of_two_strokes_and_a_stub_is_not_joined_across() -> None:
    # the stub starts 6 radii from the crossing: two junctions, not one
    curves = [line((-30, 0), (30, 0)), line((0, 30), (0, -30)), line((6, 0), (6, -20))]
    assert tips_and_junctions(run(curves)) == (5, 2)


def test_two_close_t_joins_stay_apart() -> None:
    curves = [line((0, -20), (0, 20)), line((3, -20), (3, 20)), line((0, 0), (3, 0))]
    exact = run(curves, None)
    assert tips_and_junctions(run(curves)) == tips_and_junctions(exact)


# -- round pens and overhangs ------------------------------------------------------------


def rotated(curves: list[Curve], degrees_: float) -> list[Curve]:
    c, s = math.cos(math.radians(degrees_)), math.sin(math.radians(degrees_))
    return [[(x * c - y * s, x * s + y * c) for x, y in curve] for curve in curves]


@pytest.mark.parametrize("bd", [1.0, 2.5])
@pytest.mark.parametrize("turn", [0.0, 30.0])
@pytest.mark.parametrize("gap", [1.8, 1.95])
def test_ends_join_only_where_round_pens_overlap(bd: float, turn: float, gap: float) -> None:
    """Ends 2.5 to 2.8 radii apart diagonally: square caps overlap at their corners, round pens
    do not touch."""
    curves = rotated([line((-20 * bd, 0), (0, 0)), line((gap * bd, gap * bd), (gap * bd, 20 * bd))], turn)
    assert tips_and_junctions(run(curves, bd=bd, fs=bd)) == (4, 0)
    assert tips_and_junctions(run(curves, None, bd=bd, fs=bd)) == (2, 0)
    assert tips_and_junctions(run(curves, tuple(s for s in DEFAULT if s != "round_pens"), bd=bd, fs=bd)) == (2, 0)
    assert len(centerlines(curves, bd, bd, round_pens=False).chains) == 1


@pytest.mark.parametrize("bd", [1.0, 1.5])
@pytest.mark.parametrize("overhang, stub", [(1.0, False), (1.7, False), (4.0, True), (6.0, True)])
def test_an_overhanging_start_is_a_corner_and_a_longer_one_a_stub(bd: float, overhang: float, stub: bool) -> None:
    """A box's corner drawn as two strokes, the upright starting `overhang` radii above the
    other: a short overhang is the corner, a longer one a stroke of its own."""
    curves = [line((0, overhang * bd), (0, -30)), line((0, 0), (30, 0))]
    assert tips_and_junctions(run(curves, bd=bd, fs=bd)) == ((3, 1) if stub else (2, 0))


@pytest.mark.parametrize("char", ["測", "県"])
def test_a_short_stub_ends_where_its_stroke_ends(char: str) -> None:
    """Both characters have a stroke that ends a little past the stroke it meets (the bottom
    left of their boxes): its stub is too short for a fitted line, and its skeleton tip lies in
    the round cap, most of a radius past the stroke's end. No tip may lie further past the end
    of its stroke than the arc tolerance by which a round cap's polygon falls short."""
    curves = kanjivg_strokes(char)
    tips = tip_points(centerlines(curves, 1.5, 1.5))
    past = []
    for c in curves:
        for end, before in ((c[0], c[1]), (c[-1], c[-2])):
            out = np.subtract(end, before) / math.dist(end, before)
            near = [t for t in tips if math.dist(t, end) < 1.5]
            past.extend(float(np.subtract(t, end) @ out) for t in near)
    assert past and max(past) <= 0.2 * 1.5


@pytest.mark.parametrize("font", ["futural", "rowmans"])
def test_strokes_ending_side_by_side_keep_both_ends(font: str) -> None:
    """The tail of a Hershey @: two strokes end one unit apart, closer than a pen width, each
    a short stub from the junction where their buffers merge. Neither is an overhang."""
    vpype = pytest.importorskip("vpype")
    curves = [[(p.real, p.imag) for p in line] for line in vpype.text_line("@", font, size=32)]
    tips = tip_points(centerlines(curves, 0.5, 0.5))  # the glyph's unit is two pen radii
    ends = [(i, c[k]) for i, c in enumerate(curves) for k in (0, -1)]
    pairs = [(p, q) for (i, p), (j, q) in itertools.combinations(ends, 2) if i != j and math.dist(p, q) < 1.5]
    assert len(pairs) == 1
    for end in pairs[0]:
        assert min(math.dist(end, t) for t in tips) < 0.5


def tip_turns(chains: list, ids: list, deg: dict[int, int]) -> list[float]:
    """Per tip: degrees between its last 2 units and the 5 units before them."""
    out = []
    for chain, (a, b) in zip(chains, ids):
        for node, pts in ((a, np.asarray(chain)), (b, np.asarray(chain)[::-1])):
            if deg[node] != 1:
                continue
            arc = np.concatenate([[0.0], np.cumsum(np.hypot(*np.diff(pts, axis=0).T))])
            if arc[-1] < 7:
                continue
            p0, p2, p7 = (np.array([np.interp(s, arc, pts[:, 0]), np.interp(s, arc, pts[:, 1])]) for s in (0, 2, 7))
            u, v = p0 - p2, p2 - p7
            out.append(math.degrees(math.acos(np.clip(u @ v / (np.linalg.norm(u) * np.linalg.norm(v)), -1, 1))))
    return out


def test_the_bundled_sample_has_its_letters_shapes() -> None:
    """examples/letters.json: H, E, X and A drawn as sketches, every stroke several times."""
    from strandify.formats import read_drawing

    drawing = read_drawing(Path(__file__).parents[2] / "examples" / "letters.json")
    got = centerlines(drawing.curves)
    deg = degrees(got.chain_node_ids.tolist())
    # tips: H 4, E 3, X 4, A 2; junctions: H 2, E 1, X 1, A 2 (the apex and the E's corners are bends)
    assert (sum(d == 1 for d in deg.values()), sum(d >= 3 for d in deg.values())) == (13, 6)
    assert max(tip_turns(got.chains, got.chain_node_ids.tolist(), deg)) < 20


def tip_points(result) -> list[tuple[float, float]]:
    deg = degrees(result.chain_node_ids.tolist())
    return [tuple(result.nodes[n]) for n, d in deg.items() if d == 1]


@pytest.mark.parametrize("char, tips, junctions", [("十", 4, 1), ("木", 6, 1), ("大", 5, 1)])
def test_kanjivg_strokes_give_their_characters_shape(char: str, tips: int, junctions: int) -> None:
    curves = kanjivg_strokes(char)
    got = centerlines(curves, 1.5, 1.5)  # the files draw with a pen 3 units wide
    deg = degrees(got.chain_node_ids.tolist())
    assert (sum(d == 1 for d in deg.values()), sum(d >= 3 for d in deg.values())) == (tips, junctions)


# -- dots ----------------------------------------------------------------------------------


def test_dots_survive_as_a_point_or_a_dash() -> None:
    big = line((0, 0), (30, 0))
    speck = [(50.0, 10.0), (50.3, 10.2)]  # its buffer has no skeleton at all
    dash = line((70.0, 10.0), (72.5, 10.0))
    exact = run([big, speck, dash], None, 1.0, 2.0)
    assert len(exact[0]) == 1
    # round caps are drawn to the arc tolerance (a fifth of feature_size, here 0.4 of a radius
    # of 1): their polygon is lopsided, and the dash's axis tilts within half a radius
    for steps, tilt in ((tuple(s for s in DEFAULT if s != "round_pens"), 0.1), (DEFAULT, 0.5)):
        got = run([big, speck, dash], steps, 1.0, 2.0)
        assert len(got[0]) == 3
        points = [c for c in got[0] if c[0] == c[-1]]
        assert [len(c) for c in points] == [2]
        assert math.dist(points[0][0], (50.15, 10.1)) < 0.15
        (a, b), = [(c[0], c[-1]) for c in got[0] if c[0][0] > 65]
        assert abs(a[1] - 10) < tilt and abs(b[1] - 10) < tilt and abs(a[0] - b[0]) > 2.0


def test_loops_are_left_alone() -> None:
    circle = [(10 * math.cos(t / 20), 10 * math.sin(t / 20)) for t in range(int(40 * math.pi) + 2)]
    finished = run([circle], tuple(s for s in ALL if s != "round_pens"))
    # With finishing steps the buffer's convex turns are refined more lightly, so the reference
    # is a step that only touches tips, on the same mesh; and on that mesh the loop stays one
    # closed chain on the circle, as the exact one does, within a few hundredths of the radius.
    assert finished == run([circle], ("radius_tips",))
    assert len(finished[0]) == 1 and tips_and_junctions(finished) == (0, 0)
    for chains in (finished[0], run([circle], None)[0]):
        assert max(abs(math.hypot(*p) - 10) for p in chains[0]) < 0.03
    # round pens draw another buffer, but the loop stays one closed chain
    round_loop = run([circle], ALL)
    assert len(round_loop[0]) == 1 and tips_and_junctions(round_loop) == (0, 0)


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
