"""How close the finishing steps bring the centerlines to the strokes a person drew.

Data: 200 glyphs of the Hershey fonts (Debian package ``hershey-fonts-data``), each taken as
its clean strokes and as a sketch of them (every stroke drawn one to three times, shifted,
jittered and overshooting or falling short at its ends, seeded per glyph). For the exact chains
(no ``refine_steps``), every step on its own, all default steps, all but one, and all plus the
radius-compensated tip test, this prints:

- exact: the share of glyphs whose endpoint count and junction count both equal the strokes';
- Hausdorff distance between strokes and centerlines per glyph: median, 90th percentile, max;
- tip overshoot: how far past the true stroke end the nearest centerline tip lies, along the
  stroke (mean, and mean absolute), over true ends with a tip within 3 units;
- hooks: the share of centerline tips whose last unit turns more than 30 degrees from the two
  units before it;
- lost ends: true ends the exact chains reach (a tip within 2 units) but these do not, as a share
  of all true ends (real stubs removed by mistake);
- the runtime of the default steps against the exact pipeline.

Run ``python bench/bench_refine.py [--glyphs N] [--repeats N]``. Needs shapely.
"""

from __future__ import annotations

import argparse
import math
import random
import statistics
import time
from pathlib import Path

import shapely

from strandify import _internal

from strandify.options import NativeOptions as native_options

FONTS = ("futural", "rowmans", "timesr")
FONT_DIR = Path("/usr/share/hershey-fonts")
SCALE = 2.0  # Hershey units to drawing units: strokes of 2 units width in glyphs ~50 tall
BD = 1.0
FS = 1.0
TOL = 1.0  # ends closer than this meet
DEFAULT = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "round_pens")
Stroke = list[tuple[float, float]]


def read_font(name: str) -> list[list[Stroke]]:
    text = (FONT_DIR / f"{name}.jhf").read_text(encoding="latin-1").splitlines()
    glyphs: list[list[Stroke]] = []
    i = 0
    while i < len(text):
        line = text[i]
        i += 1
        if len(line) < 8:
            continue
        count = int(line[5:8])
        data = line[8:]
        while len(data) < 2 * count and i < len(text):  # wrapped records
            data += text[i]
            i += 1
        strokes: list[Stroke] = []
        current: Stroke = []
        for k in range(1, count):  # the first pair holds the margins
            a, b = data[2 * k], data[2 * k + 1]
            if a == " " and b == "R":
                if len(current) >= 2:
                    strokes.append(current)
                current = []
                continue
            current.append(((ord(a) - 82) * SCALE, -(ord(b) - 82) * SCALE))
        if len(current) >= 2:
            strokes.append(current)
        if strokes:
            glyphs.append(strokes)
    return glyphs


def glyphs(count: int) -> list[list[Stroke]]:
    out: list[list[Stroke]] = []
    for font in FONTS:
        out.extend(read_font(font))
    return out[:count]


def resample(stroke: Stroke, step: float) -> Stroke:
    out = [stroke[0]]
    for (x0, y0), (x1, y1) in zip(stroke, stroke[1:]):
        n = max(1, math.ceil(math.hypot(x1 - x0, y1 - y0) / step))
        out.extend((x0 + (x1 - x0) * t / n, y0 + (y1 - y0) * t / n) for t in range(1, n + 1))
    return out


def extend(stroke: Stroke, start: float, end: float) -> Stroke:
    def moved(p: tuple[float, float], q: tuple[float, float], d: float) -> tuple[float, float]:
        dx, dy = p[0] - q[0], p[1] - q[1]
        n = math.hypot(dx, dy) or 1.0
        return (p[0] + dx / n * d, p[1] + dy / n * d)

    s = list(stroke)
    s[0] = moved(s[0], s[1], start)
    s[-1] = moved(s[-1], s[-2], end)
    return s


def sketch(strokes: list[Stroke], seed: int) -> list[Stroke]:
    rng = random.Random(seed)
    out: list[Stroke] = []
    for stroke in strokes:
        for _ in range(rng.choice((1, 1, 2, 2, 3))):
            dx, dy = rng.gauss(0, 0.3), rng.gauss(0, 0.3)
            s = extend(stroke, rng.uniform(-0.5, 0.8), rng.uniform(-0.5, 0.8))
            s = resample(s, 0.5)
            wx = wy = 0.0
            jittered = []
            for x, y in s:
                wx = 0.7 * wx + rng.gauss(0, 0.08)
                wy = 0.7 * wy + rng.gauss(0, 0.08)
                jittered.append((x + dx + wx, y + dy + wy))
            out.append(jittered)
    return out


# --- the strokes' own graph ---------------------------------------------------------------


def seg_distance(p, a, b) -> float:
    ex, ey = b[0] - a[0], b[1] - a[1]
    ee = ex * ex + ey * ey
    t = 0.0 if ee == 0 else max(0.0, min(1.0, ((p[0] - a[0]) * ex + (p[1] - a[1]) * ey) / ee))
    return math.hypot(p[0] - a[0] - t * ex, p[1] - a[1] - t * ey)


def poly_distance(p, stroke) -> float:
    return min(seg_distance(p, a, b) for a, b in zip(stroke, stroke[1:]))


def truth(strokes: list[Stroke]):
    """(endpoints with their outward directions, endpoint count, junction count)."""
    ends = []  # (point, stroke index, outward direction)
    for i, s in enumerate(strokes):
        for p, q in ((s[0], s[1]), (s[-1], s[-2])):
            d = math.hypot(p[0] - q[0], p[1] - q[1]) or 1.0
            ends.append((p, i, ((p[0] - q[0]) / d, (p[1] - q[1]) / d)))
    clusters: list[list[int]] = []
    for k, (p, _, _) in enumerate(ends):
        for c in clusters:
            q = ends[c[0]][0]
            if math.hypot(p[0] - q[0], p[1] - q[1]) < TOL:
                c.append(k)
                break
        else:
            clusters.append([k])
    degree = []
    centres = []
    for c in clusters:
        q = ends[c[0]][0]
        own = {ends[k][1] for k in c}
        through = sum(
            1 for i, s in enumerate(strokes) if i not in own and poly_distance(q, s) < TOL
        )
        degree.append(len(c) + 2 * through)
        centres.append(q)
    crossings: list[tuple[float, float]] = []
    segs = [(i, j, a, b) for i, s in enumerate(strokes) for j, (a, b) in enumerate(zip(s, s[1:]))]
    for x in range(len(segs)):
        i1, j1, a, b = segs[x]
        for y in range(x + 1, len(segs)):
            i2, j2, c, d = segs[y]
            if i1 == i2 and abs(j1 - j2) <= 1:
                continue
            p = proper_cross(a, b, c, d)
            if p is None or any(math.hypot(p[0] - e[0], p[1] - e[1]) < TOL for e in centres):
                continue
            if all(math.hypot(p[0] - e[0], p[1] - e[1]) >= TOL for e in crossings):
                crossings.append(p)
    tips = [ends[c[0]] for c, g in zip(clusters, degree) if g == 1]
    return tips, len(tips), sum(1 for g in degree if g >= 3) + len(crossings)


def proper_cross(a, b, c, d):
    r = (b[0] - a[0], b[1] - a[1])
    s = (d[0] - c[0], d[1] - c[1])
    den = r[0] * s[1] - r[1] * s[0]
    if den == 0:
        return None
    t = ((c[0] - a[0]) * s[1] - (c[1] - a[1]) * s[0]) / den
    u = ((c[0] - a[0]) * r[1] - (c[1] - a[1]) * r[0]) / den
    if 0 < t < 1 and 0 < u < 1:
        return (a[0] + t * r[0], a[1] + t * r[1])
    return None


# --- the centerlines ----------------------------------------------------------------------


def counts(ids) -> tuple[int, int, list[int]]:
    deg: dict[int, int] = {}
    for a, b in ids:
        deg[a] = deg.get(a, 0) + 1
        deg[b] = deg.get(b, 0) + 1
    tips = [n for n, g in deg.items() if g == 1]
    return len(tips), sum(1 for g in deg.values() if g >= 3), tips


def point_at(chain, s):
    run = 0.0
    for p, q in zip(chain, chain[1:]):
        d = math.hypot(q[0] - p[0], q[1] - p[1])
        if d > 0 and run + d >= s:
            t = (s - run) / d
            return (p[0] + (q[0] - p[0]) * t, p[1] + (q[1] - p[1]) * t)
        run += d
    return None


def hooks(chains, ids, tip_nodes) -> tuple[int, int]:
    tipset = set(tip_nodes)
    hooked = total = 0
    for chain, (a, b) in zip(chains, ids):
        for node, pts in ((a, chain), (b, chain[::-1])):
            if node not in tipset:
                continue
            p1, p3 = point_at(pts, 1.0), point_at(pts, 3.0)
            if p1 is None or p3 is None:
                continue
            total += 1
            u = (pts[0][0] - p1[0], pts[0][1] - p1[1])
            v = (p1[0] - p3[0], p1[1] - p3[1])
            nu, nv = math.hypot(*u), math.hypot(*v)
            if nu == 0 or nv == 0:
                continue
            c = max(-1.0, min(1.0, (u[0] * v[0] + u[1] * v[1]) / (nu * nv)))
            hooked += math.degrees(math.acos(c)) > 30
    return hooked, total


def corner_stub_cases() -> list[tuple[Stroke, Stroke, float]]:
    """Real stubs at corners: a V of 20 to 90 degrees with arms of 30 units, and a stroke of 2
    to 8 units from its apex outward along the bisector, as (V, stub, stub length)."""
    cases = []
    for angle in range(20, 100, 10):
        a = math.radians(angle) / 2
        for length in (2.0, 3.0, 4.0, 5.0, 6.0, 8.0):
            v = [(-30 * math.sin(a), 30 * math.cos(a)), (0.0, 0.0), (30 * math.sin(a), 30 * math.cos(a))]
            cases.append((v, [(0.0, 0.0), (0.0, -length)], length))
    return cases


def run_steps(strokes: list[Stroke], refine: tuple[str, ...] | None):
    """The centerlines of `strokes` with these finishing steps (None: the exact chains)."""
    return _internal.strandify_strokes(strokes, BD, FS, native_options(refine_steps=refine))


def measure(strokes: list[Stroke], truth_info, refine):
    true_tips, te, tj = truth_info
    chains, nodes, ids, _ = run_steps(strokes, refine)
    e, j, tip_nodes = counts(ids)
    line_truth = shapely.MultiLineString([s for s in truth_strokes_of(truth_info)])
    if chains:
        result = shapely.MultiLineString([c for c in chains])
        h = shapely.hausdorff_distance(line_truth, result, densify=0.05)
    else:
        h = math.inf
    tip_points = [nodes[n] for n in tip_nodes]
    overs = []
    reached = []
    for p, _, out in true_tips:
        best = min(tip_points, key=lambda q: math.hypot(q[0] - p[0], q[1] - p[1]), default=None)
        dist = math.inf if best is None else math.hypot(best[0] - p[0], best[1] - p[1])
        reached.append(dist < 2.0)
        if dist < 3.0:
            overs.append((best[0] - p[0]) * out[0] + (best[1] - p[1]) * out[1])
    hk = hooks(chains, ids, tip_nodes)
    return {"exact": e == te and j == tj, "h": h, "over": overs, "hooks": hk, "reached": reached}


_TRUTH_STROKES: dict[int, list[Stroke]] = {}


def truth_strokes_of(info):
    return _TRUTH_STROKES[id(info)]


def summarize(name: str, rows, base_rows) -> str:
    n = len(rows)
    exact = sum(r["exact"] for r in rows) / n
    hs = sorted(r["h"] for r in rows)
    finite = [h for h in hs if math.isfinite(h)]
    p90 = hs[min(n - 1, int(0.9 * n))]
    overs = [o for r in rows for o in r["over"]]
    hooked = sum(r["hooks"][0] for r in rows)
    tipped = sum(r["hooks"][1] for r in rows)
    lost = sum(
        1 for r, b in zip(rows, base_rows) for got, had in zip(r["reached"], b["reached"]) if had and not got
    )
    ends = sum(len(r["reached"]) for r in rows)
    empty = n - len(finite)
    return (
        f"{name:<26} {exact:6.1%} {statistics.median(hs):6.2f} {p90:6.2f} {max(finite):6.2f}"
        f"{'+' + str(empty) if empty else '':>3} {statistics.mean(overs):+7.2f} "
        f"{statistics.mean(abs(o) for o in overs):6.2f} {hooked / max(tipped, 1):6.1%} "
        f"{lost / max(ends, 1):6.2%}"
    )


CONFIGS = [("exact (no steps)", None)]
CONFIGS += [(f"only {s}", (s,)) for s in DEFAULT]
CONFIGS += [("default steps", DEFAULT)]
CONFIGS += [(f"default - {s}", tuple(x for x in DEFAULT if x != s)) for s in DEFAULT]
CONFIGS += [("default + radius_tips", DEFAULT + ("radius_tips",)), ("only radius_tips", ("radius_tips",))]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--glyphs", type=int, default=200)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    gl = glyphs(args.glyphs)
    sets = {
        "sketches": [(sketch(g, seed), g) for seed, g in enumerate(gl)],
        "clean glyphs": [(g, g) for g in gl],
    }
    for label, drawings in sets.items():
        infos = []
        for _, g in drawings:
            info = truth(g)
            _TRUTH_STROKES[id(info)] = g
            infos.append(info)
        print(f"\n{label}: {len(drawings)} glyphs, bd={BD:g} fs={FS:g}")
        print(
            f"{'':<26} {'exact':>6} {'H med':>6} {'H p90':>6} {'H max':>6}    {'over':>7} {'|over|':>6}"
            f" {'hooks':>6} {'lost':>6}"
        )
        base = None
        for name, refine in CONFIGS:
            rows = [measure(d, info, refine) for (d, _), info in zip(drawings, infos)]
            if base is None:
                base = rows
            print(summarize(name, rows, base))

    # Real stubs at corners: a V with a stroke from its apex outward along the bisector. The
    # corner step must leave every stub that the exact chains keep.
    kept_exact = removed = 0
    for v, stub, length in corner_stub_cases():
        ends = []
        for refine in (None, DEFAULT):
            _, nodes, ids, _ = run_steps([resample(v, 0.5), resample(stub, 0.5)], refine)
            deg = counts(ids)[2]
            ends.append(any(math.hypot(nodes[n][0], nodes[n][1] + length) < 1.5 for n in deg))
        kept_exact += ends[0]
        removed += ends[0] and not ends[1]
    print(f"\nreal stubs along a corner's bisector (V of 20-90 degrees, stubs of 2-8 units): "
          f"{kept_exact} kept by the exact chains, {removed} of them removed by the default steps")

    curves = [d for d, _ in sets["sketches"]]

    def run(refine):
        best = math.inf
        for _ in range(args.repeats):
            t0 = time.perf_counter()
            for c in curves:
                run_steps(c, refine)
            best = min(best, time.perf_counter() - t0)
        return best

    exact_t = run(None)
    refined_t = run(DEFAULT)
    radius_t = run(DEFAULT + ("radius_tips",))
    print(
        f"\nruntime on the sketches (best of {args.repeats}): exact {exact_t * 1e3:.0f} ms, "
        f"default steps {refined_t * 1e3:.0f} ms ({refined_t / exact_t - 1:+.1%}), "
        f"with radius_tips {radius_t * 1e3:.0f} ms ({radius_t / exact_t - 1:+.1%})"
    )


if __name__ == "__main__":
    main()
