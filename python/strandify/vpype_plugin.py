"""A vpype command: ``strandify`` replaces a layer's lines by their centerlines.

Installed with the ``vpype`` extra, the command shows in ``vpype --help``::

    vpype read sketch.svg strandify -d 0.5mm write clean.svg

vpype keeps lines in CSS pixels; lengths take vpype's units (``0.5mm``,
``0.1in``) or plain pixels.  Every layer runs on its own, as a drawing of
its own.
"""

from __future__ import annotations

from typing import Any

import numpy as np

from ._lines import centerlines
from ._optional import require
from ._types import FloatArray


def lines_to_curves(lines: Any) -> list[FloatArray]:
    """vpype's complex lines as ``(n, 2)`` arrays."""
    return [np.column_stack((line.real, line.imag)).astype(np.float64) for line in lines]


def chains_to_lines(chains: list[FloatArray]) -> list[Any]:
    """``(n, 2)`` arrays as vpype's complex lines."""
    return [chain[:, 0] + 1j * chain[:, 1] for chain in chains]


def process(lines: Any, **options: Any) -> list[Any]:
    """The centerlines of vpype ``lines`` (a LineCollection or list of complex arrays)."""
    curves = lines_to_curves(lines)
    if not curves:
        return []
    return chains_to_lines(centerlines(curves, **options).chains)


def _command() -> Any:
    click = require("click", "the vpype command", "vpype", "vpype")
    vp = require("vpype", "the vpype command", "vpype")
    vpype_cli = require("vpype_cli", "the vpype command", "vpype", "vpype")

    length = vpype_cli.LengthType()
    options = [
        click.option("-d", "--buffer-distance", type=length, default=None,
                     help="Radius around each stroke (default: from the strokes' lengths)."),
        click.option("-f", "--feature-size", type=length, default=None,
                     help="Size of the smallest detail worth keeping (default: 2 x the buffer distance)."),
        click.option("--simplification", type=length, default=None, help="Chain simplification tolerance."),
        click.option("--min-tip-fraction", type=float, default=None, help="Prune side branches shorter than this times F."),
        click.option("--junction-merge-fraction", type=float, default=None, help="Merge junctions closer than this times F."),
        click.option("--resample", type=length, default=None, help="Boundary resampling spacing."),
        click.option("--merge-tolerance", type=length, default=None, help="Join curve ends closer than this."),
    ]

    def strandify(lines: Any, **given: Any) -> Any:
        """Replace the lines of each layer by their centerlines."""
        return vp.LineCollection(process(lines, **{k: v for k, v in given.items() if v is not None}))

    # applied as calls rather than decorators: click and vpype are untyped
    command: Any = vpype_cli.layer_processor(strandify)
    for option in reversed(options):
        command = option(command)
    return click.command("strandify")(command)


def __getattr__(name: str) -> Any:
    # built on first use, so that importing this module needs neither vpype nor click
    if name == "strandify_command":
        command = _command()
        globals()["strandify_command"] = command
        return command
    raise AttributeError(name)
