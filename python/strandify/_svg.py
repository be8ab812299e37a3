"""The pieces of the SVG that :meth:`Centerlines.to_svg` and the layered file writer share.

Numbers are written with ``repr``, the shortest text that reads back to the
same float, so that written files round-trip exactly.
"""

from __future__ import annotations

import math
from collections.abc import Sequence

from ._types import Bounds, FloatArray, IntArray

SVG_NS = "http://www.w3.org/2000/svg"
INKSCAPE_NS = "http://www.inkscape.org/namespaces/inkscape"

#: The view of a box: (min x, min y, width, height), a flat side counting 1.
View = tuple[float, float, float, float]


def num(value: float) -> str:
    return repr(float(value))


def attr(text: str) -> str:
    """``text`` escaped for a double-quoted attribute value."""
    return text.replace("&", "&amp;").replace('"', "&quot;").replace("<", "&lt;")


def view_of(box: Bounds) -> View:
    minx, miny, maxx, maxy = box
    w = maxx - minx if maxx > minx else 1.0
    h = maxy - miny if maxy > miny else 1.0
    return minx, miny, w, h


def line_width(view: View) -> float:
    """The default stroke width: thin against the view's diagonal, never zero."""
    return max(math.hypot(view[2], view[3]) / 400.0, 1e-9)


def header(view: View, width: str | None, height: str | None, *, inkscape: bool = False) -> list[str]:
    """The XML declaration and the ``<svg>`` start tag; a size left out is the view's, in pixels."""
    minx, miny, w, h = view
    namespaces = f' xmlns:inkscape="{INKSCAPE_NS}"' if inkscape else ""
    return [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="{SVG_NS}"{namespaces} viewBox="{num(minx)} {num(miny)} {num(w)} {num(h)}" '
        f'width="{attr(width) if width is not None else num(w)}" '
        f'height="{attr(height) if height is not None else num(h)}">',
    ]


def group(stroke: str, stroke_width: float, flip_about: float | None, lead: str = "") -> str:
    """The start tag of a group of unfilled round-capped lines.

    ``flip_about``, when given, is min y + max y of the view: the group is
    mirrored so that data whose y axis points up shows upright.  ``lead`` holds
    attributes that come first (a layer's id and label).
    """
    tag = (
        f'<g {lead}fill="none" stroke="{attr(stroke)}" stroke-width="{num(stroke_width)}" '
        f'stroke-linecap="round" stroke-linejoin="round"'
    )
    if flip_about is not None:
        tag += f' transform="matrix(1 0 0 -1 0 {num(flip_about)})"'
    return tag + ">"


def polylines(chains: Sequence[FloatArray], chain_node_ids: IntArray, prefix: str = "") -> list[str]:
    """One ``<polyline>`` element per chain, ids ``{prefix}chain-{k}``."""
    out = []
    for k, chain in enumerate(chains):
        start, end = (int(v) for v in chain_node_ids[k])
        points = " ".join(f"{num(x)},{num(y)}" for x, y in chain.tolist())
        out.append(
            f'<polyline id="{prefix}chain-{k}" data-start-node="{start}" data-end-node="{end}" points="{points}"/>'
        )
    return out
