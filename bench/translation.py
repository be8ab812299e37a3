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
``gis`` extra), plus a seeded sketch of bench/output_hashes.py and a dot.  Each is first moved so that its
bounding box starts at (0, 0): that is where the high-level calls compute a drawing that lies
far out, so their rows show what is left once the move itself is exact.
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


def _flat(value: Any) -> list[np.ndarray]:
    """Every point list of a nested native result (rings, triangles, chains), in order."""
    if isinstance(value, np.ndarray):
        return [value.reshape(-1, 2)]
    if isinstance(value, tuple) and len(value) == 2 and all(isinstance(v, float) for v in value):
        return [np.asarray([value])]
    out: list[np.ndarray] = []
    for item in value:
        out.extend(_flat(item))
    return out


def _triangle_set(triangles: list[Any]) -> np.ndarray:
    """Triangles as a set: each one's corners in (x, y) order, then the triangles in the order
    of their corners, as one (3n, 2) array; a triangulation listed in another order compares
    equal."""
    tri = np.asarray(triangles, dtype=np.float64)
    corners = np.lexsort((tri[:, :, 1], tri[:, :, 0]), axis=-1)
    tri = np.take_along_axis(tri, corners[:, :, None], axis=1)
    flat = tri.reshape(len(tri), 6)
    return tri[np.lexsort(flat.T[::-1])].reshape(-1, 2)


def _parts(result: Any) -> tuple[list[np.ndarray], Any]:
    """(point lists, the topology: what must be equal for the results to be the same network)."""
    if isinstance(result, strandify.Centerlines):
        return result.chains + [result.nodes], result.chain_node_ids.tolist()
    if isinstance(result, list) and result and isinstance(result[0], tuple) and len(result[0]) == 3:
        return [_triangle_set(result)], len(result)
    if isinstance(result, list):
        return _flat(result), [(len(outer), [len(h) for h in holes]) for outer, holes in result]  # rings
    chains, nodes, ids = result[:3]
    return _flat(chains) + _flat(nodes), [tuple(i) for i in ids]


def compare(here: Any, there: Any, offset: tuple[float, float]) -> tuple[bool, float]:
    """(same topology, largest coordinate difference after moving ``there`` back); the
    difference is NaN when the topology changed."""
    (a, ta), (b, tb) = _parts(here), _parts(there)
    if ta != tb or len(a) != len(b) or any(p.shape != q.shape for p, q in zip(a, b)):
        return False, float("nan")
    o = np.asarray(offset)
    return True, max([float(np.abs(q - o - p).max()) for p, q in zip(a, b) if len(p)] + [0.0])


def _tuples(curves: list[np.ndarray]) -> list[list[tuple[float, float]]]:
    return [[(float(x), float(y)) for x, y in c] for c in curves]


def runs(d: float, f: float, shape_f: float) -> dict[str, tuple[str, Callable[[Any], Any]]]:
    """Entry point name -> (kind of drawing, call)."""
    return {
        "native strandify": ("strokes", lambda c: strandify.strandify(_tuples(c), d, f)),
        "native strandify_batch": (
            "strokes",
            lambda c: strandify.strandify_batch([(_tuples(c), d, f) + (None,) * 8])[0],
        ),
        "native inflate_curves": ("strokes", lambda c: strandify.inflate_curves(_tuples(c), d, f)),
        "native triangulate_curves": ("strokes", lambda c: strandify.triangulate_curves(_tuples(c), d, f)),
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


def sketch() -> list[np.ndarray]:
    """The first seeded drawing of bench/output_hashes.py, its box starting at (0, 0)."""
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from output_hashes import drawing

    return at_origin([np.asarray(c) for c in drawing(3)])


def dot() -> list[np.ndarray]:
    t = np.linspace(0.0, 2.0 * np.pi, 33)
    return [np.column_stack([2.0 + 2.0 * np.cos(t), 2.0 + 2.0 * np.sin(t)])]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.parse_args()
    warnings.simplefilter("ignore")
    # (kind, name) -> (drawing, buffer distance, feature size of strokes, feature size of shapes)
    drawings = {
        ("strokes", "OSM streets, UTM m"): (osm_streets(), 5.0, 10.0),
        ("strokes", "seeded sketch"): (sketch(), 1.0, 1.0),
        ("strokes", "dot"): (dot(), 1.5, 4.0),
        ("shapes", "Natural Earth, Equal Earth m"): (countries(), 0.0, 60_000.0),
    }
    print(f"{'entry point':27} {'drawing':29} {'offset':>22} {'topology':>9} {'largest move':>13}")
    for (kind, label), (drawing, d, f) in drawings.items():
        move = moved_strokes if kind == "strokes" else moved_shapes
        for name, (wanted, call) in runs(d or 1.0, f, f).items():
            if wanted != kind:
                continue
            here = call(drawing)
            for offset in OFFSETS:
                same, worst = compare(here, call(move(drawing, offset)), offset)
                print(f"{name:27} {label:29} {str(offset):>22} {'same' if same else 'CHANGED':>9} {worst:13.3g}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
