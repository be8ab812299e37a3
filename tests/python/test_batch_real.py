"""centerlines_batch on real drawings (KanjiVG characters, vpype's Hershey text) gives what one
centerlines call per drawing gives: the same chains, nodes and widths, the same lost strokes
named under the drawing's position, and the same failures, whatever the chunking."""

from __future__ import annotations

import warnings
from typing import Any

import numpy as np
import pytest

import strandify
from strandify import BatchJobError, BatchResults, StrandifyError, centerlines, centerlines_batch
from strandify.formats import read_drawing

pytest.importorskip("svgelements")

Drawing = list[Any]


@pytest.fixture(scope="module")
def glyphs(real_files: Any) -> list[Drawing]:
    """The corpus's KanjiVG characters and Hershey text, each a drawing of float64 arrays."""
    out = []
    for entry in real_files[1]:
        if entry.fill or not entry.path.name.startswith(("kanji-", "vpype-hershey")):
            continue
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            drawing = read_drawing(entry.path)
        out.append([np.asarray(c, dtype=np.float64) for c in drawing.curves])
    if len(out) < 2:
        pytest.skip("needs the KanjiVG and vpype data of the test extra")
    return out


def as_tuples(drawing: Drawing) -> Drawing:
    """The same drawing as lists of (x, y) tuples, the other form the batch reads."""
    return [list(map(tuple, c.tolist())) for c in drawing]


def lost_messages(caught: list[warnings.WarningMessage]) -> list[str]:
    return [str(w.message) for w in caught if issubclass(w.category, strandify.LostStrokesWarning)]


def singles(drawings: list[Any], *args: Any, **kwargs: Any) -> tuple[list[Any], list[str]]:
    """One centerlines call per drawing (None where it fails), and the lost-stroke warnings
    each would give inside a batch, prefixed with its position."""
    results, messages = [], []
    for i, drawing in enumerate(drawings):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                results.append(centerlines(drawing, *args, **kwargs))
            except (StrandifyError, TypeError, ValueError) as error:
                results.append(error)
        messages.extend(f"drawing {i}: {m}" for m in lost_messages(caught))
    return results, messages


def batch(drawings: list[Any], *args: Any, **kwargs: Any) -> tuple[Any, list[str]]:
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        results = centerlines_batch(drawings, *args, **kwargs)
    return results, lost_messages(caught)


def identical(a: strandify.Centerlines, b: strandify.Centerlines) -> bool:
    widths_match = (a.widths is None) == (b.widths is None) and all(
        np.array_equal(p, q) for p, q in zip(a.widths or [], b.widths or [])
    )
    return (
        len(a.chains) == len(b.chains)
        and all(np.array_equal(p, q) for p, q in zip(a.chains, b.chains))
        and np.array_equal(a.nodes, b.nodes)
        and np.array_equal(a.chain_node_ids, b.chain_node_ids)
        and widths_match
    )


@pytest.mark.parametrize(
    "scale, tuning, chunk_size",
    [
        # each drawing's own derived scale, the default path
        ((), {}, 3),
        ((), {"compute_widths": True, "partition": "none", "refine": False, "workers": 1}, 64),
        ((), {"partition": "tiles", "refine": False, "tile_size": 40.0}, 1),
        # a feature size too large for the small parts of several drawings: their strokes are
        # lost, and named under each drawing
        ((1.0, 30.0), {"keep_dots": False}, 2),
    ],
)
def test_batch_equals_single_calls(glyphs: list[Drawing], scale: tuple[float, ...], tuning: dict[str, Any], chunk_size: int) -> None:
    drawings = glyphs + [as_tuples(g) for g in glyphs[:3]]
    want, want_lost = singles(drawings, *scale, **tuning)
    got, got_lost = batch(drawings, *scale, chunk_size=chunk_size, **tuning)
    assert len(got) == len(want)
    assert all(identical(a, b) for a, b in zip(got, want))
    assert got_lost == want_lost
    if scale:
        assert len(want_lost) >= 2


def test_lost_strokes_are_named_by_drawing_and_curve(glyphs: list[Drawing]) -> None:
    # two one-point curves (no stroke) and a curve cut in two by a NaN row come before the
    # curve whose stroke is lost: it is the fourth stroke the native call sees, and curve 4
    speck = np.array([[500.0, 500.0], [500.2, 500.0]])
    gapped = np.array([[0.0, -20.0], [60.0, -20.0], [np.nan, np.nan], [0.0, -22.0], [60.0, -22.0]])
    marked = [glyphs[0][0], np.array([[5.0, 5.0]]), np.array([[6.0, 6.0]]), gapped, speck]
    drawings = [glyphs[0], marked, glyphs[1]]
    want, want_lost = singles(drawings, 1.0, 6.0, refine=False)
    got, got_lost = batch(drawings, 1.0, 6.0, refine=False, chunk_size=2)
    assert all(identical(a, b) for a, b in zip(got, want))
    assert got_lost == want_lost
    (message,) = [m for m in got_lost if m.startswith("drawing 1: ")]
    assert "the groups of strokes 4;" in message


@pytest.mark.parametrize("chunk_size", [1, 3, 64])
def test_failing_drawings_among_good_ones(glyphs: list[Drawing], chunk_size: int) -> None:
    drawings: list[Any] = [*glyphs[:3], "not a drawing", *glyphs[3:]]
    want, _ = singles(drawings, max_nodes=400)
    failing = {i for i, r in enumerate(want) if not isinstance(r, strandify.Centerlines)}
    # some drawings pass the node limit and some do not
    assert 3 in failing and len(failing) > 1 and len(failing) < len(drawings) - 1
    got, _ = batch(drawings, max_nodes=400, chunk_size=chunk_size, errors="skip", workers=2)
    assert isinstance(got, BatchResults) and sorted(got.errors) == sorted(failing)
    for i, result in enumerate(got):
        if i not in failing:
            assert identical(result, want[i])
            continue
        assert result is None
        error = got.errors[i]
        if i == 3:
            assert isinstance(error, TypeError) and str(error).startswith("drawing 3: ")
            continue
        assert isinstance(error, BatchJobError) and error.index == i
        assert error.kind == "node_limit" and error.reason == str(want[i])

    # raised: one failing drawing among good ones is named by its position in the whole input
    first = min(failing - {3})
    good = [i for i in range(len(drawings)) if i not in failing]
    order = good[:2] + [first] + good[2:]
    with pytest.raises(BatchJobError) as info:
        centerlines_batch([drawings[i] for i in order], max_nodes=400, chunk_size=chunk_size)
    assert info.value.index == 2 and info.value.reason == str(want[first])
