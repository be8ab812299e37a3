"""What must hold of any result on any real drawing: the stroke files of the real-file corpus
(KanjiVG, vpype's Hershey text, GDAL-written and OSM lines) and neatnet's street network, each
run at the scale it derives and at a finer one.

- every chain lies in the buffered region of the strokes;
- no node has more arms than the strokes that pass it can bring;
- every separate group of strokes gives a chain, or its first stroke is named in the warning.
"""

from __future__ import annotations

import math
import os
import re
import warnings
from typing import Any

import numpy as np
import pytest

import strandify
from strandify.formats import read_drawing

shapely = pytest.importorskip("shapely")
pytest.importorskip("svgelements")


def drawings(real_files: Any) -> list[tuple[str, list[np.ndarray]]]:
    out = []
    for entry in real_files[1]:
        if entry.fill:
            continue
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            drawing = read_drawing(entry.path)
        curves = [np.asarray(c, dtype=np.float64) for c in drawing.curves if len(c) >= 2]
        out.append((entry.path.name, curves))
    try:
        import geopandas as gpd
        import neatnet

        path = os.path.join(os.path.dirname(neatnet.__file__), "tests", "data", "apalachicola_original.parquet")
        streets = gpd.read_parquet(path)
        out.append(("apalachicola", [np.asarray(shapely.get_coordinates(g)) for g in streets.geometry]))
    except ImportError:
        pass
    return out


@pytest.fixture(scope="module")
def corpus(real_files: Any) -> list[tuple[str, list[np.ndarray]]]:
    return drawings(real_files)


def run(curves: list[np.ndarray], scale: float) -> tuple[strandify.Centerlines, float, list[str]]:
    """The default call at ``scale`` times the derived buffer distance, the distance used and
    the warnings given."""
    d, _ = strandify.suggest_parameters(curves)
    d *= scale
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = strandify.centerlines(curves, d)
    return result, d, [str(w.message) for w in caught if issubclass(w.category, strandify.LostStrokesWarning)]


SCALES = [1.0, 0.5, 3.0]


def buffered(curves: list[np.ndarray], d: float) -> Any:
    """The strokes' region as the pipeline buffers them: square caps, mitred joins."""
    return shapely.union_all([shapely.LineString(c).buffer(d, cap_style="square", join_style="mitre") for c in curves])


@pytest.mark.parametrize("scale", SCALES)
def test_every_chain_lies_in_the_buffered_strokes(corpus: Any, scale: float) -> None:
    for name, curves in corpus:
        result, d, _ = run(curves, scale)
        # a chain is simplified to within a tenth of the feature size (2 d) of the skeleton
        region = buffered(curves, d).buffer(0.2 * d)
        outside = [i for i, chain in enumerate(result.chains) if not region.covers(shapely.LineString(chain))]
        assert not outside, f"{name}: chains {outside[:5]} leave the buffered strokes"


@pytest.mark.parametrize("scale", SCALES)
def test_no_node_has_more_arms_than_the_strokes_through_it(corpus: Any, scale: float) -> None:
    # each piece of a stroke that passes near a node brings it two arms at most (one if the
    # stroke ends there); more is a crossing folded into a node it does not reach, or a line
    # doubled
    for name, curves in corpus:
        result, d, _ = run(curves, scale)
        lines = [shapely.LineString(c) for c in curves]
        tree = shapely.STRtree(lines)
        degree = result.degrees()
        for node in np.flatnonzero(degree >= 3):
            # strokes up to two buffers apart join, so their pieces that far out count
            disk = shapely.Point(result.nodes[node]).buffer(4.0 * d, quad_segs=32)
            near = tree.query(disk, predicate="intersects")
            pieces = sum(len(shapely.get_parts(shapely.line_merge(lines[i].intersection(disk)))) for i in near)
            assert degree[node] <= 2 * pieces, (
                f"{name}: node {node} at {result.nodes[node]} has {degree[node]} arms, and "
                f"{pieces} pieces of strokes pass within {4 * d:g} of it"
            )


def separate_groups(curves: list[np.ndarray], d: float) -> list[tuple[int, Any]]:
    """Each separate group of strokes (buffers that touch) as its first stroke's index and its
    region."""
    regions = list(shapely.get_parts(buffered(curves, d)))
    tree = shapely.STRtree(regions)
    first: dict[int, int] = {}
    for i, c in enumerate(curves):
        hit = tree.query(shapely.Point(c[0]), predicate="intersects")
        first.setdefault(int(hit[0]), i)
    return [(first[k], regions[k]) for k in sorted(first)]


@pytest.mark.parametrize("scale", SCALES)
def test_every_group_gives_a_chain_or_is_named(corpus: Any, scale: float) -> None:
    for name, curves in corpus:
        result, d, messages = run(curves, scale)
        named: set[int] = set()
        for message in messages:
            found = re.search(r"the groups of strokes ([\d, ]+)(?: and \d+ more)?;", message)
            if found:
                named.update(int(v) for v in found.group(1).split(", "))
        truncated = any(re.search(r"and \d+ more;", m) for m in messages)
        chains = shapely.MultiLineString([c for c in result.chains]) if result.chains else None
        for index, region in separate_groups(curves, d):
            gives = chains is not None and region.buffer(1e-6 * max(d, 1.0)).intersects(chains)
            assert gives or index in named or truncated, f"{name}: the group of stroke {index} vanished unnamed"
            assert not (gives and index in named), f"{name}: the group of stroke {index} is named but gave chains"
