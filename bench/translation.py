"""How far results move when a drawing is moved to map coordinates and the result moved back.

    python bench/translation.py            # every entry point on real drawings, at three offsets

For each drawing and offset the drawing is moved by the offset, run, and its chains moved back;
the table gives the largest coordinate difference from the run at the drawing's own place and
whether the topology (chain count, node count, chain end node ids) stayed the same.  The exact
native functions (``strandify.strandify``, ``strandify_batch``) compute on the coordinates as
given, so they show what the arithmetic itself does at those coordinates; the high-level calls
run every drawing about a local origin.

The drawings are real: the OSM streets of pyogrio's ``sample.osm.pbf`` fixture in UTM metres
and Natural Earth countries of its ``naturalearth_lowres`` fixture in Equal Earth metres (the
``gis`` extra), plus one sketch of the seeded hash drawings.
"""

from __future__ import annotations

import argparse
import os
import sys
import warnings
from collections.abc import Callable
from typing import Any

import numpy as np

import strandify

OFFSETS = [(5e5, 4e6), (1.6e6, 6.4e6), (-9.46e6, 3.47e6)]


def _fixture(name: str) -> str:
    import pyogrio

    return os.path.join(os.path.dirname(pyogrio.__file__), "tests", "fixtures", name)


def osm_streets() -> list[np.ndarray]:
    """The 36 OSM ways of pyogrio's fixture in UTM zone 30N metres, moved so that their box
    starts at (0, 0)."""
    import geopandas as gpd
    import pyogrio
    import shapely

    # the fixture's node ids do not increase, which GDAL's default OSM index refuses
    pyogrio.set_gdal_config_options({"OSM_USE_CUSTOM_INDEXING": "NO"})
    frame = gpd.read_file(_fixture("sample.osm.pbf"), layer="lines")
    frame = frame.to_crs(frame.estimate_utm_crs())
    lines = [np.asarray(shapely.get_coordinates(g)) for g in frame.geometry]
    return at_origin(lines)


def at_origin(curves: list[np.ndarray]) -> list[np.ndarray]:
    """The curves moved so that their bounding box starts at (0, 0) exactly."""
    low = np.min([c.min(axis=0) for c in curves], axis=0)
    return [c - low for c in curves]


def countries(names: tuple[str, ...] = ("Mozambique", "Malawi", "Zimbabwe")) -> Any:
    """Natural Earth countries in Equal Earth metres, moved so that their box starts at (0, 0)."""
    import geopandas as gpd

    frame = gpd.read_file(_fixture("naturalearth_lowres/naturalearth_lowres.shp"))
    frame = frame[frame["name"].isin(names)].to_crs("EPSG:8857")
    low = frame.total_bounds[:2]
    return moved_shapes(list(frame.geometry), (-low[0], -low[1]))


def moved_strokes(curves: list[np.ndarray], offset: tuple[float, float]) -> list[np.ndarray]:
    return [c + np.asarray(offset) for c in curves]


def moved_shapes(shapes: list[Any], offset: tuple[float, float]) -> list[Any]:
    import shapely

    return [shapely.transform(g, lambda xy: xy + np.asarray(offset)) for g in shapes]


def _parts(result: Any) -> tuple[list[np.ndarray], np.ndarray, np.ndarray]:
    if isinstance(result, strandify.Centerlines):
        return result.chains, result.nodes, result.chain_node_ids
    chains, nodes, ids = result[:3]
    return (
        [np.asarray(c, dtype=np.float64).reshape(-1, 2) for c in chains],
        np.asarray(nodes, dtype=np.float64).reshape(-1, 2),
        np.asarray(ids, dtype=np.intp).reshape(-1, 2),
    )


def compare(here: Any, there: Any, offset: tuple[float, float]) -> tuple[bool, float]:
    """(same topology, largest coordinate difference after moving ``there`` back)."""
    a, b = _parts(here), _parts(there)
    same = (
        len(a[0]) == len(b[0])
        and len(a[1]) == len(b[1])
        and np.array_equal(a[2], b[2])
        and all(len(p) == len(q) for p, q in zip(a[0], b[0]))
    )
    if not same:
        return False, float("nan")
    o = np.asarray(offset)
    worst = max([float(np.abs(q - o - p).max()) for p, q in zip(a[0], b[0]) if len(p)] + [0.0])
    if len(a[1]):
        worst = max(worst, float(np.abs(b[1] - o - a[1]).max()))
    return True, worst


def runs(d: float, f: float, shape_f: float) -> dict[str, tuple[str, Callable[[Any], Any]]]:
    """Entry point name -> (kind of drawing, call)."""
    return {
        "native strandify": ("strokes", lambda c: strandify.strandify([[tuple(p) for p in x] for x in c], d, f)),
        "native strandify_batch": (
            "strokes",
            lambda c: strandify.strandify_batch([([[tuple(p) for p in x] for x in c], d, f) + (None,) * 8])[0],
        ),
        "centerlines exact": ("strokes", lambda c: strandify.centerlines(c, d, f, partition="none", refine=False)),
        "centerlines": ("strokes", lambda c: strandify.centerlines(c, d, f)),
        "centerlines tiles": (
            "strokes",
            lambda c: strandify.centerlines(c, d, f, partition="tiles", refine=False, tile_size=40 * d),
        ),
        "centerlines_batch": ("strokes", lambda c: strandify.centerlines_batch([c], d, f)[0]),
        "polygon_centerlines exact": (
            "shapes",
            lambda s: strandify.polygon_centerlines(s, shape_f, partition="none", refine=False),
        ),
        "polygon_centerlines": ("shapes", lambda s: strandify.polygon_centerlines(s, shape_f)),
        "polygon_centerlines_batch": ("shapes", lambda s: strandify.polygon_centerlines_batch([s], shape_f)[0]),
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.parse_args()
    warnings.simplefilter("ignore")
    strokes = osm_streets()
    shapes = countries()
    print(f"streets: {len(strokes)} ways, {sum(map(len, strokes))} points; countries: {len(shapes)}")
    print(f"{'entry point':28} {'offset':>22} {'topology':>9} {'largest move':>13}")
    for name, (kind, call) in runs(5.0, 10.0, 60_000.0).items():
        drawing = strokes if kind == "strokes" else shapes
        move = moved_strokes if kind == "strokes" else moved_shapes
        here = call(drawing)
        for offset in OFFSETS:
            same, worst = compare(here, call(move(drawing, offset)), offset)
            print(f"{name:28} {str(offset):>22} {'same' if same else 'CHANGED':>9} {worst:13.3g}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
