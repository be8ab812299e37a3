"""Lazy access to the optional libraries behind the converters and the CLI."""

from __future__ import annotations

import importlib
import sys
from types import ModuleType


def require(module: str, feature: str, extra: str, distribution: str | None = None) -> ModuleType:
    """Import ``module`` or explain which extra brings it in.

    The optional libraries are imported only when a feature needs them, so that
    ``import strandify`` stays cheap and works with NumPy alone.
    """
    loaded = sys.modules.get(module)  # asked on every conversion: skip the import machinery
    if loaded is not None:
        return loaded
    try:
        return importlib.import_module(module)
    except ImportError as exc:
        name = distribution or module.partition(".")[0]
        raise ImportError(f"{feature} needs {name}: pip install 'strandify[{extra}]'") from exc
