"""The GIS workflow on real files: provenance and carried attributes, layers kept apart, CRSs
(degrees computed in metres, Web Mercator's stretch), every vector format in and out, and
graphs other tools read."""

from __future__ import annotations

import json
import math
import os
import warnings
from pathlib import Path
from typing import Any

import numpy as np
import pytest

import strandify
from strandify.cli import main
from test_gis import gpx

gpd = pytest.importorskip("geopandas")
shapely = pytest.importorskip("shapely")
pyogrio = pytest.importorskip("pyogrio")
pyproj = pytest.importorskip("pyproj")


def package_file(package: str, *parts: str) -> str:
    module = pytest.importorskip(package)
    path = os.path.join(os.path.dirname(module.__file__), *parts)
    if not os.path.exists(path):
        pytest.skip(f"{package} does not ship {'/'.join(parts)}")
    return path


@pytest.fixture(scope="module")
def streets() -> Any:
    pytest.importorskip("pyarrow")
    return gpd.read_parquet(package_file("neatnet", "tests", "data", "apalachicola_original.parquet"))


@pytest.fixture(scope="module")
def bubenec() -> str:
    return package_file("momepy", "datasets", "bubenec.gpkg")


@pytest.fixture(scope="module")
def osm() -> str:
    return package_file("pyogrio", "tests", "fixtures", "sample.osm.pbf")


def quiet(call: Any, *args: Any, **kwargs: Any) -> Any:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return call(*args, **kwargs)


def run(capsys: pytest.CaptureFixture[str], *argv: Any) -> tuple[int, str]:
    code = main([str(a) for a in argv])
    return code, capsys.readouterr().err


def walk() -> list[list[tuple[float, float]]]:
    """Two passes of a walk in Berlin (about 140 m and 70 m), a few metres apart, and a
    separate path 300 m away."""
    first = [(13.4000 + 0.0002 * i, 52.5200 + 0.00001 * i) for i in range(11)]
    second = [(13.4000 + 0.0002 * i, 52.52003 + 0.00001 * i) for i in range(6)]
    third = [(13.4000, 52.5230 + 0.0001 * i) for i in range(8)]
    return [first, second, third]


# -- provenance ----------------------------------------------------------------------------


def test_apalachicola_highway_agrees_with_the_nearest_street(streets: Any) -> None:
    frame = streets.assign(highway=streets["highway"].astype(str))
    result = quiet(strandify.centerlines, frame, 5.0, sources=True)
    chains, _ = result.to_geopandas()
    middles = shapely.line_interpolate_point(chains.geometry.values, 0.5, normalized=True)
    nearest = shapely.STRtree(frame.geometry.values).query_nearest(middles, all_matches=False)[1]
    agree = frame["highway"].to_numpy()[nearest] == chains["highway"].to_numpy()
    assert agree.mean() >= 0.95
    # the labels are the frame's own (a MultiIndex of OSM node ids), the main one first
    assert all(len(s) and all(label in frame.index for label in s) for s in result.sources)


def tee() -> Any:
    """A long bar drawn twice and a short stem, with attributes."""
    return gpd.GeoDataFrame(
        {"kind": ["bar", "bar", "stem"], "lanes": [2, 4, 1], "length": [1.0, 2.0, 3.0]},
        geometry=[
            shapely.LineString([(0, 0), (100, 0)]),
            shapely.LineString([(0, 1), (100, 1)]),
            shapely.LineString([(50, 0), (50, -40)]),
        ],
        index=["a", "b", "c"],
        crs="EPSG:32633",
    )


class TestSources:
    def test_each_chain_comes_from_the_strokes_that_cover_it(self) -> None:
        result = strandify.centerlines(tee(), 2.0, 4.0, sources=True)
        chains, _ = result.to_geopandas()
        for geom, sources, kind in zip(chains.geometry, chains["sources"], chains["kind"]):
            middle = shapely.line_interpolate_point(geom, 0.5, normalized=True)
            horizontal = abs(middle.y) < 2
            # a bar chain comes from both drawn bars, the stem from the stem alone (the bar's
            # buffer covers only its first few units)
            assert set(sources) >= ({"a", "b"} if horizontal else {"c"})
            assert kind == ("bar" if horizontal else "stem")
            assert sources[0] in (("a", "b") if horizontal else ("c",))
        assert "source_length" in chains and "length" in chains

    def test_lengths_order_the_sources_and_weight_the_mean(self) -> None:
        result = strandify.centerlines(tee(), 2.0, 4.0, sources=True)
        assert result.provenance is not None
        for lengths in result.provenance.lengths:
            assert np.all(np.diff(lengths) <= 0)
        main = result.to_geopandas()[0]
        weighted = result.to_geopandas(attributes="weighted")[0]
        for rows, lengths, lanes, mean in zip(result.provenance.rows, result.provenance.lengths, main["lanes"], weighted["lanes"]):
            values = tee()["lanes"].to_numpy()[rows]
            assert lanes == values[0]
            assert mean == pytest.approx(np.average(values, weights=lengths) if lengths.sum() else values.mean())

    @pytest.mark.parametrize("kind", ["arrays", "lists", "shapely"])
    def test_plain_inputs_name_positions(self, kind: str) -> None:
        lines = [np.asarray(g.coords) for g in tee().geometry] + [np.array([[500.0, 0.0], [560.0, 0.0]])]
        drawing: Any = {
            "arrays": lines,
            "lists": [a.tolist() for a in lines],
            "shapely": [shapely.MultiLineString([lines[0], lines[1]]), lines[2], lines[3]],
        }[kind]
        far = 2 if kind == "shapely" else 3
        result = strandify.centerlines(drawing, 2.0, 4.0, sources=True)
        assert result.sources is not None
        beyond = [s for chain, s in zip(result.chains, result.sources) if chain[:, 0].min() > 400]
        assert [s.tolist() for s in beyond] == [[far]]
        assert all(far not in s for chain, s in zip(result.chains, result.sources) if chain[:, 0].max() < 400)

    @pytest.mark.parametrize("gap", [np.nan, np.inf])
    def test_a_gap_in_a_feature_splits_it_as_it_splits_the_stroke(self, gap: float) -> None:
        """A vertex GDAL read as NaN (or an overflowing number) cuts the feature's line in two,
        and each part's chains still come from that feature."""
        frame = tee()
        frame.loc["c", "geometry"] = shapely.LineString([(50, 0), (50, -20), (gap, gap), (50, -25), (50, -60)])
        result = quiet(strandify.centerlines, frame, 2.0, 4.0, sources=True)
        assert result.sources is not None
        stem = [s for chain, s in zip(result.chains, result.sources) if chain[:, 1].max() < -22]
        assert stem and all(s.tolist() == ["c"] for s in stem)

    def test_batches_find_them_as_single_calls_do(self, bubenec: str) -> None:
        buildings = gpd.read_file(bubenec, layer="buildings")
        halves = [buildings.iloc[:70], buildings.iloc[70:]]
        batch = quiet(strandify.polygon_centerlines_batch, halves, sources=True)
        singles = [quiet(strandify.polygon_centerlines, half, sources=True) for half in halves]
        strokes = strandify.centerlines_batch([tee(), tee().iloc[::-1]], 2.0, 4.0, sources=True)
        singles += [strandify.centerlines(d, 2.0, 4.0, sources=True) for d in (tee(), tee().iloc[::-1])]
        for got, want in zip([*batch, *strokes], singles):
            assert got.sources is not None and want.sources is not None
            assert [s.tolist() for s in got.sources] == [s.tolist() for s in want.sources]

    def test_off_by_default_and_the_same_chains(self) -> None:
        plain = strandify.centerlines(tee(), 2.0, 4.0)
        found = strandify.centerlines(tee(), 2.0, 4.0, sources=True)
        assert plain.sources is None
        assert list(plain.to_geopandas()[0].columns) == ["chain", "start_node", "end_node", "length", "geometry"]
        assert all(np.array_equal(a, b) for a, b in zip(plain.chains, found.chains))

    def test_shapes_come_from_the_buildings_that_hold_them(self, bubenec: str) -> None:
        buildings = gpd.read_file(bubenec, layer="buildings")
        result = quiet(strandify.polygon_centerlines, buildings, sources=True)
        chains, _ = result.to_geopandas()
        assert (chains["uID"].to_numpy() == buildings["uID"].to_numpy()[[s[0] for s in chains["sources"]]]).all()
        # a chain along a terrace of houses runs through many; each piece of it lies in one
        holder = buildings.geometry.values[[s[0] for s in chains["sources"]]]
        assert shapely.distance(holder, chains.geometry.values).max() < 1e-6
        assert result.provenance is not None
        covered = np.array([lengths.sum() for lengths in result.provenance.lengths])
        assert (covered >= 0.99 * chains["length"].to_numpy()).all()
        assert sum(len(s) > 3 for s in chains["sources"]) >= 5


# -- layers and CRSs ---------------------------------------------------------------------------


class TestLayers:
    def test_every_layer_of_its_kind_runs_apart(self, bubenec: str, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        code, err = run(capsys, bubenec, "-o", tmp_path / "lines.gpkg")
        assert code == 0
        for name in ("tessellation", "buildings", "plots"):
            assert f"layer '{name}' skipped: it holds Polygons; trace them with --fill" in err
        assert [row[0] for row in pyogrio.list_layers(tmp_path / "lines.gpkg")] == ["chains", "nodes"]
        code, err = run(capsys, bubenec, "-o", tmp_path / "fill.gpkg", "--fill")
        assert code == 0 and "layer 'streets' skipped" in err
        names = [row[0] for row in pyogrio.list_layers(tmp_path / "fill.gpkg")]
        assert names == ["tessellation", "tessellation_nodes", "buildings", "buildings_nodes", "plots", "plots_nodes"]
        # each layer is its own drawing: the buildings alone give what they give on their own
        code, _ = run(capsys, bubenec, "-o", tmp_path / "buildings.gpkg", "--fill", "--layer", "buildings")
        alone = pyogrio.read_dataframe(tmp_path / "buildings.gpkg", layer="chains")
        together = pyogrio.read_dataframe(tmp_path / "fill.gpkg", layer="buildings")
        assert code == 0 and len(alone) == len(together)
        assert shapely.equals_exact(alone.geometry.values, together.geometry.values, 1e-9).all()
        assert "uID" in together and together.crs == "EPSG:3857"

    def test_an_unknown_layer_is_named(self, bubenec: str, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        code, err = run(capsys, bubenec, "-o", tmp_path / "o.gpkg", "--layer", "roads")
        assert code == 1 and err.count("\n") == 1
        assert "no layer 'roads'; the file has 'tessellation', 'buildings', 'streets', 'plots'" in err

    def test_layers_keep_their_own_crs(self, bubenec: str, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        streets = gpd.read_file(bubenec, layer="streets")
        utm = streets.estimate_utm_crs()
        src = tmp_path / "two.gpkg"
        pyogrio.write_dataframe(streets, src, layer="mercator")
        pyogrio.write_dataframe(streets.to_crs(utm), src, layer="utm")
        assert run(capsys, src, "-o", tmp_path / "o.gpkg", "-d", "4", "-f", "8")[0] == 0
        assert pyogrio.read_info(tmp_path / "o.gpkg", layer="mercator")["crs"] == "EPSG:3857"
        assert pyogrio.read_info(tmp_path / "o.gpkg", layer="utm")["crs"] == utm.to_string()
        # one FeatureCollection holds one CRS: the second layer comes reprojected to the first's
        assert run(capsys, src, "-o", tmp_path / "o.geojson", "-d", "4", "-f", "8")[0] == 0
        back = gpd.read_file(tmp_path / "o.geojson")
        assert back.crs == "EPSG:3857" and set(back["layer"]) == {"mercator", "utm"}
        box = shapely.box(*streets.total_bounds).buffer(50)
        assert box.contains(back.geometry.values).all()


class TestCrs:
    def test_gpx_in_metres(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = tmp_path / "walk.gpx"
        src.write_text(gpx(walk()))
        code, err = run(capsys, src, "-o", tmp_path / "walk.geojson", "-d", "10m", "-f", "20m")
        assert code == 0 and "degrees" not in err
        back = gpd.read_file(tmp_path / "walk.geojson")
        assert back.crs == "EPSG:4326"
        geod = pyproj.Geod(ellps="WGS84")
        for geom, length in zip(back.geometry, back["length"]):
            assert length == pytest.approx(geod.geometry_length(geom), rel=0.01)
        # the same as computing in the UTM zone through the API, brought back
        tracks = gpd.GeoDataFrame(geometry=[shapely.LineString(t) for t in walk()], crs="EPSG:4326")
        want = strandify.centerlines(tracks, 10.0, 20.0, crs="utm").to_crs("EPSG:4326")
        assert len(back) == len(want.chains)
        for geom, chain in zip(back.geometry, want.chains):
            np.testing.assert_allclose(np.asarray(geom.coords), chain, rtol=0, atol=1e-9)
        assert back["length"].tolist() == pytest.approx(want.lengths().tolist())

    def test_to_crs_chooses_where_to_compute_and_write(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = tmp_path / "walk.gpx"
        src.write_text(gpx(walk()))
        assert run(capsys, src, "-o", tmp_path / "o.gpkg", "-d", "10m", "--to-crs", "EPSG:32633")[0] == 0
        assert pyogrio.read_info(tmp_path / "o.gpkg", layer="chains")["crs"] == "EPSG:32633"
        code, err = run(capsys, src, "-o", tmp_path / "o.geojson", "--to-crs", "EPSG:nonsense")
        assert code == 1 and "--to-crs: unknown CRS 'EPSG:nonsense'" in err

    def test_degrees_without_metres_tell_what_to_do(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = tmp_path / "walk.gpx"
        src.write_text(gpx(walk()))
        code, err = run(capsys, src, "-o", tmp_path / "o.geojson", "-d", "0.0001")
        assert code == 0 and "counts in degrees" in err and "-d 10m" in err

    def test_web_mercator_metres_draw_the_factor(self, bubenec: str, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        streets = gpd.read_file(bubenec, layer="streets")
        latitude = streets.to_crs("EPSG:4326").union_all().centroid.y
        code, err = run(capsys, bubenec, "-o", tmp_path / "o.gpkg", "-d", "3m")
        assert code == 0
        assert f"lengths are {1 / math.cos(math.radians(latitude)):.3g} times the true ones" in err
        code, err = run(capsys, bubenec, "-o", tmp_path / "p.gpkg", "-d", "3")
        assert "Web Mercator" not in err

    def test_api_crs_keeps_metric_lengths_when_brought_back(self) -> None:
        tracks = gpd.GeoDataFrame(geometry=[shapely.LineString(t) for t in walk()], crs="EPSG:4326")
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # no warning about degrees: the call runs in metres
            result = strandify.centerlines(tracks, 10.0, 20.0, crs="utm")
        assert result.crs == tracks.estimate_utm_crs()
        back = result.to_crs(tracks.crs)
        assert np.array_equal(back.lengths(), result.lengths())
        assert back.chains[0][:, 0].min() > 13.39 and back.chains[0][:, 1].max() < 52.53
        with pytest.raises(ValueError, match="this input has none"):
            strandify.centerlines([np.asarray(t) for t in walk()], 1.0, crs="utm")


# -- formats ---------------------------------------------------------------------------------


@pytest.mark.parametrize("out", ["o.gpkg", "o.geojson", "o.fgb", "o.parquet"])
def test_osm_lines_in_any_vector_format_out(osm: str, tmp_path: Path, capsys: pytest.CaptureFixture[str], out: str) -> None:
    if out.endswith(".parquet"):
        pytest.importorskip("pyarrow")
    code, err = run(capsys, osm, "-o", tmp_path / out, "-d", "6m", "--layer", "lines")
    assert code == 0, err
    back = gpd.read_parquet(tmp_path / out) if out.endswith(".parquet") else gpd.read_file(tmp_path / out, layer=0)
    assert back.crs == "EPSG:4326" and len(back) > 10
    lines = pyogrio.read_dataframe(osm, layer="lines", USE_CUSTOM_INDEXING="NO")
    # every chain carries a source row's attributes; the main source's name is its name
    first = [json.loads(s)[0] if isinstance(s, str) else s[0] for s in back["sources"]]
    assert (back["highway"].fillna("").to_numpy() == lines["highway"].fillna("").to_numpy()[first]).all()
    assert back["length"].between(0, 2000).all()  # metres, not degrees


# -- graphs ------------------------------------------------------------------------------------


@pytest.mark.parametrize("writer", ["graphml", "gml"])
def test_plain_graphs_write_and_read_back(tmp_path: Path, writer: str) -> None:
    nx = pytest.importorskip("networkx")
    result = strandify.centerlines(tee(), 2.0, 4.0, sources=True, compute_widths=True)
    graph = result.to_networkx()
    path = tmp_path / f"g.{writer}"
    getattr(nx, f"write_{writer}")(graph, path)
    back = getattr(nx, f"read_{writer}")(path)
    assert back.number_of_edges() == len(result.chains) and back.number_of_nodes() == len(result.nodes)
    edges = sorted(back.edges(data=True), key=lambda e: e[2]["chain"])
    for (_, _, data), chain, length in zip(edges, result.chains, result.lengths()):
        np.testing.assert_array_equal(np.asarray(shapely.from_wkt(data["geometry"]).coords), chain)
        assert data["length"] == length and data["kind"] in ("bar", "stem") and "mean_width" in data
    for node, data in back.nodes(data=True):
        assert [data["x"], data["y"]] == result.nodes[int(node)].tolist()


def test_geojson_carries_node_ids_lengths_and_nodes() -> None:
    result = strandify.centerlines(tee(), 2.0, 4.0)
    data = result.to_geojson(nodes=True)
    lines = [f for f in data["features"] if f["geometry"]["type"] == "LineString"]
    points = [f for f in data["features"] if f["geometry"]["type"] == "Point"]
    assert [f["properties"]["length"] for f in lines] == result.lengths().tolist()
    assert [f["properties"]["node"] for f in points] == list(range(len(result.nodes)))
    assert sum(f["properties"]["degree"] for f in points) == 2 * len(lines)


@pytest.mark.parametrize("kind", ["lines", "buildings"])
def test_geojson_features_carry_their_properties(
    osm: str, bubenec: str, tmp_path: Path, capsys: pytest.CaptureFixture[str], kind: str
) -> None:
    """A GeoJSON that GDAL wrote gives what the same layer in any other format gives: the
    chains carry their sources and the properties of the features, and the chains themselves
    are those of the bare geometries."""
    if kind == "lines":
        frame = pyogrio.read_dataframe(osm, layer="lines", USE_CUSTOM_INDEXING="NO")
        flags, column = ["-d", "6m"], "highway"
    else:
        frame = gpd.read_file(bubenec, layer="buildings")
        flags, column = ["--fill"], "uID"
    frame.to_file(tmp_path / "with.geojson", driver="GeoJSON")
    frame[["geometry"]].to_file(tmp_path / "bare.geojson", driver="GeoJSON")
    outputs = {}
    for name in ("with", "bare"):
        code, err = run(capsys, tmp_path / f"{name}.geojson", "-o", tmp_path / f"{name}.gpkg", *flags)
        assert code == 0, err
        outputs[name] = gpd.read_file(tmp_path / f"{name}.gpkg", layer="chains")
    carried, bare = outputs["with"], outputs["bare"]
    assert column in carried.columns and carried[column].notna().any()
    assert column not in bare.columns
    assert len(carried) == len(bare) and carried.geometry.geom_equals_exact(bare.geometry, 1e-9).all()
    # the main source's property is the chain's
    first = [json.loads(s)[0] if isinstance(s, str) else s[0] for s in carried["sources"]]
    expected = frame[column].astype(str).fillna("").to_numpy()[first]
    assert (carried[column].astype(str).fillna("").to_numpy() == expected).all()
