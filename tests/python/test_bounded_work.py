"""Calls whose parameters ask for minutes of work are refused at once, naming what to change;
a single call stops between stages on Ctrl-C."""
import os
import math
import subprocess
import sys
import textwrap

import pytest
from conftest import scribble

H = [[(0.0, 0.0), (0.0, 40.0)], [(30.0, 0.0), (30.0, 40.0)], [(0.0, 20.0), (30.0, 20.0)]]
TWO_LINES = [[(0.0, 0.0), (40.0, 0.0)], [(0.0, 10.0), (40.0, 10.0)]]
LONG = [(i * 0.01, math.sin(i * 0.001) * 5) for i in range(100_000)]


SCRIBBLE = scribble(20_000, 0.1)
# the same walk at a millionth of the size: a step of about one unit of the union's integer grid
FINE_SCRIBBLE = scribble(20_000, 0.1, scale=1e-5)

CASES = {
    # a buffer a millionth of the feature size: one long edge refined at the finest spacing
    "thin buffer": ("triangulate_curves", (H, 1e-6, 1.0), {}, r"increase subdivision_ratio"),
    "thin buffer, strandify": ("strandify", (H, 1e-6, 1.0), {}, r"increase subdivision_ratio"),
    # a buffer a million times the drawing: a boundary of millions of feature sizes
    "huge buffer": ("strandify", (TWO_LINES, 1e6, 1.0), {}, r"increase feature_size"),
    "huger buffer": ("triangulate_curves", (TWO_LINES, 3e6, 1.0), {}, r"increase feature_size"),
    # widths switch thinning off: one curve of 10^5 points is a union sweep of billions of steps
    "long curve with widths": (
        "strandify", ([LONG], 0.5, 1.0), {"per_curve_widths": [[0.5] * len(LONG)]},
        r"^the union of the buffers would take about \d+ million sweep steps, more than the limit "
        r"of \d+ million; reduce buffer_distance \(or the widths\), thin the curves, or split the "
        r"drawing into several calls$",
    ),
    # every segment's buffer overlaps thousands of others of the same curve: the offsetter's own
    # union of that curve runs for minutes
    "folding scribble": (
        "inflate_curves", ([SCRIBBLE], 5.0, 0.4), {},
        r"million sweep steps, more than the limit of \d+ million; reduce buffer_distance "
        r"\(or the widths\), increase feature_size, or split the drawing into several calls$",
    ),
    "folding scribble, strandify": ("strandify", ([SCRIBBLE], 5.0, 0.4), {}, r"sweep steps"),
    # a radius of 20 grid units and a step of about one: the intersections of each grid row tie
    "scribble at the union's resolution": (
        "inflate_curves", ([FINE_SCRIBBLE], 2e-5, 5e-6), {}, r"reduce buffer_distance",
    ),
    "long curve with widths, inflate": (
        "inflate_curves", ([LONG], 0.5, 1.0), {"per_curve_widths": [[0.5] * len(LONG)]},
        r"^the union of the buffers would take",
    ),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_costly_calls_are_refused_at_once(name):
    function, args, kwargs, message = CASES[name]
    # In a child with a deadline, so that a regression fails instead of stalling the suite.
    script = textwrap.dedent(
        f"""
        import math, re
        from strandify import _internal as m
        from test_bounded_work import CASES
        function, args, kwargs, message = CASES[{name!r}]
        try:
            getattr(m, function)(*args, **kwargs)
        except ValueError as exc:
            assert re.search(message, str(exc)), str(exc)
            print("refused")
        """
    )
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=60, cwd=__import__("os").path.dirname(__file__))
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "refused"


# Straight strokes of many points whose unions are cheap: a width list (even an empty one) keeps
# every point, yet the offsetter finds no turn anywhere, so no spike crowds the sweep.
STRAIGHT = {
    "a million points 1e-4 apart, an empty width list": (
        lambda: [(i * 1e-4, 0.0) for i in range(1_000_000)], lambda n: []),
    "100,000 points 0.01 apart with widths": (
        lambda: [(i * 0.01, 0.0) for i in range(100_000)], lambda n: [[0.5] * n]),
}


@pytest.mark.parametrize("name", sorted(STRAIGHT))
def test_long_straight_strokes_are_not_refused(name):
    from strandify import _internal as m

    points, widths = STRAIGHT[name]
    stroke = points()
    chains = m.strandify([stroke], 0.5, 1.0, per_curve_widths=widths(len(stroke)))[0]
    assert len(chains) == 1
    xs = [x for x, _ in chains[0]]
    assert min(xs) < 1.0 and max(xs) > stroke[-1][0] - 1.0


def test_sensible_drawings_pass_the_estimates():
    from strandify import _internal as m

    assert len(m.strandify(H, 1.0, 1.0)[0]) > 0
    assert len(m.strandify([LONG[:2000]], 0.5, 1.0, per_curve_widths=[[0.5] * 2000])[0]) > 0


INTERRUPT = textwrap.dedent(
    """
    import math, signal, time
    from strandify import _internal as m
    # many separate loops: the union is a small part of the call, the meshes the rest
    curves = [[(i * 30 + 10 * math.cos(2 * math.pi * k / 64), j * 30 + 10 * math.sin(2 * math.pi * k / 64))
               for k in range(65)] for i in range(60) for j in range(60)]
    start = time.monotonic(); expected = m.strandify(curves, 1.0, 0.5); full = time.monotonic() - start

    def interrupt(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    start = time.monotonic()
    try:
        m.strandify(curves, 1.0, 0.5)
        print("finished")
    except KeyboardInterrupt:
        print("interrupted %.2f" % ((time.monotonic() - start) / full))
    print("again", m.strandify(curves, 1.0, 0.5) == expected)
    """
)


def test_a_single_call_stops_between_stages_on_ctrl_c():
    done = subprocess.run([sys.executable, "-c", INTERRUPT], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    first, second = done.stdout.splitlines()
    assert first.startswith("interrupted ")
    # stopped after the union, well before the meshes and the graph were done
    assert float(first.split()[1]) < 0.7
    assert second == "again True"


EARLY_INTERRUPT = textwrap.dedent(
    """
    import signal, _thread
    from strandify import _internal as m
    import threading
    # Ctrl-C that arrives just as the call starts, while it asks which thread it runs on: the
    # handler runs then, and its KeyboardInterrupt must come through instead of being lost.
    original = threading.main_thread
    def main_thread():
        _thread.interrupt_main()
        return original()
    threading.main_thread = main_thread
    for call in (lambda: m.strandify([[(0.0, 0.0), (5.0, 0.0)]], 1.0, 1.0),
                 lambda: m.strandify_polygons([([(0.0, 0.0), (5.0, 0.0), (5.0, 1.0)], [])], None, 1.0)):
        try:
            call()
            print("lost")
        except KeyboardInterrupt:
            print("interrupted")
    threading.main_thread = original
    print(len(m.strandify([[(0.0, 0.0), (5.0, 0.0)]], 1.0, 1.0)[0]))
    """
)


def test_ctrl_c_at_the_start_of_a_call_is_not_lost():
    done = subprocess.run([sys.executable, "-c", EARLY_INTERRUPT], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["interrupted", "interrupted", "1"]


FORKED_INTERRUPT = textwrap.dedent(
    """
    import math, os, signal, threading, time, warnings
    from strandify import _internal as m
    warnings.simplefilter("ignore")  # forking a process with threads
    curves = [[(i * 30 + 10 * math.cos(2 * math.pi * k / 64), j * 30 + 10 * math.sin(2 * math.pi * k / 64))
               for k in range(65)] for i in range(60) for j in range(60)]
    m.strandify(curves[:1], 1.0, 0.5)  # the parent's main thread has made calls

    def interrupt(signum, frame):
        raise KeyboardInterrupt

    def fork_here():
        # Forked from another thread: in the child, this thread is the main thread, and Ctrl-C
        # during a long call must stop it there too.
        pid = os.fork()
        if pid:
            os.waitpid(pid, 0)
            return
        start = time.monotonic(); m.strandify(curves, 1.0, 0.5); full = time.monotonic() - start
        signal.signal(signal.SIGALRM, interrupt)
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        start = time.monotonic()
        try:
            m.strandify(curves, 1.0, 0.5)
        except KeyboardInterrupt:
            # raised when the call stops, or right after it has run to its end
            print("interrupted %.2f" % ((time.monotonic() - start) / full), flush=True)
        os._exit(0)

    thread = threading.Thread(target=fork_here)
    thread.start()
    thread.join()
    """
)


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_ctrl_c_stops_a_call_in_a_child_forked_from_another_thread():
    done = subprocess.run([sys.executable, "-c", FORKED_INTERRUPT], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    word, share = done.stdout.split()
    assert word == "interrupted"
    assert float(share) < 0.7  # stopped between stages, not after the whole call
