"""Every exception and warning strandify raises, in one module to import them from.

The package re-exports the ones its functions raise (``strandify.BatchJobError``,
``strandify.LostStrokesWarning``, ``strandify.GeographicCrsWarning``); the file
readers' and the command line's own errors live here too.
"""

from __future__ import annotations


class BatchJobError(ValueError):
    """One drawing of a batch failed; ``index`` is its position in the whole batch."""

    def __init__(self, index: int, reason: str) -> None:
        super().__init__(f"strandify_batch job {index} failed: {reason}")
        self.index = index
        self.reason = reason


class LostStrokesWarning(UserWarning):
    """A separate group of strokes gave no centerline at all."""


class GeographicCrsWarning(UserWarning):
    """The drawing's coordinates are degrees, while buffer distances are lengths."""


class DrawingError(ValueError):
    """A file could not be read as a drawing; the message says why."""


class CliError(Exception):
    """A problem to report on one line, without a traceback."""
