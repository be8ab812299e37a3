"""centerlines_batch(errors="skip"): failed drawings give None and their error, the rest go on."""

from __future__ import annotations

from typing import Any

import numpy as np
import pytest

import strandify
from conftest import batch_failure
from strandify import BatchJobError, BatchResults, centerlines, centerlines_batch

PLUS = [
    [(0.0, 0.0), (50.0, 0.4), (100.0, 0.0)],
    [(1.0, 1.0), (50.0, 0.8), (99.0, 1.2)],
    [(50.0, -50.0), (50.4, 0.0), (50.0, 50.0)],
    [(51.0, -49.0), (50.8, 0.0), (51.0, 49.0)],
]
SMALL = [[(0.0, 0.0), (10.0, 0.0)]]
D, F = 1.0, 2.0
# with max_nodes=100, PLUS fails (its skeleton has some 255 nodes) and SMALL passes
DRAWINGS: list[Any] = [SMALL, PLUS, SMALL, "not a drawing", PLUS, [], SMALL]
FAILING = {1, 4}


def is_plus(job: Any) -> bool:
    """Whether a native job draws PLUS (its curves as lists or arrays)."""
    return [list(map(tuple, c)) for c in job[0]] == PLUS


def same(a: Any, b: Any) -> bool:
    return len(a.chains) == len(b.chains) and all(np.array_equal(x, y) for x, y in zip(a.chains, b.chains))


@pytest.mark.parametrize("chunk_size", [1, 2, 3, 64])
def test_failures_give_none_and_their_error(chunk_size: int) -> None:
    results = centerlines_batch(DRAWINGS, D, F, max_nodes=100, chunk_size=chunk_size, errors="skip")
    assert isinstance(results, BatchResults) and len(results) == len(DRAWINGS)
    assert sorted(results.errors) == [1, 3, 4]
    for i in FAILING:
        assert results[i] is None
        error = results.errors[i]
        assert isinstance(error, BatchJobError) and error.index == i
        assert error.reason.endswith("exceeding max_nodes limit of 100")
        assert error.kind == "node_limit"
    assert results[3] is None
    assert isinstance(results.errors[3], TypeError) and str(results.errors[3]).startswith("drawing 3: ")
    for i in (0, 2, 5, 6):
        assert same(results[i], centerlines(DRAWINGS[i], D, F, max_nodes=100))


def test_the_order_failures_are_reported_in_does_not_matter(monkeypatch: pytest.MonkeyPatch) -> None:
    real = strandify._native.strandify_strokes_arrays_batch
    want = centerlines_batch(DRAWINGS, D, F, max_nodes=100, errors="skip")

    def last_failure_first(jobs: Any, options: Any) -> Any:
        # report the last failing job of the chunk, where the real batch may report any
        bad = [k for k, job in enumerate(jobs) if is_plus(job)]
        if bad:
            raise batch_failure(bad[-1], "skeleton too big")
        return real(jobs, options)

    monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", last_failure_first)
    got = centerlines_batch(DRAWINGS, D, F, max_nodes=100, errors="skip")
    assert sorted(got.errors) == sorted(want.errors)
    assert [got.errors[i].reason for i in sorted(FAILING)] == ["skeleton too big"] * 2  # type: ignore[attr-defined]
    assert all((a is None) == (b is None) and (a is None or same(a, b)) for a, b in zip(got, want))


def test_a_failure_not_pinned_on_a_job(monkeypatch: pytest.MonkeyPatch) -> None:
    real = strandify._native.strandify_strokes_arrays_batch

    def picky(jobs: Any, options: Any) -> Any:
        if any(is_plus(job) for job in jobs):
            raise ValueError("something went wrong")
        return real(jobs, options)

    monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", picky)
    got = centerlines_batch([SMALL, PLUS, SMALL], D, F, errors="skip")
    assert [r is None for r in got] == [False, True, False]
    assert str(got.errors[1]) == "something went wrong"
    with pytest.raises(ValueError, match="something went wrong"):
        centerlines_batch([SMALL, PLUS], D, F)


def test_raise_is_the_default() -> None:
    with pytest.raises(BatchJobError) as info:
        centerlines_batch(DRAWINGS[:3], D, F, max_nodes=100)
    assert info.value.index == 1
    with pytest.raises(TypeError, match="^drawing 3: "):
        centerlines_batch([SMALL, SMALL, SMALL, "x"], D, F, chunk_size=2)


def test_bad_errors_value() -> None:
    with pytest.raises(ValueError, match='errors must be "raise" or "skip"'):
        centerlines_batch([SMALL], errors="ignore")  # type: ignore[call-overload]
