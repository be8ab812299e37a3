"""The file readers on what real writers produce, and on files that lie about their sizes."""

from __future__ import annotations

import json
import shutil
from pathlib import Path

import numpy as np
import pytest

from strandify.cli import main
from strandify.formats import DrawingError, read_drawing

pytest.importorskip("svgelements")

TITLE = "Bold title, spaced"


def run(capsys: pytest.CaptureFixture[str], *argv: str | Path) -> tuple[int, list[str]]:
    code = main([str(a) for a in argv])
    return code, capsys.readouterr().err.splitlines()


def svg(body: str, attrs: str = "") -> str:
    return f'<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" {attrs}>{body}</svg>'


@pytest.fixture(scope="module")
def figure(tmp_path_factory: pytest.TempPathFactory) -> tuple[Path, tuple[float, float, float, float]]:
    """A matplotlib figure saved as SVG with its text as glyph outlines, and the box (min x,
    min y, max x, max y) that matplotlib gives its bold title, in the SVG's user units."""
    matplotlib = pytest.importorskip("matplotlib")
    from matplotlib.backends.backend_svg import FigureCanvasSVG
    from matplotlib.figure import Figure

    path = tmp_path_factory.mktemp("mpl") / "figure.svg"
    with matplotlib.rc_context({"svg.fonttype": "path"}):
        # at 72 dpi a display pixel is one unit of the SVG, which matplotlib writes in points
        fig = Figure(figsize=(4, 3), dpi=72)
        FigureCanvasSVG(fig)
        ax = fig.add_subplot()
        ax.plot([0, 1, 2, 3], [0, 2, 1, 3])
        title = ax.set_title(TITLE, fontweight="bold")
        fig.savefig(path, format="svg")
        box = title.get_window_extent()
    height = fig.bbox.height
    return path, (box.x0, height - box.y1, box.x1, height - box.y0)


def inside(points: np.ndarray, box: tuple[float, float, float, float], slack: float = 0.5) -> np.ndarray:
    x, y = points[:, 0], points[:, 1]
    return (x >= box[0] - slack) & (x <= box[2] + slack) & (y >= box[1] - slack) & (y <= box[3] + slack)


class TestMatplotlibFigure:
    @pytest.mark.parametrize("flags", [[], ["--fill"]])
    def test_the_command_line_reads_it(self, figure, tmp_path: Path, capsys: pytest.CaptureFixture[str], flags: list[str]) -> None:
        path, _ = figure
        assert run(capsys, path, "-o", tmp_path / "out.svg", *flags) == (0, [])

    def test_glyphs_are_drawn_where_their_use_places_them(self, figure) -> None:
        path, box = figure
        regions = read_drawing(path, fill=True).regions
        assert regions is not None
        title = [r for r in regions if inside(np.concatenate(r), box).all()]
        # every visible character of the title is at least one outline, and together they
        # span the width that matplotlib laid the title out in
        assert len(title) >= len(TITLE.replace(" ", ""))
        points = np.concatenate([ring for rings in title for ring in rings])
        assert np.ptp(points[:, 0]) > 0.9 * (box[2] - box[0])

    def test_text_filled_without_a_stroke_is_not_a_stroke(self, figure) -> None:
        path, box = figure
        curves = read_drawing(path).curves
        assert curves  # the plotted line, the axes and ticks are stroked
        assert not any(inside(c, box).any() for c in curves)


SEGMENT = 'd="M 10 10 L 90 10"'


class TestWhatIsAStroke:
    @pytest.mark.parametrize(
        ("body", "stroked"),
        [
            (f'<path {SEGMENT} stroke="red"/>', True),
            (f'<path {SEGMENT} style="fill:none;stroke:#123456"/>', True),
            (f'<g stroke="red"><path {SEGMENT} fill="blue"/></g>', True),
            (f'<g style="stroke:black"><g><path {SEGMENT}/></g></g>', True),
            (f'<style>.pen {{ stroke: green }}</style><path class="pen" {SEGMENT}/>', True),
            (f'<g color="red"><path {SEGMENT} stroke="currentColor"/></g>', True),
            (f'<defs><path id="p" {SEGMENT}/></defs><g stroke="black"><use xlink:href="#p"/></g>', True),
            # the used element's own stroke wins over the one it inherits from the <use>
            (f'<defs><path id="p" {SEGMENT} stroke="red"/></defs><use xlink:href="#p" stroke="none"/>', True),
            # SVG's initial stroke is none: a fill alone is no stroke
            (f'<path {SEGMENT} fill="red"/>', False),
            ('<rect x="10" y="10" width="80" height="20" style="fill:#000"/>', False),
            ('<g fill="blue"><circle cx="50" cy="50" r="20"/></g>', False),
            (f'<g stroke="black"><path {SEGMENT} stroke="none"/></g>', False),
            (f'<g style="stroke:black"><path {SEGMENT} style="stroke:none"/></g>', False),
            (f'<g stroke="none"><path {SEGMENT} fill="black"/></g>', False),
            (f'<defs><path id="p" {SEGMENT}/></defs><g fill="black"><use xlink:href="#p"/></g>', False),
        ],
    )
    def test_only_a_drawn_stroke_is_read(self, tmp_path: Path, body: str, stroked: bool) -> None:
        path = tmp_path / "a.svg"
        path.write_text(svg(body))
        if stroked:
            assert [c.tolist() for c in read_drawing(path).curves] == [[[10.0, 10.0], [90.0, 10.0]]]
        else:  # and the file is all fill: the error says how to read it
            with pytest.raises(DrawingError, match="--fill"):
                read_drawing(path)

    def test_use_places_with_its_position_and_transform(self, tmp_path: Path) -> None:
        path = tmp_path / "a.svg"
        body = (
            f'<defs><path id="p" {SEGMENT}/></defs><g stroke="black">'
            '<use xlink:href="#p" x="5" y="7"/><use href="#p" transform="translate(100 0) scale(2)"/></g>'
        )
        path.write_text(svg(body))
        curves = [c.tolist() for c in read_drawing(path).curves]
        assert curves == [[[15.0, 17.0], [95.0, 17.0]], [[120.0, 20.0], [280.0, 20.0]]]


    @pytest.mark.parametrize("template", ["symbol", "marker", "mask"])
    def test_templates_are_drawn_only_where_used(self, tmp_path: Path, template: str) -> None:
        path = tmp_path / "a.svg"
        path.write_text(svg(f'<{template} id="t"><path {SEGMENT}/></{template}><use href="#t" y="5" stroke="red"/>'))
        assert [c.tolist() for c in read_drawing(path).curves] == [[[10.0, 15.0], [90.0, 15.0]]]


def _polygon_geojson() -> str:
    square = [[[0, 0], [10, 0], [10, 10], [0, 10], [0, 0]]]
    return json.dumps({"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {}, "geometry": {"type": "Polygon", "coordinates": square}}]})


class TestOnlyRegions:
    @pytest.mark.parametrize(
        ("name", "text"),
        [
            ("fills.svg", svg('<rect x="10" y="10" width="80" height="20"/><circle cx="50" cy="60" r="9" fill="red"/>')),
            ("polygons.geojson", _polygon_geojson()),
            ("polygons.json", _polygon_geojson()),
        ],
    )
    def test_the_error_points_to_fill(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], name: str, text: str) -> None:
        src = tmp_path / name
        src.write_text(text)
        code, err = run(capsys, src, "-o", tmp_path / "out.json")
        assert code == 1 and len(err) == 1 and "--fill" in err[0], err
        assert run(capsys, src, "-o", tmp_path / "out.json", "--fill") == (0, [])

    @pytest.mark.parametrize("name", ["naturalearth_lowres/naturalearth_lowres.shp", "multisurface.gpkg"])
    def test_gis_polygons_point_to_fill(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], name: str) -> None:
        pyogrio = pytest.importorskip("pyogrio")
        pytest.importorskip("geopandas")
        source = Path(pyogrio.__file__).parent / "tests" / "fixtures" / name
        for sidecar in source.parent.glob(source.stem + ".*"):
            shutil.copy(sidecar, tmp_path)
        code, err = run(capsys, tmp_path / source.name, "-o", tmp_path / "out.json")
        assert code == 1 and len(err) == 1 and "--fill" in err[0], err


class TestHostileSizes:
    @pytest.mark.parametrize(
        ("attrs", "body"),
        [
            ('viewBox="1e308 0 793.7 559.4" width="100mm" height="80mm"', ""),
            ('viewBox="0 1e308 793.7 559.4" height="80mm"', ""),
            ('viewBox="0 0 1e-320 1e-320" width="100mm" height="80mm"', ""),
            ('viewBox="-1e308 -1e308 1e308 1e308" width="1e-320" height="1e-320"', ""),
            ('viewBox="nan 0 10 10" width="1e308in" height="1e308in"', ""),
            ('width="1e999" height="1e999"', ""),
            ("", '<g transform="scale(1e308)">{}</g>'),
            ("", '<g transform="matrix(1e308 0 0 1e308 1e308 0)">{}</g>'),
            ("", '<g transform="rotate(1e308)">{}</g>'),
            ("", '<g transform="scale(1e-320)">{}</g>'),
            ("", '{}<path stroke="black" d="M 0 0 L 1e999 0"/>'),
            ("", '<g id="a"><use href="#a"/></g>{}'),
            ("", '<path id="u0" d="M 0 0 L 1 1"/>' + "".join(
                f'<g id="u{k}"><use href="#u{k - 1}"/><use href="#u{k - 1}"/></g>' for k in range(1, 40)) + "{}"),
        ],
    )
    def test_one_clear_line_or_a_result(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], attrs: str, body: str) -> None:
        strokes = '<g stroke="black"><path d="M 10 10 L 60 12 L 110 10"/><path d="M 10 11 L 110 11"/></g>'
        src = tmp_path / "a.svg"
        src.write_text(svg((body or "{}").format(strokes), attrs))
        out = tmp_path / "out.svg"
        code, err = run(capsys, src, "-o", out, "-d", "1mm")
        if code == 0:
            assert err == [] and out.exists()
        else:
            assert code == 1 and len(err) == 1 and err[0].startswith("strandify: error: "), err


@pytest.mark.parametrize("name", ["urn:ogc:def:crs:OGC:1.3:CRS1e-320", "EPSG:99999999", "not a crs"])
def test_a_crs_member_that_names_no_crs_is_refused_with_the_file(tmp_path: Path, name: str, capsys: pytest.CaptureFixture[str]) -> None:
    pytest.importorskip("pyproj")
    data = {"type": "FeatureCollection", "crs": {"type": "name", "properties": {"name": name}},
            "features": [{"type": "Feature", "properties": {}, "geometry": {"type": "LineString", "coordinates": [[0, 0], [50, 0]]}}]}
    path = tmp_path / "bad.geojson"
    path.write_text(json.dumps(data))
    with pytest.raises(DrawingError, match="which is not a coordinate reference system"):
        read_drawing(path)
    # every writer fails the same way, before any work: one line, no traceback
    for ext in (".gpkg", ".geojson", ".svg"):
        assert main([str(path), "-o", str(tmp_path / f"out{ext}")]) != 0
        err = capsys.readouterr().err
        assert "not a coordinate reference system" in err and len(err.strip().splitlines()) == 1
    data["crs"]["properties"]["name"] = "urn:ogc:def:crs:EPSG::32633"
    path.write_text(json.dumps(data))
    assert read_drawing(path).crs == "urn:ogc:def:crs:EPSG::32633"
    # a crs member of another shape names nothing: the lines read without a CRS
    data["crs"]["properties"] = [data["crs"]["properties"]]
    path.write_text(json.dumps(data))
    assert read_drawing(path).crs is None
