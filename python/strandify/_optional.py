"""Lazy access to the optional libraries behind the converters and the CLI."""

from __future__ import annotations

import importlib
from types import ModuleType


def require(module: str, feature: str, extra: str, distribution: str | None = None) -> ModuleType:
    """Import ``module`` or explain which extra brings it in.

    The optional libraries are imported only when a feature needs them, so that
    ``import strandify`` stays cheap and works with NumPy alone.
    """
    try:
        return importlib.import_module(module)
    except ImportError as exc:
        name = distribution or module.partition(".")[0]
        raise ImportError(f"{feature} needs {name}: pip install 'strandify[{extra}]'") from exc
