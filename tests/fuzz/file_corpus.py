"""Real drawings for the file readers: files that ship inside installed packages, and files that
other programs (matplotlib, vpype, GDAL through pyogrio) write at run time.

Each entry says how the file is meant to be read: as strokes, or with ``fill`` as regions.  A
writer that made a file knows what it holds, so every entry must read without error that way;
the fuzzer (tests/fuzz/fuzz_files.py) starts its mutations from them.  Everything comes from the
``test`` and ``all`` extras; a package that is missing leaves its files out.
"""
from __future__ import annotations

import json
import os
import shutil
import warnings
from dataclasses import dataclass, replace
from importlib import metadata
from pathlib import Path

#: KanjiVG characters of one to sixteen strokes: one, water, book, thought, bare tree, dragon.
KANJI = ("04e00", "06c34", "0672c", "0611b", "0691c", "09f8d")
#: matplotlib's own toolbar icons and logo: a filled icon, and fills with stroked outlines.
MATPLOTLIB_IMAGES = ("home.svg", "matplotlib.svg")
#: pyogrio's test files: (name, its sidecar extensions, read as regions).
PYOGRIO_FIXTURES = (
    ("naturalearth_lowres/naturalearth_lowres.shp", (".shx", ".dbf", ".prj", ".cpg"), True),
    ("curve.gpkg", (), False),
    ("line_zm.gpkg", (), False),
    ("curvepolygon.gpkg", (), True),
    ("multisurface.gpkg", (), True),
)


@dataclass(frozen=True)
class Entry:
    """A corpus file: its path, the files that must sit beside it, and how it is read."""

    path: Path
    fill: bool
    sidecars: tuple[Path, ...] = ()
    source: str = ""  # the package or program it comes from

    @property
    def name(self) -> str:
        return f"{self.path.name} ({'fill' if self.fill else 'strokes'})"


def at(directory: str | os.PathLike[str]) -> list[Entry]:
    """The corpus in ``directory``, built there first unless its manifest is there already."""
    directory = Path(directory)
    manifest = directory / "manifest.json"
    if not manifest.exists():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # GDAL's notes on the fixtures it converts
            entries = build(directory)
        rows = [{"path": str(e.path), "fill": e.fill, "sidecars": [str(s) for s in e.sidecars], "source": e.source}
                for e in entries]
        manifest.write_text(json.dumps(rows, indent=1))
    rows = json.loads(manifest.read_text())
    return [Entry(Path(r["path"]), r["fill"], tuple(map(Path, r["sidecars"])), r["source"]) for r in rows]


def build(directory: Path) -> list[Entry]:
    """Copy and write the corpus into ``directory``; the entries in a fixed order."""
    directory.mkdir(parents=True, exist_ok=True)
    entries: list[Entry] = []
    for source, make in SOURCES.items():
        try:
            entries.extend(replace(e, source=source) for e in make(directory))
        except ImportError:
            continue
    return entries


def _package_file(distribution: str, relative: str) -> Path | None:
    for f in metadata.files(distribution) or ():
        if str(f) == relative:
            return Path(str(f.locate()))
    return None


def _kanji(directory: Path) -> list[Entry]:
    try:
        metadata.distribution("kanjivg")
    except metadata.PackageNotFoundError:
        raise ImportError("kanjivg") from None
    out = []
    for code in KANJI:
        source = _package_file("kanjivg", f"kanji/{code}.svg")
        if source is not None:
            out.append(Entry(Path(shutil.copy(source, directory / f"kanji-{code}.svg")), fill=False))
    return out


def _matplotlib_images(directory: Path) -> list[Entry]:
    import matplotlib

    images = Path(matplotlib.get_data_path()) / "images"
    out = []
    for name in MATPLOTLIB_IMAGES:
        copy = Path(shutil.copy(images / name, directory / f"mpl-{name}"))
        out.append(Entry(copy, fill=True))
    out.append(Entry(out[-1].path, fill=False))  # the logo's outlines are stroked too
    return out


def matplotlib_figure(path: Path) -> Path:
    """A line plot with tick labels and a bold title, its text written as glyph outlines: matplotlib
    defines each glyph once in <defs> and places it with <use>."""
    import matplotlib

    matplotlib.use("Agg")
    from matplotlib.figure import Figure

    style = {"svg.fonttype": "path", "svg.hashsalt": "strandify"}  # the hash salt fixes the ids
    with matplotlib.rc_context(style):
        fig = Figure(figsize=(4, 3))
        ax = fig.add_subplot()
        ax.plot([0, 1, 2, 3], [0, 2, 1, 3], linewidth=2)
        ax.set_title("Bold title, spaced", fontweight="bold")
        fig.savefig(path, format="svg", metadata={"Date": None})
    return path


def _matplotlib_figure(directory: Path) -> list[Entry]:
    path = matplotlib_figure(directory / "mpl-figure.svg")
    return [Entry(path, fill=False), Entry(path, fill=True)]


def _hershey(directory: Path) -> list[Entry]:
    import vpype

    title = vpype.text_line("Strandify 42", font_name="futural", size=40.0)
    title.translate(10, 30)  # text sits on its baseline at y = 0: move it onto the page
    script = vpype.text_line("hershey", font_name="scripts", size=30.0)
    script.translate(10, 90)
    doc = vpype.Document(title)
    doc.add(script, 2)
    doc.page_size = (420.0, 120.0)
    path = directory / "vpype-hershey.svg"
    with open(path, "w") as fh:
        vpype.write_svg(fh, doc, set_date=False)
    return [Entry(path, fill=False)]


def _fixtures_dir() -> Path:
    import pyogrio

    return Path(pyogrio.__file__).parent / "tests" / "fixtures"


def _pyogrio_fixtures(directory: Path) -> list[Entry]:
    fixtures = _fixtures_dir()
    out = []
    for name, sidecars, fill in PYOGRIO_FIXTURES:
        source = fixtures / name
        if not source.exists():
            continue
        copy = Path(shutil.copy(source, directory / source.name))
        beside = tuple(
            Path(shutil.copy(source.with_suffix(ext), directory / (source.stem + ext)))
            for ext in sidecars
            if source.with_suffix(ext).exists()
        )
        out.append(Entry(copy, fill=fill, sidecars=beside))
    return out


def _gdal_writes(directory: Path) -> list[Entry]:
    """GPX tracks and GeoJSON written by GDAL from pyogrio's OpenStreetMap and Natural Earth
    samples, and the OpenStreetMap lines as a plain JSON list of curves."""
    import pyogrio
    import shapely

    fixtures = _fixtures_dir()
    # GDAL's OSM driver wants this for the sample's node order
    os.environ.setdefault("OSM_USE_CUSTOM_INDEXING", "NO")
    lines = pyogrio.read_dataframe(fixtures / "sample.osm.pbf", layer="lines", columns=["name"])
    lines["name"] = lines["name"].fillna("").astype(str)
    out = []
    # a GPX track is a MultiLineString of segments
    tracks = lines.set_geometry([shapely.MultiLineString([g]) for g in lines.geometry])
    pyogrio.write_dataframe(tracks, directory / "osm-tracks.gpx", driver="GPX", layer="tracks")
    out.append(Entry(directory / "osm-tracks.gpx", fill=False))
    pyogrio.write_dataframe(lines, directory / "osm-lines.geojson", driver="GeoJSON")
    out.append(Entry(directory / "osm-lines.geojson", fill=False))
    countries = pyogrio.read_dataframe(fixtures / "naturalearth_lowres" / "naturalearth_lowres.shp")
    pyogrio.write_dataframe(countries.iloc[:40], directory / "naturalearth.geojson", driver="GeoJSON")
    out.append(Entry(directory / "naturalearth.geojson", fill=True))
    curves = [shapely.get_coordinates(g).tolist() for g in lines.geometry]
    (directory / "osm-lines.json").write_text(json.dumps(curves))
    out.append(Entry(directory / "osm-lines.json", fill=False))
    return out


#: Where the files come from, in the corpus's order.
SOURCES = {
    "kanjivg": _kanji,
    "matplotlib images": _matplotlib_images,
    "matplotlib figure": _matplotlib_figure,
    "vpype": _hershey,
    "pyogrio fixtures": _pyogrio_fixtures,
    "gdal": _gdal_writes,
}
