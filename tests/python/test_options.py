"""The options record: one value for every tuning keyword, checked once, reaching every entry point."""

from __future__ import annotations

import inspect
import math
import os
from dataclasses import FrozenInstanceError, fields

import pytest

import strandify
from strandify import errors, options
from strandify._shapes import shape_options
from strandify.options import NativeOptions, Options

from conftest import line

PLUS = [line(0, 10, 20, 10), line(10, 0, 10, 20)]


def test_signatures_list_every_field_with_its_default():
    for function in (strandify.centerlines, strandify.centerlines_batch, strandify.polygon_centerlines,
                     strandify.polygon_centerlines_batch):
        params = inspect.signature(function).parameters
        for field in fields(Options):
            assert params[field.name].default == field.default, (function.__name__, field.name)
            assert params[field.name].kind is inspect.Parameter.KEYWORD_ONLY


def test_options_value_and_keywords_give_the_same_result():
    tuned = Options(min_tip_fraction=0.5, keep_dots=False, partition="none")
    by_value = strandify.centerlines(PLUS, 1.0, 1.0, options=tuned)
    by_keywords = strandify.centerlines(PLUS, 1.0, 1.0, min_tip_fraction=0.5, keep_dots=False, partition="none")
    assert by_value.to_geojson() == by_keywords.to_geojson()
    # a keyword beside options= replaces that field only
    exact = strandify.centerlines(PLUS, 1.0, 1.0, options=tuned, refine=False)
    assert exact.to_geojson() == strandify.centerlines(PLUS, 1.0, 1.0, min_tip_fraction=0.5, partition="none", refine=False).to_geojson()


@pytest.mark.parametrize(
    "keywords, error, message",
    [
        ({"simplification": "0.1"}, TypeError, "argument 'simplification': must be real number, not str"),
        ({"partition": "tiles?"}, ValueError, "partition must be one of 'none', 'components', 'tiles'"),
        ({"tile_size": 0}, ValueError, "tile_size must be a positive finite number"),
        ({"workers": 0}, ValueError, "workers must be a positive integer or None"),
        ({"bogus": 1}, TypeError, r"centerlines\(\) got an unexpected keyword argument 'bogus'"),
    ],
)
def test_bad_values_are_refused_before_any_work(keywords, error, message):
    with pytest.raises(error, match=message):
        strandify.centerlines(PLUS, 1.0, 1.0, **keywords)


def test_options_is_frozen_hashable_and_native_knows_its_names():
    o = Options(simplification=0.2)
    with pytest.raises(FrozenInstanceError):
        o.simplification = 0.3  # type: ignore[misc]
    assert {o: 1}[Options(simplification=0.2)] == 1
    native = o.native()
    assert isinstance(native, NativeOptions) and native.simplification == 0.2
    assert native.refine_steps == (
        "finish_tips",
        "recover_corners",
        "keep_dots",
        "join_crossings",
        "round_pens",
        "real_ends",
    )
    assert Options(refine=False).native().refine_steps is None
    assert Options(workers=3).native().workers == 3
    with pytest.raises(TypeError, match="strandify.options.Options"):
        Options.build({"simplification": 0.2}, {}, "centerlines")  # type: ignore[arg-type]


@pytest.mark.parametrize(
    "call, cls",
    [
        (lambda: strandify.centerlines(PLUS, 1.0, 1.0, max_nodes=1), errors.NodeLimitError),
        (lambda: strandify.centerlines(PLUS, 1.0, 1.0, per_curve_widths=[[1.0] * 5]), ValueError),
        (lambda: strandify.polygon_centerlines([[(0, 0), (1, 0), (2, 0)]], 1.0), errors.InvalidGeometryError),
        (lambda: strandify.polygon_centerlines([[(0, 0), (9, 0), (9, 9)]], 1.0, max_nodes=1), errors.NodeLimitError),
    ],
)
def test_refusals_are_typed(call, cls):
    with pytest.raises(cls) as info:
        call()
    assert isinstance(info.value, ValueError)


def test_batch_failures_keep_their_kind():
    with pytest.raises(errors.BatchJobError) as info:
        strandify.centerlines_batch([[], PLUS], 1.0, 1.0, max_nodes=2)
    assert (info.value.index, info.value.kind) == (1, "node_limit")
    assert isinstance(info.value, errors.StrandifyError)
    skipped = strandify.polygon_centerlines_batch(
        [[[(0, 0), (9, 0), (9, 9)]], [[(0, 0), (1, 0), (2, 0)]]], 1.0, errors="skip"
    )
    assert skipped[0] is not None and skipped.errors[1].kind == "invalid_geometry"


def test_a_batch_measures_widths_when_asked():
    (one,) = strandify.centerlines_batch([PLUS], 1.0, 1.0, compute_widths=True)
    single = strandify.centerlines(PLUS, 1.0, 1.0, compute_widths=True)
    assert one.widths is not None and [w.tolist() for w in one.widths] == [w.tolist() for w in single.widths]


@pytest.mark.skipif(not hasattr(os, "sched_setaffinity") or len(os.sched_getaffinity(0)) < 2, reason="needs two CPUs")
def test_calls_follow_the_process_to_fewer_cpus(monkeypatch: pytest.MonkeyPatch) -> None:
    # the clock the count is dated by, moved by hand: no waiting
    cpus = os.sched_getaffinity(0)
    clock = [1000.0]
    monkeypatch.setattr(options, "monotonic", lambda: clock[0])
    monkeypatch.setattr(options, "_cpus_counted", (-math.inf, 1))
    assert [shape_options(None, {}, "f")[1].workers, Options().native().workers] == [len(cpus)] * 2
    os.sched_setaffinity(0, {min(cpus)})
    try:
        clock[0] += options.CPU_COUNT_SECONDS
        assert [shape_options(None, {}, "f")[1].workers, Options().native().workers] == [1, 1]
    finally:
        os.sched_setaffinity(0, cpus)
