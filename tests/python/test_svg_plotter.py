"""SVG for pen plotters: physical size, what is not drawn, layers, lengths with units."""

from __future__ import annotations

import xml.etree.ElementTree as ET
from pathlib import Path
from typing import Any

import numpy as np
import pytest

from strandify import centerlines
from strandify.cli import main
from strandify.formats import read_drawing

pytest.importorskip("svgelements")

SVG = "{http://www.w3.org/2000/svg}"
INKSCAPE = "{http://www.inkscape.org/namespaces/inkscape}"
PX_PER_MM = 96 / 25.4


def overdrawn(x0: float, y0: float, x1: float, y1: float, stroke: str = "") -> str:
    attr = f' stroke="{stroke}"' if stroke else ""
    return (
        f'<polyline points="{x0},{y0} {x1},{y1}"{attr}/>'
        f'<polyline points="{x0 + 0.6},{y0 + 0.5} {x1 + 0.6},{y1 - 0.5}"{attr}/>'
    )


def a4(body: str, size: str = 'width="210mm" height="297mm" viewBox="0 0 210 297"') -> str:
    return (
        '<svg xmlns="http://www.w3.org/2000/svg" stroke="black" '
        f'xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" {size}>{body}</svg>'
    )


TWO_LAYERS = a4(
    '<g inkscape:groupmode="layer" inkscape:label="Letters" id="g1">'
    + overdrawn(20, 20, 20, 120) + overdrawn(60, 20, 60, 120, "red")
    + "</g>"
    '<g inkscape:groupmode="layer" inkscape:label="Frame" id="g2" style="stroke:blue">'
    + overdrawn(20, 200, 180, 200)
    + "</g>"
)


def write(tmp_path: Path, name: str, text: str) -> Path:
    path = tmp_path / name
    path.write_text(text)
    return path


def polylines(elem: ET.Element) -> list[Any]:
    return [
        np.array([[float(v) for v in p.split(",")] for p in line.get("points", "").split()])
        for line in elem.iter(f"{SVG}polyline")
    ]


class TestSize:
    @pytest.mark.parametrize(
        "size",
        [
            'width="210mm" height="297mm" viewBox="0 0 210 297"',
            'width="8.5in" height="11in" viewBox="0 0 816 1056"',
            'width="210mm" height="297mm"',
        ],
    )
    def test_width_height_and_viewbox_are_kept(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], size: str) -> None:
        src = write(tmp_path, "page.svg", a4(overdrawn(20, 20, 20, 120) + overdrawn(20, 60, 80, 60), size))
        out = tmp_path / "out.svg"
        assert main([str(src), "-o", str(out)]) == 0, capsys.readouterr().err
        root, source = ET.parse(out).getroot(), ET.fromstring(src.read_text())
        assert (root.get("width"), root.get("height")) == (source.get("width"), source.get("height"))
        box = [float(v) for v in root.get("viewBox", "").split()]
        if source.get("viewBox"):
            assert box == [float(v) for v in source.get("viewBox", "").split()]
        else:  # user units are pixels: the viewBox spans the page in pixels
            assert box == pytest.approx([0, 0, 210 * PX_PER_MM, 297 * PX_PER_MM])

    def test_vpype_reads_the_same_size_and_lines(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        vp = pytest.importorskip("vpype")
        src = write(tmp_path, "page.svg", TWO_LAYERS)
        out = tmp_path / "out.svg"
        assert main([str(src), "-o", str(out), "-d", "1mm"]) == 0, capsys.readouterr().err
        doc = vp.read_multilayer_svg(str(out), quantization=0.1)
        assert doc.page_size == pytest.approx((210 * PX_PER_MM, 297 * PX_PER_MM))
        assert len(doc.layers) == 2
        names = sorted(doc.layers[k].property("vp_name") for k in doc.layers)
        assert names == ["Frame", "Letters"]
        ours = [c for c in polylines(ET.parse(out).getroot())]
        theirs = [np.column_stack((line.real, line.imag)) / PX_PER_MM for k in sorted(doc.layers) for line in doc.layers[k]]
        assert len(theirs) == len(ours)
        for a in ours:
            assert any(len(a) == len(b) and np.allclose(a, b, atol=1e-6) for b in theirs)


class TestNotDrawn:
    @pytest.mark.parametrize(
        "hidden",
        [
            '<path d="M 100 100 L 150 150" stroke="none" fill="black"/>',
            '<rect x="100" y="100" width="40" height="40" style="fill:black;stroke:none"/>',
            '<g stroke="none"><path d="M 100 100 L 150 150"/></g>',
            '<path d="M 100 100 L 150 150" stroke="transparent"/>',
            '<path d="M 100 100 L 150 150" stroke="black" stroke-opacity="0"/>',
            '<path d="M 100 100 L 150 150" style="display:none"/>',
            '<g display="none"><path d="M 100 100 L 150 150"/></g>',
            '<path d="M 100 100 L 150 150" visibility="hidden"/>',
            '<g visibility="hidden"><path d="M 100 100 L 150 150"/></g>',
            '<defs><path id="p" d="M 100 100 L 150 150"/></defs>',
        ],
    )
    def test_is_not_read(self, tmp_path: Path, hidden: str) -> None:
        drawing = read_drawing(write(tmp_path, "a.svg", a4('<path d="M 0 0 L 10 0"/>' + hidden)))
        assert [c.tolist() for c in drawing.curves] == [[[0.0, 0.0], [10.0, 0.0]]]

    def test_visible_inside_hidden_group_and_inherited_stroke_are_read(self, tmp_path: Path) -> None:
        body = '<g visibility="hidden"><path d="M 0 5 L 10 5" visibility="visible"/></g><g stroke="none"><path d="M 0 7 L 10 7" stroke="red"/></g>'
        drawing = read_drawing(write(tmp_path, "a.svg", a4('<path d="M 0 0 L 10 0"/>' + body)))
        assert len(drawing.curves) == 3


class TestLayers:
    def test_inkscape_layers_run_apart_and_come_back_as_layers(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "page.svg", TWO_LAYERS)
        drawing = read_drawing(src)
        assert drawing.layers is not None
        assert [(layer.name, len(layer.curves)) for layer in drawing.layers] == [("Letters", 4), ("Frame", 2)]
        out = tmp_path / "out.svg"
        assert main([str(src), "-o", str(out), "-d", "1", "-f", "2"]) == 0, capsys.readouterr().err
        groups = ET.parse(out).getroot().findall(f"{SVG}g")
        assert [g.get(f"{INKSCAPE}groupmode") for g in groups] == ["layer", "layer"]
        assert [g.get(f"{INKSCAPE}label") for g in groups] == ["Letters", "Frame"]
        for group, layer in zip(groups, drawing.layers):
            want = centerlines(layer.curves, 1.0, 2.0)
            got = polylines(group)
            assert len(got) == len(want.chains)
            assert all(np.allclose(a, b, rtol=0, atol=1e-9) for a, b in zip(got, want.chains))

    def test_stroke_colours_as_layers(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "page.svg", TWO_LAYERS)
        drawing = read_drawing(src, by_stroke=True)
        assert drawing.layers is not None
        assert [(layer.name, layer.stroke) for layer in drawing.layers] == [
            ("Letters #000000", "#000000"), ("Letters #ff0000", "#ff0000"), ("Frame #0000ff", "#0000ff")
        ]
        out = tmp_path / "out.svg"
        assert main([str(src), "-o", str(out), "--by-stroke"]) == 0, capsys.readouterr().err
        groups = ET.parse(out).getroot().findall(f"{SVG}g")
        assert [g.get("stroke") for g in groups] == ["#000000", "#ff0000", "#0000ff"]
        assert all(len(polylines(g)) == 1 for g in groups)

    def test_plain_svg_has_no_layers(self, tmp_path: Path) -> None:
        assert read_drawing(write(tmp_path, "a.svg", a4(overdrawn(0, 0, 10, 0)))).layers is None

    def test_layers_in_geojson_and_json(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        import json

        src = write(tmp_path, "page.svg", TWO_LAYERS)
        assert main([str(src), "-o", str(tmp_path / "o.geojson"), "-d", "1"]) == 0, capsys.readouterr().err
        features = json.loads((tmp_path / "o.geojson").read_text())["features"]
        assert sorted({f["properties"]["layer"] for f in features}) == ["Frame", "Letters"]
        assert main([str(src), "-o", str(tmp_path / "o.json"), "-d", "1"]) == 0
        layers = json.loads((tmp_path / "o.json").read_text())["layers"]
        assert [layer["name"] for layer in layers] == ["Letters", "Frame"]


class TestUnits:
    @pytest.mark.parametrize(
        ("size", "given", "units"),
        [
            ('width="210mm" height="297mm" viewBox="0 0 210 297"', "1mm", 1.0),
            ('width="210mm" height="297mm" viewBox="0 0 2100 2970"', "1mm", 10.0),
            ('width="210mm" height="297mm"', "1mm", PX_PER_MM),
            ('width="210mm" height="297mm" viewBox="0 0 210 297"', "0.1cm", 1.0),
            ('width="210mm" height="297mm" viewBox="0 0 210 297"', "1px", 1 / PX_PER_MM),
        ],
    )
    def test_lengths_with_units(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], size: str, given: str, units: float) -> None:
        src = write(tmp_path, "a.svg", a4(overdrawn(20, 20, 20, 120) + overdrawn(20, 60, 80, 60), size))
        drawing = read_drawing(src)
        assert drawing.length(float(given.rstrip("cmpx")), given.lstrip("0123456789.")) == pytest.approx(units)
        assert main([str(src), "-o", str(tmp_path / "u.json"), "-d", given, "-f", "2"]) == 0, capsys.readouterr().err
        assert main([str(src), "-o", str(tmp_path / "n.json"), "-d", repr(drawing.length(float(given.rstrip("cmpx")), given.lstrip("0123456789."))), "-f", "2"]) == 0
        assert (tmp_path / "u.json").read_bytes() == (tmp_path / "n.json").read_bytes()

    @pytest.mark.parametrize(("name", "text"), [("a.json", "[[[0, 0], [10, 0]]]"), ("a.geojson", '{"type": "LineString", "coordinates": [[0, 0], [10, 0]]}')])
    def test_units_need_a_drawing_that_has_them(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], name: str, text: str) -> None:
        src = write(tmp_path, name, text)
        code = main([str(src), "-o", str(tmp_path / "o.svg"), "-d", "1mm"])
        err = capsys.readouterr().err
        assert code == 1 and err == f"strandify: error: {src}: a length in 'mm' needs a drawing with physical units; give it in the drawing's own units\n"

    def test_map_units_on_an_svg(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "a.svg", a4(overdrawn(0, 0, 10, 0)))
        assert main([str(src), "-o", str(tmp_path / "o.svg"), "-d", "1km"]) == 1
        assert "unknown unit 'km' for this drawing; expected one of px, in, cm, mm" in capsys.readouterr().err


def test_layer_picks_inkscape_layers_by_label(tmp_path: Path, capsys: Any) -> None:
    svg = tmp_path / "layers.svg"
    svg.write_text(
        '<svg xmlns="http://www.w3.org/2000/svg" xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" '
        'viewBox="0 0 100 100">'
        '<g inkscape:groupmode="layer" inkscape:label="pen"><path d="M10 10 L90 10" stroke="black"/></g>'
        '<g inkscape:groupmode="layer" inkscape:label="pencil"><path d="M10 50 L90 50" stroke="black"/>'
        '<path d="M10 80 L90 80" stroke="black"/></g></svg>'
    )
    picked = read_drawing(svg, layers=["pencil"])
    assert [layer.name for layer in picked.layers or []] == ["pencil"]
    assert sorted(round(float(c[0][1])) for c in picked.curves) == [50, 80]
    out = tmp_path / "out.json"
    assert main([str(svg), "-o", str(out), "-d", "2", "--layer", "pen"]) == 0
    assert main([str(svg), "-o", str(out), "-d", "2", "--layer", "ink"]) != 0
    assert "no layer named 'ink'; the SVG's layers are 'pen', 'pencil'" in capsys.readouterr().err
