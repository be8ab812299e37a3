"""A bounded run of the native fuzzer (tests/fuzz/fuzz_native.py): hostile values and objects
through the native functions (the four exact ones and those taking an options value), in child
processes, must never crash, hang, raise an exception type outside ValueError / TypeError /
OverflowError / MemoryError (or the hostile argument's own), or return a malformed result."""
import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "fuzz"))

import fuzz_native  # noqa: E402


@pytest.mark.parametrize("seed", [11, 12])
def test_fuzz_smoke(seed):
    # The safe profile keeps clear of inputs that are merely slow, so the generous per-case
    # timeout only trips on a real hang.
    report = fuzz_native.fuzz(seed=seed, count=500, jobs=2, timeout=60.0, memory_mb=2048,
                              profile="safe")
    assert report.ran == 500
    assert report.faults == [], report.findings("fuzz_native.py", " --profile safe")
    assert report.counts.get("ok", 0) > 150  # most cases reach the pipeline


@pytest.mark.parametrize("index", range(20))
def test_cases_are_reproducible(index):
    a = fuzz_native.make_case(5, index, "full").describe(limit=10**9)
    b = fuzz_native.make_case(5, index, "full").describe(limit=10**9)
    strip = lambda s: __import__("re").sub(r" at 0x[0-9a-f]+", "", s)  # generator objects
    assert strip(a) == strip(b)
