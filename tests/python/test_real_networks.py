"""Street networks as users bring them: neatnet's Apalachicola test data (Web Mercator metres,
dual carriageways a few metres apart)."""

from __future__ import annotations

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
