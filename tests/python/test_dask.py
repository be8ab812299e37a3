"""The Dask runner on a real local cluster of two worker processes."""
import math
import random

import numpy as np
import pytest

import strandify
import strandify.dask

distributed = pytest.importorskip("distributed")
bag = pytest.importorskip("dask.bag")

from strandify.dask import centerlines_batch  # noqa: E402

from conftest import native_options  # noqa: E402


def sketch(seed):
    rng = random.Random(seed)
    curves = []
    for _ in range(rng.randint(1, 6)):
        x, y, a = rng.uniform(0, 40), rng.uniform(0, 40), rng.uniform(0, 2 * math.pi)
        pts = []
        for _ in range(rng.randint(3, 12)):
            pts.append((x, y))
            a += rng.uniform(-0.3, 0.3)
            x, y = x + 3 * math.cos(a), y + 3 * math.sin(a)
        curves.append(pts)
    return curves


DRAWINGS = [sketch(s) for s in range(23)]
# Its skeleton has more nodes than max_nodes allows, so the batch fails on it.
BIG = [[(float(x), 0.0), (float(x), 30.0)] for x in range(0, 60, 6)] + [[(0.0, 15.0), (60.0, 15.0)]]


def same(a, b):
    return (
        len(a.chains) == len(b.chains)
        and all(np.array_equal(p, q) for p, q in zip(a.chains, b.chains))
        and np.array_equal(a.nodes, b.nodes)
        and np.array_equal(a.chain_node_ids, b.chain_node_ids)
    )


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c


@pytest.mark.parametrize("partition", ["none", "components"])
def test_results_equal_the_local_batch(client, partition):
    want = strandify.centerlines_batch(DRAWINGS, 1.0, 1.0, partition=partition)
    got = centerlines_batch(DRAWINGS, 1.0, 1.0, client=client, partition_size=5, partition=partition)
    assert len(got) == len(want) and all(same(a, b) for a, b in zip(got, want))


def test_a_bag_keeps_its_partitions_and_order(client):
    drawings = bag.from_sequence(DRAWINGS, npartitions=4)
    got = centerlines_batch(drawings, client=client)  # scale derived per drawing, on the workers
    want = strandify.centerlines_batch(DRAWINGS)
    assert all(same(a, b) for a, b in zip(got, want)) and len(got) == len(DRAWINGS)


def test_failures_carry_their_position_in_the_whole_input(client):
    drawings = DRAWINGS[:7] + [BIG] + DRAWINGS[7:12] + [[[(0.0, 0.0), "x"]]] + [BIG]
    skipped = centerlines_batch(drawings, 1.0, 1.0, client=client, partition_size=3, errors="skip", max_nodes=800)
    assert sorted(skipped.errors) == [7, 13, 14]
    assert isinstance(skipped.errors[7], strandify.BatchJobError) and skipped.errors[7].index == 7
    assert "max_nodes" in skipped.errors[7].reason
    assert type(skipped.errors[13]) is type(strandify.centerlines_batch(drawings[13:14], errors="skip").errors[0]) and str(skipped.errors[13]).startswith("drawing 13: ")
    local = strandify.centerlines_batch(drawings, 1.0, 1.0, errors="skip", max_nodes=800)
    assert all((a is None) == (b is None) and (a is None or same(a, b)) for a, b in zip(skipped, local))
    with pytest.raises(strandify.BatchJobError) as info:
        centerlines_batch(drawings, 1.0, 1.0, client=client, partition_size=3, max_nodes=800)
    assert info.value.index == 7


def test_the_current_client_is_used_by_default(client):
    got = centerlines_batch(DRAWINGS[:4], 1.0, 1.0)
    assert all(same(a, b) for a, b in zip(got, strandify.centerlines_batch(DRAWINGS[:4], 1.0, 1.0)))


@pytest.mark.parametrize(
    "kwargs, error",
    [({"partition_size": 0}, ValueError), ({"errors": "ignore"}, ValueError),
     ({"partition": "tiles?"}, ValueError), ({"chunk_size": 3}, TypeError)],
)
def test_bad_options(kwargs, error):
    with pytest.raises(error):
        centerlines_batch(DRAWINGS[:2], 1.0, 1.0, **kwargs)


def test_tiles_as_tasks_equal_the_local_tiled_run(client):
    from test_tiles import glyph_grid

    curves = glyph_grid(11, 25)
    want = strandify.centerlines(curves, 1.0, 1.0, partition="tiles", tile_size=45.0, compute_widths=True, refine=False)
    got = strandify.dask.centerlines_tiled(curves, 1.0, 1.0, tile_size=45.0, client=client, compute_widths=True)
    assert same(got, want) and all(np.array_equal(a, b) for a, b in zip(got.widths, want.widths))
    assert len(strandify._internal.plan_tiles(curves, 1.0, 1.0, native_options(tile_size=45.0))) > 4
    with pytest.raises(ValueError, match="exceeding max_nodes"):
        strandify.dask.centerlines_tiled(curves, 1.0, 1.0, tile_size=45.0, client=client, max_nodes=5)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda m: m.run_tile(((0, 0, 1, 1), (0, 0, 1, 1)), 1.0, 1.0), TypeError),
        (lambda m: m.run_tile(((0, 0, 1, 1), (0, 0, 1, 1), [[(0.0, 0.0), (1.0, 0.0)]], [[1.0]]), 1.0, 1.0), ValueError),
        (lambda m: m.stitch_tiles([([([(0.0, 0.0)], 0, 0, False, False)], 1, 1, [])], 1.0, 1.0), ValueError),
        (lambda m: m.stitch_tiles([([([(0.0, 0.0), (1.0, 1.0)], 0, 7, False, False)], 2, 2, [])], 1.0, 1.0), ValueError),
        (lambda m: m.plan_tiles([[(0.0, 0.0), (1.0, 0.0)]], 1.0, 1.0, native_options(tile_size=-1.0)), ValueError),
    ],
)
def test_tile_calls_refuse_malformed_input(call, error):
    with pytest.raises(error):
        call(strandify._internal)


def test_tile_calls_read_arrays_as_they_read_tuples():
    from test_tiles import glyph_grid

    options = native_options(tile_size=45.0, compute_widths=True)
    jobs = strandify._internal.plan_tiles(glyph_grid(3, 16), 1.0, 1.0, options)
    as_arrays = [(core, halo, [np.array(c) for c in curves], w) for core, halo, curves, w in jobs]
    tiles = [strandify._internal.run_tile(job, 1.0, 1.0, options) for job in jobs]
    assert [strandify._internal.run_tile(job, 1.0, 1.0, options) for job in as_arrays] == tiles
    arrays = [([(np.array(p[0]), *p[1:]) for p in pieces], n, k, np.array(b).reshape(-1, 2)) for pieces, n, k, b in tiles]
    want = strandify._internal.stitch_tiles(tiles, 1.0, 1.0, options)
    assert strandify._internal.stitch_tiles(arrays, 1.0, 1.0, options) == want and len(want[0]) > 10


GAPPED = [np.array([(0.0, 0.0), (10.0, 0.0), (np.nan, np.nan), (0.0, 5.0), (10.0, 5.2), (20.0, 5.0)]), [(30.0, 0.0), (30.0, 9.0)]]
FAR = [np.asarray(c) + (5e5, -3e6) for c in DRAWINGS[3]]


@pytest.mark.parametrize(
    "drawings, kwargs",
    [
        (DRAWINGS[:9] + [GAPPED, [], FAR], {"compute_widths": True, "partition_size": 4}),
        ([GAPPED, FAR] + DRAWINGS[9:14], {"partition_size": 1, "refine": False}),
    ],
)
def test_widths_gaps_and_far_drawings_equal_the_local_batch(client, drawings, kwargs):
    size = kwargs.pop("partition_size")
    want = strandify.centerlines_batch(drawings, 1.0, 2.0, **kwargs)
    got = centerlines_batch(drawings, 1.0, 2.0, client=client, partition_size=size, **kwargs)
    assert len(got) == len(want) and all(same(a, b) for a, b in zip(got, want))
    assert all((a.widths is None) == (b.widths is None) for a, b in zip(got, want))
    assert all(np.array_equal(p, q) for a, b in zip(got, want) for p, q in zip(a.widths or [], b.widths or []))


def test_lost_strokes_are_reported_under_their_position(client):
    # refine=False: the finishing steps would keep the dots as point chains
    drawings = DRAWINGS[:3] + [[[(0.0, 0.0), (0.2, 0.0)]], [[(5.0, 5.0), (5.1, 5.0)], [(50.0, 5.0), (80.0, 5.0)]]]
    # a one-point curve draws no stroke: the lost speck after it is curve 2 but stroke 1
    drawings.append([[(50.0, 5.0), (80.0, 5.0)], [(60.0, 20.0)], [(5.0, 5.0), (5.1, 5.0)]])
    with pytest.warns(strandify.LostStrokesWarning) as local:
        strandify.centerlines_batch(drawings, 1.0, 6.0, refine=False)
    with pytest.warns(strandify.LostStrokesWarning) as remote:
        centerlines_batch(drawings, 1.0, 6.0, client=client, partition_size=2, refine=False)
    assert sorted(str(w.message) for w in remote) == sorted(str(w.message) for w in local)
    assert any(str(w.message).startswith("drawing 5: ") and "strokes 2;" in str(w.message) for w in local)


def test_sources_are_those_of_the_local_runs(client):
    from test_tiles import glyph_grid

    local = strandify.centerlines_batch(DRAWINGS[:6], 1.0, 1.0, sources=True)
    remote = centerlines_batch(DRAWINGS[:6], 1.0, 1.0, client=client, partition_size=4, sources=True)
    def labels(result):
        return [list(map(int, s)) for s in result.sources]

    assert [labels(r) for r in remote] == [labels(r) for r in local]
    assert any(len(s) > 1 for r in local for s in labels(r))
    curves = glyph_grid(5, 25)
    want = strandify.centerlines(curves, 1.0, 1.0, partition="tiles", tile_size=45.0, refine=False, sources=True)
    got = strandify.dask.centerlines_tiled(curves, 1.0, 1.0, tile_size=45.0, client=client, sources=True)
    assert same(got, want) and labels(got) == labels(want)
    with pytest.raises(ValueError, match="not a Bag"):
        centerlines_batch(bag.from_sequence(DRAWINGS[:2]), 1.0, 1.0, client=client, sources=True)
