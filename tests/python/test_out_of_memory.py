"""Running out of memory is an error from every entry point, never an empty result."""
import os
import subprocess
import sys
import textwrap

import pytest

# AddressSanitizer reserves terabytes of address space up front, so an address-space limit
# cannot be set under it.
pytestmark = pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""), reason="address-space limits need a plain build"
)

SCRIPT = textwrap.dedent(
    """
    import resource
    from strandify import _internal as m

    def address_space():
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmSize"):
                    return int(line.split()[1]) * 1024

    # Warm the batch pool first: its threads are created once, with their stacks.
    m.strandify_batch([([[(0.0, 0.0), (1.0, 0.0)]], 1.0, 1.0) + (None,) * 8])
    limit = address_space() + 150 * 2**20
    resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
    # A thousand units of stroke at feature_size 0.002: millions of boundary points.
    curves = [[(0.0, 0.0), (1000.0, 0.0)]]
    calls = {
        "strandify": lambda: m.strandify(curves, 1.0, 0.002),
        "strandify_batch": lambda: m.strandify_batch([(curves, 1.0, 0.002) + (None,) * 8]),
        "triangulate_curves": lambda: m.triangulate_curves(curves, 1.0, 0.002),
    }
    for name, call in calls.items():
        try:
            result = call()
        except MemoryError:
            print(name, "MemoryError")
        else:
            print(name, "returned", repr(result)[:60])
    # The module keeps working once memory is available again.
    resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    print("after", len(m.strandify(curves, 1.0, 1.0)[0]))
    """
)


def test_memory_exhaustion_raises_memory_error_everywhere():
    done = subprocess.run([sys.executable, "-c", SCRIPT], capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines == [
        "strandify MemoryError",
        "strandify_batch MemoryError",
        "triangulate_curves MemoryError",
        "after 1",
    ]


CLI_SCRIPT = textwrap.dedent(
    """
    import json, resource, sys
    from strandify import _internal
    from strandify.cli import main

    _internal.strandify_batch([([[(0.0, 0.0), (1.0, 0.0)]], 1.0, 1.0) + (None,) * 8])
    with open(sys.argv[1], "w") as f:
        json.dump([[[0.0, 0.0], [1000.0, 0.0]]], f)
    with open("/proc/self/status") as f:
        size = next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmSize"))
    resource.setrlimit(resource.RLIMIT_AS, (size + 150 * 2**20, resource.RLIM_INFINITY))
    sys.exit(main([sys.argv[1], "-o", sys.argv[2], "-d", "1", "-f", "0.002", "--partition", "none"]))
    """
)


def test_the_command_line_reports_memory_exhaustion_in_one_line(tmp_path):
    done = subprocess.run(
        [sys.executable, "-c", CLI_SCRIPT, str(tmp_path / "in.json"), str(tmp_path / "out.json")],
        capture_output=True, text=True, timeout=600,
    )
    assert done.returncode == 1, done.stderr
    assert done.stderr.splitlines() == ["strandify: error: out of memory; a larger -f/--feature-size needs less"]
    assert not (tmp_path / "out.json").exists()
