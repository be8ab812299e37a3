"""A signal stops a running strandify_batch (or the arrays batch, which shares its runner) at
the next job, and the module keeps working."""
import os
import signal
import subprocess
import sys
import time

import pytest

# The child sizes its batch to run for at least half a minute on the pool, then reports when
# the handler's exception reached it (system-wide monotonic clock) and checks that a following
# batch still gives the same results as single calls.
CHILD = r"""
import math, os, signal, sys, time
import strandify._internal as m

def circle(cx, cy, r, n=400):
    return [(cx + r * math.cos(2 * math.pi * i / n), cy + r * math.sin(2 * math.pi * i / n))
            for i in range(n + 1)]

def drawing(k):
    return ([[(0.0, 0.0), (200.0, 30.0 + k)], [(10.0, -80.0), (12.0, 90.0)]]
            + [circle(60 + 25 * j, 0, 10 + k % 3) for j in range(4)])

def job(k, fs):
    return (drawing(k), 1.0, fs) + (None,) * 8

fs = 0.15
seconds = math.inf
for _ in range(3):
    t = time.perf_counter()
    m.strandify(drawing(0), 1.0, fs)
    seconds = min(seconds, time.perf_counter() - t)
count = int(30 * len(os.sched_getaffinity(0)) / seconds) + 1
jobs = [job(0, fs)] * count

class Alarm(Exception):
    pass

def on_alarm(signum, frame):
    raise Alarm()

if sys.argv[1] == "alarm":
    signal.signal(signal.SIGALRM, on_alarm)
    delivered = time.monotonic() + 0.5
    signal.setitimer(signal.ITIMER_REAL, 0.5)
def run(jobs):
    # the arrays batch takes (curves, buffer_distance, feature_size) and every tuning in options
    if sys.argv[2] == "arrays":
        return m.strandify_strokes_arrays_batch([j[:3] for j in jobs])
    return m.strandify_batch(jobs)

def single(j):
    if sys.argv[2] == "arrays":
        return m.strandify_strokes_arrays(j[0], 1.0, 0.5)
    return m.strandify(j[0], 1.0, 0.5)[:3]

print("ready", flush=True)
try:
    run(jobs)
    print("not interrupted", flush=True)
except (KeyboardInterrupt, Alarm) as e:
    print(type(e).__name__, time.monotonic(), flush=True)
if sys.argv[1] == "alarm":
    print("delivered", delivered, flush=True)
again = [job(k, 0.5) for k in range(6)]
same = run(again) == [single(j) for j in again]
print("same" if same else "different", flush=True)
"""


@pytest.mark.parametrize("batch", ["exact", "arrays"])
@pytest.mark.parametrize("how, raised", [("sigint", "KeyboardInterrupt"), ("alarm", "Alarm")])
def test_signal_stops_batch_and_module_keeps_working(how, raised, batch):
    p = subprocess.Popen([sys.executable, "-c", CHILD, how, batch], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline().strip() == "ready"
        if how == "sigint":
            time.sleep(0.5)
            delivered = time.monotonic()
            p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=180)
    finally:
        if p.poll() is None:
            p.kill()
            p.communicate()
    assert p.returncode == 0, err
    rows = [row.split() for row in out.splitlines()]
    assert rows[0][0] == raised
    if how == "alarm":
        assert rows[1][0] == "delivered"
        delivered = float(rows[1][1])
    # Not a benchmark: an uninterruptible batch would take half a minute here.
    assert float(rows[0][1]) - delivered < 5.0
    assert rows[-1] == ["same"]
