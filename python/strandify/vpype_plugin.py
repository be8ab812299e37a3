"""A vpype command: ``strandify`` replaces a layer's lines by their centerlines.

Installed with the ``vpype`` extra, the command shows in ``vpype --help`` under
"Plugins"::

    vpype read sketch.svg strandify -d 0.5mm write clean.svg
    vpype read glyphs.svg strandify --fill write strokes.svg

vpype keeps lines in CSS pixels; lengths take vpype's units (``0.5mm``,
``0.1in``) or plain pixels.  Every layer runs on its own, as a drawing of
its own.  The flags are those of the ``strandify`` command line: the tuning
lengths and fractions, the finishing steps (``--no-refine``,
``--no-finish-tips``, ...), ``--partition`` and ``--tile-size``, and
``--fill``, which takes every line of the layer as the outline of a filled
shape (nested outlines are holes, as in a font glyph).  A value the
computation refuses is a one-line usage error, as any bad value is in vpype.
"""

from __future__ import annotations

from dataclasses import fields
from typing import Any

import numpy as np

from ._lines import centerlines
from ._optional import require
from ._read_shapes import regions_from_subpaths
from ._shapes import polygon_centerlines
from ._types import FloatArray
from .errors import StrandifyError
from .options import PARTITIONS, Options

#: The section of ``vpype --help`` the command is listed in.
HELP_GROUP = "Plugins"


def lines_to_curves(lines: Any) -> list[FloatArray]:
    """vpype's complex lines as ``(n, 2)`` arrays."""
    return [np.column_stack((line.real, line.imag)).astype(np.float64) for line in lines]


def chains_to_lines(chains: list[FloatArray]) -> list[Any]:
    """``(n, 2)`` arrays as vpype's complex lines."""
    return [chain[:, 0] + 1j * chain[:, 1] for chain in chains]


def process(lines: Any, *, fill: bool = False, **options: Any) -> list[Any]:
    """The centerlines of vpype ``lines`` (a LineCollection or list of complex arrays); with
    ``fill``, of the shapes the lines outline."""
    curves = lines_to_curves(lines)
    if fill:
        if "merge_tolerance" in options:
            raise ValueError("--merge-tolerance joins stroke ends; it has no meaning with --fill")
        if options.get("partition") == "tiles":
            raise ValueError("--partition tiles cuts strokes into tiles; with --fill use none or components")
        rings = [c for c in curves if len(c) >= 3]
        if not rings:
            return []
        feature_size = options.pop("feature_size", None)
        result = polygon_centerlines(regions_from_subpaths(rings), feature_size, **options)
        return chains_to_lines(result.chains)
    if not curves:
        return []
    return chains_to_lines(centerlines(curves, **options).chains)


#: The options whose value must be positive; the other lengths and fractions must not be
#: negative.
_POSITIVE = ("buffer_distance", "feature_size", "tile_size")
_NUMBERS = _POSITIVE + tuple(f.name for f in fields(Options) if f.metadata["kind"] in ("length", "fraction"))


def check_values(given: dict[str, Any]) -> str | None:
    """What is wrong with the given numbers (vpype evaluates its lengths only when the command
    runs, so they are checked here), None when nothing is."""
    for name in _NUMBERS:
        value = given.get(name)
        if value is None:
            continue
        positive = name in _POSITIVE
        if not (np.isfinite(value) and (value > 0 if positive else value >= 0)):
            kind = "positive" if positive else "non-negative"
            return f"--{name.replace('_', '-')}: must be a {kind} finite number, got {value:g}"
    return None


def _option_decorators(click: Any, vpype_cli: Any) -> list[Any]:
    """The click options of the tuning fields of :class:`Options`, as the command line has them."""
    length = vpype_cli.LengthType()
    out = []
    for option in fields(Options):
        kind, help_text = option.metadata["kind"], option.metadata["help"]
        flag = "--" + option.name.replace("_", "-")
        if kind == "length":
            out.append(click.option(flag, type=length, default=None, help=help_text))
        elif kind == "size":
            out.append(click.option(flag, type=length, default=None, help=help_text))
        elif kind == "fraction":
            out.append(click.option(flag, type=float, default=None, help=help_text))
        elif kind == "count":
            out.append(click.option(flag, type=click.IntRange(min=1), default=None, help=help_text))
        elif kind == "on":
            out.append(click.option("--no-" + flag[2:], option.name, is_flag=True, default=None, flag_value=False, help=help_text))
        elif kind == "off":
            out.append(click.option(flag, option.name, is_flag=True, default=None, flag_value=True, help=help_text))
        elif kind == "choice":
            out.append(click.option(flag, type=click.Choice(PARTITIONS), default=None, help=help_text))
    return out


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
        click.option("--fill", is_flag=True, default=False,
                     help="Take every line as the outline of a filled shape and trace the shapes' centerlines."),
        *_option_decorators(click, vpype_cli),
    ]

    def strandify(lines: Any, **given: Any) -> Any:
        """Replace the lines of each layer by their centerlines."""
        chosen = {k: v for k, v in given.items() if v is not None}
        problem = check_values(chosen)
        if problem is not None:
            raise click.UsageError(problem)
        try:
            return vp.LineCollection(process(lines, **chosen))
        except (ValueError, TypeError, StrandifyError) as exc:
            # vpype prints a usage error on one line; anything else would be a traceback
            raise click.UsageError(str(exc)) from None

    # applied as calls rather than decorators: click and vpype are untyped
    command: Any = vpype_cli.layer_processor(strandify)
    for option in reversed(options):
        command = option(command)
    command = click.command("strandify")(command)
    command.help_group = HELP_GROUP
    return command


def __getattr__(name: str) -> Any:
    # built on first use, so that importing this module needs neither vpype nor click
    if name == "strandify_command":
        command = _command()
        globals()["strandify_command"] = command
        return command
    raise AttributeError(name)
