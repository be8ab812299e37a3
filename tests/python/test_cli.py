"""The command line and the file formats behind it."""

from __future__ import annotations

import json
import math
import os
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Any

import numpy as np
import pytest

import strandify
from conftest import batch_failure
from strandify import Centerlines, centerlines, suggest_parameters
from strandify.cli import main
from strandify.formats import DrawingError, read_drawing

SVG_NS = "{http://www.w3.org/2000/svg}"

# An overdrawn plus sign, as in the API tests.
PLUS = [
    [(0.0, 0.0), (50.0, 0.4), (100.0, 0.0)],
    [(1.0, 1.0), (50.0, 0.8), (99.0, 1.2)],
    [(50.0, -50.0), (50.4, 0.0), (50.0, 50.0)],
    [(51.0, -49.0), (50.8, 0.0), (51.0, 49.0)],
]


def plus_json() -> str:
    return json.dumps([[list(p) for p in c] for c in PLUS])


def plus_geojson() -> str:
    return json.dumps(
        {
            "type": "FeatureCollection",
            "features": [
                {"type": "Feature", "properties": {}, "geometry": {"type": "LineString", "coordinates": PLUS[0]}},
                {"type": "Feature", "properties": {}, "geometry": {"type": "MultiLineString", "coordinates": PLUS[1:3]}},
                {"type": "Feature", "properties": {}, "geometry": None},
                {"type": "Feature", "properties": {}, "geometry": {"type": "Point", "coordinates": [5, 5]}},
                {"type": "Feature", "properties": {}, "geometry": {"type": "LineString", "coordinates": PLUS[3]}},
            ],
        }
    )


def plus_svg() -> str:
    # the same strokes in user units, placed through a transform and shown
    # through a viewBox at half size: neither may change the coordinates read
    lines = "\n".join(
        f'<polyline points="{" ".join(f"{x},{y}" for x, y in c)}"/>' for c in PLUS
    )
    return (
        '<svg xmlns="http://www.w3.org/2000/svg" stroke="black" width="60" height="60" viewBox="-10 -60 120 120">'
        f'<g transform="translate(5 -3)"><g transform="translate(-5 3)">{lines}</g></g></svg>'
    )


INPUTS = {"json": plus_json, "geojson": plus_geojson, "svg": plus_svg}


def write(tmp_path: Path, name: str, text: str) -> Path:
    path = tmp_path / name
    path.write_text(text)
    return path


def run(capsys: pytest.CaptureFixture[str], *argv: str | Path) -> tuple[int, str]:
    code = main([str(a) for a in argv])
    return code, capsys.readouterr().err


def expected(curves: Any = PLUS) -> Centerlines:
    return centerlines(curves, *suggest_parameters(curves))


def chains_equal(curves: list[Any], result: Centerlines) -> bool:
    return len(curves) == len(result.chains) and all(
        np.allclose(np.asarray(a), b, rtol=0, atol=1e-9) for a, b in zip(curves, result.chains)
    )


# -- reading ----------------------------------------------------------------------------


class TestReading:
    @pytest.mark.parametrize("kind", INPUTS)
    def test_every_input_format_reads_the_same_curves(self, tmp_path: Path, kind: str) -> None:
        if kind == "svg":
            pytest.importorskip("svgelements")
        drawing = read_drawing(write(tmp_path, f"plus.{kind}", INPUTS[kind]()))
        assert [c.tolist() for c in drawing.curves] == [[list(p) for p in c] for c in PLUS]
        assert drawing.y_up is (kind != "svg")

    def test_svg_transforms_viewbox_and_flattening(self, tmp_path: Path) -> None:
        pytest.importorskip("svgelements")
        svg = write(
            tmp_path,
            "shapes.svg",
            '<svg xmlns="http://www.w3.org/2000/svg" stroke="black" width="200" height="100" viewBox="0 0 400 200">'
            '<defs><path d="M 0 0 L 999 999"/></defs>'
            '<g transform="translate(10 20)">'
            '<path d="M 0 0 L 100 0 L 100 50 M 200 0 H 250 Z"/>'
            '<polyline points="0,60 100,60"/>'
            '<line x1="0" y1="80" x2="100" y2="80" transform="rotate(90 50 80)"/>'
            "</g>"
            '<circle cx="300" cy="100" r="40"/>'
            '<text x="5" y="5">not a stroke</text>'
            "</svg>",
        )
        drawing = read_drawing(svg)
        assert drawing.viewbox == (0.0, 0.0, 400.0, 200.0)
        curves = [c.tolist() for c in drawing.curves]
        assert curves[0] == [[10.0, 20.0], [110.0, 20.0], [110.0, 70.0]]
        assert curves[1] == [[210.0, 20.0], [260.0, 20.0], [210.0, 20.0]]  # closed by Z
        assert curves[2] == [[10.0, 80.0], [110.0, 80.0]]
        assert np.allclose(curves[3], [[60.0, 50.0], [60.0, 150.0]])
        circle = drawing.curves[4]
        assert len(curves) == 5 and len(circle) > 32
        assert np.allclose(np.hypot(circle[:, 0] - 300, circle[:, 1] - 100), 40, atol=1e-6)
        assert np.allclose(circle[0], circle[-1])

    def test_svg_curves_are_flattened_finely(self, tmp_path: Path) -> None:
        pytest.importorskip("svgelements")
        svg = write(tmp_path, "c.svg", '<svg xmlns="http://www.w3.org/2000/svg" stroke="black"><path d="M0 0 C 0 100 100 100 100 0"/></svg>')
        (curve,) = read_drawing(svg).curves
        steps = np.hypot(*np.diff(curve, axis=0).T)
        assert len(curve) > 500 and steps.max() < 0.5
        assert curve[0].tolist() == [0.0, 0.0] and curve[-1].tolist() == [100.0, 0.0]
        assert curve[:, 1].max() == pytest.approx(75.0, abs=0.01)

    def test_geojson_shapes(self, tmp_path: Path) -> None:
        bare = write(tmp_path, "bare.geojson", json.dumps({"type": "LineString", "coordinates": [[0, 0, 9], [1, 1, 9]]}))
        assert [c.tolist() for c in read_drawing(bare).curves] == [[[0.0, 0.0], [1.0, 1.0]]]
        feature = {"type": "Feature", "geometry": {"type": "MultiLineString", "coordinates": [[[0, 0], [1, 0]], [[2, 2], [3, 3]]]}}
        nested = {"type": "GeometryCollection", "geometries": [{"type": "GeometryCollection", "geometries": [feature["geometry"]]}]}
        for data in (feature, nested):
            path = write(tmp_path, "x.json", json.dumps(data))  # GeoJSON found inside .json too
            assert len(read_drawing(path).curves) == 2

    def test_json_variants(self, tmp_path: Path) -> None:
        for data in ({"curves": PLUS}, {"chains": PLUS, "nodes": []}):
            assert len(read_drawing(write(tmp_path, "v.json", json.dumps(data))).curves) == 4
        gappy = write(tmp_path, "gap.json", "[[[0, 0], [1, 1], [null, 5], [2, 2], [3, 3]]]")
        (curve,) = read_drawing(gappy).curves
        assert np.isnan(curve[2, 0])
        assert len(centerlines(read_drawing(gappy).curves, 1.0, 1.0).chains) <= 2

    @pytest.mark.parametrize(
        "name, text, problem",
        [
            ("a.json", "{", "invalid JSON: Expecting property name enclosed in double quotes (line 1, column 2)"),
            ("a.json", "[]", "no curves found"),
            ("a.json", "[[]]", "no curves found"),
            ("a.json", "3", "expected a list of curves, got a JSON int"),
            ("a.json", "[1, 2]", "curve 0: expected a list of [x, y] number pairs"),
            ("a.json", '[[[0, 0], ["1", 2]]]', "curve 0: expected a list of [x, y] number pairs"),
            ("a.json", "[[[0, 0], [1]]]", "curve 0: expected a list of [x, y] number pairs"),
            ("a.json", '{"lines": []}', 'expected a list of curves, or an object with "curves" or "chains"'),
            ("a.geojson", "[]", 'not a GeoJSON object (no "type" member)'),
            ("a.geojson", '{"type": "Point", "coordinates": [0, 0]}', "no LineString or MultiLineString geometries found"),
            ("a.geojson", '{"type": "FeatureCollection"}', 'a FeatureCollection needs a "features" list'),
            ("a.geojson", '{"type": "FeatureCollection", "features": [{"type": "Feature", "geometry": {"type": "LineString", "coordinates": 7}}]}', "feature 0: LineString: expected a list of [x, y] number pairs"),
            ("a.svg", '<svg xmlns="http://www.w3.org/2000/svg" stroke="black"><text>hi</text></svg>', "no stroked paths, polylines or lines found"),
            ("a.svg", "<svg><path d='M0 0 L1 1'></svg>", "invalid SVG: mismatched tag: line 1, column 27"),
            ("a.txt", "[]", "unknown input format '.txt'; expected .svg, .geojson, .json, an image mask (.png, .tif, .tiff, .bmp) or a vector format GDAL reads (.gpkg, .shp, .gpx, .fgb, .parquet, .pbf, .gml, .kml, .gdb, .dxf, ...; needs the gis extra)"),
            ("noext", "[]", "unknown input format '(no extension)'; expected .svg, .geojson, .json, an image mask (.png, .tif, .tiff, .bmp) or a vector format GDAL reads (.gpkg, .shp, .gpx, .fgb, .parquet, .pbf, .gml, .kml, .gdb, .dxf, ...; needs the gis extra)"),
        ],
    )
    def test_unusable_files(self, tmp_path: Path, name: str, text: str, problem: str) -> None:
        if name.endswith(".svg"):
            pytest.importorskip("svgelements")
        with pytest.raises(DrawingError) as info:
            read_drawing(write(tmp_path, name, text))
        assert str(info.value) == problem

    def test_missing_and_undecodable_files(self, tmp_path: Path) -> None:
        with pytest.raises(DrawingError, match="^file not found$"):
            read_drawing(tmp_path / "missing.json")
        (tmp_path / "dir.json").mkdir()
        with pytest.raises(DrawingError, match="^is a directory, not a file$"):
            read_drawing(tmp_path / "dir.json")
        binary = tmp_path / "b.json"
        binary.write_bytes(b"\xff\xfe\x00[")
        with pytest.raises(DrawingError, match="^not a UTF-8 text file$"):
            read_drawing(binary)

    def test_encodings(self, tmp_path: Path) -> None:
        bom = tmp_path / "bom.json"
        bom.write_bytes(b"\xef\xbb\xbf[[[0, 0], [1, 1]]]")
        assert [c.tolist() for c in read_drawing(bom).curves] == [[[0.0, 0.0], [1.0, 1.0]]]
        pytest.importorskip("svgelements")
        latin = tmp_path / "latin.svg"
        latin.write_bytes(
            b'<?xml version="1.0" encoding="ISO-8859-1"?>\n<svg xmlns="http://www.w3.org/2000/svg" stroke="black">'
            b'<title>caf\xe9</title><polyline points="0,0 5,5"/></svg>'
        )
        assert [c.tolist() for c in read_drawing(latin).curves] == [[[0.0, 0.0], [5.0, 5.0]]]
        garbage = tmp_path / "garbage.svg"
        garbage.write_bytes(b"\x00\x01\x02")
        with pytest.raises(DrawingError, match="^invalid SVG: "):
            read_drawing(garbage)

    def test_deeply_nested_geojson_does_not_blow_the_stack(self, tmp_path: Path) -> None:
        inner: dict[str, Any] = {"type": "LineString", "coordinates": [[0, 0], [1, 1]]}
        text = json.dumps(inner)
        for _ in range(5000):
            text = '{"type": "GeometryCollection", "geometries": [' + text + "]}"
        path = write(tmp_path, "deep.geojson", text)
        try:
            curves = read_drawing(path).curves
        except DrawingError as exc:  # the JSON parser itself may refuse the depth
            assert "nested too deeply" in str(exc)
        else:
            assert [c.tolist() for c in curves] == [[[0.0, 0.0], [1.0, 1.0]]]


# -- the command line -------------------------------------------------------------------


class TestCommandLine:
    @pytest.mark.parametrize("source", INPUTS)
    @pytest.mark.parametrize("target", ["svg", "geojson", "json"])
    def test_every_input_to_every_output(
        self, tmp_path: Path, capsys: pytest.CaptureFixture[str], source: str, target: str
    ) -> None:
        if source == "svg":
            pytest.importorskip("svgelements")
        src = write(tmp_path, f"plus.{source}", INPUTS[source]())
        out = tmp_path / f"out.{target}"
        assert run(capsys, src, "-o", out) == (0, "")
        want = expected()
        if target == "json":
            data = json.loads(out.read_text())
            assert data["chains"] == [c.tolist() for c in want.chains]
            assert data["chain_node_ids"] == want.chain_node_ids.tolist()
            assert data["nodes"] == want.nodes.tolist()
        elif target == "geojson":
            data = json.loads(out.read_text())
            assert [f["geometry"]["coordinates"] for f in data["features"]] == [c.tolist() for c in want.chains]
            assert [[f["properties"]["start_node"], f["properties"]["end_node"]] for f in data["features"]] == want.chain_node_ids.tolist()
        else:
            root = ET.fromstring(out.read_text())
            assert len(root.findall(f".//{SVG_NS}polyline")) == len(want.chains)
            group = root.find(f"{SVG_NS}g")
            assert group is not None
            # y-up sources are flipped for display; SVG sources keep their frame
            assert (group.get("transform") is not None) is (source != "svg")
            if source == "svg":
                assert root.get("viewBox") == "-10.0 -60.0 120.0 120.0"

    @pytest.mark.parametrize("fmt", ["geojson", "json"])
    def test_round_trip_gives_back_the_chains(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], fmt: str) -> None:
        src = write(tmp_path, "plus.json", plus_json())
        out = tmp_path / f"out.{fmt}"
        assert run(capsys, src, "-o", out)[0] == 0
        back = read_drawing(out).curves
        want = expected()
        assert [c.tolist() for c in back] == [c.tolist() for c in want.chains]  # bit for bit

    def test_svg_round_trip(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        pytest.importorskip("svgelements")
        src = write(tmp_path, "plus.svg", plus_svg())
        out = tmp_path / "out.svg"
        assert run(capsys, src, "-o", out)[0] == 0
        back = read_drawing(out)
        assert chains_equal([c.tolist() for c in back.curves], expected())
        # a flipped output reads back flipped about the middle of its frame
        out2 = tmp_path / "out2.svg"
        assert run(capsys, write(tmp_path, "plus.json", plus_json()), "-o", out2)[0] == 0
        flipped = read_drawing(out2)
        assert flipped.viewbox is not None
        mid = flipped.viewbox[1] + flipped.viewbox[3]
        assert chains_equal([[(x, mid - y) for x, y in c.tolist()] for c in flipped.curves], expected())

    def test_explicit_scale(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "plus.json", plus_json())
        out = tmp_path / "out.json"
        assert run(capsys, src, "-o", out, "--buffer-distance", "2.5", "--feature-size", "4")[0] == 0
        want = centerlines(PLUS, 2.5, 4.0)
        assert json.loads(out.read_text())["chains"] == [c.tolist() for c in want.chains]
        assert run(capsys, src, "-o", out, "-d", "2.5")[0] == 0
        want = centerlines(PLUS, 2.5, 5.0)
        assert json.loads(out.read_text())["chains"] == [c.tolist() for c in want.chains]

    @pytest.mark.parametrize("finishing, warned", [([], True), (["--no-refine"], False)])
    def test_tiles_say_that_they_leave_the_chains_unfinished(
        self, tmp_path: Path, capsys: pytest.CaptureFixture[str], finishing: list[str], warned: bool
    ) -> None:
        src = write(tmp_path, "plus.json", plus_json())
        out = tmp_path / "out.json"
        code, err = run(capsys, src, "-o", out, "-d", "2.5", "--partition", "tiles", *finishing)
        assert code == 0
        assert ("warning: the finishing steps (refine) do not run with partition='tiles'" in err) == warned
        want = centerlines(PLUS, 2.5, 5.0, partition="tiles", refine=False)
        assert json.loads(out.read_text())["chains"] == [c.tolist() for c in want.chains]

    def test_png_preview(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        pytest.importorskip("matplotlib")
        for kind in ("json", "svg"):
            if kind == "svg":
                pytest.importorskip("svgelements")
            src = write(tmp_path, f"plus.{kind}", INPUTS[kind]())
            png = tmp_path / "preview" / f"{kind}.png"
            assert run(capsys, src, "-o", tmp_path / f"{kind}.geojson", "--png", png) == (0, "")
            assert png.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    def test_several_inputs_run_as_one_batch(
        self, tmp_path: Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch
    ) -> None:
        calls: list[int] = []
        real = strandify._native.strandify_strokes_arrays_batch

        def counting(jobs: Any, options: Any) -> Any:
            calls.append(len(jobs))
            return real(jobs, options)

        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", counting)
        monkeypatch.delenv("RAYON_NUM_THREADS", raising=False)
        a = write(tmp_path, "a.json", plus_json())
        b = write(tmp_path, "b.json", json.dumps([[list(p) for p in c] for c in PLUS[:2]]))
        code, err = run(capsys, a, b, "-o", tmp_path / "out" / "{stem}.json", "--jobs", "2")
        assert (code, err) == (0, "")
        assert calls == [2]
        assert os.environ["RAYON_NUM_THREADS"] == "2"
        got_a = json.loads((tmp_path / "out" / "a.json").read_text())["chains"]
        got_b = json.loads((tmp_path / "out" / "b.json").read_text())["chains"]
        assert got_a == [c.tolist() for c in expected().chains]
        assert got_b == [c.tolist() for c in expected(PLUS[:2]).chains]

    def test_several_inputs_need_a_stem_placeholder(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        a = write(tmp_path, "a.json", plus_json())
        b = write(tmp_path, "b.json", plus_json())
        code, err = run(capsys, a, b, "-o", tmp_path / "out.json")
        assert code == 1
        assert err == f"strandify: error: {tmp_path / 'out.json'}: with several inputs, OUTPUT must contain {{stem}}, e.g. out/{{stem}}.json\n"
        sub = tmp_path / "sub"
        sub.mkdir()
        c = write(sub, "a.json", plus_json())
        code, err = run(capsys, a, c, "-o", tmp_path / "{stem}.svg")
        assert code == 1 and "would both be written to" in err

    def test_refuses_to_overwrite_its_input(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "a.json", plus_json())
        code, err = run(capsys, src, "-o", src)
        assert code == 1 and "refusing to overwrite the input" in err
        assert src.read_text() == plus_json()


class TestFailures:
    """Every failure: one line on stderr naming the file, status 1, nothing written."""

    def check(self, capsys: pytest.CaptureFixture[str], argv: list[Any], path: Path, problem: str, out: Path) -> None:
        out.write_text("previous")
        code, err = run(capsys, *argv)
        assert code == 1
        assert err == f"strandify: error: {path}: {problem}\n"
        assert out.read_text() == "previous"
        assert sorted(p.name for p in out.parent.iterdir() if p.name.startswith(".")) == []

    def test_missing_file(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        out = tmp_path / "out.svg"
        self.check(capsys, [tmp_path / "nope.json", "-o", out], tmp_path / "nope.json", "file not found", out)

    def test_invalid_json(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        bad = write(tmp_path, "bad.json", "[[[0, 0], [1, 1]]")
        out = tmp_path / "out.svg"
        self.check(capsys, [bad, "-o", out], bad, "invalid JSON: Expecting ',' delimiter (line 1, column 18)", out)

    def test_unknown_input_extension(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        bad = write(tmp_path, "drawing.abc", "0\nSECTION\n")
        out = tmp_path / "out.svg"
        self.check(capsys, [bad, "-o", out], bad, "unknown input format '.abc'; expected .svg, .geojson, .json, an image mask (.png, .tif, .tiff, .bmp) or a vector format GDAL reads (.gpkg, .shp, .gpx, .fgb, .parquet, .pbf, .gml, .kml, .gdb, .dxf, ...; needs the gis extra)", out)

    def test_unknown_output_extension(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "a.json", plus_json())
        out = tmp_path / "out.pdf"
        self.check(capsys, [src, "-o", out], out, "unknown OUTPUT format '.pdf'; expected .svg, .geojson, .json, .gpkg, .fgb, .parquet", out)
        png = tmp_path / "out.jpg"
        self.check(capsys, [src, "-o", tmp_path / "x.svg", "--png", png], png, "unknown --png format '.jpg'; expected .png", png)
        assert not (tmp_path / "x.svg").exists()

    def test_svg_without_paths(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        pytest.importorskip("svgelements")
        bad = write(tmp_path, "empty.svg", '<svg xmlns="http://www.w3.org/2000/svg" stroke="black"><rect width="0" height="0"/></svg>')
        out = tmp_path / "out.svg"
        self.check(capsys, [bad, "-o", out], bad, "no stroked paths, polylines or lines found", out)

    def test_one_bad_input_writes_nothing_for_the_good_ones(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        good = write(tmp_path, "good.json", plus_json())
        bad = write(tmp_path, "bad.json", "[7]")
        out_dir = tmp_path / "out"
        out_dir.mkdir()
        code, err = run(capsys, good, bad, "-o", out_dir / "{stem}.geojson", "--png", out_dir / "{stem}.png")
        assert code == 1
        assert err == f"strandify: error: {bad}: curve 0: expected a list of [x, y] number pairs\n"
        assert list(out_dir.iterdir()) == []

    def test_failing_job_names_its_file(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch) -> None:
        def failing(jobs: Any, options: Any) -> Any:
            raise batch_failure(1, "skeleton has 99 nodes, exceeding max_nodes limit of 5")

        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", failing)
        a = write(tmp_path, "a.json", plus_json())
        b = write(tmp_path, "b.json", plus_json())
        code, err = run(capsys, a, b, "-o", tmp_path / "{stem}.svg")
        assert code == 1
        assert err == f"strandify: error: {b}: skeleton has 99 nodes, exceeding max_nodes limit of 5\n"

    def test_unwritable_output(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "a.json", plus_json())
        blocker = write(tmp_path, "file", "")
        code, err = run(capsys, src, "-o", blocker / "out.svg")
        assert code == 1
        assert err.startswith(f"strandify: error: {blocker / 'out.svg'}: cannot write: ")
        assert err.count("\n") == 1

    def test_output_that_is_a_directory(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        a = write(tmp_path, "a.json", plus_json())
        b = write(tmp_path, "b.json", plus_json())
        (tmp_path / "b.svg").mkdir()
        code, err = run(capsys, a, b, "-o", tmp_path / "{stem}.svg")
        assert (code, err) == (1, f"strandify: error: {tmp_path / 'b.svg'}: is a directory\n")
        assert not (tmp_path / "a.svg").exists()

    def test_missing_png_support_is_explained(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch) -> None:
        monkeypatch.setitem(sys.modules, "matplotlib", None)
        src = write(tmp_path, "a.json", plus_json())
        out = tmp_path / "out.svg"
        self.check(capsys, [src, "-o", out, "--png", tmp_path / "p.png"], src, "--png needs matplotlib: pip install 'strandify[plot]'", out)

    def test_missing_svg_support_is_explained(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch) -> None:
        monkeypatch.setitem(sys.modules, "svgelements", None)
        src = write(tmp_path, "a.svg", plus_svg())
        out = tmp_path / "out.json"
        self.check(capsys, [src, "-o", out], src, "reading SVG needs svgelements: pip install 'strandify[svg]'", out)

    @pytest.mark.parametrize("args", [["-d", "0"], ["-f", "-1"], ["-f", "nan"], ["-j", "0"], []])
    def test_usage_errors(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], args: list[str]) -> None:
        src = write(tmp_path, "a.json", plus_json())
        argv = [src, "-o", tmp_path / "o.json", *args] if args else [src]
        code, err = run(capsys, *argv)
        assert code == 2 and "usage: strandify" in err
        assert not (tmp_path / "o.json").exists()


class TestAsProgram:
    def env(self) -> dict[str, str]:
        env = dict(os.environ)
        # run the package under test, wherever it was imported from
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(Path(strandify.__file__).parent.parent), env.get("PYTHONPATH")]))
        return env

    def test_help(self) -> None:
        proc = subprocess.run([sys.executable, "-m", "strandify", "--help"], capture_output=True, text=True, env=self.env())
        assert proc.returncode == 0
        assert "usage: strandify [-h]" in proc.stdout
        assert "RAYON_NUM_THREADS" in proc.stdout
        assert "0.025 x the median length" in proc.stdout

    def test_error_without_traceback(self, tmp_path: Path) -> None:
        bad = write(tmp_path, "bad.json", "{nope")
        proc = subprocess.run(
            [sys.executable, "-m", "strandify", str(bad), "-o", str(tmp_path / "o.svg")],
            capture_output=True, text=True, env=self.env(),
        )
        assert proc.returncode == 1
        assert proc.stdout == ""
        assert proc.stderr.count("\n") == 1 and "Traceback" not in proc.stderr
        assert proc.stderr.startswith(f"strandify: error: {bad}: invalid JSON")

    def test_bundled_sample(self, tmp_path: Path) -> None:
        sample = Path(__file__).resolve().parents[2] / "examples" / "letters.json"
        if not sample.exists():
            pytest.skip("examples not available")
        pytest.importorskip("matplotlib")
        out, png = tmp_path / "letters.svg", tmp_path / "letters.png"
        proc = subprocess.run(
            [sys.executable, "-m", "strandify", str(sample), "-o", str(out), "--png", str(png)],
            capture_output=True, text=True, env=self.env(),
        )
        assert (proc.returncode, proc.stderr) == (0, "")
        chains = ET.fromstring(out.read_text()).findall(f".//{SVG_NS}polyline")
        # H, E, X and A: a dozen or more chains, far fewer than the 32 overdrawn strokes
        assert 12 <= len(chains) < 32
        assert png.stat().st_size > 10_000
        assert math.isfinite(float(ET.fromstring(out.read_text()).get("width", "nan")))
