"""Command line: strandify INPUT... -o OUTPUT."""

from __future__ import annotations

import argparse
import math
import os
import sys
import tempfile
from collections.abc import Sequence
from pathlib import Path

from . import formats
from ._api import BUFFER_FRACTION, FEATURE_PER_BUFFER, BatchJobError, centerlines_batch

DESCRIPTION = """\
Turn sketchy, overdrawn strokes into clean centerlines.

Inputs are SVG (paths, polylines, polygons, lines, rects, circles and
ellipses, transforms applied, curves flattened), GeoJSON (LineString and
MultiLineString, bare or in Features and FeatureCollections) or JSON (a list
of curves, each a list of [x, y] pairs). The output format follows the
extension of OUTPUT: .svg, .geojson or .json. Several inputs run as one
parallel batch; OUTPUT (and PREVIEW) must then contain {stem}, which is
replaced by each input's file name without extension, e.g. out/{stem}.svg.

SVG coordinates are kept in the SVG's user units, y pointing down; GeoJSON and
JSON coordinates are taken as y pointing up, and SVG output and previews of
them are flipped so they show upright.
"""

EPILOG = f"""\
Defaults: D is {BUFFER_FRACTION:g} x the diagonal of each drawing's bounding box, and
F is {FEATURE_PER_BUFFER:g} x D; given only one of them, the other follows by that ratio.
Strokes closer than about 2 x D merge into one centerline; side branches
shorter than about 2 x F are pruned.

--jobs sets RAYON_NUM_THREADS, which sizes the worker pool when the batch
first runs; without it the environment's value, or one thread per CPU, is used.

On error, nothing is written and the exit status is 1.
"""


class CliError(Exception):
    """A problem to report on one line, without a traceback."""


def _positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not (value > 0 and math.isfinite(value)):
        raise argparse.ArgumentTypeError(f"must be a positive finite number, got {text!r}")
    return value


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {text!r}")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="strandify",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("inputs", nargs="+", metavar="INPUT", help="drawing to read (.svg, .geojson, .json)")
    parser.add_argument(
        "-o", "--output", required=True, metavar="OUTPUT", help="file to write (.svg, .geojson, .json)"
    )
    parser.add_argument(
        "-d", "--buffer-distance", type=_positive_float, metavar="D",
        help="radius around each stroke; strokes whose buffers overlap become one (default: see below)",
    )
    parser.add_argument(
        "-f", "--feature-size", type=_positive_float, metavar="F",
        help="size of the smallest detail worth keeping (default: see below)",
    )
    parser.add_argument(
        "--png", metavar="PREVIEW",
        help="also write a PNG of the input strokes (light) under the centerlines (dark); needs matplotlib",
    )
    parser.add_argument(
        "-j", "--jobs", type=_positive_int, metavar="N",
        help="worker threads for the batch (default: one per CPU)",
    )
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    try:
        args = build_parser().parse_args(argv)
    except SystemExit as exc:  # usage errors and --help; keep main() returning
        if exc.code is None or isinstance(exc.code, int):
            return exc.code or 0
        return 2
    try:
        _run(args)
    except CliError as exc:
        print(f"strandify: error: {exc}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("strandify: interrupted", file=sys.stderr)
        return 130
    return 0


def _run(args: argparse.Namespace) -> None:
    inputs = [Path(p) for p in args.inputs]
    outputs = _targets(args.output, inputs, formats.OUTPUT_FORMATS, "OUTPUT")
    previews = _targets(args.png, inputs, (".png",), "--png") if args.png else None
    if args.jobs is not None:
        # the worker pool reads this once, when the first batch runs
        os.environ["RAYON_NUM_THREADS"] = str(args.jobs)

    drawings = [_read(path) for path in inputs]
    try:
        results = centerlines_batch(
            [d.curves for d in drawings],
            buffer_distance=args.buffer_distance,
            feature_size=args.feature_size,
        )
    except BatchJobError as exc:
        raise CliError(f"{inputs[exc.index]}: {exc.reason}") from None
    except ValueError as exc:
        raise CliError(str(exc)) from None

    files: list[tuple[Path, bytes]] = []
    for i, (drawing, result) in enumerate(zip(drawings, results)):
        try:
            files.append((outputs[i], formats.render(result, outputs[i].suffix, drawing)))
            if previews is not None:
                files.append((previews[i], formats.render_png(result, drawing)))
        except (formats.DrawingError, ImportError) as exc:
            raise CliError(f"{inputs[i]}: {exc}") from None
    _write_all(files)


def _targets(template: str, inputs: list[Path], allowed: tuple[str, ...], what: str) -> list[Path]:
    """One output path per input, from a name that may hold ``{stem}``."""
    ext = Path(template).suffix.lower()
    if ext not in allowed:
        raise CliError(
            f"{template}: unknown {what} format {ext or '(no extension)'!r}; expected {', '.join(allowed)}"
        )
    if len(inputs) > 1 and "{stem}" not in template:
        raise CliError(f"{template}: with several inputs, {what} must contain {{stem}}, e.g. out/{{stem}}{ext}")
    paths = [Path(template.replace("{stem}", p.stem)) for p in inputs]
    seen: dict[Path, Path] = {}
    for src, dst in zip(inputs, paths):
        if dst.resolve() in seen:
            raise CliError(f"{seen[dst.resolve()]} and {src} would both be written to {dst}")
        if dst.resolve() == src.resolve():
            raise CliError(f"{dst}: refusing to overwrite the input")
        if dst.is_dir():
            # caught before anything is written: a failed rename later would
            # leave the other outputs half done
            raise CliError(f"{dst}: is a directory")
        seen[dst.resolve()] = src
    return paths


def _read(path: Path) -> formats.Drawing:
    try:
        return formats.read_drawing(path)
    except (formats.DrawingError, ImportError) as exc:
        raise CliError(f"{path}: {exc}") from None


def _write_all(files: list[tuple[Path, bytes]]) -> None:
    """Write every file or none: all go to temporary files first, then are renamed."""
    staged: list[tuple[str, Path]] = []
    # mkstemp makes private files; give the results the permissions a plain
    # open() would have
    umask = os.umask(0)
    os.umask(umask)
    try:
        for target, data in files:
            try:
                target.parent.mkdir(parents=True, exist_ok=True)
                fd, tmp = tempfile.mkstemp(dir=target.parent, prefix=f".{target.name}.", suffix=".tmp")
                staged.append((tmp, target))
                with os.fdopen(fd, "wb") as fh:
                    fh.write(data)
                os.chmod(tmp, 0o666 & ~umask)
            except OSError as exc:
                raise CliError(f"{target}: cannot write: {exc.strerror or exc}") from None
        for tmp, target in staged:
            try:
                os.replace(tmp, target)
            except OSError as exc:
                raise CliError(f"{target}: cannot write: {exc.strerror or exc}") from None
    finally:
        for tmp, _ in staged:
            if os.path.exists(tmp):
                os.unlink(tmp)


if __name__ == "__main__":
    sys.exit(main())
