"""Property tests of how drawings reach the native call."""

from __future__ import annotations

import math
from typing import Any
from unittest import mock

import numpy as np
import pytest

import strandify

pytest.importorskip("hypothesis")

from hypothesis import given  # noqa: E402
from hypothesis import settings as _settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

# no example database: runs leave nothing behind in the checkout
settings = _settings(database=None, deadline=None)

NAN = math.nan
coord = st.one_of(
    st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, allow_infinity=False),
    st.just(NAN),
)
point = st.tuples(coord, coord)
drawings = st.lists(st.lists(point, max_size=12), max_size=6)


def native_input(drawing: Any, **kwargs: Any) -> tuple[Any, Any]:
    """The curves and the width lists centerlines() hands to the native strandify_strokes_arrays for
    this drawing (strandify_strokes_arrays), as lists of (x, y) tuples and lists of widths (None: no widths), whether the
    package passes them as lists or as arrays."""
    seen: list[tuple[Any, ...]] = []

    def record(curves: Any, buffer_distance: Any, feature_size: Any, options: Any, widths: Any) -> Any:
        seen.append((curves, widths))
        return bytearray(), bytearray(8), bytearray(), bytearray(), None, bytearray(), 0

    # these properties are about reading and splitting, so the drawing stays where it is: a
    # drawing far from zero would otherwise reach the native call moved to its own corner
    with mock.patch.object(strandify._native, "strandify_strokes_arrays", record), mock.patch.object(
        strandify._lines, "curves_origin", lambda curves, pad: (0.0, 0.0)
    ):
        strandify.centerlines(drawing, 1.0, 1.0, **kwargs)
    ((curves, widths),) = seen
    return [list(map(tuple, c)) for c in curves], None if widths is None else [list(w) for w in widths]


def reference_split(drawing: list[list[tuple[float, float]]]) -> list[list[tuple[float, float]]]:
    """The plain-Python meaning of NaN rows: cut there, keep runs of two or more points."""
    out = []
    for curve in drawing:
        run: list[tuple[float, float]] = []
        for x, y in [*curve, (NAN, NAN)]:
            if math.isnan(x) or math.isnan(y):
                if len(run) >= 2:
                    out.append(run)
                run = []
            else:
                run.append((x, y))
    return out


@settings
@given(drawings)
def test_lists_are_split_like_the_reference(drawing: list[list[tuple[float, float]]]) -> None:
    assert native_input(drawing)[0] == reference_split(drawing)


@settings
@given(drawings)
def test_arrays_and_lists_reach_the_native_call_alike(drawing: list[list[tuple[float, float]]]) -> None:
    arrays = [np.array(c, dtype=np.float64).reshape(-1, 2) for c in drawing]
    as_lists = [[list(p) for p in c] for c in drawing]
    expected = reference_split(drawing)
    assert native_input(arrays)[0] == expected
    assert native_input(as_lists)[0] == expected
    # a mix of kinds takes the curve-by-curve road and must agree too
    mixed = [a if i % 2 else c for i, (a, c) in enumerate(zip(arrays, as_lists))]
    assert native_input(mixed)[0] == expected


@settings
@given(drawings, st.randoms(use_true_random=False))
def test_widths_follow_their_points(drawing: list[list[tuple[float, float]]], rnd: Any) -> None:
    # the width of a point is tied to the point itself, so after splitting each
    # native width must still belong to the native point beside it
    widths = [[rnd.random() for _ in c] for c in drawing]
    tagged = {(p, w) for c, ws in zip(drawing, widths) for p, w in zip(c, ws)}
    curves, native_widths = native_input(drawing, per_curve_widths=widths)
    assert [len(c) for c in curves] == [len(w) for w in native_widths]
    for c, ws in zip(curves, native_widths):
        assert all((p, w) in tagged for p, w in zip(c, ws))
