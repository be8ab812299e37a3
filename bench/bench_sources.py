"""What finding the sources of every chain costs, and how well the carried attributes agree.

* Cost: a drawing of 10,000 real strokes, KanjiVG's characters in file order laid out on a
  grid (each character 109 units square, as KanjiVG draws it), as a GeoDataFrame with the
  character and the stroke number as attributes.  It times ``centerlines`` with and without
  ``sources=True``, and the matching step on its own (best of the repeats, all in this run),
  and prints the matching as a share of the plain call: on a shared machine the difference of
  two whole calls drowns in their noise, the step timed alone does not.
* Agreement: neatnet's Apalachicola streets (OpenStreetMap, Web Mercator metres), whose
  ``highway`` column the chains carry; a chain agrees when its value equals that of the
  street nearest to the chain's midpoint.

Not a test: the times depend on the machine and its load.

    python bench/bench_sources.py [--strokes N] [--repeats N]
"""

from __future__ import annotations

import argparse
import os
import time
import warnings
from importlib import metadata
from typing import Any

import geopandas as gpd
import numpy as np
import shapely

import strandify
from strandify._lines import with_stroke_sources
from strandify._origin import curves_origin
from strandify._read_lines import read_curves
from strandify.formats import read_drawing

CELL = 109.0


def kanji_strokes(count: int) -> Any:
    """The first ``count`` strokes of KanjiVG's characters, each character in a grid cell."""
    files = sorted(
        str(f.locate()) for f in metadata.files("kanjivg") or () if str(f).startswith("kanji/") and str(f).endswith(".svg")
    )
    lines, names, numbers = [], [], []
    columns = 100
    for k, path in enumerate(files):
        if len(lines) >= count:
            break
        offset = np.array([(k % columns) * CELL, -(k // columns) * CELL])
        for n, curve in enumerate(read_drawing(path).curves):
            lines.append(shapely.linestrings(curve * (1, -1) + offset))
            names.append(os.path.basename(path)[:-4])
            numbers.append(n + 1)
    return gpd.GeoDataFrame({"kanji": names[:count], "stroke": numbers[:count]}, geometry=lines[:count])


def best(repeats: int, call: Any) -> float:
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return min(times)


def agreement() -> tuple[int, float]:
    import neatnet

    path = os.path.join(os.path.dirname(neatnet.__file__), "tests", "data", "apalachicola_original.parquet")
    streets = gpd.read_parquet(path)
    streets["highway"] = streets["highway"].astype(str)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        chains, _ = strandify.centerlines(streets, 5.0, sources=True).to_geopandas()
    middles = shapely.line_interpolate_point(chains.geometry.values, 0.5, normalized=True)
    nearest = shapely.STRtree(streets.geometry.values).query_nearest(middles, all_matches=False)[1]
    same = streets["highway"].to_numpy()[nearest] == chains["highway"].to_numpy()
    return len(chains), float(same.mean())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--strokes", type=int, default=10_000)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()

    drawing = kanji_strokes(args.strokes)
    d, f = 2.0, 4.0
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        plain = best(args.repeats, lambda: strandify.centerlines(drawing, d, f))
        found = best(args.repeats, lambda: strandify.centerlines(drawing, d, f, sources=True))
        result = strandify.centerlines(drawing, d, f)
    read = read_curves(drawing)
    origin = curves_origin(read, d)
    step = best(args.repeats, lambda: with_stroke_sources(result, drawing, read, d, f, origin))
    print(f"{len(drawing)} KanjiVG strokes, {len(result)} chains, d={d:g} f={f:g}")
    print(f"  centerlines            {plain * 1e3:8.1f} ms")
    print(f"  with sources=True      {found * 1e3:8.1f} ms   ({found / plain:.2f} x the call)")
    print(f"  the matching alone     {step * 1e3:8.1f} ms   ({step / plain:.1%} of the call)")
    chains, share = agreement()
    print(f"Apalachicola streets, d=5: {chains} chains, carried highway equals the nearest street's in {share:.1%}")


if __name__ == "__main__":
    main()
