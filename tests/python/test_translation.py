"""Where a drawing sits changes nothing: every entry point, in every mode, gives the chains of a
drawing moved to map coordinates moved by the same offset.

The drawings are real: the OSM ways and areas of pyogrio's ``sample.osm.pbf`` fixture in UTM
metres.  Each is taken with its bounding box starting at the origin, which is where the calls
compute a drawing that lies far out; a drawing near the origin is computed where it is.
"""

from __future__ import annotations

import json
import math
import os
import warnings
from pathlib import Path
from typing import Any

import numpy as np
import pytest

import strandify
from strandify import cli

gpd = pytest.importorskip("geopandas")
pyogrio = pytest.importorskip("pyogrio")
shapely = pytest.importorskip("shapely")

OFFSETS = [(5e5, 4e6), (1.6e6, 6.4e6), (-9.46e6, 3.47e6)]
D, F = 4.0, 8.0  # metres: streets a few metres wide, detail below 8 m is noise


def _osm_layer(layer: str) -> Any:
    path = os.path.join(os.path.dirname(pyogrio.__file__), "tests", "fixtures", "sample.osm.pbf")
    # the fixture's node ids do not increase, which GDAL's default OSM index refuses
    pyogrio.set_gdal_config_options({"OSM_USE_CUSTOM_INDEXING": "NO"})
    frame = gpd.read_file(path, layer=layer)
    frame = frame.to_crs(frame.estimate_utm_crs())
    low = frame.total_bounds[:2]
    return frame.geometry.apply(lambda g: shapely.transform(g, lambda xy: xy - low))


@pytest.fixture(scope="module")
def streets() -> list[np.ndarray]:
    return [np.asarray(shapely.get_coordinates(g)) for g in _osm_layer("lines")]


@pytest.fixture(scope="module")
def areas() -> list[Any]:
    return list(_osm_layer("multipolygons"))


def moved_strokes(curves: list[np.ndarray], offset: tuple[float, float]) -> list[np.ndarray]:
    return [c + np.asarray(offset) for c in curves]


def moved_shapes(shapes: list[Any], offset: tuple[float, float]) -> list[Any]:
    return [shapely.transform(g, lambda xy: xy + np.asarray(offset)) for g in shapes]


def assert_moved(here: strandify.Centerlines, there: strandify.Centerlines, offset: tuple[float, float]) -> None:
    """``there`` is ``here`` moved by ``offset``: the same network, its points within 1e-9 of the
    offset's size, the widths as they were."""
    assert len(there.chains) == len(here.chains) and len(here.chains) > 0
    assert len(there.nodes) == len(here.nodes)
    np.testing.assert_array_equal(there.chain_node_ids, here.chain_node_ids)
    tolerance = 1e-9 * math.hypot(*offset)
    shift = np.asarray(offset)
    for a, b in zip(here.chains, there.chains):
        assert a.shape == b.shape
        np.testing.assert_allclose(b - shift, a, rtol=0, atol=tolerance)
    np.testing.assert_allclose(there.nodes - shift, here.nodes, rtol=0, atol=tolerance)
    assert (here.widths is None) == (there.widths is None)
    for a, b in zip(here.widths or [], there.widths or []):
        np.testing.assert_allclose(b, a, rtol=0, atol=tolerance)


STROKE_CALLS = {
    "components, finished": lambda c: strandify.centerlines(c, D, F),
    "components, unfinished": lambda c: strandify.centerlines(c, D, F, refine=False),
    "none, finished, widths": lambda c: strandify.centerlines(c, D, F, partition="none", compute_widths=True, radius_tips=True),
    "none, unfinished (the exact pipeline)": lambda c: strandify.centerlines(c, D, F, partition="none", refine=False),
    "tiles": lambda c: strandify.centerlines(c, D, F, partition="tiles", tile_size=300.0, refine=False, workers=2),
    "scale derived": lambda c: strandify.centerlines(c),
    "batch": lambda c: strandify.centerlines_batch([c, c[:12]], D, F, chunk_size=1)[0],
}

SHAPE_CALLS = {
    "components, finished, widths": lambda s: strandify.polygon_centerlines(s, compute_widths=True),
    "components, unfinished": lambda s: strandify.polygon_centerlines(s, 6.0, refine=False),
    "none, unfinished (the exact pipeline)": lambda s: strandify.polygon_centerlines(s, 6.0, partition="none", refine=False),
    "batch": lambda s: strandify.polygon_centerlines_batch([s, s[:3]], 6.0, buffer_distance=3.0)[0],
}


@pytest.mark.parametrize("offset", OFFSETS)
@pytest.mark.parametrize("call", list(STROKE_CALLS.values()), ids=list(STROKE_CALLS))
def test_strokes_moved_give_their_chains_moved(streets, call, offset):
    assert_moved(call(streets), call(moved_strokes(streets, offset)), offset)


@pytest.mark.parametrize("offset", OFFSETS)
@pytest.mark.parametrize("call", list(SHAPE_CALLS.values()), ids=list(SHAPE_CALLS))
def test_shapes_moved_give_their_chains_moved(areas, call, offset):
    assert_moved(call(areas), call(moved_shapes(areas, offset)), offset)


@pytest.mark.parametrize("offset", OFFSETS)
def test_a_dot_at_map_coordinates_stays_at_its_centre(offset):
    """A circle too small for any centerline is kept as a dot at its centre, wherever it is, and
    counts as kept: no LostStrokesWarning."""
    t = np.linspace(0.0, 2.0 * np.pi, 33)
    circle = np.column_stack([2.0 + 2.0 * np.cos(t), 2.0 + 2.0 * np.sin(t)])
    here = strandify.centerlines([circle], buffer_distance=1.5, feature_size=4.0)
    with warnings.catch_warnings():
        warnings.simplefilter("error", strandify.LostStrokesWarning)
        there = strandify.centerlines(moved_strokes([circle], offset), buffer_distance=1.5, feature_size=4.0)
    assert_moved(here, there, offset)
    centre = np.asarray(offset) + 2.0
    assert np.abs(there.chains[0] - centre).max() < 0.1 * 1.5


@pytest.mark.parametrize("offset", OFFSETS)
def test_the_command_line_moves_nothing(streets, tmp_path: Path, offset):
    def run(curves: list[np.ndarray], name: str) -> strandify.Centerlines:
        src, dst = tmp_path / f"{name}.json", tmp_path / f"{name}.out.json"
        src.write_text(json.dumps([c.tolist() for c in curves]))
        assert cli.main([str(src), "-o", str(dst), "-d", str(D), "-f", str(F)]) == 0
        out = json.loads(dst.read_text())
        return strandify.Centerlines.from_native(out["chains"], out["nodes"], out["chain_node_ids"])

    assert_moved(run(streets, "here"), run(moved_strokes(streets, offset), "there"), offset)


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c


@pytest.mark.parametrize("offset", OFFSETS)
def test_dask_runs_move_nothing(streets, client, offset):
    import strandify.dask

    moved = moved_strokes(streets, offset)
    here, there = strandify.dask.centerlines_batch([streets, moved], D, F, client=client, partition_size=1)
    assert_moved(here, there, offset)
    tiled = [strandify.dask.centerlines_tiled(c, D, F, tile_size=300.0, client=client) for c in (streets, moved)]
    assert_moved(tiled[0], tiled[1], offset)
