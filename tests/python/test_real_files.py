"""Real files as their writers made them (the corpus of tests/fuzz/file_corpus.py): each reads in
its own format, agrees with what its writer's own tools read in it, and what strandify writes
of it reads back with its chains."""

from __future__ import annotations

import json
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Any

import file_corpus
import numpy as np
import pytest

from strandify.cli import main
from strandify.formats import read_drawing

pytest.importorskip("svgelements")


def entries_of(real_files: tuple[Path, list[Any]], source: str) -> list[Any]:
    found = [e for e in real_files[1] if e.source == source]
    if not found:
        pytest.skip(f"no files from {source}: its package is not installed")
    return found


@pytest.mark.parametrize("source", file_corpus.SOURCES)
def test_every_file_reads_in_its_own_format(real_files, source: str) -> None:
    for entry in entries_of(real_files, source):
        drawing = read_drawing(entry.path, fill=entry.fill)
        assert drawing.curves, entry.name
        assert all(np.isfinite(c).all() for c in drawing.curves), entry.name
        regions = drawing.regions or [r for layer in drawing.layers or [] for r in layer.regions or []]
        assert bool(regions) is entry.fill, entry.name


def test_kanjivg_gives_one_curve_per_stroke(real_files) -> None:
    for entry in entries_of(real_files, "kanjivg"):
        strokes = ET.parse(entry.path).getroot().findall(".//{http://www.w3.org/2000/svg}path")
        assert len(read_drawing(entry.path).curves) == len(strokes), entry.name


def test_vpype_reads_the_same_lines(real_files) -> None:
    vpype = pytest.importorskip("vpype")
    for entry in entries_of(real_files, "vpype"):
        doc = vpype.read_multilayer_svg(str(entry.path), quantization=0.01, crop=False)
        theirs = [np.column_stack((line.real, line.imag)) for k in sorted(doc.layers) for line in doc.layers[k]]
        ours = read_drawing(entry.path).curves
        assert len(ours) == len(theirs)
        for a, b in zip(ours, theirs):
            # vpype maps the page's size in cm to pixels, which rounds
            assert a.shape == b.shape and np.allclose(a, b, rtol=1e-6, atol=1e-6)


@pytest.mark.parametrize("source", ["pyogrio fixtures", "gdal"])
def test_gis_files_give_every_line_or_polygon_that_geopandas_reads(real_files, source: str) -> None:
    geopandas = pytest.importorskip("geopandas")
    for entry in entries_of(real_files, source):
        if entry.path.suffix == ".json":
            continue  # plain lists of points: nothing GIS reads
        frame = geopandas.read_file(entry.path, layer="tracks") if entry.path.suffix == ".gpx" else geopandas.read_file(entry.path)
        parts = frame.geometry.explode(index_parts=False)
        kinds = ("Polygon",) if entry.fill else ("LineString", "LinearRing")
        drawing = read_drawing(entry.path, fill=entry.fill)
        found = drawing.regions if entry.fill else drawing.curves
        assert len(found) == parts.geom_type.isin(kinds).sum(), entry.name


@pytest.fixture(scope="module")
def written(real_files, tmp_path_factory: pytest.TempPathFactory) -> dict[str, tuple[Any, Path]]:
    """Each corpus entry run through the command line once, written as JSON: its chains."""
    out_dir = tmp_path_factory.mktemp("written")
    results = {}
    for k, entry in enumerate(real_files[1]):
        out = out_dir / f"{k}.json"
        assert main([str(entry.path), "-o", str(out), *(["--fill"] if entry.fill else [])]) == 0, entry.name
        data = json.loads(out.read_text())
        layers = data["layers"] if "layers" in data else [data]
        results[entry.name] = (entry, [np.array(c, dtype=np.float64) for layer in layers for c in layer["chains"]])
    return results


@pytest.mark.parametrize("ext", [".json", ".geojson", ".svg", ".gpkg"])
def test_our_files_read_back_with_their_chains(written, tmp_path: Path, ext: str) -> None:
    if ext == ".gpkg":
        pytest.importorskip("pyogrio")
    for name, (entry, chains) in written.items():
        out = tmp_path / f"out{ext}"
        assert main([str(entry.path), "-o", str(out), *(["--fill"] if entry.fill else [])]) == 0, name
        back = read_drawing(out)
        assert len(back.curves) == len(chains), name
        flipped = ext == ".svg" and entry.path.suffix != ".svg"
        for got, want in zip(back.curves, chains):
            if flipped:
                # y-up data is shown upright in SVG through a mirroring group, which reading applies
                box = back.frame()
                got = np.column_stack((got[:, 0], box[1] + box[3] - got[:, 1]))
                assert np.allclose(got, want, rtol=1e-12, atol=1e-12 * max(map(abs, box))), name
            else:
                assert np.array_equal(got, want), name
