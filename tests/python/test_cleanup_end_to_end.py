"""Spur pruning, junction merging and joined input as seen through strandify."""
import math

import pytest

from strandify import _internal as m

from conftest import line
from test_geometry import degrees, polyline_distance


def test_H_gives_five_chains_at_two_junctions():
    strokes = [line(0, 0, 0, 40), line(30, 0, 30, 40), line(0, 20, 30, 20)]
    chains, nodes, ids, _ = m.strandify(strokes, 1.5, 1.0)
    assert len(chains) == 5
    deg = degrees(ids)
    junctions = sorted(n for n, d in deg.items() if d == 3)
    assert len(junctions) == 2 and sorted(deg.values()) == [1, 1, 1, 1, 3, 3]
    for j, x in zip(sorted(junctions, key=lambda n: nodes[n][0]), (0, 30)):
        assert math.dist(nodes[j], (x, 20)) < 1.0


def test_T_gives_three_chains_at_one_junction():
    chains, nodes, ids, _ = m.strandify([line(0, 30, 40, 30), line(20, 30, 20, 0)], 1.5, 1.0)
    assert len(chains) == 3
    deg = degrees(ids)
    (hub,) = [n for n, d in deg.items() if d == 3]
    assert math.dist(nodes[hub], (20, 30)) < 1.5


def test_crossing_of_two_overdrawn_strokes_gives_one_hub():
    strokes = [line(-20, 0.3, 20, -0.2), line(-20, -0.2, 20, 0.4), line(0.3, -20, -0.2, 20), line(-0.1, -20, 0.2, 20)]
    chains, nodes, ids, _ = m.strandify(strokes, 1.0, 1.0)
    assert len(chains) == 4 and sorted(degrees(ids).values()) == [1, 1, 1, 1, 4]


def wavy(n=200):
    return [(t * 0.3, 4 * math.sin(t * 0.05)) for t in range(n)]


@pytest.mark.parametrize("alternate", [False, True])
def test_stroke_in_ten_pieces_equals_stroke_drawn_whole(alternate):
    whole = wavy()
    pieces = []
    for k in range(10):
        piece = whole[k * 20 : k * 20 + 21] if k < 9 else whole[180:]
        pieces.append(piece[::-1] if alternate and k % 2 else piece)
    a = m.strandify([whole], 1.0, 1.0)
    b = m.strandify(pieces, 1.0, 1.0)
    assert len(a[0]) == len(b[0]) == 1
    for p in b[0][0]:
        assert polyline_distance(p, a[0][0]) < 0.1
    for p in a[0][0]:
        assert polyline_distance(p, b[0][0]) < 0.1


def test_pieces_stay_apart_without_merging():
    whole = wavy()
    pieces = [whole[k * 20 : k * 20 + 21] for k in range(9)] + [whole[180:]]
    joined = m.strandify(pieces, 1.0, 1.0)
    # Without merging the buffers are only unioned: the skeleton is the same shape, but the
    # decimation works on each piece, so the chain may differ slightly; it still is one chain.
    apart = m.strandify(pieces, 1.0, 1.0, merge_tolerance=0.0)
    assert len(joined[0]) == len(apart[0]) == 1


def test_spur_length_threshold_follows_min_tip_fraction():
    strokes = [line(0, 0, 40, 0), line(20, 0, 20, 6)]
    assert len(m.strandify(strokes, 1.0, 1.0)[0]) == 3
    # A tip length above the spur's length removes it and the junction dissolves.
    assert len(m.strandify(strokes, 1.0, 1.0, min_tip_fraction=10.0)[0]) == 1
    # No pruning at all keeps the corner spurs of the square ends.
    assert len(m.strandify(strokes, 1.0, 1.0, min_tip_fraction=0.0)[0]) > 3
    assert m.strandify(strokes, 1.0, 1.0, min_tip_fraction=math.nan) == m.strandify(strokes, 1.0, 1.0, min_tip_fraction=-1.0)


def test_junction_merging_switch():
    strokes = [line(-20, 0, 20, 0), line(0, -20, 0, 20)]
    merged = m.strandify(strokes, 1.0, 1.0)
    unmerged = m.strandify(strokes, 1.0, 1.0, junction_merge_fraction=0.0)
    assert sorted(degrees(merged[2]).values())[-1] == 4
    assert m.strandify(strokes, 1.0, 1.0, junction_merge_fraction=math.nan) == unmerged
    # Without merging the crossing shows as two junctions joined by a short chain.
    assert len(merged[0]) == 4 and len(unmerged[0]) == 5
    assert sorted(degrees(unmerged[2]).values()) == [1, 1, 1, 1, 3, 3]
