"""Sequences that misreport their length, and running out of memory while arguments are read."""
import itertools
import os
import subprocess
import sys

import pytest

from strandify import _internal as m

from conftest import line


class LyingList(list):
    """A list whose __len__ claims `length` elements, whatever it holds."""

    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return self.length


CURVES = [line(0, 0, 20, 0, n=12), line(10, -6, 10, 6, n=9)]
WIDTHS = [[1.0] * 12, [1.5] * 9]


def job(curves):
    return (curves, 1.0, 1.0) + (None,) * 8


def lie_in(where, length):
    """strandify or strandify_batch arguments with one sequence lying about its length."""
    curves = [list(c) for c in CURVES]
    widths = [list(w) for w in WIDTHS]
    if where == "curves":
        curves = LyingList(curves, length)
    elif where == "a curve":
        curves[1] = LyingList(curves[1], length)
    elif where == "width lists":
        widths = LyingList(widths, length)
    elif where == "a width list":
        widths[0] = LyingList(widths[0], length)
    elif where == "jobs":
        return m.strandify_batch, (LyingList([job(curves)] * 3, length),), {}
    elif where == "a job's curves":
        return m.strandify_batch, ([job(curves), job(LyingList(curves, length))],), {}
    return m.strandify, (curves, 1.0, 1.0), {"per_curve_widths": widths}


def honest(where):
    if where.startswith("jobs"):
        return m.strandify_batch([job(CURVES)] * 3)
    if where == "a job's curves":
        return m.strandify_batch([job(CURVES)] * 2)
    return m.strandify(CURVES, 1.0, 1.0, per_curve_widths=WIDTHS)


WHERE = ["curves", "a curve", "width lists", "a width list", "jobs", "a job's curves"]


@pytest.mark.parametrize("length", [2**62, 10**9, 2**63 - 1, 0])
@pytest.mark.parametrize("where", WHERE)
def test_a_lying_length_is_only_a_hint(where, length):
    f, args, kwargs = lie_in(where, length)
    assert f(*args, **kwargs) == honest(where)


@pytest.mark.parametrize("where", ["curves", "a curve"])
def test_lying_sequences_reach_inflate_and_triangulate(where):
    _, (curves, _, _), _ = lie_in(where, 2**62)
    assert m.inflate_curves(curves, 1.0, 1.0) == m.inflate_curves(CURVES, 1.0, 1.0)
    assert m.triangulate_curves(curves, 1.0, 1.0) == m.triangulate_curves(CURVES, 1.0, 1.0)


class Endless:
    """A sequence that iterates `count` copies of `item` at C speed and says it is empty."""

    def __init__(self, item, count):
        self.item, self.count = item, count

    def __len__(self):
        return 0

    def __getitem__(self, i):
        raise IndexError(i)

    def __iter__(self):
        return itertools.repeat(self.item, self.count)


def test_endless_sequence_is_read_in_full():
    curve = Endless((1.0, 2.0), 5000)
    polygons = m.inflate_curves([curve], 1.0, 1.0)
    assert polygons == m.inflate_curves([[(1.0, 2.0)] * 5000], 1.0, 1.0)


MEMORY_CHILD = r"""
import itertools, resource, sys
import strandify._internal as m

class Endless:
    def __init__(self, item, count): self.item, self.count = item, count
    def __len__(self): return 0
    def __getitem__(self, i): raise IndexError(i)
    def __iter__(self): return itertools.repeat(self.item, self.count)

def address_space():
    with open("/proc/self/status") as f:
        for row in f:
            if row.startswith("VmSize:"):
                return int(row.split()[1]) * 1024

limit = address_space() + (384 << 20)
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
where = sys.argv[1]
huge = Endless((0.0, 0.0), 10**9)  # 16 GB of points, far beyond the limit
try:
    if where == "curve":
        m.strandify([huge], 1.0, 1.0)
    elif where == "widths":
        m.strandify([[(0.0, 0.0)]], 1.0, 1.0, per_curve_widths=[Endless(1.0, 10**9)])
    else:
        m.strandify_batch([([huge], 1.0, 1.0) + (None,) * 8])
except MemoryError:
    print("MemoryError")
print(m.strandify([[(0.0, 0.0), (30.0, 0.0)]], 1.0, 1.0)[0] != [])
"""


# AddressSanitizer aborts on a failed operator new instead of throwing, and reserves its shadow
# memory up front: memory exhaustion can only be tested in a plain build.
@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="needs a plain build")
@pytest.mark.parametrize("where", ["curve", "widths", "batch"])
def test_running_out_of_memory_while_reading_raises_memory_error(where):
    r = subprocess.run([sys.executable, "-c", MEMORY_CHILD, where], capture_output=True,
                       text=True, timeout=120, env=dict(os.environ, RAYON_NUM_THREADS="1"))
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == ["MemoryError", "True"]
