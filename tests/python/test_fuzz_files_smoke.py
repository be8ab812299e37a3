"""A bounded run of the file fuzzer (tests/fuzz/fuzz_files.py): real files, mutated, through every
reader and the command line, in child processes, must end in a drawing or a DrawingError, or in
the command line's output or its one error line; never in a traceback, a hang or a crash."""
import hashlib
import os
import subprocess
import sys

import fuzz_files
import pytest


def test_fuzz_files_smoke(real_files):
    directory, corpus = real_files
    if not corpus:
        pytest.skip("no corpus packages installed")
    # the timeout is generous so that it trips only on a real hang on a busy machine
    report = fuzz_files.fuzz(directory, seed=11, count=200, jobs=2, timeout=60.0)
    assert report.ran == 200
    assert report.faults == [], report.findings("fuzz_files.py")
    # both ways in are reached, with files the mutations broke and files they left readable
    for outcome in ("read", "refused", "cli-ok", "cli-error"):
        assert report.counts.get(outcome, 0) > 0, report.summary()


def digests(corpus, seed, count):
    return [hashlib.sha256(fuzz_files.make_case(corpus, seed, i).describe().encode()
                           + fuzz_files.make_case(corpus, seed, i).data).hexdigest() for i in range(count)]


def test_cases_follow_from_seed_and_index_alone(real_files):
    # a replay runs in another process, where sets and dicts of strings hash differently
    directory, corpus = real_files
    if not corpus:
        pytest.skip("no corpus packages installed")
    script = (f"import file_corpus, test_fuzz_files_smoke as t; "
              f"print(t.digests(file_corpus.at({str(directory)!r}), 5, 30))")
    env = {**os.environ, "PYTHONHASHSEED": "12345", "PYTHONPATH": os.pathsep.join(sys.path)}
    other = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env, check=True)
    assert other.stdout.strip() == str(digests(corpus, 5, 30))
