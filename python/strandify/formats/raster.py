"""Raster masks in: PNG, TIFF and BMP images read as the regions of their foreground.

An image is read by scikit-image (the ``raster`` extra) and reduced to one value per pixel:
its alpha where it has an alpha channel that varies (a mask drawn on a transparent
background), else its grey level. The foreground is where that value lies above the
threshold (halfway between the image's least and greatest value unless one is given), or at
or below it with ``invert`` (dark ink on light paper); its regions are traced as
:func:`strandify.mask_centerlines` traces them. Coordinates are pixels, y down, the top-left
corner of the image at (0, 0): the drawing an SVG of the same size would be.
"""

from __future__ import annotations

from pathlib import Path

import numpy as np

from .._masks import mask_polygons
from .._optional import require
from ..errors import DrawingError
from .drawing import Drawing

EXTENSIONS = (".png", ".tif", ".tiff", ".bmp")


def grey_values(image: np.ndarray) -> np.ndarray:
    """One value per pixel of a grey, RGB or RGBA image, as the module documentation says."""
    if image.ndim == 2:
        return image
    if image.ndim != 3 or image.shape[2] not in (2, 3, 4):
        raise DrawingError(f"not a grey or colour image: its pixels have shape {image.shape[2:]}")
    channels = image.shape[2]
    if channels in (2, 4):
        alpha = image[..., -1]
        if alpha.min() != alpha.max():
            return alpha
        image = image[..., :-1]
    if image.shape[2] == 1:
        return image[..., 0]
    color = require("skimage.color", "reading raster masks", "raster", "scikit-image")
    return np.asarray(color.rgb2gray(image))


def read(path: Path, threshold: float | None = None, invert: bool = False) -> Drawing:
    """The regions of the image's foreground, in pixels."""
    io = require("skimage.io", "reading raster masks", "raster", "scikit-image")
    try:
        image = np.asarray(io.imread(str(path)))
    except FileNotFoundError:
        raise DrawingError("file not found") from None
    except (OSError, ValueError, SyntaxError, IndexError) as exc:
        first = str(exc).strip().splitlines()
        raise DrawingError(f"cannot read the image: {first[0] if first else type(exc).__name__}") from None
    if image.ndim < 2 or 0 in image.shape[:2]:
        raise DrawingError("the image has no pixels")
    try:
        shapes = mask_polygons(grey_values(image), threshold=threshold, invert=invert)
    except (ValueError, TypeError) as exc:
        raise DrawingError(str(exc)) from None
    regions = [[outer, *holes] for outer, holes in shapes]
    height, width = image.shape[:2]
    return Drawing(
        curves=[ring for rings in regions for ring in rings],
        y_up=False,
        viewbox=(0.0, 0.0, float(width), float(height)),
        size=(f"{width}px", f"{height}px"),
        regions=regions,
    )
