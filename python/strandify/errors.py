"""Every exception and warning strandify raises, in one module to import them from.

The package re-exports the ones its functions raise (``strandify.BatchJobError``,
``strandify.LostStrokesWarning``, ``strandify.GeographicCrsWarning``); the file
readers' and the command line's own errors live here too.
"""

from __future__ import annotations


class StrandifyError(ValueError):
    """The pipeline refused a drawing; ``reason`` is the message, ``kind`` the failure's name.

    A ValueError, as the native functions raise every refusal, so that ``except ValueError``
    keeps working; the subclasses below tell the kinds apart without reading the text.
    """

    kind = "unknown"

    def __init__(self, reason: str) -> None:
        super().__init__(reason)
        self.reason = reason


class FeatureSizeError(StrandifyError):
    """``feature_size`` is not a positive finite number."""

    kind = "invalid_feature_size"


class WidthListError(StrandifyError):
    """``per_curve_widths`` does not match the curves."""

    kind = "width_lists"


class NodeLimitError(StrandifyError):
    """The skeleton has more nodes than ``max_nodes`` allows."""

    kind = "node_limit"


class TooManyPointsError(StrandifyError):
    """Boundary preprocessing would create more points than any call may triangulate: the
    feature size, resample spacing or buffer distance is tiny (or huge) for the drawing."""

    kind = "boundary_points"


class WorkLimitError(StrandifyError):
    """The parameters ask for more work than any call may do (a union beyond the limit)."""

    kind = "work_limit"


class InvalidGeometryError(StrandifyError):
    """Filled shapes that cannot be read as a region (NaN, out of range, no area), or a
    ``buffer_distance`` for them that is not a positive number."""

    kind = "invalid_geometry"


_BY_KIND: dict[str, type[StrandifyError]] = {
    cls.kind: cls
    for cls in (FeatureSizeError, WidthListError, NodeLimitError, TooManyPointsError, WorkLimitError,
                InvalidGeometryError)
}


def from_native(error: ValueError) -> ValueError:
    """The package's exception for a refusal of a native call, which names its kind in a
    ``kind`` attribute; an error without one (a bad option value) is returned as it is.  A batch
    job's failure keeps its ``job_index``, and its ``reason`` stays the pipeline's message."""
    cls = _BY_KIND.get(getattr(error, "kind", None) or "")
    if cls is None:
        return error
    typed = cls(str(error))
    if hasattr(error, "job_index"):
        typed.job_index = error.job_index  # type: ignore[attr-defined]
        typed.reason = error.reason  # type: ignore[attr-defined]
    return typed


class BatchJobError(StrandifyError):
    """One drawing of a batch failed; ``index`` is its position in the whole batch, ``reason``
    the pipeline's message and ``kind`` the failure's name (also a ValueError)."""

    def __init__(self, index: int, reason: str, kind: str = "unknown") -> None:
        ValueError.__init__(self, f"strandify_batch job {index} failed: {reason}")
        self.index = index
        self.reason = reason
        self.kind = kind


class LostStrokesWarning(UserWarning):
    """A separate group of strokes gave no centerline at all."""


class GeographicCrsWarning(UserWarning):
    """The drawing's coordinates are degrees, while buffer distances are lengths."""


class DrawingError(ValueError):
    """A file could not be read as a drawing; the message says why."""


class CliError(Exception):
    """A problem to report on one line, without a traceback."""
