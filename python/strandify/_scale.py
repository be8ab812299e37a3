"""The scale a call uses when it is not given: the buffer distance and feature size of
strokes, and the feature size of filled shapes."""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import Any

import numpy as np

from ._geometry import stroke_lengths
from ._read_shapes import mean_half_width
from ._types import Curve, FloatArray, is_geometry
from .options import positive_number

#: Without a ``buffer_distance``, it is this fraction of the median length of
#: the drawing's strokes.  A statistic of the strokes themselves, not of the
#: drawing's extent: one stray stroke far away changes neither the median nor
#: any other stroke's result.
BUFFER_PER_STROKE = 0.025
#: Without a ``feature_size``, it is this multiple of the buffer distance (and
#: the other way round when only ``feature_size`` is given).
FEATURE_PER_BUFFER = 2.0
#: Without a ``feature_size``, a filled shape's is this multiple of its mean
#: half-width (area over boundary length).  Below the strokes' ratio of 2 to
#: the buffer radius: an outline's arms (the bar of a t, the tail of an a) are
#: often barely longer than they are wide, and the pruning length is a
#: multiple of the feature size (``REFINED_MIN_TIP_FRACTION``).
FEATURE_PER_HALF_WIDTH = 1.5


def _derived_buffer(curves: Sequence[Curve]) -> float:
    lengths = stroke_lengths(curves)
    lengths = lengths[lengths > 0]
    if not len(lengths):
        return 1.0
    value = float(np.median(lengths)) * BUFFER_PER_STROKE
    if not (value > 0 and math.isfinite(value)):
        raise ValueError(
            "cannot derive buffer_distance from this drawing: its strokes are too long to measure "
            "(their length is not finite); pass buffer_distance and feature_size"
        )
    return value


def resolve(
    curves: Sequence[Curve], buffer_distance: float | None, feature_size: float | None
) -> tuple[float, float]:
    """The ``(buffer_distance, feature_size)`` of read strokes: the given ones completed
    (see :func:`strandify.suggest_parameters`)."""
    if buffer_distance is not None:
        buffer_distance = positive_number("buffer_distance", buffer_distance)
    if buffer_distance is None and feature_size is None:
        buffer_distance = _derived_buffer(curves)
    if feature_size is None:
        assert buffer_distance is not None
        feature_size = buffer_distance * FEATURE_PER_BUFFER
        if not math.isfinite(feature_size):
            raise ValueError(
                f"feature_size derived from buffer_distance {buffer_distance!r} is not finite; pass feature_size"
            )
    if buffer_distance is None:
        try:
            derived = float(feature_size) / FEATURE_PER_BUFFER
        except (TypeError, ValueError):
            return 1.0, feature_size  # the native call names the bad feature_size
        if not (derived > 0 and math.isfinite(derived)):
            # a feature size too small (or not a number) for any buffer: say so here,
            # rather than let the native call quietly return nothing
            if isinstance(feature_size, float) and feature_size > 0 and math.isfinite(feature_size):
                raise ValueError(
                    f"buffer_distance derived from feature_size {feature_size!r} is not a positive "
                    f"number; pass a larger feature_size or buffer_distance"
                )
            return 1.0, feature_size  # the native call names the bad feature_size
        buffer_distance = derived
    return buffer_distance, feature_size


def shape_feature_size(polygons: Sequence[Sequence[FloatArray]], shapes: Any = None) -> float:
    """The feature size of read polygons (see :func:`strandify.suggest_polygon_feature_size`);
    ``shapes``, the input they were read from, lets a shapely polygon be measured by GEOS."""
    if is_geometry(shapes) and shapes.geom_type in ("Polygon", "MultiPolygon"):
        # the same measure, computed by GEOS in one call per quantity
        length = float(shapes.length)
        half = float(shapes.area) / length if length > 0 else math.nan
    else:
        half = mean_half_width(polygons)
    if not (half > 0 and math.isfinite(half)):
        raise ValueError(
            "cannot derive feature_size from these shapes: their rings enclose no area as given "
            "(empty, degenerate, non-finite or crossing themselves); pass feature_size"
        )
    return half * FEATURE_PER_HALF_WIDTH
