"""Command line: strandify INPUT... -o OUTPUT."""

from __future__ import annotations

import argparse
import math
import os
import re
import sys
import tempfile
import warnings
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, fields, replace
from pathlib import Path
from typing import Any, NamedTuple

from . import __version__, formats
from ._crs import as_crs, check_crs, is_geographic, local_utm, mercator_stretch
from ._geometry import bounds_of
from ._lines import run_batch, stroke_options, with_stroke_sources
from ._result import Centerlines
from ._scale import BUFFER_PER_STROKE, FEATURE_PER_BUFFER, FEATURE_PER_HALF_WIDTH, resolve
from ._shapes import polygon_centerlines
from ._types import Curve
from .errors import BatchJobError, CliError, DrawingError
from .formats.drawing import reprojected, with_parts
from .options import PARTITIONS, Options

DESCRIPTION = """\
Turn sketchy, overdrawn strokes into clean centerlines.

Inputs are SVG (paths, polylines, polygons, lines, rects, circles and
ellipses with a stroke, transforms and <use> applied, curves flattened;
fill-only and hidden shapes skipped), GeoJSON (LineString and
MultiLineString, bare or in Features and FeatureCollections), JSON (a list of curves, each a list of [x, y] pairs) and,
with the gis extra, every vector format GDAL reads: GeoPackage, Shapefile,
GPX tracks, FlatGeobuf, GeoParquet, OpenStreetMap .pbf, GML, KML, ... The
output format follows the extension of OUTPUT: .svg, .geojson, .json, .gpkg,
.fgb or .parquet. Several
inputs run as one parallel batch; OUTPUT (and PREVIEW) must then contain
{stem}, which is replaced by each input's file name without extension, e.g.
out/{stem}.svg. "-" reads standard input or writes standard output (the
format then comes from --from and --to, or from a look at the input).

SVG coordinates are kept in the SVG's user units, y pointing down, and SVG
output keeps the input's width, height and viewBox, so a drawing keeps its
physical size; Inkscape layers (and, with --by-stroke, stroke colours) run as
drawings of their own and come back as layers. GeoJSON, JSON and GIS
coordinates are taken as y pointing up, and SVG output and previews of them
are flipped so they show upright; their CRS is kept in GeoJSON and GIS
output.

Every layer of a GIS file runs as a drawing of its own in its own CRS and
comes back as a layer of the same name; --layer picks layers, and layers of
the wrong geometry type are skipped with a note. The chains of a GIS file
carry a sources column (the rows of the input whose buffer covers them, the
one covering most of the chain first) and every attribute column of the
input, taken from the row that covers most of the chain. On data in degrees
(EPSG:4326 GeoJSON, GPX, OSM), lengths in metres (-d 10m) compute in the
local UTM zone and the chains are written back in the input's CRS;
--to-crs chooses another CRS, in which they are then also written.

With --fill, filled shapes are read instead of strokes: SVG shapes whose fill
is not none (font outlines, icons), GeoJSON and GIS Polygon and MultiPolygon
geometries. Their centerlines run through the middle of each region.

Images (.png, .tif, .tiff, .bmp; the raster extra) are masks, always read as
filled shapes: the regions where a pixel's grey level (its alpha, when that
varies) lies above --threshold (default: halfway between the image's darkest
and lightest pixel), or at or below it with --invert (dark ink on light
paper), traced at subpixel precision, in pixels with y pointing down.
"""

EPILOG = f"""\
Lengths (D, F, --simplification, --resample, --boundary-simplification,
--merge-tolerance) are in the drawing's own units, or carry a unit: px, mm,
cm, in, pt or pc for SVG (e.g. -d 0.5mm), m, km or ft for GIS data.
Web Mercator (EPSG:3857) lengths are 1/cos(latitude) too long: a warning
gives the factor when lengths in metres are given far from the equator.

Defaults: D is {BUFFER_PER_STROKE:g} x the median length of each drawing's strokes, and
F is {FEATURE_PER_BUFFER:g} x D; given only one of them, the other follows by that ratio.
With --fill, F is {FEATURE_PER_HALF_WIDTH:g} x the regions' mean half-width (area over
boundary length), and D, which then only sizes the boundary refinement near
corners, defaults to that half-width.
Strokes closer than about 2 x D merge into one centerline; side branches
shorter than about 2 x F are pruned. A warning tells when a separate group
of strokes gave no centerline at all.

--jobs sets RAYON_NUM_THREADS, which sizes the worker pool when the batch
first runs; without it the environment's value, or one thread per CPU, is used.

On error, nothing is written and the exit status is 1. With --keep-going a
file that fails is reported and skipped, the others are written, and the exit
status is still 1.
"""

STDIO = "-"
_LENGTH = re.compile(r"\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?|[-+]?(?:nan|inf|infinity))\s*([a-zA-Z-]*)\s*")


class Length(NamedTuple):
    """A length as given: a number and an optional unit."""

    value: float
    unit: str

    def __str__(self) -> str:
        return f"{self.value:g}{self.unit}"

    def resolve(self, drawing: formats.Drawing) -> float:
        return self.value if not self.unit else drawing.length(self.value, self.unit)


def _number(text: str, *, positive: bool) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    ok = value > 0 if positive else value >= 0
    if not (ok and math.isfinite(value)):
        kind = "positive" if positive else "non-negative"
        raise argparse.ArgumentTypeError(f"must be a {kind} finite number, got {text!r}")
    return value


def _length(positive: bool) -> Any:
    def parse(text: str) -> Length:
        match = _LENGTH.fullmatch(text)
        if match is None:
            raise argparse.ArgumentTypeError(f"not a length: {text!r} (a number, optionally with a unit such as mm)")
        unit = match.group(2).lower()
        value = _number(match.group(1), positive=positive)
        known = {*formats.SVG_UNITS, *formats.MAP_UNITS}
        if unit and unit not in known:
            raise argparse.ArgumentTypeError(f"unknown unit {unit!r} in {text!r}; expected one of {', '.join(sorted(known))}")
        return Length(value, unit)

    return parse


def _fraction(text: str) -> float:
    return _number(text, positive=False)


def _positive_float(text: str) -> float:
    return _number(text, positive=True)


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1, got {text!r}")
    return value


def _format(text: str) -> str:
    ext = "." + text.lower().lstrip(".")
    return ext


#: How each kind of option field is read from the command line: (argument group, keywords of
#: add_argument, whether the flag turns a default-on field off).
_FLAG_KINDS: dict[str, tuple[str, dict[str, Any]]] = {
    "length": ("tuning", {"type": _length(False), "metavar": "X"}),
    "fraction": ("tuning", {"type": _fraction, "metavar": "X"}),
    "count": ("tuning", {"type": _positive_int, "metavar": "X"}),
    "on": ("finishing", {"action": "store_false"}),
    "off": ("finishing", {"action": "store_true"}),
    "choice": ("", {"choices": PARTITIONS}),
    "size": ("", {"type": _length(True), "metavar": "T"}),
}


def option_flags() -> list[tuple[str, str, str, dict[str, Any]]]:
    """The flags of the tuning options, made from the fields of :class:`Options`: (group, flag,
    field name, keywords of add_argument), in the order of the fields."""
    out = []
    for option in fields(Options):
        kind = option.metadata["kind"]
        if not kind:
            continue
        group, keywords = _FLAG_KINDS[kind]
        flag = "--" + ("no-" if kind == "on" else "") + option.name.replace("_", "-")
        extra = {} if keywords.get("action") else {"default": option.default}
        out.append((group, flag, option.name, {**keywords, **extra, "help": option.metadata["help"]}))
    return out


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="strandify",
        description=DESCRIPTION,
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument(
        "inputs", nargs="+", metavar="INPUT",
        help="drawing to read (.svg, .geojson, .json, or any vector format GDAL reads), or - for standard input",
    )
    parser.add_argument(
        "-o", "--output", required=True, metavar="OUTPUT",
        help="file to write (.svg, .geojson, .json, .gpkg, .fgb, .parquet), or - for standard output",
    )
    parser.add_argument(
        "-d", "--buffer-distance", type=_length(True), metavar="D",
        help="radius around each stroke; strokes whose buffers overlap become one (default: see below)",
    )
    parser.add_argument(
        "-f", "--feature-size", type=_length(True), metavar="F",
        help="size of the smallest detail worth keeping (default: see below)",
    )
    groups = {
        "tuning": parser.add_argument_group("tuning"),
        "finishing": parser.add_argument_group("finishing (on by default; see strandify.centerlines)"),
        "": parser,
    }
    for group, flag, name, keywords in option_flags():
        groups[group].add_argument(flag, dest=name, **keywords)
    parser.add_argument(
        "--fill", action="store_true",
        help="read filled shapes (SVG fills, GeoJSON/GIS polygons) as regions and trace their centerlines",
    )
    parser.add_argument(
        "--threshold", type=float, default=None, metavar="T",
        help="an image's foreground is where its grey level lies above T (default: halfway between its darkest and lightest pixel)",
    )
    parser.add_argument(
        "--invert", action="store_true",
        help="an image's foreground is where it is dark (ink on paper)",
    )
    parser.add_argument(
        "--by-stroke", action="store_true",
        help="SVG: run each stroke colour (within each layer) as a drawing of its own, written back as a layer",
    )
    parser.add_argument(
        "--layer", action="append", metavar="NAME",
        help="GIS files and SVGs: read only this layer (a GIS layer, or an Inkscape layer by label; repeatable); by default every layer runs on its own",
    )
    parser.add_argument(
        "--to-crs", metavar="CRS",
        help="GIS data: compute in this CRS and write the chains in it (e.g. EPSG:32633, or utm for "
        "the local UTM zone)",
    )
    parser.add_argument(
        "--nodes", action="store_true",
        help="GeoJSON output: also write a Point feature (node, degree) per node",
    )
    parser.add_argument("--from", dest="input_format", type=_format, metavar="FORMAT", help="format of standard input (svg, geojson, json)")
    parser.add_argument("--to", dest="output_format", type=_format, metavar="FORMAT", help="format for standard output (svg, geojson, json)")
    parser.add_argument(
        "--png", metavar="PREVIEW",
        help="also write a PNG of the input strokes (light) under the centerlines (dark); needs matplotlib",
    )
    parser.add_argument(
        "-j", "--jobs", type=_positive_int, metavar="N",
        help="worker threads for the batch (default: one per CPU)",
    )
    parser.add_argument(
        "-k", "--keep-going", action="store_true",
        help="report a file that fails and write the others (the exit status is still 1)",
    )
    parser.add_argument(
        "--progress", action=argparse.BooleanOptionalAction, default=None,
        help="show a progress bar (default: with several inputs on a terminal); needs tqdm",
    )
    parser.add_argument("--version", action="version", version=f"strandify {__version__}")
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    """Run the command line; returns the exit status."""
    try:
        args = build_parser().parse_args(argv)
    except SystemExit as exc:  # usage errors, --help and --version; keep main() returning
        if exc.code is None or isinstance(exc.code, int):
            return exc.code or 0
        return 2
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            failed = _run(args)
        for warning in caught:
            print(f"strandify: warning: {warning.message}", file=sys.stderr)
    except CliError as exc:
        print(f"strandify: error: {exc}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("strandify: interrupted", file=sys.stderr)
        return 130
    except MemoryError:
        # the native stages give up cleanly when an allocation fails; what the user needs is
        # the reason in one line, not a traceback
        print(
            "strandify: error: out of memory; a larger -f/--feature-size needs less",
            file=sys.stderr,
        )
        return 1
    return 1 if failed else 0


@dataclass
class _File:
    """One input on its way through: its drawing, its results, or what went wrong."""

    name: str
    path: Path
    output: Path
    preview: Path | None
    drawing: formats.Drawing | None = None
    error: str | None = None
    parts: list[tuple[formats.Layer | None, Centerlines]] | None = None
    source: str = ""
    #: per part of the drawing, the CRS its results go back to (None: they stay)
    back: list[Any] | None = None


def _run(args: argparse.Namespace) -> bool:
    """Do the work; returns whether some file failed (with --keep-going)."""
    names = list(args.inputs)
    if names.count(STDIO) > 1:
        raise CliError("standard input (-) can be read only once")
    if args.output == STDIO and len(names) > 1:
        raise CliError("standard output (-) takes the result of a single input")
    paths = [Path("stdin") if n == STDIO else Path(n) for n in names]
    files = [
        _File(name=n if n != STDIO else "<stdin>", path=p, output=o, preview=v)
        for n, p, o, v in zip(names, paths, _outputs(args, names, paths), _previews(args, paths))
    ]
    if args.jobs is not None:
        # the worker pool reads this once, when the first batch runs
        os.environ["RAYON_NUM_THREADS"] = str(args.jobs)
    keep_going = bool(args.keep_going)

    def fail(f: _File, message: str) -> None:
        f.error = message
        if not keep_going:
            raise CliError(f"{f.name}: {message}")

    for f in files:
        try:
            if f.name == "<stdin>":
                data = sys.stdin.buffer.read()
                f.source = args.input_format or formats.sniff(data)
                f.drawing = formats.read_drawing(
                    f.path, data=data, fmt=f.source, by_stroke=args.by_stroke, fill=args.fill, layers=args.layer,
                    threshold=args.threshold, invert=args.invert,
                )
            else:
                f.source = f.path.suffix.lower()
                f.drawing = formats.read_drawing(
                    f.path, by_stroke=args.by_stroke, fill=args.fill, layers=args.layer,
                    threshold=args.threshold, invert=args.invert,
                )
            f.drawing, f.back = working_drawing(f.drawing, args.to_crs, _metric(args))
        except (DrawingError, ImportError) as exc:
            fail(f, str(exc))

    # an image is a mask: its regions are filled shapes, with --fill or without
    filled = [f for f in files if f.error is None and (args.fill or f.source in formats.RASTER_INPUTS)]
    stroked = [f for f in files if f.error is None and not any(f is g for g in filled)]
    if filled and args.merge_tolerance is not None:
        raise CliError("--merge-tolerance joins stroke ends; it has no meaning for filled shapes (--fill, images)")
    if filled and args.partition == "tiles":
        raise CliError("--partition tiles cuts strokes into tiles; filled shapes (--fill, images) use none or components")
    if stroked:
        _compute(args, stroked, fail)
    if filled:
        _compute_fill(args, filled, fail)

    out: list[tuple[Path, bytes]] = []
    for f in files:
        if f.error is not None or f.parts is None or f.drawing is None:
            continue
        try:
            rendered = [(f.output, formats.render(f.parts, _output_ext(args, f), f.drawing, nodes=args.nodes))]
            if f.preview is not None:
                rendered.append((f.preview, formats.render_png(f.parts, f.drawing)))
        except (DrawingError, ImportError) as exc:
            fail(f, str(exc))
            continue
        out.extend(rendered)
    _write_all(out)
    failures = [f for f in files if f.error is not None]
    for f in failures:
        print(f"strandify: error: {f.name}: {f.error} (skipped)", file=sys.stderr)
    return bool(failures)


def _compute(args: argparse.Namespace, files: list[_File], fail: Any) -> None:
    """Run every part of every drawing as one batch and hand the results back to their files."""
    jobs: list[tuple[_File, formats.Layer, list[Any], float, float, Options]] = []
    for f, drawing in _checked(files):
        try:
            resolved = []
            for layer in drawing.parts():
                view = layer_view(drawing, layer)
                d, fs = _given_scale(args, view)
                pd, pf = resolve([Curve(c) for c in layer.curves], d, fs)
                resolved.append((layer, layer.curves, pd, pf, _options(args, view)))
        except (DrawingError, ValueError) as exc:
            fail(f, str(exc))
            continue
        jobs.extend((f, layer, curves, pd, pf, options) for layer, curves, pd, pf, options in resolved)
    if not jobs:
        return
    # one batch for all files; options differ only by the units of each file, so
    # jobs are grouped by their options
    groups: dict[Options, list[int]] = {}
    for k, job in enumerate(jobs):
        groups.setdefault(job[5], []).append(k)
    outcome: dict[int, Any] = {}
    errors: dict[int, Exception] = {}
    show = args.progress if args.progress is not None else (len(files) > 1 and sys.stderr.isatty())
    for options, members in groups.items():
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                results = run_batch(
                    ((jobs[k][2], jobs[k][3], jobs[k][4]) for k in members),
                    stroke_options(options, 1, workers=None),
                    progress=bool(show),
                    errors="skip" if args.keep_going else "raise",
                    total=len(members),
                )
            except BatchJobError as exc:  # without --keep-going: the first failure ends the run
                raise CliError(f"{jobs[members[exc.index]][0].name}: {exc.reason}") from None
            except ValueError as exc:
                raise CliError(str(exc)) from None
        for warning in caught:
            text = str(warning.message)
            match = re.match(r"drawing (\d+): ", text)
            if match is not None:
                job = jobs[members[int(match.group(1))]]
                where = job[0].name + (f" (layer {job[1].name})" if job[1].name else "")
                text = f"{where}: {text[match.end():]}"
            warnings.warn(text, warning.category, stacklevel=1)
        for i, k in enumerate(members):
            if results[i] is None:
                errors[k] = results.errors[i]
            else:
                outcome[k] = results[i]
    for k, (f, part, _, pd, pf, _) in enumerate(jobs):
        if f.error is not None:
            continue
        if k in errors:
            error = errors[k]
            fail(f, getattr(error, "reason", None) or str(error))
            continue
        if f.parts is None:
            f.parts = []
        assert f.drawing is not None
        result = finished(outcome[k], part, f.back[len(f.parts)] if f.back else None, pd, pf, fill=False)
        f.parts.append((None if f.drawing.layers is None else part, result))
    for f in files:
        if f.error is None and f.parts is not None and not any(len(r.chains) for _, r in f.parts):
            fail(
                f,
                "no centerlines: every stroke was pruned away; give a smaller -f/--feature-size "
                "(or -d/--buffer-distance)",
            )


def _compute_fill(args: argparse.Namespace, files: list[_File], fail: Any) -> None:
    """The regions of every part of every drawing, one call each."""
    for f, drawing in _checked(files):
        try:
            parts = []
            for k, layer in enumerate(drawing.parts()):
                if not layer.regions:
                    continue
                view = layer_view(drawing, layer)
                d, fs = _given_scale(args, view)
                options = _options(args, view)
                # a GIS layer goes in as its rows, whose provenance the chains then carry
                shapes = layer.regions if layer.features is None else layer.features
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")  # an empty result is reported below, once per file
                    result = polygon_centerlines(
                        shapes, fs, buffer_distance=d, options=replace(options, sources=layer.features is not None)
                    )
                result = finished(result, layer, f.back[k] if f.back else None, d, fs, fill=True)
                parts.append((None if drawing.layers is None else layer, result))
        except (DrawingError, ValueError, TypeError) as exc:
            fail(f, str(exc))
            continue
        f.parts = parts
        if not any(len(r.chains) for _, r in parts):
            fail(f, "no centerlines: every region was pruned away; give a smaller -f/--feature-size")


def _checked(files: list[_File]) -> Iterator[tuple[_File, formats.Drawing]]:
    """Each file with its drawing, told first whether a layer's CRS counts in degrees."""
    for f in files:
        assert f.drawing is not None
        for crs in dict.fromkeys(str(layer.crs) for layer in f.drawing.parts() if layer.crs is not None):
            # one level more than a direct call: the warning names the same caller
            check_crs(crs, where=f"{f.name}: ", stacklevel=3, hint=DEGREES_HINT)
        yield f, f.drawing


#: What to do about data in degrees, on the command line.
DEGREES_HINT = "give lengths in metres (e.g. -d 10m) to compute in the local UTM zone, or choose a CRS with --to-crs"


def _metric(args: argparse.Namespace) -> bool:
    """Whether a length was given with a unit (a map unit on GIS data)."""
    given = [args.buffer_distance, args.feature_size, *(getattr(args, name) for _, _, name, _ in option_flags())]
    return any(isinstance(v, Length) and v.unit for v in given)


def working_drawing(drawing: formats.Drawing, to_crs: str | None, metric: bool) -> tuple[formats.Drawing, list[Any] | None]:
    """The drawing in the CRS it is computed in, and per part the CRS its results go back to.

    --to-crs reprojects every layer, and the results stay there.  Without it, a layer in
    degrees with lengths in metres goes to its local UTM zone and its results come back to
    its own CRS; a layer in Web Mercator draws a warning for its stretched metres."""
    if to_crs is None and not metric:
        return drawing, None
    parts = drawing.parts()
    targets: list[Any] = []
    for layer in parts:
        if layer.crs is None:
            if to_crs is not None:
                raise DrawingError("--to-crs reprojects GIS data; this drawing has no CRS")
            targets.append(None)
        elif to_crs is not None:
            targets.append(local_utm(layer.crs, _bounds(layer)) if to_crs.lower() == "utm" else _crs_or_fail(to_crs))
        elif is_geographic(layer.crs):
            targets.append(local_utm(layer.crs, _bounds(layer)))
        else:
            _warn_mercator(layer)
            targets.append(None)
    if not any(t is not None for t in targets):
        return drawing, None
    moved = [reprojected(layer, t) if t is not None else layer for layer, t in zip(parts, targets)]
    back = [layer.crs if t is not None and to_crs is None else None for layer, t in zip(parts, targets)]
    return with_parts(drawing, moved), back


def _crs_or_fail(text: str) -> Any:
    try:
        return as_crs(text)
    except Exception as exc:  # pyproj names what it could not read
        raise DrawingError(f"--to-crs: unknown CRS {text!r} ({str(exc).splitlines()[0]})") from None


def _bounds(layer: formats.Layer) -> tuple[float, float, float, float]:
    box = bounds_of(layer.curves)
    if box is None:
        raise DrawingError(f"layer {layer.name!r} has no points to place in a CRS")
    return box


def _warn_mercator(layer: formats.Layer) -> None:
    box = bounds_of(layer.curves)
    stretch = mercator_stretch(layer.crs, box) if box is not None else None
    if stretch is not None and stretch > MERCATOR_TOLERANCE:
        where = f"layer {layer.name!r}: " if layer.name else ""
        warnings.warn(
            f"{where}Web Mercator (EPSG:3857) lengths are {stretch:.3g} times the true ones here, so a "
            f"length in metres is {1 / stretch:.3g} of it on the ground; give --to-crs utm to compute in "
            f"true metres",
            UserWarning,
            stacklevel=3,
        )


#: Web Mercator's stretch above which lengths in metres draw a warning: 1%, reached at 8 degrees
#: of latitude.
MERCATOR_TOLERANCE = 1.01


def finished(result: Centerlines, layer: formats.Layer, back: Any, d: float | None, fs: float | None, *, fill: bool) -> Centerlines:
    """A part's result in its layer's CRS, with the provenance of a GIS layer's chains, back
    in the CRS it came from."""
    if layer.crs is not None and result.crs is None:
        result = replace(result, crs=layer.crs)
    if layer.features is not None and not fill and d is not None and fs is not None:
        box = bounds_of(layer.curves) or (0.0, 0.0, 0.0, 0.0)
        result = with_stroke_sources(result, layer.features, [], d, fs, (box[0], box[1]))
    return result.to_crs(back) if back is not None else result


def layer_view(drawing: formats.Drawing, layer: formats.Layer) -> formats.Drawing:
    """The drawing as one of its layers sees it: in that layer's CRS, for its lengths."""
    return drawing if layer.crs is None or layer.crs is drawing.crs else replace(drawing, crs=layer.crs)


def _given_scale(args: argparse.Namespace, drawing: formats.Drawing) -> tuple[float | None, float | None]:
    """-d and -f in the drawing's own units; None where not given."""
    d = args.buffer_distance.resolve(drawing) if args.buffer_distance else None
    fs = args.feature_size.resolve(drawing) if args.feature_size else None
    return d, fs


def _options(args: argparse.Namespace, drawing: formats.Drawing) -> Options:
    """The tuning flags as options, their lengths in the drawing's own units."""
    values: dict[str, Any] = {}
    for _, _, name, _ in option_flags():
        value = getattr(args, name)
        values[name] = value.resolve(drawing) if isinstance(value, Length) else value
    return Options(**values)


def _output_ext(args: argparse.Namespace, f: _File) -> str:
    if args.output != STDIO:
        return Path(args.output).suffix.lower()
    if args.output_format:
        return str(args.output_format)
    return f.source if f.source in formats.OUTPUT_FORMATS else ".geojson"


def _outputs(args: argparse.Namespace, names: list[str], paths: list[Path]) -> list[Path]:
    if args.output == STDIO:
        ext = args.output_format
        if ext is not None and ext not in formats.OUTPUT_FORMATS:
            raise CliError(f"--to: unknown format {ext!r}; expected {', '.join(formats.OUTPUT_FORMATS)}")
        if ext in (".gpkg", ".fgb", ".parquet"):
            raise CliError(f"a {ext} file cannot be written to standard output")
        return [Path(STDIO)]
    return _targets(args.output, names, paths, formats.OUTPUT_FORMATS, "OUTPUT")


def _previews(args: argparse.Namespace, paths: list[Path]) -> list[Path | None]:
    if not args.png:
        return [None] * len(paths)
    return list(_targets(args.png, [str(p) for p in paths], paths, (".png",), "--png"))


def _targets(template: str, names: list[str], inputs: list[Path], allowed: tuple[str, ...], what: str) -> list[Path]:
    """One output path per input, from a name that may hold ``{stem}``."""
    ext = Path(template).suffix.lower()
    if ext not in allowed:
        raise CliError(
            f"{template}: unknown {what} format {ext or '(no extension)'!r}; expected {', '.join(allowed)}"
        )
    if len(inputs) > 1 and "{stem}" not in template:
        raise CliError(f"{template}: with several inputs, {what} must contain {{stem}}, e.g. out/{{stem}}{ext}")
    paths = [Path(template.replace("{stem}", p.stem)) for p in inputs]
    seen: dict[Path, str] = {}
    for name, src, dst in zip(names, inputs, paths):
        if dst.resolve() in seen:
            raise CliError(f"{seen[dst.resolve()]} and {name} would both be written to {dst}")
        if name != STDIO and dst.resolve() == src.resolve():
            raise CliError(f"{dst}: refusing to overwrite the input")
        if dst.is_dir():
            # caught before anything is written: a failed rename later would
            # leave the other outputs half done
            raise CliError(f"{dst}: is a directory")
        seen[dst.resolve()] = name
    return paths


def _write_all(files: list[tuple[Path, bytes]]) -> None:
    """Write every file or none: all go to temporary files first, then are renamed."""
    staged: list[tuple[str, Path]] = []
    to_stdout = [data for target, data in files if str(target) == STDIO]
    files = [(t, d) for t, d in files if str(t) != STDIO]
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
    for data in to_stdout:
        sys.stdout.buffer.write(data)
        sys.stdout.buffer.flush()


if __name__ == "__main__":
    sys.exit(main())
