"""The union work estimate next to the measured time of the unions it stands for, over a corpus
of drawings: straight and curved strokes at many point spacings and widths, overdrawn sketches,
scribbles that fold over themselves, OSM streets and naturalearth country outlines as strokes.

    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTRANDIFY_BUILD_BENCH=ON \
          -DSTRANDIFY_BUILD_MODULE=OFF -DPython_EXECUTABLE=$PWD/.venv/bin/python
    cmake --build build/bench --target union_timing
    python bench/bench_union_estimate.py [--timeout 60] [--only SUBSTRING] [--estimate-only]

Each drawing runs in its own union_timing process (bench/union_timing.cpp) under a deadline, so a
union that would run for minutes shows as "> deadline" instead of stalling the bench. The
unions are timed on the curves as given: nothing is decimated or merged first.

Per drawing the table shows the estimate in steps, the seconds of the offsets (each curve's own
union) and of the union of all offsets, the rows and edge crossings counted on that union's real
input, the nanoseconds per estimated step, and the ratio of the estimate to the measured steps
(measured seconds / NS_PER_STEP, the rate the limit kMaxUnionWork is set by). Not a test: the
numbers depend on the machine and its load.
"""

from __future__ import annotations

import argparse
import math
import os
import random
import struct
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# the walks the refusal tests use, and the resampling of the refinement bench
sys.path.insert(0, str(ROOT / "tests" / "python"))
from bench_refine import resample as densified  # noqa: E402
from conftest import scribble  # noqa: E402

TOOL = ROOT / "build" / "bench" / "union_timing"
# The slower end of the rate kMaxUnionWork (src/core/settings.hpp) assumes for a step.
NS_PER_STEP = 4.0
# Below this a union's time is mostly fixed costs the estimate does not try to count.
MIN_SECONDS = 0.02

Curve = list[tuple[float, float]]


@dataclass
class Drawing:
    name: str
    kind: str
    curves: list[Curve]
    buffer_distance: float
    feature_size: float = 1.0
    widths: list[list[float]] | None = None

    @property
    def points(self) -> int:
        return sum(len(c) for c in self.curves)


# --- generated strokes --------------------------------------------------------------------


def straight(n: int, spacing: float, degrees: float, x0: float = 0.0, y0: float = 0.0) -> Curve:
    dx, dy = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return [(x0 + i * spacing * dx, y0 + i * spacing * dy) for i in range(n)]


def arc(n: int, spacing: float, radius: float, x0: float = 0.0, y0: float = 0.0) -> Curve:
    step = spacing / radius
    return [(x0 + radius * math.cos(i * step), y0 + radius * math.sin(i * step)) for i in range(n)]


def wave(n: int, spacing: float, amplitude: float, wavelength: float) -> Curve:
    return [(i * spacing, amplitude * math.sin(2 * math.pi * i * spacing / wavelength)) for i in range(n)]


def sketch(strokes: int, box: float, spacing: float, seed: int = 1) -> list[Curve]:
    """Lines and arcs, each traced two to four times with a wobbling, drifting pen."""
    r = random.Random(seed)
    out = []
    for _ in range(strokes):
        x, y = r.uniform(0, box), r.uniform(0, box)
        length = r.uniform(20, 80)
        heading = r.uniform(0, 2 * math.pi)
        bend = r.choice([0.0, r.uniform(-0.04, 0.04)])
        n = max(2, int(length / spacing))
        for _ in range(r.randint(2, 4)):
            drift, phase = r.uniform(-0.5, 0.5), r.uniform(0, 2 * math.pi)
            h, px, py, trace = heading, x, y, []
            for i in range(n):
                side = drift + 0.45 * math.sin(phase + i * 0.05)
                trace.append((px - side * math.sin(h), py + side * math.cos(h)))
                px += spacing * math.cos(h)
                py += spacing * math.sin(h)
                h += bend * spacing
            out.append(trace)
    return out


# --- real data ----------------------------------------------------------------------------


def fixtures() -> Path:
    import pyogrio

    return Path(pyogrio.__file__).parent / "tests" / "fixtures"


def country_outlines() -> list[Curve]:
    """Every outer ring of naturalearth_lowres, in degrees, as an open stroke."""
    import pyogrio

    frame = pyogrio.read_dataframe(fixtures() / "naturalearth_lowres" / "naturalearth_lowres.shp")
    out = []
    for geometry in frame.geometry:
        for polygon in getattr(geometry, "geoms", [geometry]):
            out.append([(float(x), float(y)) for x, y in polygon.exterior.coords])
    return out


def streets() -> list[Curve]:
    """The lines of pyogrio's OSM sample, in metres about a local origin (equirectangular)."""
    import pyogrio

    os.environ.setdefault("OSM_USE_CUSTOM_INDEXING", "NO")
    frame = pyogrio.read_dataframe(fixtures() / "sample.osm.pbf", layer="lines")
    x0, y0, _, _ = frame.geometry.total_bounds
    kx = 111_320.0 * math.cos(math.radians(y0))
    return [[((x - x0) * kx, (y - y0) * 110_574.0) for x, y in g.coords] for g in frame.geometry]


def shifted(curves: list[Curve], dx: float, dy: float) -> list[Curve]:
    return [[(x + dx, y + dy) for x, y in c] for c in curves]


# --- the corpus ---------------------------------------------------------------------------


def corpus() -> list[Drawing]:
    d: list[Drawing] = []
    # the two strokes that were refused although their unions are cheap
    flat = straight(1_000_000, 1e-4, 0.0)
    d.append(Drawing("flat 1e6 pts 1e-4 apart", "straight", [flat], 0.5))
    line = straight(100_000, 0.01, 0.0)
    d.append(Drawing("flat 1e5 pts, widths", "straight", [line], 0.5, widths=[[0.5] * len(line)]))
    for degrees in (0.0, 3.0, 30.0, 45.0, 90.0):
        for spacing, n in ((1e-3, 100_000), (0.01, 100_000), (0.1, 20_000), (1.0, 2_000)):
            for bd in (0.05, 0.5, 5.0):
                c = straight(n, spacing, degrees, 1000.0, 2000.0)
                d.append(Drawing(f"line {degrees:g} deg, step {spacing:g}, bd {bd:g}", "straight", [c], bd))
    for spacing, n in ((1e-3, 60_000), (0.01, 60_000), (0.1, 20_000)):
        c = straight(n, spacing, 30.0)
        ramp = [0.1 + 0.9 * i / (n - 1) for i in range(n)]
        d.append(Drawing(f"line 30 deg, step {spacing:g}, widths ramp", "straight", [c], 1.0, widths=[ramp]))
    for radius in (5.0, 50.0, 500.0):
        for spacing in (1e-3, 0.01, 0.1):
            n = min(100_000, int(2 * math.pi * radius / spacing))
            for bd in (0.2, 2.0):
                d.append(Drawing(f"arc r {radius:g}, step {spacing:g}, bd {bd:g}", "curved",
                                 [arc(n, spacing, radius)], bd))
    for amplitude, wavelength in ((5.0, 60.0), (0.05, 10.0), (2.0, 3.0)):
        for spacing, n in ((1e-3, 50_000), (0.01, 50_000), (0.1, 10_000)):
            for bd in (0.2, 1.0):
                d.append(Drawing(f"wave a {amplitude:g} l {wavelength:g}, step {spacing:g}, bd {bd:g}",
                                 "curved", [wave(n, spacing, amplitude, wavelength)], bd))
    # near-flat waves: every spike spans the whole band, and the periods share their rows
    for n in (2_000, 5_000, 10_000, 20_000):
        d.append(Drawing(f"flat wave {n} pts, step 0.01, bd 0.2", "curved", [wave(n, 0.01, 0.05, 10.0)], 0.2))
    c = wave(100_000, 0.01, 5.0, 628.3)
    d.append(Drawing("wave 1e5 pts, widths", "curved", [c], 0.5, widths=[[0.5] * len(c)]))
    for strokes, box, spacing in ((20, 50.0, 0.4), (200, 500.0, 0.4), (2000, 2000.0, 0.4),
                                  (200, 500.0, 0.05), (30, 50.0, 0.05)):
        curves = sketch(strokes, box, spacing)
        for bd in (0.5, 2.0):
            d.append(Drawing(f"sketch {strokes} strokes in {box:g}, step {spacing:g}, bd {bd:g}",
                             "sketch", curves, bd))
    curves = shifted(sketch(200, 500.0, 0.4), 4.5e5, 5.3e6)
    d.append(Drawing("sketch 200 strokes at (4.5e5, 5.3e6), bd 0.5", "sketch", curves, 0.5))
    for n, step, bd in ((2_000, 0.1, 0.2), (5_000, 0.1, 0.4), (20_000, 0.1, 0.4), (20_000, 0.1, 5.0),
                        (10_000, 1.0, 0.5), (50_000, 1.0, 0.5),
                        # at the union's resolution: a step of about one unit of its grid
                        (1_500, 1e-6, 2e-5), (3_000, 1e-6, 2e-5), (7_500, 1e-6, 2e-5), (3_000, 3e-6, 6e-5)):
        d.append(Drawing(f"scribble {n} pts step {step:g}, bd {bd:g}", "scribble",
                         [scribble(n, step)], bd, feature_size=min(1.0, bd)))
    outlines = country_outlines()
    for spacing in (None, 0.1, 0.01):
        curves = outlines if spacing is None else [densified(c, spacing) for c in outlines]
        for bd in (0.05, 0.5, 2.0):
            d.append(Drawing(f"countries, step {spacing or 'as read'}, bd {bd:g}", "real", curves, bd,
                             feature_size=min(1.0, bd)))
    metres = [[(x * 111_320.0, y * 110_574.0) for x, y in densified(c, 0.05)] for c in outlines]
    d.append(Drawing("countries in metres, bd 20 km", "real", metres, 20_000.0, feature_size=20_000.0))
    roads = streets()
    for spacing in (None, 1.0, 0.05):
        curves = roads if spacing is None else [densified(c, spacing) for c in roads]
        for bd in (3.0, 10.0):
            d.append(Drawing(f"streets, step {spacing or 'as read'}, bd {bd:g} m", "real", curves, bd))
    return d


# --- running ------------------------------------------------------------------------------


def write_drawing(dr: Drawing, path: Path) -> None:
    with open(path, "wb") as f:
        f.write(struct.pack("<ddQB", dr.buffer_distance, dr.feature_size, len(dr.curves),
                            dr.widths is not None))
        for i, c in enumerate(dr.curves):
            f.write(struct.pack("<Q", len(c)))
            f.write(struct.pack(f"<{2 * len(c)}d", *(v for p in c for v in p)))
            if dr.widths is not None:
                f.write(struct.pack(f"<{len(c)}d", *dr.widths[i]))


def parsed(line: str) -> dict[str, float]:
    words = line.split()
    return {k: float(v) for k, v in zip(words[::2], words[1::2])}


def measure(path: Path, timeout: float, estimate_only: bool) -> dict[str, float]:
    args = [str(TOOL), str(path)] + (["--estimate-only"] if estimate_only else [])
    try:
        done = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired as stopped:
        out = parsed((stopped.stdout or b"").decode())
        out["timeout"] = timeout
        return out
    if done.returncode != 0:
        raise RuntimeError(f"union_timing failed on {path}: {done.stderr}")
    return parsed(done.stdout)


def row(dr: Drawing, m: dict[str, float]) -> str:
    estimate = m.get("own", math.nan) + m.get("overlap", math.nan)
    head = f"{dr.name:<48} {dr.points:>9} {estimate:>10.3g}"
    if "timeout" in m:
        return f"{head} {'> %gs' % m['timeout']:>18}"
    if "own_s" not in m:
        return head
    seconds = m["own_s"] + m["union_s"]
    ns = seconds * 1e9 / estimate if estimate > 0 else math.inf
    ratio = estimate * NS_PER_STEP * 1e-9 / seconds if seconds > 0 else math.inf
    note = "" if seconds >= MIN_SECONDS else "  (fixed costs)"
    return (f"{head} {m['own_s']:>8.3f} {m['union_s']:>8.3f} {m['rows']:>9.3g} {m['crossings']:>10.3g}"
            f" {ns:>8.3g} {ratio:>7.2g}{note}")


def summary(drawings: list[Drawing], results: list[dict[str, float]]) -> None:
    by_kind: dict[str, list[float]] = {}
    slow_refused = slow_missed = 0
    for dr, m in zip(drawings, results):
        estimate = m.get("own", 0.0) + m.get("overlap", 0.0)
        if "timeout" in m:
            slow_refused += estimate > 1.5e9
            slow_missed += estimate <= 1.5e9
            continue
        if "own_s" not in m:
            continue
        seconds = m["own_s"] + m["union_s"]
        if seconds < MIN_SECONDS:
            continue
        by_kind.setdefault(dr.kind, []).append(estimate * NS_PER_STEP * 1e-9 / seconds)
    print(f"\nratio of estimate to measured steps ({NS_PER_STEP:g} ns a step), unions of at least "
          f"{MIN_SECONDS:g} s:")
    everything = []
    for kind, ratios in sorted(by_kind.items()):
        everything += ratios
        ratios.sort()
        print(f"  {kind:<10} {len(ratios):>3} drawings: min {ratios[0]:.2g}, median "
              f"{ratios[len(ratios) // 2]:.2g}, max {ratios[-1]:.2g}")
    if everything:
        inside = sum(0.1 <= r <= 10 for r in everything)
        print(f"  all        {len(everything):>3} drawings: {inside} within 10x either way")
    print(f"  past the deadline: {slow_refused} refused by the estimate, {slow_missed} not")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--timeout", type=float, default=60.0, help="seconds per drawing")
    parser.add_argument("--only", default="", help="run only drawings whose name contains this")
    parser.add_argument("--estimate-only", action="store_true", help="print the estimates, time nothing")
    args = parser.parse_args()
    if not TOOL.exists():
        sys.exit(f"build {TOOL} first (see the docstring)")
    drawings = [dr for dr in corpus() if args.only in dr.name]
    print(f"{'drawing':<48} {'points':>9} {'estimate':>10} {'own s':>8} {'union s':>8} {'rows':>9}"
          f" {'crossings':>10} {'ns/step':>8} {'ratio':>7}")
    results = []
    with tempfile.TemporaryDirectory() as tmp:
        path = Path(tmp) / "drawing.bin"
        for dr in drawings:
            write_drawing(dr, path)
            results.append(measure(path, args.timeout, args.estimate_only))
            print(row(dr, results[-1]), flush=True)
    summary(drawings, results)


if __name__ == "__main__":
    main()
