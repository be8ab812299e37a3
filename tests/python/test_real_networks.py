"""Street networks as users bring them: neatnet's Apalachicola test data (Web Mercator metres,
dual carriageways a few metres apart)."""

from __future__ import annotations

import importlib.util
import os
import warnings
from typing import Any

import numpy as np
import pytest

import strandify

gpd = pytest.importorskip("geopandas")
shapely = pytest.importorskip("shapely")
neatnet = pytest.importorskip("neatnet")
pytest.importorskip("pyarrow")


@pytest.fixture(scope="module")
def streets() -> Any:
    path = os.path.join(os.path.dirname(neatnet.__file__), "tests", "data", "apalachicola_original.parquet")
    return gpd.read_parquet(path)


def spokes_outside(result: strandify.Centerlines, region: Any) -> tuple[int, int]:
    """The highest node degree, and how many first segments of chains at junctions leave
    ``region``."""
    ids = np.asarray(result.chain_node_ids)
    degree = np.bincount(ids.ravel())
    outside = 0
    for chain, (a, b) in zip(result.chains, ids):
        for end, after, node in ((chain[0], chain[1], a), (chain[-1], chain[-2], b)):
            if degree[node] >= 3 and not region.covers(shapely.linestrings([end, after])):
                outside += 1
    return int(degree.max()), outside


@pytest.mark.parametrize("d", [5.0, 12.0])
def test_merged_junctions_stay_on_the_streets(streets: Any, d: float) -> None:
    # merging close junctions folds the crossings of two carriageways into one node whose spokes
    # cut across the gap between them; the default path keeps such junctions apart
    region = shapely.union_all(streets.geometry.values).buffer(d, cap_style="square", join_style="mitre")
    region = region.buffer(d * 1e-3)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        exact = spokes_outside(strandify.centerlines(streets, d, refine=False), region)
        default = spokes_outside(strandify.centerlines(streets, d), region)
    assert default[0] < exact[0]
    assert default[1] < exact[1]


@pytest.fixture(scope="module")
def buildings() -> list[Any]:
    # momepy's sample town ships inside its wheel; found without importing momepy itself
    package = importlib.util.find_spec("momepy")
    if package is None or not package.submodule_search_locations:
        pytest.skip("momepy's sample data is not installed")
    path = os.path.join(package.submodule_search_locations[0], "datasets", "bubenec.gpkg")
    return list(gpd.read_file(path, layer="buildings").geometry)


def canonical(chains: list[np.ndarray]) -> list[np.ndarray]:
    """The chains in an order of their own, each read from its smaller end."""
    chains = [c if tuple(c[0]) <= tuple(c[-1]) else c[::-1] for c in chains]
    return sorted(chains, key=lambda c: (len(c), *c[0], *c[-1]))


@pytest.mark.parametrize("refine", [True, False], ids=["finished", "unfinished"])
def test_a_block_of_buildings_gives_what_it_gives_alone(buildings: list[Any], refine: bool) -> None:
    # Without a given scale every separate block (buildings that touch) derives its own, so a
    # row of small houses keeps its line beside a large factory, and nothing a block gives
    # depends on the other blocks of the call.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        whole = strandify.polygon_centerlines(buildings, refine=refine)
    blocks = list(shapely.get_parts(shapely.union_all(buildings)))
    members: list[list[Any]] = [[] for _ in blocks]
    for building in buildings:
        point = building.representative_point()
        members[next(k for k, block in enumerate(blocks) if block.covers(point))].append(building)
    tree = shapely.STRtree(blocks)
    in_block: list[list[int]] = [[] for _ in blocks]
    for i, chain in enumerate(whole.chains):
        hits = tree.query(shapely.Point(chain[len(chain) // 2]).buffer(1e-6), predicate="intersects")
        assert len(hits) == 1, "every chain lies in one block"
        in_block[int(hits[0])].append(i)
    for k, block_members in enumerate(members):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            alone = canonical(strandify.polygon_centerlines(block_members, refine=refine).chains)
        together = canonical([whole.chains[i] for i in in_block[k]])
        assert len(alone) == len(together), f"block {k}"
        for a, b in zip(alone, together):
            # computed about different local origins, at coordinates near -1e6
            np.testing.assert_allclose(a, b, rtol=0, atol=1e-6)


def folded_nodes(result: strandify.Centerlines, streets: Any, d: float) -> list[int]:
    """Nodes of degree above 4 that the streets near them cannot make: each street passing
    within ``d`` of the node brings two spokes, or one per end of it that lies there."""
    lines = list(streets.geometry.values)
    tree = shapely.STRtree(lines)
    degree = np.bincount(np.asarray(result.chain_node_ids).ravel())
    folded = []
    for v in np.nonzero(degree > 4)[0]:
        node = np.asarray(result.nodes[v])
        spokes = 0
        for k in tree.query(shapely.Point(node), predicate="dwithin", distance=d):
            coords = shapely.get_coordinates(lines[k])
            ends = sum(1 for end in (coords[0], coords[-1]) if np.hypot(*(end - node)) <= d)
            spokes += ends or 2
        if spokes < degree[v]:
            folded.append(int(v))
    return folded


@pytest.mark.parametrize("d", [5.0, 8.0, 10.0])
def test_separate_crossings_stay_separate_nodes(streets: Any, d: float) -> None:
    # a pair of carriageways crossing another street is two crossings a carriageway's gap apart;
    # merging the junctions of both made one node of six to eight spokes
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        result = strandify.centerlines(streets, d)
    assert folded_nodes(result, streets, d) == []


@pytest.mark.parametrize(("d", "at_least"), [(5.0, 45), (10.0, 32)])
def test_short_dead_end_streets_are_kept(streets: Any, d: float, at_least: int) -> None:
    # dead-end streets of 20-40 m are shorter than the tip length (two feature sizes, 4 d) but end
    # where their line ends, well past their junction; neatnet's simplification keeps 46 dead
    # ends, every one of them a line's end in the input
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        result = strandify.centerlines(streets, d)
        without = strandify.centerlines(streets, d, real_ends=False)
    degree = np.bincount(np.asarray(result.chain_node_ids).ravel())
    assert int((degree == 1).sum()) >= at_least
    assert int((degree == 1).sum()) > int((np.bincount(np.asarray(without.chain_node_ids).ravel()) == 1).sum())
