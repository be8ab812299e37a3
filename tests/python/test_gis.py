"""GIS inputs and outputs: GeoDataFrames, GeoJSON mappings, GeoPackage, Shapefile, GPX, CRS."""

from __future__ import annotations

import json
import warnings
from pathlib import Path
from typing import Any

import numpy as np
import pytest

import strandify
from strandify import centerlines
from strandify.cli import main
from strandify.formats import read_drawing

gpd = pytest.importorskip("geopandas")
shapely = pytest.importorskip("shapely")
pyogrio = pytest.importorskip("pyogrio")

UTM = "EPSG:32633"
X0, Y0 = 500_000.0, 4_000_000.0


def strokes() -> list[Any]:
    """An overdrawn T in metres, placed in UTM zone 33."""
    return [
        shapely.LineString([(X0, Y0), (X0 + 0.4, Y0 + 50), (X0, Y0 + 100)]),
        shapely.LineString([(X0 + 1.5, Y0 + 1), (X0 + 1.2, Y0 + 50), (X0 + 1.5, Y0 + 99)]),
        shapely.LineString([(X0 - 40, Y0 + 100), (X0 + 40, Y0 + 100.5)]),
        shapely.LineString([(X0 - 39, Y0 + 101.5), (X0 + 39, Y0 + 101.2)]),
    ]


def frame(crs: str | None = UTM, extra: list[Any] | None = None) -> Any:
    geoms = strokes() + (extra or [])
    return gpd.GeoDataFrame({"name": [f"s{i}" for i in range(len(geoms))]}, geometry=geoms, crs=crs)


def same(a: strandify.Centerlines, b: strandify.Centerlines) -> bool:
    return len(a.chains) == len(b.chains) and all(np.array_equal(x, y) for x, y in zip(a.chains, b.chains))


D, F = 1.5, 6.0


def expected() -> strandify.Centerlines:
    return centerlines([np.asarray(g.coords) for g in strokes()], D, F)


class TestDataFrames:
    def test_none_and_empty_geometries_are_skipped_and_the_crs_kept(self) -> None:
        gdf = frame(extra=[None, shapely.LineString(), shapely.MultiLineString()])
        result = centerlines(gdf, D, F)
        assert same(result, expected())
        assert result.crs == gdf.crs

    @pytest.mark.parametrize("kind", ["series", "mapping", "geo_interface", "multilinestring"])
    def test_other_gis_containers(self, kind: str) -> None:
        gdf = frame()

        class Feature:
            __geo_interface__ = json.loads(gdf.to_json())

        drawing: Any = {
            "series": gdf.geometry,
            "mapping": json.loads(gdf.to_json()),
            "geo_interface": Feature(),
            "multilinestring": shapely.MultiLineString(strokes()).__geo_interface__,
        }[kind]
        result = centerlines(drawing, D, F)
        assert same(result, expected())
        assert (result.crs == gdf.crs) if kind == "series" else result.crs is None

    def test_polygons_are_named_by_row(self) -> None:
        gdf = frame(extra=[shapely.box(0, 0, 1, 1)])
        with pytest.raises(TypeError, match=r"row 4: cannot use a Polygon"):
            centerlines(gdf, D, F)

    def test_to_geopandas(self) -> None:
        result = centerlines(frame(), D, F, compute_widths=True)
        chains, nodes = result.to_geopandas()
        assert chains.crs == UTM and nodes.crs == UTM
        assert list(chains.columns) == ["chain", "start_node", "end_node", "length", "mean_width", "geometry"]
        assert list(nodes.columns) == ["node", "degree", "geometry"]
        assert len(chains) == len(result.chains) and len(nodes) == len(result.nodes)
        np.testing.assert_allclose(chains.length, chains.geometry.length)
        assert result.widths is not None
        np.testing.assert_allclose(chains.mean_width, [w.mean() for w in result.widths])
        # every chain has two ends: the degrees add up to twice the chains
        assert nodes.degree.sum() == 2 * len(chains)
        for row in chains.itertuples():
            start = nodes.geometry[row.start_node]
            assert shapely.Point(row.geometry.coords[0]).distance(start) < 1e-9
        assert "mean_width" not in centerlines(frame(), D, F).to_geopandas().chains.columns

    def test_to_geopandas_of_nothing(self) -> None:
        chains, nodes = strandify.Centerlines.from_native([], [], [], crs=UTM).to_geopandas()
        assert len(chains) == 0 and len(nodes) == 0 and chains.crs == UTM

    def test_degrees_draw_a_warning(self) -> None:
        with pytest.warns(strandify.GeographicCrsWarning, match="EPSG:4326 counts in degrees.*projected CRS"):
            centerlines(frame().to_crs("EPSG:4326"), 1e-5, 4e-5)
        with pytest.warns(strandify.GeographicCrsWarning):
            strandify.centerlines_batch([frame().to_crs("EPSG:4326")], 1e-5, 4e-5)

    def test_batch_keeps_each_crs(self) -> None:
        results = strandify.centerlines_batch([frame(), frame(crs="EPSG:32632"), [np.asarray(g.coords) for g in strokes()]], D, F)
        assert [r.crs for r in results] == [frame().crs, frame(crs="EPSG:32632").crs, None]

    def test_geojson_names_a_projected_crs(self) -> None:
        data = centerlines(frame(), D, F).to_geojson()
        assert data["crs"] == {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::32633"}}
        wgs84 = strandify.Centerlines.from_native([[(13.0, 52.0), (13.1, 52.0)]], [(13.0, 52.0), (13.1, 52.0)], [(0, 1)], crs=frame(crs="EPSG:4326").crs)
        assert "crs" not in wgs84.to_geojson()
        assert "crs" not in centerlines(strokes(), D, F).to_geojson()


def gpx(tracks: list[list[tuple[float, float]]]) -> str:
    body = "".join(
        "<trk><name>t%d</name><trkseg>%s</trkseg></trk>"
        % (k, "".join(f'<trkpt lat="{lat}" lon="{lon}"></trkpt>' for lon, lat in track))
        for k, track in enumerate(tracks)
    )
    return f'<?xml version="1.0"?><gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1">{body}</gpx>'


class TestFiles:
    def write_gpkg(self, path: Path) -> Any:
        gdf = frame(extra=[None])
        pyogrio.write_dataframe(gdf.iloc[:2], path, layer="first", driver="GPKG")
        pyogrio.write_dataframe(gdf.iloc[2:], path, layer="second", driver="GPKG")
        return gdf

    def test_geopackage_layers_are_read_apart_with_their_crs(self, tmp_path: Path) -> None:
        self.write_gpkg(tmp_path / "in.gpkg")
        drawing = read_drawing(tmp_path / "in.gpkg")
        assert len(drawing.curves) == 4 and drawing.y_up
        assert drawing.layers is not None
        assert [(layer.name, len(layer.curves), layer.crs) for layer in drawing.layers] == [("first", 2, UTM), ("second", 2, UTM)]
        np.testing.assert_array_equal(drawing.curves[0], np.asarray(strokes()[0].coords))

    def test_shapefile(self, tmp_path: Path) -> None:
        pyogrio.write_dataframe(frame(), tmp_path / "in.shp")
        drawing = read_drawing(tmp_path / "in.shp")
        assert len(drawing.curves) == 4 and drawing.crs == UTM

    def test_gpx_tracks(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        tracks = [[(13.0, 52.0), (13.001, 52.0), (13.002, 52.001)], [(13.0, 52.0001), (13.002, 52.0011)]]
        path = tmp_path / "walk.gpx"
        path.write_text(gpx(tracks))
        drawing = read_drawing(path)
        assert [c.tolist() for c in drawing.curves] == [[list(p) for p in t] for t in tracks]
        assert drawing.crs == "EPSG:4326"
        code = main([str(path), "-o", str(tmp_path / "walk.geojson"), "-d", "0.00005"])
        err = capsys.readouterr().err
        assert code == 0
        assert "strandify: warning: " in err and "counts in degrees" in err

    @pytest.mark.parametrize("out", ["out.gpkg", "out.geojson"])
    def test_round_trip_keeps_the_crs(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], out: str) -> None:
        pyogrio.write_dataframe(frame(extra=[None]), tmp_path / "in.gpkg", layer="strokes", driver="GPKG")
        assert main([str(tmp_path / "in.gpkg"), "-o", str(tmp_path / out), "-d", str(D), "-f", str(F)]) == 0
        layer = "chains" if out.endswith(".gpkg") else None
        back = pyogrio.read_dataframe(tmp_path / out, layer=layer)
        assert back.crs == UTM
        want = expected()
        assert len(back) == len(want.chains)
        for geom, chain in zip(back.geometry, want.chains):
            np.testing.assert_allclose(np.asarray(geom.coords), chain, rtol=0, atol=1e-6)
        if out.endswith(".gpkg"):
            nodes = pyogrio.read_dataframe(tmp_path / out, layer="nodes")
            assert nodes.crs == UTM and nodes.degree.sum() == 2 * len(back)

    def test_projected_geojson_keeps_its_crs(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = tmp_path / "in.geojson"
        pyogrio.write_dataframe(frame(), src, driver="GeoJSON")
        assert "crs" in json.loads(src.read_text())
        assert main([str(src), "-o", str(tmp_path / "out.geojson"), "-d", "1.5m", "-f", "6"]) == 0
        assert pyogrio.read_info(tmp_path / "out.geojson")["crs"] == UTM
        # -d 1.5m in a metre CRS is 1.5 units: the same as -d 1.5
        assert main([str(src), "-o", str(tmp_path / "plain.geojson"), "-d", "1.5", "-f", "6"]) == 0
        assert (tmp_path / "out.geojson").read_bytes() == (tmp_path / "plain.geojson").read_bytes()
        assert main([str(src), "-o", str(tmp_path / "km.geojson"), "-d", "0.0015km", "-f", "6"]) == 0
        assert (tmp_path / "km.geojson").read_bytes() == (tmp_path / "plain.geojson").read_bytes()

    @pytest.mark.parametrize(("name", "text", "problem"), [
        ("broken.gpkg", "not a database", "cannot read .gpkg file"),
        ("nothing.gpx", gpx([]), "no line geometries found"),
    ])
    def test_unusable_files(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], name: str, text: str, problem: str) -> None:
        path = tmp_path / name
        path.write_text(text)
        code = main([str(path), "-o", str(tmp_path / "o.geojson")])
        err = capsys.readouterr().err
        assert code == 1 and err.count("\n") == 1 and problem in err

    def test_gis_file_without_pyogrio(self, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
        import sys

        monkeypatch.setitem(sys.modules, "pyogrio", None)
        with pytest.raises(ImportError, match=r"pip install 'strandify\[gis\]'"):
            read_drawing(tmp_path / "x.gpkg")

    def test_lost_groups_warn_in_batch_order(self) -> None:
        speck = [shapely.LineString([(X0 + 500, Y0), (X0 + 500.5, Y0)])]
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            strandify.centerlines_batch([frame(), frame(extra=speck)], D, F, keep_dots=False)
        lost = [str(w.message) for w in caught if issubclass(w.category, strandify.LostStrokesWarning)]
        assert lost and all(m.startswith("drawing 1: 1 of 2") for m in lost)
