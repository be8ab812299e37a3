"""PNG previews: the input strokes (light) under the centerlines (dark), through matplotlib."""

from __future__ import annotations

import io

import numpy as np

from .._optional import require
from .._result import Centerlines
from .drawing import Drawing, Part


def render_png(result: Centerlines | list[Part], drawing: Drawing, dpi: int = 150) -> bytes:
    """A PNG of the input strokes (light) under the centerlines (dark)."""
    if isinstance(result, list):
        result = Centerlines(
            chains=[c for _, r in result for c in r.chains],
            nodes=np.concatenate([r.nodes for _, r in result]) if result else np.empty((0, 2)),
            chain_node_ids=np.empty((0, 2), dtype=np.intp),
        )
    require("matplotlib", "--png", "plot")
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    minx, miny, maxx, maxy = drawing.frame()
    aspect = (maxy - miny) / (maxx - minx) if maxx > minx and maxy > miny else 1.0
    width = 8.0
    height = min(max(width * aspect, 2.0), 16.0)
    fig = Figure(figsize=(width, height), dpi=dpi)
    FigureCanvasAgg(fig)
    ax = fig.add_axes((0.02, 0.02, 0.96, 0.96))
    result.plot(ax, strokes=drawing.curves, stroke_color="#b4b4b4", color="#111111", invert_y=not drawing.y_up)
    ax.set_xlim(minx, maxx)
    ax.set_ylim((miny, maxy) if drawing.y_up else (maxy, miny))
    ax.set_axis_off()
    buf = io.BytesIO()
    fig.savefig(buf, format="png", dpi=dpi, facecolor="white")
    return buf.getvalue()
