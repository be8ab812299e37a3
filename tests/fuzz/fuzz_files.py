#!/usr/bin/env python3
"""Fuzz the file readers and the command line with mutations of real files.

The corpus (tests/fuzz/file_corpus.py) holds files that ship inside installed packages and files
that matplotlib, vpype and GDAL write at the start of the run.  A case takes one corpus file,
mutates it one to three times (bytes flipped, the file cut short, a chunk doubled or dropped,
numbers replaced by 1e308, nan, 1e-320, -0 or huge exponents; in an XML file also attributes
and elements, in a JSON file also values, keys and geometry types) and runs it

  read  through strandify.formats.read_drawing, which must give a drawing or raise DrawingError
  cli   through strandify.cli.main with -o to a temporary file (with or without --fill), which
        must exit 0 having written it, or 1 with one `strandify: error:` line

Every case follows from (seed, index) and the corpus alone, so a finding is reproduced by
``fuzz_files.py --seed SEED --replay INDEX`` (``--save FILE`` keeps the mutated file).  Cases run
in child processes, each under an address-space limit and a per-case timeout; the parent counts

  traceback   any other exception out of a reader or the command line
  bad-output  a command line that exits otherwise, or without its one error line or its output
  hang        no answer within the timeout
  crash       the child died (a signal)

beside the clean outcomes read, refused, cli-ok and cli-error.

    fuzz_files.py --seed 7 --seconds 600 --jobs 2 --report build/fuzz-files-report.json
    fuzz_files.py --seed 7 --replay 417 --save /tmp/case.svg
"""
from __future__ import annotations

import argparse
import collections
import contextlib
import copy
import io
import json
import os
import random
import re
import struct
import sys
import tempfile
import traceback
import warnings
import xml.etree.ElementTree as ET
from dataclasses import dataclass, field
from pathlib import Path

import child_pool
import file_corpus

FAULTS = ("crash", "hang", "traceback", "bad-output", "generator-error")
XML_FORMATS = (".svg", ".gpx")
JSON_FORMATS = (".geojson", ".json")
OUTPUTS = (".svg", ".geojson", ".json", ".gpkg")

HOSTILE_NUMBERS = ("1e308", "-1e308", "1.7976931348623157e308", "nan", "NaN", "inf", "Infinity",
                   "1e-320", "-1e-320", "4.9e-324", "-0", "0", "1e999999", "-1e999999", "1e+308",
                   "9" * 400)
HOSTILE_DOUBLES = (1e308, -1e308, float("nan"), float("inf"), -float("inf"), 5e-324, 1e-320, -0.0, 0.0)
HOSTILE_INTS = (0, -1, 0x7FFFFFFF, -0x80000000, 1 << 20)
HOSTILE_ATTRIBUTES = (
    "", "none", "inherit", "transparent", "currentColor", "1e308", "-1e308", "nan", "1e-320", "-0",
    "1e999999", "100%", "-5", "url(#missing)", "scale(1e308)", "matrix(1e308 0 0 1e308 1e308 0)",
    "matrix(0 0 0 0 0 0)", "rotate(1e308)", "skewX(90)", "translate(1e308 -1e308)", "scale(1e-320)",
    "M", "M 0 0 C", "M 0 0 A 1e308 1 0 1 1 1e-320 0", "M 1e308 1e308 L -1e308 -1e308 Z",
    "1e308 0 793.7 559.4", "0 0 0 0", "0 0 -1 -1", "nan nan nan nan", "stroke:none",
    "fill:none;stroke:#000", "stroke:currentColor;color:red", "display:none", "visibility:hidden",
    "0,0 1e308,1e308 nan,0", "x" * 5000,
)
ATTRIBUTE_NAMES = ("transform", "viewBox", "width", "height", "d", "points", "x", "y", "x1", "y2", "r",
                   "rx", "cx", "stroke", "fill", "style", "display", "visibility", "href",
                   "{http://www.w3.org/1999/xlink}href", "stroke-width", "id", "class", "lat", "lon")
TAGS = ("g", "defs", "symbol", "use", "path", "rect", "circle", "ellipse", "line", "polyline", "polygon",
        "text", "clipPath", "mask", "marker", "pattern", "svg", "image", "style", "trk", "trkseg", "trkpt")
STYLE_SHEETS = ("* { stroke: red }", "path { stroke: none }", ".a { stroke:", "{{{", "g { display: none }",
                "svg { stroke: #000; fill: none }")
HOSTILE_JSON = (None, [], {}, "", "LineString", 1e308, -1e308, float("nan"), float("inf"), 1e-320, -0.0,
                True, [[]], [[[]]], [[0, 0]], [[0, 0], [1e308, 1e308]], {"type": "Polygon"},
                {"type": "GeometryCollection", "geometries": [{"type": "LineString", "coordinates": []}]},
                10**400)
GEOJSON_TYPES = ("Point", "LineString", "MultiLineString", "Polygon", "MultiPolygon", "GeometryCollection",
                 "Feature", "FeatureCollection", "LinearRing", "Bogus")
NUMBER = re.compile(rb"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")


@dataclass
class Case:
    entry: file_corpus.Entry
    target: str  # read or cli
    fill: bool
    by_stroke: bool
    output: str  # the command line's output extension
    mutated: Path  # the file of the entry that was mutated: the entry's own, or a sidecar
    data: bytes
    steps: list = field(default_factory=list)

    def describe(self, limit=4000):
        how = (f"read_drawing(fill={self.fill}, by_stroke={self.by_stroke})" if self.target == "read"
               else f"strandify -o out{self.output}" + (" --fill" if self.fill else ""))
        text = f"{self.entry.name}: {self.mutated.name} mutated by {'; '.join(self.steps)}; then {how}"
        return text if len(text) <= limit else text[:limit] + f"... [{len(text)} chars]"


# ----------------------------------------------------------------------------------------------
# Mutations.  Each takes the generator and the bytes and returns (new bytes, what it did).


def flip_bytes(r, data):
    data = bytearray(data)
    spots = [r.randrange(len(data)) for _ in range(r.choice((1, 2, 4, 16)))] if data else []
    for k in spots:
        data[k] ^= 1 << r.randrange(8)
    return bytes(data), f"bits flipped at {spots[:4]}"


def cut_short(r, data):
    end = r.randrange(len(data)) if data else 0
    return data[:end], f"cut at byte {end} of {len(data)}"


def splice(r, data):
    if len(data) < 2:
        return data, "spliced nothing"
    a = r.randrange(len(data))
    b = min(len(data), a + r.choice((1, 16, 256, 4096)))
    if r.random() < 0.5:
        return data[:a] + data[a:b] * 2 + data[b:], f"bytes {a}:{b} doubled"
    return data[:a] + data[b:], f"bytes {a}:{b} dropped"


def text_numbers(r, data):
    """Some of the numbers written in the text, replaced by hostile ones (sometimes all in a
    stretch of the file, or deep JSON nesting in place of one)."""
    spans = [m.span() for m in NUMBER.finditer(data)]
    if not spans:
        return flip_bytes(r, data)
    if r.random() < 0.1:
        start = r.randrange(len(spans))
        chosen = spans[start:start + r.choice((10, 100, 1000))]
    else:
        chosen = r.sample(spans, min(len(spans), r.choice((1, 1, 2, 5))))
    value = r.choice(HOSTILE_NUMBERS).encode()
    if r.random() < 0.03:
        depth = r.choice((100, 5000, 200000))
        value = b"[" * depth + b"0" + b"]" * depth
        # a few deep nests test the readers' recursion; a thousand of the deepest would only
        # make a file of hundreds of megabytes
        chosen = chosen[:5]
    # the file cut once at every chosen span and joined again: replacing span after span
    # copied the whole (growing) file each time
    parts, at = [], 0
    for a, b in sorted(chosen):
        parts += [data[at:a], value]
        at = b
    parts.append(data[at:])
    return b"".join(parts), f"{len(chosen)} numbers set to {value[:20].decode()}{'...' if len(value) > 20 else ''}"


def plausible_doubles(data):
    """Offsets where eight bytes read as a little-endian double that looks like a coordinate."""
    import numpy as np

    out = []
    for shift in range(8):
        usable = (len(data) - shift) // 8 * 8
        values = np.frombuffer(data[shift:shift + usable], dtype="<f8")
        with np.errstate(all="ignore"):
            good = np.isfinite(values) & (np.abs(values) > 1e-3) & (np.abs(values) < 1e8)
        out.extend((np.flatnonzero(good) * 8 + shift).tolist())
    return sorted(out)


def binary_numbers(r, data):
    """Coordinates (doubles that look like one) or random words set to hostile values."""
    data = bytearray(data)
    if len(data) < 8:
        return flip_bytes(r, bytes(data))
    offsets = plausible_doubles(bytes(data))
    done = []
    for _ in range(r.choice((1, 1, 3, 20))):
        if offsets and r.random() < 0.8:
            at, value = r.choice(offsets), r.choice(HOSTILE_DOUBLES)
            data[at:at + 8] = struct.pack("<d", value)
        else:
            at, value = r.randrange(len(data) - 4), r.choice(HOSTILE_INTS)
            data[at:at + 4] = struct.pack(r.choice("<>") + "i", value)
        done.append(f"{value!r}@{at}")
    return bytes(data), "numbers set: " + ", ".join(done[:5])


def _elements(root):
    return list(root.iter())


def _namespace(tag):
    return tag[: len(tag) - len(tag.rpartition("}")[2])] if isinstance(tag, str) else ""


def _parents(root):
    return {child: parent for parent in root.iter() for child in parent}


def xml_tree(r, data):
    """One change to the element tree: an attribute set or dropped, an element dropped,
    doubled, moved, renamed, wrapped deep, or a <use> or <style> added."""
    try:
        return _xml_change(r, ET.fromstring(data))
    except (ET.ParseError, ValueError, LookupError):
        return text_numbers(r, data)
    except RecursionError:  # a tree nested deeply by an earlier step: ElementTree recurses
        return cut_short(r, data)


def _xml_change(r, root):
    elems = _elements(root)
    parents = _parents(root)
    elem = r.choice(elems)
    ns = _namespace(root.tag)
    depth = 0
    kind = r.choice(("set", "set", "set", "drop-attr", "drop", "double", "move", "rename", "deep", "use", "style"))
    if kind == "set":
        name = r.choice(list(elem.attrib) + list(ATTRIBUTE_NAMES))
        value = r.choice(HOSTILE_ATTRIBUTES)
        ids = [e.get("id") for e in elems if e.get("id")]
        if name.endswith("href") and ids:
            value = "#" + r.choice(ids)
        elem.set(name, value)
        what = f"{name}={value[:40]!r} on <{elem.tag}>"
    elif kind == "drop-attr" and elem.attrib:
        name = r.choice(list(elem.attrib))
        del elem.attrib[name]
        what = f"{name} dropped from <{elem.tag}>"
    elif kind in ("drop", "double", "rename", "deep") and elem is not root:
        parent = parents[elem]
        at = list(parent).index(elem)
        if kind == "drop":
            parent.remove(elem)
        elif kind == "double":
            parent.insert(at, copy.deepcopy(elem))
        elif kind == "rename":
            elem.tag = ns + r.choice(TAGS)
        else:
            # a placeholder, written out as that many nested groups after serialising, which
            # itself recurses once per level
            depth = r.choice((2, 50, 5000))
            placeholder = ET.Element(ns + "fuzzdeep")
            parent[at] = placeholder
            placeholder.append(elem)
            kind = f"deep {depth}"
        what = f"{kind} <{elem.tag}>"
    elif kind == "move" and elem is not root:
        descendants = set(elem.iter())
        target = r.choice([e for e in elems if e not in descendants])
        parents[elem].remove(elem)
        target.append(elem)
        what = f"<{elem.tag}> moved into <{target.tag}>"
    elif kind == "use":
        target = r.choice(elems)
        if target.get("id") is None:
            target.set("id", f"fuzz{r.randrange(1000)}")
        ET.SubElement(elem, ns + "use", {"href": "#" + target.get("id"), "x": r.choice(("0", "5", "1e308"))})
        what = f"<use> of <{target.tag}> in <{elem.tag}>"
    else:
        sheet = r.choice(STYLE_SHEETS)
        ET.SubElement(root, ns + "style").text = sheet
        what = f"<style> {sheet!r}"
    if ns:
        ET.register_namespace("", ns[1:-1])
    text = ET.tostring(root)
    if depth:
        text = re.sub(rb"<(\w+:)?fuzzdeep>", b"<g>" * depth, text)
        text = re.sub(rb"</(\w+:)?fuzzdeep>", b"</g>" * depth, text)
    return text, "xml: " + what


def _json_slots(obj, limit=5000):
    """(container, key) of the values in a JSON document, breadth first, at most ``limit``."""
    slots, queue = [], collections.deque([obj])
    while queue and len(slots) < limit:
        node = queue.popleft()
        keys = list(node) if isinstance(node, dict) else range(len(node)) if isinstance(node, list) else []
        for key in keys:
            slots.append((node, key))
            queue.append(node[key])
    return slots


def json_tree(r, data):
    """One change to the JSON document: a value replaced, dropped or doubled, a geometry type
    changed, or a list wrapped in one more or one less level."""
    try:
        doc = json.loads(data)
    except (ValueError, RecursionError):
        return text_numbers(r, data)
    slots = _json_slots(doc)
    if not slots:
        return text_numbers(r, data)
    node, key = r.choice(slots)
    kind = r.choice(("replace", "replace", "drop", "double", "type", "wrap", "unwrap"))
    if kind == "type":
        typed = [(n, k) for n, k in slots if k == "type"]
        if typed:
            node, key = r.choice(typed)
        node[key] = r.choice(GEOJSON_TYPES)
    elif kind == "drop":
        del node[key]
    elif kind == "double" and isinstance(node, list):
        try:
            twin = copy.deepcopy(node[key])
        except RecursionError:  # deeper than copying can recurse: leave the bytes to another mutator
            return text_numbers(r, data)
        node.insert(key, twin)
    elif kind == "wrap":
        node[key] = [node[key]]
    elif kind == "unwrap" and isinstance(node[key], list) and node[key]:
        node[key] = node[key][0]
    else:
        kind = "replace"
        node[key] = copy.deepcopy(r.choice(HOSTILE_JSON))
    try:
        return json.dumps(doc).encode(), f"json: {kind} at {key!r}"
    except RecursionError:
        return text_numbers(r, data)


def mutators(path):
    """The mutations that fit a file, with their weights."""
    ext = path.suffix.lower()
    if ext in XML_FORMATS:
        return [(xml_tree, 4), (text_numbers, 3), (flip_bytes, 1), (cut_short, 1), (splice, 1)]
    if ext in JSON_FORMATS:
        return [(json_tree, 4), (text_numbers, 3), (flip_bytes, 1), (cut_short, 1), (splice, 1)]
    return [(binary_numbers, 4), (flip_bytes, 3), (cut_short, 1), (splice, 1)]


def make_case(corpus, seed, index):
    r = random.Random(f"{seed}:{index}")
    entry = r.choice(corpus)
    mutated = entry.path
    if entry.sidecars and r.random() < 0.25:
        mutated = r.choice(entry.sidecars)
    data = mutated.read_bytes()
    options, weights = zip(*mutators(mutated))
    steps = []
    for _ in range(r.choice((1, 1, 2, 3))):
        data, what = r.choices(options, weights)[0](r, data)
        steps.append(what)
    fill = entry.fill if r.random() < 0.7 else not entry.fill
    by_stroke = entry.path.suffix == ".svg" and r.random() < 0.2
    return Case(entry, r.choice(("read", "cli")), fill, by_stroke, r.choice(OUTPUTS), mutated, data, steps)


# ----------------------------------------------------------------------------------------------
# Running a case.


def place(case, directory):
    """Write the case's files into ``directory``: the entry's files, the mutated one changed."""
    for source in (case.entry.path, *case.entry.sidecars):
        target = directory / source.name
        target.write_bytes(case.data if source == case.mutated else source.read_bytes())
    return directory / case.entry.path.name


def run_read(case, path):
    from strandify.formats import DrawingError, read_drawing

    try:
        read_drawing(path, fill=case.fill, by_stroke=case.by_stroke)
    except DrawingError as e:
        return "refused", str(e)[:300]
    return "read", ""


def run_cli(case, path, directory):
    from strandify.cli import main

    out = directory / f"out{case.output}"
    err = io.StringIO()
    with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
        code = main([str(path), "-o", str(out), *(["--fill"] if case.fill else [])])
    text = err.getvalue()
    errors = [line for line in text.splitlines() if line.startswith("strandify: error: ")]
    if "Traceback" in text:
        return "traceback", text[-3000:]
    if code == 0 and not errors and out.exists():
        return "cli-ok", ""
    if code == 1 and len(errors) == 1 and not out.exists():
        return "cli-error", errors[0][:300]
    return "bad-output", f"exit status {code}, output written: {out.exists()}\n{text[-3000:]}"


def run_case(case):
    """(outcome, detail) of one case, in this process."""
    with tempfile.TemporaryDirectory(prefix="fuzz-files-") as tmp:
        directory = Path(tmp)
        path = place(case, directory)
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                if case.target == "read":
                    return run_read(case, path)
                return run_cli(case, path, directory)
        except BaseException as e:  # noqa: B902 - every other exception is the finding
            return "traceback", f"{type(e).__name__}: {e}"[:2000] + "\n" + traceback.format_exc()[-3000:]


# ----------------------------------------------------------------------------------------------
# The corpus, the children, the command line.


def child_main(seed, corpus_dir, memory_mb):
    # imported before the limit, with their dependencies
    import geopandas  # noqa: F401
    import pyogrio  # noqa: F401
    import svgelements  # noqa: F401

    import strandify.cli  # noqa: F401

    corpus = file_corpus.at(corpus_dir)
    child_pool.limit_memory(memory_mb)
    child_pool.serve(lambda index: run_case(make_case(corpus, seed, index)))


def fuzz(corpus_dir, seed=0, count=None, seconds=None, jobs=2, timeout=60.0, memory_mb=2048, start=0,
         env=None, progress=None, on_fault=None):
    """Runs cases start, start+1, ... in ``jobs`` child processes; returns the Report."""
    corpus = file_corpus.at(corpus_dir)
    env = dict(os.environ if env is None else env)
    env.setdefault("RAYON_NUM_THREADS", "1")
    report = child_pool.Report(seed, f"{len(corpus)} files", FAULTS,
                               lambda index: make_case(corpus, seed, index).describe(), on_fault=on_fault)
    command = [sys.executable, os.path.abspath(__file__), "--child", "--seed", str(seed),
               "--corpus", str(corpus_dir), "--memory-mb", str(memory_mb)]
    return child_pool.run(command, report, count=count, seconds=seconds, start=start, jobs=jobs,
                          timeout=timeout, env=env, progress=progress)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    child_pool.add_arguments(ap, timeout=60.0)
    ap.add_argument("--corpus", help="directory of the corpus (built there if missing; default: a temporary one)")
    ap.add_argument("--save", metavar="FILE", help="with --replay: write the mutated file here")
    a = ap.parse_args(argv)
    if a.child:
        child_main(a.seed, a.corpus, a.memory_mb)
        return 0
    with tempfile.TemporaryDirectory(prefix="fuzz-files-corpus-") as tmp:
        corpus_dir = a.corpus or tmp
        if a.replay is not None:
            case = make_case(file_corpus.at(corpus_dir), a.seed, a.replay)
            if a.save:
                Path(a.save).write_bytes(case.data)
            return child_pool.replay(case.describe(limit=20000), lambda: run_case(case), FAULTS)
        if a.count is None and a.seconds is None:
            a.count = 500
        report = fuzz(corpus_dir, a.seed, a.count, a.seconds, a.jobs, a.timeout, a.memory_mb, a.start,
                      progress=child_pool.show_progress, on_fault=child_pool.show_fault())
    return child_pool.conclude(report, a.report, a.fail_on_hang)


if __name__ == "__main__":
    sys.exit(main())
