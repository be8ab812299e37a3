"""Throughput of the strandify extension module, seen from Python.

Three measurements, each the best of several repeats so that other work on the machine
disturbs them as little as possible:

1. one large sketch (about 200 wobbly, overlapping strokes) through ``strandify``: input
   points per second;
2. a batch of small sketches through ``strandify_batch`` against the same jobs one after
   another through ``strandify``: the speed-up of the parallel batch;
3. many tiny jobs (one 2-point curve each): what a batch costs per job against a plain call.

This is a benchmark, not a test: it prints numbers and fails only if the batch and the single
calls disagree. Run ``python bench/bench_strandify.py [--quick] [--repeats N]``.
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import time
from collections.abc import Callable
from typing import TypeVar

from strandify import _internal

T = TypeVar("T")
Curve = list[tuple[float, float]]
# curves, buffer_distance, feature_size, then the eight optional knobs left at their defaults
Job = tuple[list[Curve], float, float, None, None, None, None, None, None, None, None]
Result = tuple[list[Curve], list[tuple[float, float]], list[tuple[int, int]]]

BUFFER_DISTANCE = 2.0
FEATURE_SIZE = 1.0
BATCH_SPEEDUP_TARGET = 1.8
MASK64 = (1 << 64) - 1


class SplitMix64:
    """The generator of bench/stage_bench.cpp, so both benchmarks draw the same sketch."""

    def __init__(self, seed: int) -> None:
        self.state = seed & MASK64

    def next(self) -> int:
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK64
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        return z ^ (z >> 31)

    def uniform(self, lo: float = 0.0, hi: float = 1.0) -> float:
        u = (self.next() >> 11) * 2.0**-53
        return lo + (hi - lo) * u

    def between(self, lo: int, hi: int) -> int:
        return lo + self.next() % (hi - lo + 1)


def wobbly_stroke(rng: SplitMix64, points: int, box: float) -> Curve:
    """A walk whose turning rate swings slowly, with heading noise and jittered samples."""
    x = rng.uniform(0.05, 0.95) * box
    y = rng.uniform(0.05, 0.95) * box
    heading = rng.uniform(0.0, 2.0 * math.pi)
    step = rng.uniform(1.0, 2.5)
    amplitude = rng.uniform(0.01, 0.05)
    frequency = rng.uniform(0.02, 0.12)
    phase = rng.uniform(0.0, 2.0 * math.pi)
    curve: Curve = []
    for i in range(points):
        jx = rng.uniform(-0.1, 0.1)
        jy = rng.uniform(-0.1, 0.1)
        curve.append((x + jx, y + jy))
        heading += amplitude * math.sin(frequency * float(i) + phase) + rng.uniform(-0.05, 0.05)
        x += step * math.cos(heading)
        y += step * math.sin(heading)
        # Mirror the heading at the walls so the stroke stays in the box.
        if x < 0.0 or x > box:
            heading = math.pi - heading
            x = min(max(x, 0.0), box)
        if y < 0.0 or y > box:
            heading = -heading
            y = min(max(y, 0.0), box)
    return curve


def retraced_stroke(rng: SplitMix64, earlier: Curve, points: int) -> Curve:
    """A stretch of an earlier stroke drawn over again, shifted by about a buffer radius."""
    points = min(points, len(earlier))
    first = rng.between(0, len(earlier) - points)
    dx = rng.uniform(-1.5, 1.5)
    dy = rng.uniform(-1.5, 1.5)
    curve: Curve = []
    for px, py in earlier[first:first + points]:
        jx = rng.uniform(-0.3, 0.3)
        jy = rng.uniform(-0.3, 0.3)
        curve.append((px + dx + jx, py + dy + jy))
    return curve


def synthetic_drawing(strokes: int = 200, *, min_points: int = 50, max_points: int = 500,
                      box: float = 1000.0, seed: int = 1) -> list[Curve]:
    rng = SplitMix64(seed)
    curves: list[Curve] = []
    for _ in range(strokes):
        points = rng.between(min_points, max_points)
        if curves and rng.uniform() < 0.25:
            earlier = curves[rng.between(0, len(curves) - 1)]
            curves.append(retraced_stroke(rng, earlier, points))
        else:
            curves.append(wobbly_stroke(rng, points, box))
    return curves


def point_count(curves: list[Curve]) -> int:
    return sum(len(c) for c in curves)


def best_of(repeats: int, fn: Callable[[], T]) -> tuple[float, T]:
    best, _, result = timed(fn)
    for _ in range(repeats - 1):
        best = min(best, timed(fn)[0])
    return best, result


def job(curves: list[Curve]) -> Job:
    return (curves, BUFFER_DISTANCE, FEATURE_SIZE, None, None, None, None, None, None, None, None)


def run_one_by_one(jobs: list[Job]) -> list[Result]:
    return [_internal.strandify(j[0], j[1], j[2])[:3] for j in jobs]


def timed(fn: Callable[[], T]) -> tuple[float, float, T]:
    """Wall time and process CPU time (all threads) of one call."""
    cpu = time.process_time()
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, time.process_time() - cpu, result


class BatchTimes:
    def __init__(self) -> None:
        self.single = math.inf
        self.batch = math.inf
        self.batch_cpu = math.nan  # CPU seconds of the fastest batch run

    def cores_used(self) -> float:
        return self.batch_cpu / self.batch


def compare_batch(jobs: list[Job], repeats: int) -> BatchTimes:
    """Best times of the jobs one by one and as one batch, measured in alternation so that a
    change of load on the machine hits both alike."""
    times = BatchTimes()
    for _ in range(repeats):
        t_single, _, one_by_one = timed(lambda: run_one_by_one(jobs))
        t_batch, cpu_batch, batch = timed(lambda: _internal.strandify_batch(jobs))
        if batch != one_by_one:
            sys.exit("strandify_batch and strandify disagree")
        times.single = min(times.single, t_single)
        if t_batch < times.batch:
            times.batch, times.batch_cpu = t_batch, cpu_batch
    return times


def bench_single(strokes: int, repeats: int) -> None:
    curves = synthetic_drawing(strokes)
    n = point_count(curves)
    t, result = best_of(repeats, lambda: _internal.strandify(curves, BUFFER_DISTANCE, FEATURE_SIZE))
    chains = result[0]
    print(f"single drawing: {len(curves)} strokes, {n} points -> {len(chains)} chains, "
          f"{point_count(chains)} points")
    print(f"  strandify          {1e3 * t:9.1f} ms   {n / t:10.0f} input points/s")


def bench_batch(drawings: int, strokes: int, repeats: int) -> None:
    # The small sketches keep the stroke density of the large one.
    box = 1000.0 * math.sqrt(strokes / 200.0)
    jobs = [job(synthetic_drawing(strokes, box=box, seed=1000 + k)) for k in range(drawings)]
    n = sum(point_count(j[0]) for j in jobs)
    _internal.strandify_batch(jobs[:4])  # creates the worker pool outside the timing
    times = compare_batch(jobs, repeats)
    ratio = times.single / times.batch
    verdict = "meets" if ratio >= BATCH_SPEEDUP_TARGET else "below"
    print(f"batch: {drawings} drawings of {strokes} strokes, {n} points in all")
    print(f"  strandify one by one {1e3 * times.single:9.1f} ms   "
          f"{n / times.single:10.0f} input points/s")
    print(f"  strandify_batch      {1e3 * times.batch:9.1f} ms   "
          f"{n / times.batch:10.0f} input points/s   ({times.cores_used():.2f} cores busy)")
    print(f"  speed-up             {ratio:9.2f}x  ({verdict} the {BATCH_SPEEDUP_TARGET}x target "
          f"on {cpu_count()} CPUs)")
    # Fewer cores busy than CPUs means the machine was shared with other work during the run.
    print(f"  load average         {os.getloadavg()[0]:9.2f}")


def bench_tiny(count: int, repeats: int) -> None:
    jobs = [job([[(0.0, 0.0), (float(k % 7 + 1), 0.0)]]) for k in range(count)]
    times = compare_batch(jobs, repeats)
    per_call = times.single / count
    per_job = times.batch / count
    print(f"tiny jobs: {count} jobs of one 2-point curve")
    print(f"  strandify per call   {1e6 * per_call:9.2f} us")
    print(f"  batch per job        {1e6 * per_job:9.2f} us   ({per_job / per_call:.2f}x a call, "
          f"{1e6 * (per_job - per_call):+.2f} us, {times.cores_used():.2f} cores busy)")


def cpu_count() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true",
                        help="smaller inputs and fewer repeats, for a check that it runs")
    parser.add_argument("--repeats", type=int, default=None,
                        help="repeats of every measurement (best one counts); more help on a "
                             "busy machine")
    args = parser.parse_args(argv)
    if args.repeats is not None and args.repeats < 1:
        parser.error("--repeats must be at least 1")

    def repeats(default: int) -> int:
        return args.repeats if args.repeats is not None else default

    if args.quick:
        bench_single(strokes=50, repeats=repeats(2))
        bench_batch(drawings=24, strokes=20, repeats=repeats(1))
        bench_tiny(count=500, repeats=repeats(2))
    else:
        bench_single(strokes=200, repeats=repeats(5))
        bench_batch(drawings=200, strokes=20, repeats=repeats(3))
        bench_tiny(count=2000, repeats=repeats(7))

if __name__ == "__main__":
    main()
