"""Polygon centerlines: strandify against the polygon-centerline tools on PyPI, in one run.

Peers (the ``bench`` extra): ``pygeoops.centerline`` and
``centerline.geometry.Centerline`` (both built on shapely's Voronoi diagram)
and scikit-image ``skeletonize`` of the rasterized shape.  Every tool gets the
same shapely geometry; the times include reading it.

Shapes:

- glyphs: the outlines of A-Z, a-z and 0-9 of DejaVu Sans, the font that
  matplotlib ships, read with matplotlib's TextPath (no true centerline);
- hershey: the strokes of the Hershey Roman simplex font (Debian package
  hershey-fonts-data), buffered by R with round caps and joins; their true
  centerline is the strokes themselves;
- hershey square: the same strokes buffered with flat ends and mitred joins
  (mitre limit 5), the square ends and sharp corners of drawn outlines with a
  known centerline;
- countries: the Natural Earth low-resolution country polygons that the
  pyogrio wheel ships among its test fixtures (no true centerline).

Reported per tool and shape set: total time and its ratio to strandify,
failures (an exception, or no line at all), endpoints of the merged network,
and where the truth is known: spurious endpoints (farther than 2 x R from every
end of the true strokes and from every dot, a separate part of the truth
whose extent is at most 3 x R across), missed parts (separate parts of the shape, such as the dot
of an i, without any line), the median and largest Hausdorff distance to the
truth in units of R, and coverage (share of the true strokes within R of the
result).  Times are the best of ``--repeats`` passes (3).  Last, real stubs at the corners
of filled Vs: how many the exact chains keep and how many of those the defaults remove.
Run: ``python bench/bench_polygons.py [--quick] [--repeats N]``.
"""

from __future__ import annotations

import argparse
import importlib.util
import math
import os
import sys
import time
import warnings
from collections.abc import Callable
from pathlib import Path
from typing import Any

import numpy as np
import shapely
from shapely.geometry import LineString, MultiLineString, MultiPolygon, Polygon

import strandify
from strandify._read_shapes import mean_half_width, read_polygons, regions_from_subpaths

HERSHEY = Path("/usr/share/hershey-fonts/futural.jhf")
R = 1.0  # buffer radius of the Hershey strokes (glyphs are about 21 units high)
GLYPHS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"


# -- shapes ---------------------------------------------------------------------------


def glyph_shapes() -> list[tuple[str, Any, Any]]:
    from matplotlib.font_manager import FontProperties
    from matplotlib.textpath import TextPath

    prop = FontProperties(family="DejaVu Sans")
    out = []
    for ch in GLYPHS:
        rings = TextPath((0, 0), ch, size=100, prop=prop).to_polygons(closed_only=True)
        polys = [Polygon(p[0], p[1:]) for p in regions_from_subpaths(rings)]
        out.append((ch, polys[0] if len(polys) == 1 else MultiPolygon(polys), None))
    return out


def parse_jhf(path: Path) -> dict[int, list[list[tuple[float, float]]]]:
    """Hershey glyphs: number -> strokes. A glyph is a 5-digit number, a 3-digit pair
    count, the margins, then coordinate pairs as letters offset from 'R'; " R" lifts the pen."""
    text = path.read_text(encoding="latin-1").replace("\r", "")
    glyphs: dict[int, list[list[tuple[float, float]]]] = {}
    index = 32
    buffer = ""
    for line in text.split("\n"):
        buffer += line
        if len(buffer) < 8:
            continue
        count = int(buffer[5:8])
        if len(buffer) - 8 < 2 * count:
            continue  # continues on the next line
        body = buffer[8 + 2: 8 + 2 * count]
        strokes: list[list[tuple[float, float]]] = [[]]
        for k in range(0, len(body), 2):
            pair = body[k: k + 2]
            if pair == " R":
                strokes.append([])
            else:
                strokes[-1].append((ord(pair[0]) - ord("R"), -(ord(pair[1]) - ord("R"))))
        glyphs[index] = [s for s in strokes if len(s) >= 2]
        index += 1
        buffer = ""
    return glyphs


def hershey_shapes(cap_style: str = "round", join_style: str = "round") -> list[tuple[str, Any, Any]]:
    """The Hershey glyphs' strokes buffered by R, with their strokes as the truth. Round ends
    and joins have no sharp corner; flat ends and mitred joins give the square ends and sharp
    turns of drawn outlines, where the boundary refinement near corners matters."""
    if not HERSHEY.exists():
        sys.exit(f"{HERSHEY} is missing: apt-get install hershey-fonts-data")
    out = []
    for index, strokes in parse_jhf(HERSHEY).items():
        if not strokes or not (33 <= index <= 126):
            continue
        truth = MultiLineString(strokes)
        shape = truth.buffer(R, cap_style=cap_style, join_style=join_style, mitre_limit=5.0)
        if shape.is_empty:
            continue
        out.append((chr(index), shape, truth))
    return out


def country_shapes() -> list[tuple[str, Any, Any]]:
    import pyogrio

    path = Path(pyogrio.__file__).parent / "tests" / "fixtures" / "naturalearth_lowres" / "naturalearth_lowres.shp"
    frame = pyogrio.read_dataframe(path)
    return [(str(name), geom, None) for name, geom in zip(frame["name"], frame.geometry) if geom is not None]


# -- tools ----------------------------------------------------------------------------


def half_width(geom: Any) -> float:
    return float(mean_half_width(read_polygons(geom)))


def run_strandify(geom: Any) -> Any:
    return strandify.polygon_centerlines(geom).to_shapely()


def run_pygeoops(geom: Any) -> Any:
    import pygeoops

    return pygeoops.centerline(geom)


def run_centerline(geom: Any) -> Any:
    from centerline.geometry import Centerline

    # its only parameter is an absolute boundary spacing: a quarter of the half-width
    return Centerline(geom, interpolation_distance=half_width(geom) / 4).geometry


def run_skimage(geom: Any) -> Any:
    from skimage.draw import polygon as fill
    from skimage.morphology import skeletonize

    pixel = half_width(geom) / 5  # five pixels across a half-width
    minx, miny, maxx, maxy = geom.bounds
    cols = int(math.ceil((maxx - minx) / pixel)) + 3
    rows = int(math.ceil((maxy - miny) / pixel)) + 3
    image = np.zeros((rows, cols), dtype=bool)
    for part in getattr(geom, "geoms", [geom]):
        for k, ring in enumerate([part.exterior, *part.interiors]):
            xy = np.asarray(ring.coords)
            rr, cc = fill((xy[:, 1] - miny) / pixel + 1, (xy[:, 0] - minx) / pixel + 1, image.shape)
            image[rr, cc] = k == 0
    skeleton = skeletonize(image)
    r, c = np.nonzero(skeleton)
    if not len(r):
        return None
    # the skeleton as unit segments between 8-neighbouring pixels
    on = set(zip(r.tolist(), c.tolist()))
    segs = []
    for y, x in on:
        for dy, dx in ((0, 1), (1, -1), (1, 0), (1, 1)):
            if (y + dy, x + dx) in on:
                segs.append(((x, y), (x + dx, y + dy)))
    pts = lambda p: ((p[0] - 1 + 0.5) * pixel + minx, (p[1] - 1 + 0.5) * pixel + miny)  # noqa: E731
    if not segs:
        return None
    return MultiLineString([(pts(a), pts(b)) for a, b in segs])


TOOLS: dict[str, Callable[[Any], Any]] = {
    "strandify": run_strandify,
    "pygeoops": run_pygeoops,
    "centerline": run_centerline,
    "skimage": run_skimage,
}
# The module each peer needs (the bench extra installs them all).
PEER_MODULES = {"pygeoops": "pygeoops", "centerline": "centerline", "skimage": "skimage"}


def installed(tool: str) -> bool:
    """Whether the tool can run here: a peer that is not installed would otherwise fail on
    every shape in no time and pass for the fastest."""
    module = PEER_MODULES.get(tool)
    return module is None or importlib.util.find_spec(module) is not None


def fastest_voronoi_peer(table: dict[str, dict[str, Any]]) -> float | None:
    """The time of the faster Voronoi peer, among those that gave a line for some shape."""
    times = [table[t]["time"] for t in ("pygeoops", "centerline") if t in table and table[t]["rows"]]
    return min(times) if times else None


# -- measures -------------------------------------------------------------------------


def endpoints(lines: Any) -> list[tuple[float, float]]:
    """Ends of the network: points where exactly one line of the merged network ends."""
    merged = shapely.line_merge(shapely.union_all(lines) if lines.geom_type != "LineString" else lines)
    counts: dict[tuple[float, float], int] = {}
    for part in getattr(merged, "geoms", [merged]):
        if part.is_empty or part.is_ring:
            continue
        for p in (part.coords[0], part.coords[-1]):
            key = (round(p[0], 6), round(p[1], 6))
            counts[key] = counts.get(key, 0) + 1
    return [p for p, n in counts.items() if n == 1]


def truth_ends(truth: Any) -> list[tuple[float, float]]:
    return endpoints(truth)


def measure(result: Any, truth: Any, shape: Any) -> dict[str, float]:
    ends = endpoints(result)
    out: dict[str, float] = {"ends": len(ends)}
    if truth is None:
        return out
    # Where an end may lie: at an end of a true stroke, or anywhere on a dot (a part of the
    # truth too short to have a direction, whose centerline may run either way).
    allowed = list(shapely.points(truth_ends(truth))) if truth_ends(truth) else []
    parts = list(shapely.get_parts(shape))
    for part in parts:
        inside = truth.intersection(part)
        x0, y0, x1, y1 = inside.bounds if not inside.is_empty else (0, 0, 0, 0)
        if math.hypot(x1 - x0, y1 - y0) <= 3 * R:
            allowed.append(inside)
    target = shapely.GeometryCollection(allowed)
    out["spurious"] = sum(1 for p in ends if target.is_empty or shapely.distance(shapely.Point(p), target) > 2 * R)
    out["missed"] = sum(1 for part in parts if not result.intersects(part))
    out["hausdorff"] = shapely.hausdorff_distance(result, truth) / R
    pts = []
    for line in truth.geoms:
        n = max(2, int(line.length / (R / 4)))
        pts.extend(shapely.line_interpolate_point(line, np.linspace(0, line.length, n)))
    d = shapely.distance(np.array(pts), result)
    out["coverage"] = float(np.mean(d <= R))
    return out


def run_set(
    name: str, shapes: list[tuple[str, Any, Any]], tools: list[str], repeats: int = 3
) -> dict[str, dict[str, Any]]:
    """Every tool over every shape, ``repeats`` times; the time is the best pass, so that a
    busy machine does not decide a ratio, and the measures come from the first pass."""
    table: dict[str, dict[str, Any]] = {}
    for tool in tools:
        fn = TOOLS[tool]
        best = math.inf
        failures = 0
        rows: list[dict[str, float]] = []
        for run in range(repeats):
            total = 0.0
            results = []
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                for label, geom, truth in shapes:
                    start = time.perf_counter()
                    try:
                        result = fn(geom)
                    except Exception:  # a peer that raises on a shape: counted, not fatal
                        result = None
                    total += time.perf_counter() - start
                    results.append(result)
            best = min(best, total)
            if run == 0:
                for result, (label, geom, truth) in zip(results, shapes):
                    if result is None or result.is_empty:
                        failures += 1
                        continue
                    rows.append(measure(result, truth, geom))
        table[tool] = {"time": best, "failures": failures, "rows": rows}
        print(f"  {name}: {tool} done in {best:.2f} s", file=sys.stderr)
    return table


def report(name: str, count: int, table: dict[str, dict[str, Any]]) -> None:
    base = table["strandify"]["time"]
    print(f"\n{name} ({count} shapes)")
    head = f"{'tool':<11} {'time s':>8} {'x strandify':>11} {'failures':>8} {'ends':>6}"
    known = any("spurious" in r for t in table.values() for r in t["rows"])
    if known:
        head += f" {'spurious':>8} {'missed':>6} {'hd med/R':>8} {'hd max/R':>8} {'coverage':>8}"
    print(head)
    for tool, t in table.items():
        rows = t["rows"]
        line = f"{tool:<11} {t['time']:>8.3f} {t['time'] / base:>11.1f} {t['failures']:>8d} {sum(r['ends'] for r in rows):>6d}"
        if known and rows:
            hd = [r["hausdorff"] for r in rows]
            line += (
                f" {sum(r['spurious'] for r in rows):>8d} {sum(r['missed'] for r in rows):>6d}"
                f" {np.median(hd):>8.2f} {max(hd):>8.2f}"
                f" {np.mean([r['coverage'] for r in rows]):>8.3f}"
            )
        print(line)
    fastest = fastest_voronoi_peer(table)
    if fastest is not None:
        print(f"strandify is {fastest / base:.1f}x faster than the faster Voronoi peer")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a few shapes of each set")
    parser.add_argument("--repeats", type=int, default=3, help="passes over each set; the best time counts")
    parser.add_argument("--tools", default=",".join(TOOLS), help="comma-separated subset of " + ",".join(TOOLS))
    args = parser.parse_args()
    tools = [t for t in args.tools.split(",") if t]
    if "strandify" not in tools:
        tools.insert(0, "strandify")
    for tool in [t for t in tools if not installed(t)]:
        print(f"{tool} is not installed (pip install '.[bench]'): left out", file=sys.stderr)
        tools.remove(tool)
    sets = {
        "glyphs (DejaVu Sans outlines)": glyph_shapes(),
        "hershey (strokes buffered by R=1)": hershey_shapes(),
        "hershey square (flat ends, mitred joins)": hershey_shapes("flat", "mitre"),
        "countries (Natural Earth lowres)": country_shapes(),
    }
    for name, shapes in sets.items():
        if args.quick:
            shapes = shapes[:: max(1, len(shapes) // 8)]
        # warm-up: imports and first-call costs are not the shapes' fault
        for tool in tools:
            try:
                TOOLS[tool](shapes[0][1])
            except Exception:
                pass
        table = run_set(name, shapes, tools, args.repeats)
        report(name, len(shapes), table)
        # The same shapes through the batch, whose threads run the shapes side by side.
        geoms = [geom for _, geom, _ in shapes]
        elapsed = math.inf
        for _ in range(args.repeats):
            start = time.perf_counter()
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                batch = [r.to_shapely() for r in strandify.polygon_centerlines_batch(geoms)]
            elapsed = min(elapsed, time.perf_counter() - start)
        threads = len(os.sched_getaffinity(0))
        fastest = fastest_voronoi_peer(table)
        line = f"strandify batch ({threads} threads): {elapsed:.3f} s for {len(batch)} shapes"
        if fastest is not None:
            line += f", {fastest / elapsed:.1f}x faster than the faster Voronoi peer"
        print(line)


def corner_stubs() -> tuple[int, int, int]:
    """Real stubs at corners of filled shapes: a V of 20 to 90 degrees with a stroke of 2 to 8
    R from its apex along the bisector, buffered by R with flat, square and round ends and
    joins. Returns how many shapes there are, how many stubs the exact chains keep (an end
    within 1.5 R of the stub's end) and how many of those the defaults remove."""
    from bench_refine import corner_stub_cases  # the strokes' bench measures the same cases

    shapes = kept_exact = removed = 0
    for v, stub, length in corner_stub_cases():
        strokes = MultiLineString([v, stub])
        for cap, join in (("flat", "mitre"), ("square", "mitre"), ("round", "round")):
            shape = strokes.buffer(R, cap_style=cap, join_style=join, mitre_limit=5.0)
            ends = []
            for keywords in ({"refine": False, "partition": "none"}, {}):
                result = strandify.polygon_centerlines(shape, **keywords)
                tips = result.nodes[result.degrees() == 1]
                ends.append(bool(np.any(np.hypot(tips[:, 0], tips[:, 1] + length) < 1.5 * R)))
            shapes += 1
            kept_exact += ends[0]
            removed += ends[0] and not ends[1]
    return shapes, kept_exact, removed


if __name__ == "__main__":
    main()
    count, kept, removed = corner_stubs()
    print(f"\nreal stubs on filled Vs ({count} shapes: 20-90 degrees, stubs of 2-8 R, flat, square and "
          f"round ends): {kept} kept by the exact chains, {removed} of them removed by the defaults")
