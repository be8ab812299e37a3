"""strandify_batch: conversion, ordering, failures, the shared worker pool, process hygiene."""
import multiprocessing as mp
import os
import subprocess
import sys
import threading

import pytest

from strandify import _internal as m

from conftest import circle, line


def drawing(k):
    """A small drawing that differs from job to job."""
    s = 1.0 + 0.1 * (k % 7)
    return [line(0, 0, 20 * s, 3), line(10, -8, 12, 9 * s), circle(40, 0, 5 + k % 3)]


def job(curves, fs=1.0, **kw):
    keys = ["simplification", "min_tip_fraction", "junction_merge_fraction", "max_nodes",
            "subdivision_ratio", "resample", "boundary_simplification", "merge_tolerance"]
    return (curves, 1.0, fs) + tuple(kw.get(k) for k in keys)


def single(curves, fs=1.0, **kw):
    return m.strandify(curves, 1.0, fs, **kw)[:3]


def test_results_match_strandify_in_job_order():
    jobs = [job(drawing(k)) for k in range(24)]
    out = m.strandify_batch(jobs)
    assert isinstance(out, list) and len(out) == len(jobs)
    for k, r in enumerate(out):
        assert type(r) is tuple and len(r) == 3
        assert r == single(drawing(k))


def test_job_options_are_taken_by_position():
    c = drawing(3)
    opts = dict(simplification=0.0, min_tip_fraction=0.0, junction_merge_fraction=0.0,
                subdivision_ratio=0.2, resample=0.7, boundary_simplification=0.0, merge_tolerance=0.0)
    assert m.strandify_batch([job(c, **opts)]) == [single(c, **opts)]
    assert m.strandify_batch([job(c, max_nodes=10**9)]) == [single(c)]


def test_identical_jobs_identical_results():
    out = m.strandify_batch([job(drawing(1))] * 9)
    assert all(r == out[0] for r in out)


@pytest.mark.parametrize(
    "jobs",
    [
        [list(job(drawing(0)))],
        [job(drawing(0))[:10]],
        [job(drawing(0)) + (None,)],
        "jobs",
        [job("abc")],
        [job(drawing(0))[:2] + ("x",) + job(drawing(0))[3:]],
        [job(drawing(0)), job(drawing(0))[:6] + (1.5,) + job(drawing(0))[7:]],
    ],
)
def test_bad_jobs_raise_prefixed_type_error(jobs):
    with pytest.raises(TypeError, match=r"^argument 'jobs': "):
        m.strandify_batch(jobs)


def test_job_tuple_length_named():
    with pytest.raises(TypeError, match="length 11.*length 10"):
        m.strandify_batch([job(drawing(0))[:10]])


def test_negative_max_nodes_overflows():
    with pytest.raises(OverflowError):
        m.strandify_batch([job(drawing(0), max_nodes=-1)])


def test_feature_size_checked_for_all_jobs_first():
    with pytest.raises(ValueError) as err:
        m.strandify_batch([job(drawing(0)), job(drawing(0), fs=0.0)])
    assert str(err.value) == "feature_size must be a positive finite number, got 0"


def test_failing_job_reports_its_position():
    jobs = [job(drawing(k)) for k in range(6)]
    jobs[4] = job(drawing(4), max_nodes=1)
    with pytest.raises(ValueError) as err:
        m.strandify_batch(jobs)
    msg = str(err.value)
    assert msg.startswith("strandify_batch job 4 failed: skeleton has ")
    assert msg.endswith(" nodes, exceeding max_nodes limit of 1")
    # the position and the reason travel as attributes, so nobody has to parse the text
    assert type(err.value) is ValueError
    assert err.value.job_index == 4
    assert msg == f"strandify_batch job 4 failed: {err.value.reason}"
    assert err.value.reason.startswith("skeleton has ")


def test_a_single_call_failure_has_no_job_index():
    with pytest.raises(ValueError) as err:
        m.strandify(drawing(0), 1.0, 1.0, max_nodes=1)
    assert not hasattr(err.value, "job_index")


def test_one_failure_reported_when_many_fail():
    jobs = [job(drawing(k), max_nodes=0) for k in range(40)]
    with pytest.raises(ValueError, match=r"^strandify_batch job \d+ failed: skeleton has \d+ nodes"):
        m.strandify_batch(jobs)


def test_concurrent_batches_from_python_threads():
    expected = {k: single(drawing(k)) for k in range(8)}
    errors = []

    def worker(seed):
        try:
            for rep in range(5):
                ks = [(seed * 3 + rep + i) % 8 for i in range(12)]
                out = m.strandify_batch([job(drawing(k)) for k in ks])
                if out != [expected[k] for k in ks]:
                    errors.append((seed, rep))
        except Exception as exc:  # pragma: no cover - reported below
            errors.append(exc)

    threads = [threading.Thread(target=worker, args=(s,)) for s in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


def run_python(code, env=None):
    e = dict(os.environ)
    e.update(env or {})
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, env=e)


THREADS = "len(os.listdir('/proc/self/task'))"


def test_import_starts_no_thread():
    # The package imports NumPy, whose BLAS may start threads of its own: count around the
    # native module's import alone.
    code = (
        "import os, sys, numpy\n"
        f"before = {THREADS}\n"
        "import strandify._internal\n"
        f"print({THREADS} - before)\n"
    )
    assert run_python(code).stdout.strip() == "0"


@pytest.mark.parametrize(
    "env, expected",
    [
        ({"RAYON_NUM_THREADS": "3"}, 3),
        ({"RAYON_NUM_THREADS": "+2"}, 2),
        ({"RAYON_NUM_THREADS": "x", "RAYON_RS_NUM_CPUS": "5"}, 5),
        ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "5"}, None),
        ({"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": "0"}, None),
    ],
)
def test_pool_size_from_environment(env, expected):
    code = (
        "import os, strandify._internal as m\n"
        f"before = {THREADS}\n"
        "m.strandify_batch([([[(0.0, 0.0), (5.0, 0.0)]], 1.0, 1.0) + (None,) * 8])\n"
        f"print({THREADS} - before)\n"
    )
    base = {"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": ""}
    base.update(env)
    workers = int(run_python(code, base).stdout.strip())
    if expected is None:
        expected = len(os.sched_getaffinity(0))
        assert 1 <= workers <= expected  # a cgroup quota may lower it
    else:
        assert workers == expected


def test_exit_after_batch_is_clean():
    code = (
        "import strandify._internal as m\n"
        "m.strandify_batch([([[(0.0, 0.0), (5.0, 0.0)]], 1.0, 1.0) + (None,) * 8] * 50)\n"
        "print('done')\n"
    )
    r = run_python(code)
    assert r.returncode == 0 and r.stdout.strip() == "done"


def _child_batch(q):
    q.put(m.strandify_batch([job(drawing(2))])[0] == single(drawing(2)))


@pytest.mark.filterwarnings("ignore::DeprecationWarning")
def test_forked_child_can_run_batches():
    m.strandify_batch([job(drawing(1))])  # the parent's pool exists now
    ctx = mp.get_context("fork")
    q = ctx.Queue()
    p = ctx.Process(target=_child_batch, args=(q,))
    p.start()
    p.join(60)
    if p.is_alive():  # a child waiting on its parent's vanished workers would hang forever
        p.kill()
        p.join()
    assert p.exitcode == 0
    assert q.get(timeout=5) is True
