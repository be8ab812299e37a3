"""The native calls beyond the exact four: one options value, arrays in one copy, failures by kind."""

import numpy as np
import pytest

from strandify import _internal as m

from conftest import line, native_options

CURVES = [line(0.0, 0.0, 20.0, 0.0), line(10.0, -8.0, 10.0, 8.0)]
SQUARE = [(np.array([[0, 0], [10, 0], [10, 10], [0, 10]], dtype=np.float64), [])]


def test_no_options_is_the_exact_call():
    assert m.strandify_strokes(CURVES, 1.0, 0.5) == m.strandify(CURVES, 1.0, 0.5)
    assert m.strandify_strokes(CURVES, 1.0, 0.5, native_options()) == m.strandify(CURVES, 1.0, 0.5)
    assert m.inflate_strokes(CURVES, 1.0, 0.5, None) == m.inflate_curves(CURVES, 1.0, 0.5)
    assert m.triangulate_strokes(CURVES, 1.0, 0.5) == m.triangulate_curves(CURVES, 1.0, 0.5)


def test_every_option_reaches_the_pipeline():
    tuned = dict(simplification=0.3, min_tip_fraction=0.5, junction_merge_fraction=0.5, subdivision_ratio=1.0,
                 resample=0.4, boundary_simplification=0.02, merge_tolerance=0.0, max_nodes=10**6)
    exact = m.strandify(CURVES, 1.0, 0.5, 0.3, 0.5, 0.5, None, True, 1.0, 10**6, 0.4, 0.02, 0.0)
    assert m.strandify_strokes(CURVES, 1.0, 0.5, native_options(compute_widths=True, **tuned)) == exact


def test_options_are_read_by_name_from_any_object():
    class Record:
        def __getattr__(self, name):
            return native_options(simplification=0.3).__dict__[name]

    assert m.strandify_strokes(CURVES, 1.0, 0.5, Record()) == m.strandify(CURVES, 1.0, 0.5, 0.3)


@pytest.mark.parametrize(
    "options, error, message",
    [
        (object(), TypeError, r"^argument 'options': expected an options value with the attribute 'simplification'"),
        (native_options(simplification="0.1"), TypeError, r"^argument 'options': option 'simplification': must be real number, not str"),
        (native_options(compute_widths=1), TypeError, r"^argument 'options': option 'compute_widths': expected True or False"),
        (native_options(max_nodes=2.0), TypeError, r"^argument 'options': option 'max_nodes': "),
        (native_options(partition=1), TypeError, r"^argument 'options': option 'partition': expected 'none'"),
        (native_options(partition="tiles?"), ValueError, r"^option 'partition': partition must be 'none', 'components' or 'tiles'"),
        (native_options(workers=0), ValueError, r"^option 'workers': workers must be a positive integer"),
        (native_options(refine_steps=("finish_tips", "polish")), ValueError, r"^option 'refine_steps': unknown step 'polish'"),
        (native_options(refine_steps="finish_tips"), TypeError, r"^argument 'options': option 'refine_steps': expected None or a collection"),
        (native_options(max_nodes=-1), OverflowError, "^option 'max_nodes': "),
    ],
)
@pytest.mark.parametrize(
    "call",
    [
        lambda o: m.strandify_strokes(CURVES, 1.0, 0.5, o),
        lambda o: m.strandify_strokes_arrays_batch([(CURVES, 1.0, 0.5)], o),
        lambda o: m.strandify_strokes_arrays_batch([], o),
    ],
)
def test_bad_options_are_refused_by_name(options, error, message, call):
    with pytest.raises(error, match=message):
        call(options)


@pytest.mark.parametrize(
    "call",
    [
        lambda o: m.inflate_strokes(CURVES, 1.0, 0.5, o),
        lambda o: m.triangulate_strokes(CURVES, 1.0, 0.5, o),
        lambda o: m.strandify_polygons(SQUARE, None, 1.0, o),
        lambda o: m.strandify_polygons_batch([(SQUARE, None, 1.0)], o),
        lambda o: m.strandify_polygons_batch([], o),
    ],
)
def test_tiles_are_refused_where_nothing_can_be_tiled(call):
    with pytest.raises(ValueError, match="^option 'partition': partition must be 'none' or 'components' here"):
        call(native_options(partition="tiles"))


def test_arrays_are_read_as_their_points():
    arrays = [np.asarray(c, dtype=np.float64) for c in CURVES]
    assert m.strandify_strokes(arrays, 1.0, 0.5) == m.strandify(CURVES, 1.0, 0.5)
    assert m.plan_tiles(arrays, 1.0, 0.5) == m.plan_tiles(CURVES, 1.0, 0.5)
    # other arrays are read as sequences of points, whose rows are no (x, y) tuples
    for other in (arrays[0].astype(np.float32), arrays[0].astype(np.int64),
                  np.asfortranarray(np.c_[arrays[0], arrays[0]])[:, :2]):
        with pytest.raises(TypeError, match=r"^argument 'curves': expected a point as an \(x, y\) tuple"):
            m.strandify_strokes([other], 1.0, 0.5)
        # a batch job reads its strokes the same way, and names its argument
        with pytest.raises(TypeError, match=r"^argument 'jobs': expected a point as an \(x, y\) tuple"):
            m.strandify_strokes_arrays_batch([(arrays, 1.0, 0.5), ([other], 1.0, 0.5)])


@pytest.mark.parametrize(
    "call, kind, message",
    [
        (lambda: m.strandify_strokes(CURVES, 1.0, 0.0), "invalid_feature_size", "feature_size must be a positive finite number, got 0"),
        (lambda: m.strandify_strokes(CURVES, 1.0, 0.5, native_options(max_nodes=1)), "node_limit", r"skeleton has \d+ nodes, exceeding max_nodes limit of 1"),
        (lambda: m.strandify_strokes(CURVES, 1.0, 0.5, None, [[1.0]]), "width_lists", r"per_curve_widths\[0\] has 1 entries"),
        (lambda: m.inflate_strokes(CURVES, 1.0, 0.5, None, [[], [], [1.0]]), "width_lists", "per_curve_widths has an entry for curve 2"),
        (lambda: m.strandify_polygons([([(0, 0), (1, 0), (2, 0)], [])], None, 1.0), "invalid_geometry", "the polygons cover no area"),
        (lambda: m.plan_tiles(CURVES, 1.0, float("nan")), "invalid_feature_size", "feature_size must be a positive finite number, got NaN"),
        (lambda: m.stitch_tiles([([], 0, 5, [])], 1.0, 0.5, native_options(max_nodes=4)), "node_limit", "skeleton has 5 nodes, exceeding max_nodes limit of 4"),
    ],
)
def test_failures_name_their_kind(call, kind, message):
    with pytest.raises(ValueError, match=f"^{message}") as info:
        call()
    assert info.value.kind == kind
    assert not hasattr(info.value, "job_index")


@pytest.mark.parametrize(
    "batch, jobs",
    [
        (m.strandify_strokes_batch, [(CURVES, 1.0, 0.5), (CURVES, 1.0, 0.5)]),
        (m.strandify_strokes_arrays_batch, [(CURVES, 1.0, 0.5), (CURVES, 1.0, 0.5)]),
        (m.strandify_polygons_batch, [(SQUARE, None, 1.0), (SQUARE, 2.0, 1.0)]),
    ],
)
def test_batch_failures_name_job_reason_and_kind(batch, jobs):
    with pytest.raises(ValueError) as info:
        batch(jobs, native_options(max_nodes=1))
    error = info.value
    assert error.kind == "node_limit" and error.job_index in (0, 1)
    assert str(error) == f"{batch.__name__} job {error.job_index} failed: {error.reason}"
    assert error.reason.startswith("skeleton has ")


def test_exact_functions_name_no_kind():
    with pytest.raises(ValueError, match=r"^strandify_batch job 0 failed: skeleton has") as info:
        m.strandify_batch([(CURVES, 1.0, 0.5, None, None, None, 1, None, None, None, None)])
    assert not hasattr(info.value, "kind")
    with pytest.raises(ValueError, match=r"^skeleton has") as info:
        m.strandify(CURVES, 1.0, 0.5, max_nodes=1)
    assert not hasattr(info.value, "kind")


def test_batches_return_what_their_single_calls_return():
    options = native_options(partition="components", refine_steps=("finish_tips", "keep_dots"), compute_widths=True)
    drawings = [CURVES, [line(0, 0, 5, 5)], []]
    assert m.strandify_strokes_batch([(c, 1.0, 0.5) for c in drawings], options) == [
        m.strandify_strokes(c, 1.0, 0.5, options) for c in drawings
    ]
    # the flat buffers and lost groups, as the single call gives them, for strokes as tuples or
    # arrays; the speck far from the cross is lost without the dots kept
    speck = [[(90.0, 90.0), (90.3, 90.0)]]
    strokes = drawings + [CURVES + speck, [np.asarray(c, dtype=np.float64) for c in CURVES + speck]]
    for tuning in (dict(compute_widths=True), dict(partition="tiles")):
        single = native_options(**tuning)
        for workers in (None, 1, 3):
            out = m.strandify_strokes_arrays_batch([(c, 1.0, 2.0) for c in strokes], native_options(**tuning, workers=workers))
            assert out == [m.strandify_strokes_arrays(c, 1.0, 2.0, single) for c in strokes]
    assert [bytes(r[5]) for r in out[-2:]] == [np.array([2], dtype=np.int64).tobytes()] * 2
    shapes = [SQUARE, [(np.array([[0, 0], [30, 0], [30, 4], [0, 4]], dtype=np.float64), [])]]
    for workers in (None, 1, 3):
        batch_options = native_options(partition="components", compute_widths=True, workers=workers)
        assert m.strandify_polygons_batch([(s, None, 1.0) for s in shapes], batch_options) == [
            m.strandify_polygons(s, None, 1.0, native_options(partition="components", compute_widths=True)) for s in shapes
        ]


@pytest.mark.parametrize(
    "jobs, message",
    [
        ([(CURVES, 1.0)], r"^argument 'jobs': expected a \(curves, buffer_distance, feature_size\) tuple of length 3"),
        ([[CURVES, 1.0, 0.5]], r"^argument 'jobs': expected a \(curves, buffer_distance, feature_size\) tuple of 3"),
        ([(CURVES, None, 0.5)], r"^argument 'jobs': must be real number, not NoneType"),
        ([(CURVES, 1.0, 0.5, None)], r"^argument 'jobs': expected a \(curves, buffer_distance, feature_size\) tuple of length 3"),
        ([(CURVES, 1.0, 0.5), None], r"^argument 'jobs': expected a \(curves, buffer_distance, feature_size\) tuple of 3"),
        ([("curves", 1.0, 0.5)], r"^argument 'jobs': expected a sequence, got str"),
        ("jobs", r"^argument 'jobs': expected a sequence, got str"),
        (7, r"^argument 'jobs': expected a sequence, got int"),
    ],
)
@pytest.mark.parametrize("batch", [m.strandify_strokes_batch, m.strandify_strokes_arrays_batch])
def test_batch_jobs_are_checked_before_anything_runs(jobs, message, batch):
    with pytest.raises(TypeError, match=message):
        batch(jobs)


@pytest.mark.parametrize(("d", "f"), [(1.5, 3.0), (0.2, 7.0), (1e3, 1e-2)])
def test_resolved_settings_are_the_ones_the_calls_use(d: float, f: float) -> None:
    options = native_options(tile_size=40.0 * (d + f), min_tip_fraction=3.0)
    settings = m.resolved_settings(d, f, options)
    # the halo a tile plan gives a short stroke
    [(core, halo, _, _)] = m.plan_tiles([[(0.0, 0.0), (d + f, 0.0)]], d, f, options)
    assert settings["tile_halo"] == pytest.approx(core[0] - halo[0], rel=1e-12) == pytest.approx(halo[2] - core[2], rel=1e-12)
    assert settings["tile_size"] == options.tile_size
    assert settings["tip_length"] == 3.0 * f and settings["feature_size"] == f
    assert m.resolved_settings(d, f)["tile_size"] is None


def test_resolved_settings_refuse_what_the_calls_refuse() -> None:
    with pytest.raises(ValueError, match="feature_size must be a positive finite number") as info:
        m.resolved_settings(1.0, 0.0)
    assert info.value.kind == "invalid_feature_size"  # type: ignore[attr-defined]
    with pytest.raises(TypeError, match="option 'min_tip_fraction'"):
        m.resolved_settings(1.0, 1.0, native_options(min_tip_fraction="x"))
    with pytest.raises(TypeError, match="missing required argument 'feature_size'"):
        m.resolved_settings(1.0)  # type: ignore[call-arg]
