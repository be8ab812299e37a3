"""A real street network: neatnet's Apalachicola test data against neatnet's own simplification.

    python bench/bench_networks.py            # buffer distances 5, 8, 10 and 12 m

The input is ``apalachicola_original.parquet`` (OSM streets in Web Mercator metres, dual
carriageways a few metres apart), the reference ``apalachicola_simplified_standard.parquet``,
neatnet's simplified network of the same streets; both ship inside the neatnet wheel (the
``test`` extra). Per buffer distance, for the default path and the exact one
(``refine=False, partition="none"``):

- chains and their total length (km), against the reference's edges and length;
- the highest node degree and the nodes of degree above 4 (a crossing of two streets has 4);
- dead ends (nodes of degree 1) against the reference's;
- the largest coordinate error when the streets are moved by each of three map offsets and the
  result moved back (the default path only; the exact one computes where the data lies).
"""

from __future__ import annotations

import os
import warnings
from typing import Any

import numpy as np

import strandify

OFFSETS = [(5e5, 4e6), (1.6e6, 6.4e6), (-9.46e6, 3.47e6)]
DISTANCES = [5.0, 8.0, 10.0, 12.0]


def frames() -> tuple[Any, Any]:
    import geopandas as gpd
    import neatnet

    data = os.path.join(os.path.dirname(neatnet.__file__), "tests", "data")
    original = gpd.read_parquet(os.path.join(data, "apalachicola_original.parquet"))
    reference = gpd.read_parquet(os.path.join(data, "apalachicola_simplified_standard.parquet"))
    return original, reference


def degrees_of_lines(lines: Any) -> np.ndarray:
    """Node degrees of a set of lines, their ends matched to a millimetre."""
    import shapely

    ends: dict[tuple[float, float], int] = {}
    for line in lines:
        coords = shapely.get_coordinates(line)
        for p in (coords[0], coords[-1]):
            key = (round(float(p[0]), 3), round(float(p[1]), 3))
            ends[key] = ends.get(key, 0) + 1
    return np.array(sorted(ends.values()))


def shift_error(streets: list[np.ndarray], d: float) -> float:
    def run(curves: list[np.ndarray]) -> strandify.Centerlines:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return strandify.centerlines(curves, d)

    here = run(streets)
    worst = 0.0
    for offset in OFFSETS:
        there = run([c + np.asarray(offset) for c in streets])
        if len(there.chains) != len(here.chains):
            return float("inf")
        for a, b in zip(here.chains, there.chains):
            if a.shape != b.shape:
                return float("inf")
            worst = max(worst, float(np.abs(b - np.asarray(offset) - a).max()))
    return worst


def main() -> None:
    import shapely

    original, reference = frames()
    ref_degrees = degrees_of_lines(reference.geometry)
    print(
        f"reference: {len(reference)} edges, {reference.length.sum() / 1e3:.1f} km, "
        f"{int((ref_degrees == 1).sum())} dead ends, highest degree {int(ref_degrees.max())}"
    )
    streets = [np.asarray(shapely.get_coordinates(g)) for g in original.geometry]
    low = np.min([s.min(axis=0) for s in streets], axis=0)
    local = [s - low for s in streets]
    print(f"{'d':>4} {'path':8} {'chains':>7} {'km':>6} {'max deg':>8} {'deg>4':>6} {'dead ends':>10} {'shift err':>10}")
    for d in DISTANCES:
        for name, keywords in (("default", {}), ("exact", {"refine": False, "partition": "none"})):
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                result = strandify.centerlines(original, d, **keywords)
            degree = result.degrees()
            error = f"{shift_error(local, d):10.2e}" if name == "default" else f"{'':>10}"
            print(
                f"{d:4.0f} {name:8} {len(result.chains):7d} {result.lengths().sum() / 1e3:6.1f} "
                f"{int(degree.max()):8d} {int((degree > 4).sum()):6d} {int((degree == 1).sum()):10d} {error}"
            )


if __name__ == "__main__":
    main()
