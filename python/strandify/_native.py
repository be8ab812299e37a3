"""Every call of the package into the native module, and the one place where its refusals
become the package's exception classes (:mod:`strandify.errors`).

The functions take the same arguments as the native ones of the same name; their tuning is one
:class:`strandify.options.NativeOptions` value.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any, TypeVar

from . import _internal
from .errors import from_native

F = TypeVar("F", bound=Callable[..., Any])


def _typed(function: F) -> F:
    def call(*args: Any) -> Any:
        try:
            return function(*args)
        except ValueError as error:
            raise from_native(error) from None

    # named as this module's own function, so that pickle (a Dask task) finds it here
    call.__name__ = call.__qualname__ = function.__name__
    call.__module__ = __name__
    call.__doc__ = function.__doc__
    return call  # type: ignore[return-value]


strandify_strokes = _typed(_internal.strandify_strokes)
strandify_strokes_arrays = _typed(_internal.strandify_strokes_arrays)
strandify_strokes_batch = _typed(_internal.strandify_strokes_batch)
strandify_strokes_arrays_batch = _typed(_internal.strandify_strokes_arrays_batch)
strandify_polygons = _typed(_internal.strandify_polygons)
strandify_polygons_arrays = _typed(_internal.strandify_polygons_arrays)
strandify_polygons_batch = _typed(_internal.strandify_polygons_batch)
plan_tiles = _typed(_internal.plan_tiles)
run_tile = _typed(_internal.run_tile)
stitch_tiles = _typed(_internal.stitch_tiles)
resolved_settings = _typed(_internal.resolved_settings)
