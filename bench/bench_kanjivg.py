"""Centerlines against the strokes a person drew: KanjiVG characters.

Data: the stroke SVGs of the ``kanjivg`` package (the ``bench`` and ``test`` extras install it;
nothing is downloaded). Every stroke is a path drawn 3 units wide on a 109-unit grid, so the
strokes themselves are the true centerlines. The sample: the files named by a bare code point
in the CJK Unified Ideographs block (U+4E00-U+9FFF, no variant forms), sorted by code point,
of which ``random.Random(SEED).sample`` draws ``--count`` (300) with ``SEED = 26``; the sample is
sorted again by code point.

Three inputs per character, all with buffer_distance 1.5 (the pen's half-width) and
feature_size 1.5:

- clean: the strokes as they are, through ``strandify.centerlines``;
- sketches: the strokes re-drawn by the sketch generator of bench/bench_refine.py (each stroke
  drawn one to three times, shifted, wobbling, overshooting or falling short at its ends; seeded
  by the character's code point), through ``strandify.centerlines``;
- filled: the strokes buffered by 1.5 with round caps and joins, unioned into polygons, through
  ``strandify.polygon_centerlines``.

The truth graph of a character, the rule of the glyph benchmark: a stroke end within two buffer
distances of other strokes is joined to each of them (the pens touch there), junctions (joins and
crossings) within two buffer distances of each other are one junction, and stubs (a tip's
branch) shorter than two feature sizes are dropped. A character counts as exact when the
output's endpoint count (nodes of degree 1) and junction count (degree 3 and more) both equal
the truth's. The output is counted as it comes, for every tool.

Also printed: the Hausdorff distance between the truth graph's lines (the strokes, their joins
to the strokes they touch, without the dropped stubs) and the output (median and max over the
characters); tips of the truth that became junctions ("tips lost": within 2 units of an
output junction and of no output tip); output junctions that are not within 2 buffer distances
of a true junction although another output junction is ("split": a crossing broken into
several); for the sketches, matched tips (an output tip within 3 units of a true tip) that
overshoot the true end by more than 1 unit along the stroke, and tips whose last 2 units turn
more than 30 degrees from the 3 units before ("hooks").

Peers: the raster skeleton of bench/bench_polygons.py (scikit-image ``skeletonize`` of the
rasterized buffer, five pixels across a half-width; its pixel graph without the diagonal steps
that a staircase repeats, adjacent junction pixels counted as one) for every style, and
``pygeoops.centerline`` for the filled glyphs. ``refine=False`` is the exact pipeline.

Run: ``python bench/bench_kanjivg.py [--count N] [--no-peers | --peers-only] [--picture PNG]``.
"""

from __future__ import annotations

import argparse
import math
import random
import sys
import time
import warnings
from collections.abc import Callable
from importlib import metadata
from pathlib import Path
from typing import Any

import numpy as np
import shapely
from shapely.geometry import LineString, MultiLineString

sys.path.insert(0, str(Path(__file__).resolve().parent))

import strandify  # noqa: E402
from bench_polygons import run_skimage  # noqa: E402
from bench_refine import sketch  # noqa: E402
from strandify.formats import read_drawing  # noqa: E402

SEED = 26
BD = 1.5
FS = 1.5
SNAP = 2 * BD  # ends and junctions this close are one node of the truth
STUB = 2 * FS  # shorter tip branches are not strokes
KEYWORDS: dict[str, Any] = {}  # --option: extra keywords of strandify's functions
Stroke = list[tuple[float, float]]
Graph = tuple[list[tuple[float, float]], list[tuple[float, float]]]  # (tips, junctions)
Truth = tuple[list[tuple[float, float]], list[tuple[float, float]], Any]  # ... and its lines


# -- the sample ------------------------------------------------------------------------------


def kanji_dir() -> Path:
    files = metadata.files("kanjivg") or []
    svg = next(f for f in files if str(f).startswith("kanji/") and str(f).endswith(".svg"))
    return Path(str(svg.locate())).parent


def sample(count: int) -> list[Path]:
    names = sorted(
        p for p in kanji_dir().glob("*.svg") if len(p.stem) == 5 and 0x4E00 <= int(p.stem, 16) <= 0x9FFF
    )
    return sorted(random.Random(SEED).sample(names, count))


def strokes_of(path: Path) -> list[Stroke]:
    out = []
    for c in read_drawing(path).curves:
        line = LineString(c).simplify(0.02)  # the reader samples every 0.1 unit
        out.append([(float(x), float(y)) for x, y in line.coords])
    return out


# -- graphs ------------------------------------------------------------------------------------


class Nodes:
    """Points of a line network keyed by their rounded coordinates, with their degrees."""

    def __init__(self) -> None:
        self.index: dict[tuple[float, float], int] = {}
        self.points: list[tuple[float, float]] = []
        self.edges: list[tuple[int, int, float]] = []
        self.lines: list[Any] = []

    def node(self, p: tuple[float, float]) -> int:
        key = (round(p[0], 6), round(p[1], 6))
        if key not in self.index:
            self.index[key] = len(self.points)
            self.points.append((float(p[0]), float(p[1])))
        return self.index[key]

    def add(self, line: Any) -> None:
        coords = line.coords
        if len(coords) >= 2:
            self.edges.append((self.node(coords[0]), self.node(coords[-1]), line.length))
            self.lines.append(line)


def contracted(points: list[tuple[float, float]], edges: list[tuple[int, int, float]], near: float) -> Graph:
    """Tips and junctions of a graph whose junction nodes closer than `near` are one node."""
    degree = [0] * len(points)
    for a, b, _ in edges:
        degree[a] += 1
        degree[b] += 1
    parent = list(range(len(points)))

    def root(i: int) -> int:
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i

    junctions = [i for i, g in enumerate(degree) if g >= 3]
    if junctions and near > 0:
        tree = shapely.STRtree(shapely.points([points[i] for i in junctions]))
        pairs = tree.query(shapely.points([points[i] for i in junctions]), predicate="dwithin", distance=near)
        for x, y in pairs.T:
            parent[root(junctions[x])] = root(junctions[y])
    outer: dict[int, int] = {}
    for a, b, _ in edges:
        ra, rb = root(a), root(b)
        if ra != rb:
            outer[ra] = outer.get(ra, 0) + 1
            outer[rb] = outer.get(rb, 0) + 1
    tips = [points[r] for r, g in sorted(outer.items()) if g == 1]
    joins = [points[r] for r, g in sorted(outer.items()) if g >= 3]
    return tips, joins


def truth(strokes: list[Stroke]) -> Truth:
    lines = [LineString(s) for s in strokes]
    pieces: list[Any] = list(lines)
    for i, line in enumerate(lines):
        others = [other for j, other in enumerate(lines) if j != i]
        for end in (line.coords[0], line.coords[-1]):
            p = shapely.Point(end)
            for target in others:
                if target.distance(p) < SNAP:
                    q = target.interpolate(target.project(p)).coords[0]
                    d = math.hypot(q[0] - end[0], q[1] - end[1])
                    if d > 0:
                        # a little past the stroke, so that noding splits it there (the tiny
                        # overshoot is a stub, dropped below)
                        t = 1 + 0.01 / d
                        pieces.append(LineString([end, (end[0] + (q[0] - end[0]) * t, end[1] + (q[1] - end[1]) * t)]))
    noded = shapely.unary_union(pieces)
    graph = Nodes()
    for part in shapely.get_parts(shapely.line_merge(noded)):
        graph.add(part)
    degree = [0] * len(graph.points)
    for a, b, _ in graph.edges:
        degree[a] += 1
        degree[b] += 1
    # stubs: tip branches shorter than two feature sizes, measured before junctions merge
    stub = [length < STUB and min(degree[a], degree[b]) == 1 and max(degree[a], degree[b]) >= 3 for a, b, length in graph.edges]
    kept = [e for e, drop in zip(graph.edges, stub) if not drop]
    tips, joins = contracted(graph.points, kept, SNAP)
    lines = shapely.MultiLineString([line for line, drop in zip(graph.lines, stub) if not drop])
    return tips, joins, lines


def output_graph(chains: list[Any], ids: Any) -> Graph:
    degree: dict[int, int] = {}
    ends: dict[int, tuple[float, float]] = {}
    for chain, (a, b) in zip(chains, ids):
        for n, p in ((int(a), chain[0]), (int(b), chain[-1])):
            degree[n] = degree.get(n, 0) + 1
            ends[n] = (float(p[0]), float(p[1]))
    tips = [ends[n] for n, g in sorted(degree.items()) if g == 1]
    joins = [ends[n] for n, g in sorted(degree.items()) if g >= 3]
    return tips, joins


def lines_graph(geom: Any, near: float) -> Graph:
    graph = Nodes()
    for part in shapely.get_parts(shapely.line_merge(shapely.unary_union(geom))):
        graph.add(part)
    return contracted(graph.points, graph.edges, near)


def pixel_lines(geom: Any) -> Any:
    """The raster peer's skeleton without the diagonal pixel steps that an orthogonal pair
    already connects (those make a triangle, and a false junction, at every stair)."""
    if geom is None:
        return None
    segs = [np.asarray(g.coords) for g in shapely.get_parts(geom)]
    on = {tuple(np.round(p, 9)) for s in segs for p in s}
    keep = []
    for s in segs:
        a, b = s[0], s[1]
        if abs(a[0] - b[0]) > 1e-12 and abs(a[1] - b[1]) > 1e-12:
            if tuple(np.round((a[0], b[1]), 9)) in on or tuple(np.round((b[0], a[1]), 9)) in on:
                continue
        keep.append(LineString(s))
    return MultiLineString(keep) if keep else None


# -- tools -----------------------------------------------------------------------------------


def pen(strokes: list[Stroke]) -> Any:
    return shapely.union_all([LineString(s).buffer(BD, quad_segs=8) for s in strokes])


def run_ours(style: str, strokes: list[Stroke], refine: bool) -> tuple[Any, Graph]:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        if style == "filled":
            r = strandify.polygon_centerlines(pen(strokes), FS, buffer_distance=BD, refine=refine, **KEYWORDS)
        else:
            r = strandify.centerlines(strokes, BD, FS, refine=refine, **KEYWORDS)
    chains = [np.asarray(c) for c in r.chains]
    lines = MultiLineString([c for c in chains if len(c) >= 2]) if chains else None
    return lines, output_graph(chains, r.chain_node_ids)


_RASTER: dict[int, tuple[Any, Graph]] = {}


def run_raster(style: str, strokes: list[Stroke]) -> tuple[Any, Graph]:
    # the clean and the filled style give the raster peer the same image
    if id(strokes) not in _RASTER:
        lines = pixel_lines(run_skimage(pen(strokes)))
        if lines is None:
            _RASTER[id(strokes)] = (None, ([], []))
        else:
            graph = Nodes()
            for seg in shapely.get_parts(lines):
                graph.add(seg)
            _RASTER[id(strokes)] = (shapely.line_merge(lines), contracted(graph.points, graph.edges, 1.5 * BD / 5))
    return _RASTER[id(strokes)]


def run_pygeoops(style: str, strokes: list[Stroke]) -> tuple[Any, Graph]:
    import pygeoops

    try:
        lines = pygeoops.centerline(pen(strokes))
    except Exception:  # a peer that raises on a shape: counted as empty
        return None, ([], [])
    if lines is None or lines.is_empty:
        return None, ([], [])
    return lines, lines_graph(lines, 0.0)


# -- measures --------------------------------------------------------------------------------


def near_any(p: tuple[float, float], points: list[tuple[float, float]], d: float) -> bool:
    return any(math.hypot(p[0] - q[0], p[1] - q[1]) < d for q in points)


def tip_errors(true_tips, out_tips, out_lines, strokes) -> tuple[int, int, int]:
    """(matched tips, overshooting by more than 1 unit, hooked) for the truth's tips."""
    ends = []
    for s in strokes:
        for p, q in ((s[0], s[1]), (s[-1], s[-2])):
            ends.append((p, q))
    matched = over = hooked = 0
    for t in true_tips:
        end = min(ends, key=lambda e: math.hypot(e[0][0] - t[0], e[0][1] - t[1]))
        p, q = end
        d = math.hypot(p[0] - q[0], p[1] - q[1]) or 1.0
        out = ((p[0] - q[0]) / d, (p[1] - q[1]) / d)
        best = min(out_tips, key=lambda o: math.hypot(o[0] - p[0], o[1] - p[1]), default=None)
        if best is None or math.hypot(best[0] - p[0], best[1] - p[1]) >= 3.0:
            continue
        matched += 1
        over += (best[0] - p[0]) * out[0] + (best[1] - p[1]) * out[1] > 1.0
        hooked += is_hook(best, out_lines)
    return matched, over, hooked


def is_hook(tip: tuple[float, float], lines: Any) -> bool:
    for part in shapely.get_parts(lines):
        c = part.coords
        for pts in (part, LineString(c[::-1])):
            if math.hypot(pts.coords[0][0] - tip[0], pts.coords[0][1] - tip[1]) > 1e-9 or pts.length < 5:
                continue
            a, b, e = pts.coords[0], pts.interpolate(2.0).coords[0], pts.interpolate(5.0).coords[0]
            u = (a[0] - b[0], a[1] - b[1])
            v = (b[0] - e[0], b[1] - e[1])
            cos = (u[0] * v[0] + u[1] * v[1]) / ((math.hypot(*u) * math.hypot(*v)) or 1.0)
            return math.degrees(math.acos(max(-1.0, min(1.0, cos)))) > 30
    return False


def measure(graph_truth: Truth, lines: Any, graph: Graph, strokes: list[Stroke]) -> dict[str, Any]:
    true_tips, true_joins, true_lines = graph_truth
    tips, joins = graph
    row: dict[str, Any] = {
        "exact": len(tips) == len(true_tips) and len(joins) == len(true_joins),
        "h": math.inf if lines is None else shapely.hausdorff_distance(true_lines, lines, densify=0.1),
        "lost": sum(1 for t in true_tips if near_any(t, joins, 2.0) and not near_any(t, tips, 2.0)),
        "split": sum(
            1 for j in joins if not near_any(j, true_joins, SNAP) and any(k is not j and near_any(j, [k], 2 * SNAP) for k in joins)
        ),
    }
    row["tips"] = tip_errors(true_tips, tips, lines, strokes) if lines is not None else (0, 0, 0)
    return row


TOOLS: dict[str, Callable[[str, list[Stroke]], tuple[Any, Graph]]] = {
    "strandify": lambda style, s: run_ours(style, s, True),
    "strandify refine=False": lambda style, s: run_ours(style, s, False),
    "raster skeleton": run_raster,
    "pygeoops": run_pygeoops,
}


def inputs(paths: list[Path]) -> dict[str, list[list[Stroke]]]:
    clean = [strokes_of(p) for p in paths]
    sketches = [sketch(s, int(p.stem, 16)) for s, p in zip(clean, paths)]
    return {"clean": clean, "sketches": sketches, "filled": clean}


def table(paths: list[Path], tools: list[str]) -> None:
    styles = inputs(paths)
    truths = [truth(s) for s in styles["clean"]]
    print(f"KanjiVG: {len(paths)} characters (seed {SEED}), buffer_distance {BD:g}, feature_size {FS:g}")
    print(f"{'style':<9} {'tool':<23} {'exact':>6} {'H med':>6} {'H max':>6} {'lost':>5} {'split':>5}"
          f" {'tips':>5} {'over':>5} {'hooks':>5} {'time s':>7}")
    for style, drawings in styles.items():
        for tool in tools:
            if tool == "pygeoops" and style != "filled":
                continue
            start = time.perf_counter()
            rows = []
            for d, t, clean in zip(drawings, truths, styles["clean"]):
                lines, graph = TOOLS[tool](style, d)
                rows.append(measure(t, lines, graph, clean))
            spent = time.perf_counter() - start
            hs = sorted(r["h"] for r in rows)
            matched = sum(r["tips"][0] for r in rows)
            print(
                f"{style:<9} {tool:<23} {sum(r['exact'] for r in rows) / len(rows):6.1%}"
                f" {hs[len(hs) // 2]:6.2f} {hs[-1]:6.2f} {sum(r['lost'] for r in rows):5d}"
                f" {sum(r['split'] for r in rows):5d} {matched:5d} {sum(r['tips'][1] for r in rows):5d}"
                f" {sum(r['tips'][2] for r in rows):5d} {spent:7.2f}",
                flush=True,
            )


def picture(paths: list[Path], out: Path) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    picked = paths[:4]
    styles = inputs(picked)
    fig, axes = plt.subplots(3, len(picked), figsize=(2.6 * len(picked), 8.0), squeeze=False)
    for row, (style, drawings) in enumerate(styles.items()):
        for col, (d, clean) in enumerate(zip(drawings, styles["clean"])):
            ax = axes[row][col]
            shape = pen(d)
            for poly in shapely.get_parts(shape):
                ax.fill(*poly.exterior.xy, color="#d8d8d8" if style == "filled" else "#eeeeee", lw=0)
            if style != "filled":
                for s in d:
                    ax.plot(*zip(*s), color="#b0b0b0", lw=0.6)
            for s in clean:
                ax.plot(*zip(*s), color="#2c7fb8", lw=0.8, ls=(0, (2, 1.5)))
            true_tips, true_joins, _ = truth(clean)
            if true_tips:
                ax.plot(*zip(*true_tips), "+", ms=7, color="#2c7fb8")
            if true_joins:
                ax.plot(*zip(*true_joins), "x", ms=7, color="#2c7fb8")
            lines, (tips, joins) = run_ours(style, d, True)
            for part in shapely.get_parts(lines):
                ax.plot(*part.xy, color="#d7301f", lw=1.4)
            if tips:
                ax.plot(*zip(*tips), "o", ms=3, color="#d7301f")
            if joins:
                ax.plot(*zip(*joins), "s", ms=3.5, mfc="none", color="black")
            ax.set_aspect("equal")
            ax.invert_yaxis()
            ax.set_xticks([])
            ax.set_yticks([])
            if col == 0:
                ax.set_ylabel(style)
            if row == 0:
                ax.set_title(f"U+{paths[col].stem.upper()}", fontsize=9)
    fig.suptitle(
        "input (grey); truth: strokes (blue, dashed), + tips, x junctions; strandify (red): o tips, [] junctions",
        fontsize=9,
    )
    fig.tight_layout()
    fig.savefig(out, dpi=110)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=300, help="characters in the sample (300)")
    parser.add_argument("--no-peers", action="store_true", help="strandify only")
    parser.add_argument("--peers-only", action="store_true", help="the peers only (they do not change with strandify)")
    parser.add_argument("--picture", type=Path, help="also draw a few characters per style into this PNG")
    parser.add_argument("--option", action="append", default=[], metavar="NAME=VALUE",
                        help="a keyword of strandify's functions (true/false or a number), repeatable")
    parser.add_argument("--only", help="comma-separated code points (hex) instead of the sample")
    args = parser.parse_args()
    for item in args.option:
        name, value = item.split("=", 1)
        KEYWORDS[name] = {"true": True, "false": False}.get(value.lower()) if value.lower() in ("true", "false") else float(value)
    paths = [kanji_dir() / f"{c.strip():0>5}.svg" for c in args.only.split(",")] if args.only else sample(args.count)
    tools = [] if args.peers_only else ["strandify", "strandify refine=False"]
    tools += [] if args.no_peers else ["raster skeleton", "pygeoops"]
    if args.picture:
        picture(paths if args.only else [kanji_dir() / f"{c}.svg" for c in ("06728", "053e3", "065e5", "06c38")], args.picture)
    table(paths, tools)


if __name__ == "__main__":
    main()
