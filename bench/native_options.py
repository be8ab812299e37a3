"""The `options` value of the native calls beyond the exact four (strandify_strokes and the
rest), for the benchmarks: ``native_options(partition="components", workers=2)``."""

from types import SimpleNamespace

# Every field the native side reads, at its default (workers None: one thread).
DEFAULTS = dict.fromkeys(
    "simplification min_tip_fraction junction_merge_fraction subdivision_ratio resample boundary_simplification"
    " merge_tolerance tile_size max_nodes workers refine_steps".split()
) | {"compute_widths": False, "partition": "none"}


def native_options(**changes: object) -> SimpleNamespace:
    """Every field at its default but for `changes`; naming an unknown field is an error."""
    assert changes.keys() <= DEFAULTS.keys(), f"unknown options {sorted(changes.keys() - DEFAULTS.keys())}"
    return SimpleNamespace(**(DEFAULTS | changes))
