"""The Python face of the native module: binding, conversion rules, messages, docstrings."""
import inspect
import threading
import time

import pytest

from strandify import _internal as m

from conftest import line

CURVES = [line(0.0, 0.0, 20.0, 0.0)]


def test_module_exports_functions_in_order():
    names = [n for n in vars(m) if not n.startswith("__")]
    assert names[:4] == ["inflate_curves", "triangulate_curves", "strandify", "strandify_batch"]
    # after the four: the same work with one options value, filled shapes, then the tiled
    # pipeline's three steps for running tiles elsewhere
    assert names[4:] == [
        "strandify_strokes", "strandify_strokes_arrays", "strandify_strokes_batch", "strandify_strokes_arrays_batch",
        "inflate_strokes", "triangulate_strokes",
        "strandify_polygons", "strandify_polygons_arrays", "strandify_polygons_batch", "plan_tiles", "run_tile", "stitch_tiles",
        "resolved_settings", "read_point_lists",
    ]
    assert m.__doc__ == ""


EXACT_SIGNATURES = {
    "strandify": (
        "(curves, buffer_distance, feature_size, simplification=None, min_tip_fraction=None, "
        "junction_merge_fraction=None, per_curve_widths=None, compute_widths=False, "
        "subdivision_ratio=None, max_nodes=None, resample=None, boundary_simplification=None, "
        "merge_tolerance=None)"
    ),
    "strandify_batch": "(jobs)",
    "inflate_curves": "(curves, buffer_distance, feature_size, per_curve_widths=None, merge_tolerance=None)",
    "triangulate_curves": (
        "(curves, buffer_distance, feature_size, per_curve_widths=None, subdivision_ratio=None, "
        "resample=None, boundary_simplification=None, merge_tolerance=None)"
    ),
}

INFLATE_DOC = "\n".join([
    "Inflate a list of polylines by `buffer_distance`, union all results,",
    "and return the buffer polygons as (outer_ring, holes) pairs.",
    "",
    "The same input decimation applied inside `strandify` is used here so",
    "the polygons match exactly what the skeleton sees.",
    "",
    "Parameters",
    "----------",
    "curves : list of lists of (x, y) tuples",
    "buffer_distance : float",
    "    Uniform inflation radius (used for curves without per-vertex widths).",
    "feature_size : float",
    "    Scale parameter for input decimation and derived thresholds.",
    "per_curve_widths : list of lists of float, default None",
    "    Per-vertex radii for each curve (one list per curve). If provided,",
    "    each sub-list must have the same length as the corresponding curve.",
    "    Curves with an empty sub-list (or missing entry) use `buffer_distance`.",
    "",
    "Returns",
    "-------",
    "list of (outer, holes) where outer and each hole is a list of (x, y) tuples",
])

TRIANGULATE_DOC = "\n".join([
    "Return the CDT triangles for each inflated polygon, using the same",
    "boundary preprocessing (RDP simplification + subdivision) as `strandify`.",
    "Useful for visualising and debugging the triangulation step.",
    "",
    "Returns a flat list of triangles across all polygons, each as",
    "((x0,y0),(x1,y1),(x2,y2)).",
])

BATCH_DOC = "\n".join([
    "Process multiple independent curve-sets in parallel using Rayon.",
    "",
    "Each element of `jobs` is a tuple of (curves, buffer_distance,",
    "feature_size, simplification, min_tip_fraction, junction_merge_fraction,",
    "max_nodes, subdivision_ratio, resample, boundary_simplification,",
    "merge_tolerance) \u2014 one independent strandify invocation with its own",
    "parameters, matching the boundary-preprocessing knobs of the single",
    "[`strandify`] entry point. The GIL is released for the parallel work.",
    "",
    "Returns a list of (chains, nodes, chain_node_ids) tuples, one per job.",
])


@pytest.mark.parametrize(
    "name, doc",
    [
        ("strandify", "Strandify a list of polylines into clean centerline chains."),
        ("strandify_batch", BATCH_DOC),
        ("inflate_curves", INFLATE_DOC),
        ("triangulate_curves", TRIANGULATE_DOC),
    ],
)
def test_exact_functions_have_their_own_signature_and_docstring(name, doc):
    func = getattr(m, name)
    assert func.__text_signature__ == EXACT_SIGNATURES[name]
    assert func.__doc__ == doc
    params = inspect.signature(func).parameters.values()
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params)


@pytest.mark.parametrize(
    "call",
    [
        lambda: m.strandify(CURVES, 1.0, 1.0, partition="components"),
        lambda: m.strandify(CURVES, 1.0, 1.0, refine=("finish_tips",)),
        lambda: m.strandify(CURVES, 1.0, 1.0, *([None] * 10), "none"),
        lambda: m.strandify_batch([], "none"),
        lambda: m.strandify_batch([], tile_size=1.0),
        lambda: m.inflate_curves(CURVES, 1.0, 1.0, None, None, "components"),
        lambda: m.inflate_curves(CURVES, 1.0, 1.0, workers=2),
        lambda: m.triangulate_curves(CURVES, 1.0, 1.0, *([None] * 5), "components"),
    ],
)
def test_exact_functions_refuse_anything_beyond_their_parameters(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize(
    "name, signature",
    [
        ("strandify_strokes", "(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)"),
        ("strandify_strokes_arrays", "(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)"),
        ("strandify_strokes_batch", "(jobs, options=None)"),
        ("strandify_strokes_arrays_batch", "(jobs, options=None)"),
        ("inflate_strokes", "(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)"),
        ("triangulate_strokes", "(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)"),
        ("strandify_polygons", "(polygons, buffer_distance, feature_size, options=None)"),
        ("strandify_polygons_arrays", "(polygons, buffer_distance, feature_size, options=None)"),
        ("strandify_polygons_batch", "(jobs, options=None)"),
        ("plan_tiles", "(curves, buffer_distance, feature_size, options=None, per_curve_widths=None)"),
        ("run_tile", "(job, buffer_distance, feature_size, options=None)"),
        ("stitch_tiles", "(tiles, buffer_distance, feature_size, options=None)"),
        ("resolved_settings", "(buffer_distance, feature_size, options=None)"),
    ],
)
def test_option_taking_functions_signatures(name, signature):
    func = getattr(m, name)
    assert func.__text_signature__ == signature
    assert not func.__doc__.endswith("\n")
    inspect.signature(func)  # the interpreter can parse it


def test_empty_curves_give_four_empty_lists():
    assert m.strandify([], 1.0, 1.0) == ([], [], [], [])
    assert m.inflate_curves([], 1.0, 1.0) == []
    assert m.triangulate_curves([], 1.0, 1.0) == []
    assert m.strandify_batch([]) == []


def test_keywords_and_positions_bind_the_same():
    a = m.strandify(CURVES, 1.0, 0.5)
    b = m.strandify(feature_size=0.5, curves=CURVES, buffer_distance=1.0)
    assert a == b


@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((CURVES, 1.0), {}),
        ((CURVES, 1.0, 1.0), {"bogus": 1}),
        ((CURVES, 1.0, 1.0), {"curves": CURVES}),
        ((CURVES,) + (None,) * 13, {}),
    ],
)
def test_binding_errors_are_type_errors(args, kwargs):
    with pytest.raises(TypeError):
        m.strandify(*args, **kwargs)


@pytest.mark.parametrize(
    "curves",
    [
        [[[0.0, 0.0], [1.0, 0.0]]],  # points as lists
        "abc",
        ["ab"],
        [[(0.0, 0.0, 0.0)]],
        [[(0.0,)]],
        5,
        {1: 2},
        [iter([(0.0, 0.0)])],
        [[(0.0, "x")]],
    ],
)
def test_bad_curves_raise_prefixed_type_error(curves):
    with pytest.raises(TypeError, match=r"^argument 'curves': "):
        m.strandify(curves, 1.0, 1.0)


def test_point_tuple_length_named_in_reason():
    with pytest.raises(TypeError, match="length 2.*length 3"):
        m.strandify([[(0.0, 0.0, 1.0)]], 1.0, 1.0)


def test_numpy_rows_refused_but_numpy_floats_accepted():
    np = pytest.importorskip("numpy")
    arr = np.array([[0.0, 0.0], [10.0, 0.0]])
    with pytest.raises(TypeError, match=r"^argument 'curves': "):
        m.strandify([arr], 1.0, 1.0)
    pts = [(np.float64(x), np.float32(0.0)) for x in range(20)]
    assert m.strandify([pts], 1.0, 1.0) == m.strandify([[(float(x), 0.0) for x in range(20)]], 1.0, 1.0)


def test_sequences_other_than_lists_are_read():
    as_tuples = tuple(tuple(c) for c in CURVES)
    assert m.strandify(as_tuples, 1.0, 0.5) == m.strandify(CURVES, 1.0, 0.5)


class NoLen:
    """A sequence whose __len__ fails: the length is only a hint."""

    def __init__(self, items):
        self.items = items

    def __getitem__(self, i):
        return self.items[i]

    def __len__(self):
        raise RuntimeError("no length")


def test_failing_length_hint_is_ignored():
    assert m.strandify(NoLen(CURVES), 1.0, 0.5) == m.strandify(CURVES, 1.0, 0.5)


@pytest.mark.parametrize("name", ["buffer_distance", "feature_size"])
def test_required_float_none_is_prefixed(name):
    kwargs = {"curves": CURVES, "buffer_distance": 1.0, "feature_size": 1.0, name: None}
    with pytest.raises(TypeError, match=rf"^argument '{name}': must be real number, not NoneType"):
        m.strandify(**kwargs)


@pytest.mark.parametrize(
    "value, shown",
    [(0, "0"), (-1, "-1"), (float("nan"), "NaN"), (float("inf"), "inf"), (float("-inf"), "-inf"),
     (-0.0, "-0"), (-1e-6, "-0.000001"), (-1e21, "-1" + "0" * 21), (-2.5, "-2.5")],
)
def test_feature_size_message(value, shown):
    msg = f"feature_size must be a positive finite number, got {shown}"
    for call in (
        lambda: m.strandify(CURVES, 1.0, value),
        lambda: m.inflate_curves(CURVES, 1.0, value),
        lambda: m.triangulate_curves(CURVES, 1.0, value),
        lambda: m.strandify_batch([(CURVES, 1.0, value) + (None,) * 8]),
    ):
        with pytest.raises(ValueError) as err:
            call()
        assert str(err.value) == msg


def test_feature_size_accepts_true_and_subnormal():
    assert m.strandify([], 1.0, True) == ([], [], [], [])
    assert m.strandify([], 1.0, 5e-324) == ([], [], [], [])


@pytest.mark.parametrize("flag", [None, 0, 1, "yes", 1.0])
def test_compute_widths_only_bools(flag):
    with pytest.raises(TypeError, match=r"^argument 'compute_widths': "):
        m.strandify(CURVES, 1.0, 1.0, compute_widths=flag)


def test_compute_widths_numpy_bool():
    np = pytest.importorskip("numpy")
    out = m.strandify(CURVES, 1.0, 0.5, compute_widths=np.bool_(True))
    assert len(out[3]) == len(out[0]) > 0
    assert m.strandify(CURVES, 1.0, 0.5, compute_widths=np.bool_(False))[3] == []


def test_max_nodes_conversion():
    with pytest.raises(OverflowError):
        m.strandify(CURVES, 1.0, 1.0, max_nodes=-1)
    with pytest.raises(OverflowError):
        m.strandify(CURVES, 1.0, 1.0, max_nodes=2**64)
    with pytest.raises(TypeError, match=r"^argument 'max_nodes': "):
        m.strandify(CURVES, 1.0, 1.0, max_nodes=2.0)
    with pytest.raises(ValueError, match=r"^skeleton has \d+ nodes, exceeding max_nodes limit of 1$"):
        m.strandify(CURVES, 1.0, 0.5, max_nodes=True)

    class Index:
        def __index__(self):
            return 10**6

    assert m.strandify(CURVES, 1.0, 0.5, max_nodes=Index()) == m.strandify(CURVES, 1.0, 0.5)


def test_max_nodes_exact_limit_passes():
    with pytest.raises(ValueError) as err:
        m.strandify(CURVES, 1.0, 0.5, max_nodes=0)
    n = int(str(err.value).split()[2])
    assert m.strandify(CURVES, 1.0, 0.5, max_nodes=n) == m.strandify(CURVES, 1.0, 0.5)
    with pytest.raises(ValueError, match=f"skeleton has {n} nodes, exceeding max_nodes limit of {n - 1}"):
        m.strandify(CURVES, 1.0, 0.5, max_nodes=n - 1)


def test_optional_float_conversion_errors_are_prefixed():
    with pytest.raises(TypeError, match=r"^argument 'simplification': "):
        m.strandify(CURVES, 1.0, 1.0, simplification="0.1")
    with pytest.raises(TypeError, match=r"^argument 'merge_tolerance': "):
        m.inflate_curves(CURVES, 1.0, 1.0, merge_tolerance=[])


def test_first_failing_argument_decides():
    with pytest.raises(TypeError, match=r"^argument 'curves': "):
        m.strandify("bad", None, None, compute_widths=None)


class Boom:
    def __float__(self):
        raise ZeroDivisionError("boom")


def test_non_type_errors_propagate_unprefixed():
    with pytest.raises(ZeroDivisionError, match="^boom$"):
        m.strandify([[(Boom(), 0.0)]], 1.0, 1.0)


@pytest.mark.parametrize(
    "widths, message",
    [
        ([[], [], [1.0]], "per_curve_widths has an entry for curve 2 but only 2 curve(s) were given"),
        ([[1.0], [], [1.0]],
         "per_curve_widths[0] has 1 entries but curve 0 has 40 points; they must match "
         "(or pass an empty list to use the uniform buffer)"),
    ],
)
def test_width_list_messages(widths, message):
    curves = [line(0, 0, 10, 0), line(0, 5, 10, 5)]
    for func in (m.strandify, m.inflate_curves, m.triangulate_curves):
        with pytest.raises(ValueError) as err:
            func(curves, 1.0, 1.0, per_curve_widths=widths)
        assert str(err.value) == message


def test_feature_size_failure_before_width_failure():
    for func in (m.inflate_curves, m.triangulate_curves):
        with pytest.raises(ValueError, match="^feature_size must"):
            func(CURVES, 1.0, 0.0, per_curve_widths=[[1.0]])


def test_result_types():
    chains, nodes, ids, widths = m.strandify(CURVES, 1.0, 0.5, compute_widths=True)
    assert isinstance(chains, list) and chains and all(isinstance(c, list) for c in chains)
    assert all(type(p) is tuple and len(p) == 2 and all(type(v) is float for v in p) for c in chains for p in c)
    assert all(type(p) is tuple and type(p[0]) is float for p in nodes)
    assert all(type(i) is tuple and all(type(v) is int for v in i) for i in ids)
    assert [len(w) for w in widths] == [len(c) for c in chains]


def test_results_are_deterministic():
    curves = [line(0, 0, 20, 3), line(10, -8, 12, 9), line(-3, 4, 25, 4)]
    first = m.strandify(curves, 0.8, 0.5, compute_widths=True)
    for _ in range(3):
        assert m.strandify(curves, 0.8, 0.5, compute_widths=True) == first


def test_gil_released_during_strandify():
    curves = [line(0, y, 400, y + 37, n=2000) for y in range(0, 400, 6)]
    ticks = []
    done = threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    t = threading.Thread(target=ticker)
    t.start()
    start = time.perf_counter()
    m.strandify(curves, 1.0, 0.5)
    end = time.perf_counter()
    done.set()
    t.join()
    during = [x for x in ticks if start < x < end]
    # A call holding the interpreter lock would leave the ticker silent for its whole length.
    assert end - start > 0.05
    assert len(during) >= 5
