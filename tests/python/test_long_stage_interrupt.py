"""Ctrl-C within about a second while one long stage runs (a union, one big triangulation),
the module working afterwards, and the same results whether a long stage ran on a thread of its
own (a call from the main thread, which can be interrupted) or not (a call from another
thread)."""
import subprocess
import sys
import textwrap
import threading

import pytest
from conftest import native_options, scribble

from strandify import _internal as m


# A straight stroke at a feature size ten-thousandths of its length: one polygon of about a
# million boundary points, whose conditioning and triangulation are long.
LINE = [[(0.0, 0.0), (100.0, 0.0)]]

POLYGON = [([(0.0, 0.0), (100.0, 0.0), (100.0, 2.0), (0.0, 2.0)], [])]

# Each takes several seconds on one core; the child interrupts it after 0.3 s.
LONG_CALLS = {
    "union, strandify": lambda: m.strandify([scribble(5000)], 3.0, 0.4),
    "union, inflate_curves": lambda: m.inflate_curves([scribble(5000)], 3.0, 0.4),
    "union, batch": lambda: m.strandify_batch([([scribble(5000)], 3.0, 0.4) + (None,) * 8]),
    "triangulation, strandify": lambda: m.strandify(LINE, 1.0, 1.3e-4),
    "triangulation, triangulate_curves": lambda: m.triangulate_curves(LINE, 1.0, 1.3e-4),
    "triangulation, polygons": lambda: m.strandify_polygons(POLYGON, None, 1.3e-4),
    "triangulation, tiles": lambda: m.strandify_strokes(LINE, 1.0, 1.3e-4, native_options(partition="tiles")),
}

CHILD = textwrap.dedent(
    """
    import signal, sys, time
    from strandify import _internal as m
    from test_long_stage_interrupt import LONG_CALLS
    H = [[(0.0, 0.0), (0.0, 40.0)], [(30.0, 0.0), (30.0, 40.0)], [(0.0, 20.0), (30.0, 20.0)]]
    before = m.strandify(H, 1.0, 1.0), m.inflate_curves(H, 1.0, 1.0)
    call = LONG_CALLS[sys.argv[1]]
    # A real signal from the kernel, handled as Ctrl-C's is: inflate_curves and
    # triangulate_curves keep the interpreter lock, so no Python thread could interrupt them.
    signal.signal(signal.SIGALRM, signal.default_int_handler)
    start = time.monotonic()
    signal.setitimer(signal.ITIMER_REAL, 0.3)
    try:
        call()
        print("finished", time.monotonic() - start)
    except KeyboardInterrupt:
        print("interrupted", time.monotonic() - start)
    after = m.strandify(H, 1.0, 1.0), m.inflate_curves(H, 1.0, 1.0)
    print("same" if after == before else "different")
    """
)


@pytest.mark.parametrize("name", sorted(LONG_CALLS))
def test_ctrl_c_arrives_within_a_second_of_a_long_stage(name):
    done = subprocess.run([sys.executable, "-c", CHILD, name], capture_output=True,
                          text=True, timeout=300, cwd=__import__("os").path.dirname(__file__))
    assert done.returncode == 0, done.stderr
    first, second = done.stdout.splitlines()
    outcome, seconds = first.split()
    assert outcome == "interrupted", first
    # 0.3 s until the interrupt, then at most about a second
    assert float(seconds) < 1.5, first
    assert second == "same"


def on_other_thread(call):
    """The call made from a thread that handles no signals: every stage runs right there."""
    out = {}

    def run():
        out["result"] = call()

    t = threading.Thread(target=run)
    t.start()
    t.join()
    return out["result"]


MEDIUM = [scribble(1500)]
MEDIUM_CALLS = {
    "strandify": lambda: m.strandify(MEDIUM, 1.5, 0.4, compute_widths=True),
    "strandify, components": lambda: m.strandify_strokes(
        MEDIUM + LINE, 1.5, 0.4, native_options(partition="components")),
    "strandify, tiles": lambda: m.strandify_strokes(MEDIUM, 1.5, 0.4, native_options(partition="tiles")),
    "inflate_curves": lambda: m.inflate_curves(MEDIUM, 1.5, 0.4),
    "triangulate_curves": lambda: m.triangulate_curves(LINE, 1.0, 2e-3),
    "strandify_batch": lambda: m.strandify_batch([(LINE, 1.0, 2e-3) + (None,) * 8] * 2),
    "strandify_polygons": lambda: m.strandify_polygons(POLYGON, None, 2e-3),
}


@pytest.mark.parametrize("name", sorted(MEDIUM_CALLS))
def test_a_long_stage_on_its_own_thread_gives_the_same_result(name):
    call = MEDIUM_CALLS[name]
    here = call()
    assert here == on_other_thread(call)
    assert len(here) > 0
