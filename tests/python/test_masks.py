"""Raster masks: regions traced at subpixel precision, then the filled-shape pipeline."""

from __future__ import annotations

import math
import warnings

import numpy as np
import pytest

import strandify

skimage = pytest.importorskip("skimage")
shapely = pytest.importorskip("shapely")
from skimage import data, draw  # noqa: E402
from skimage.morphology import skeletonize  # noqa: E402


def bar(shape: tuple[int, int], start: tuple[float, float], end: tuple[float, float], width: float) -> np.ndarray:
    """A mask of the pixels whose centres lie within width/2 of the segment start-end, points
    given as (x, y) = (column, row) of the pixel plane."""
    rows, cols = np.mgrid[0 : shape[0], 0 : shape[1]]
    centre = np.stack([cols + 0.5, rows + 0.5], axis=-1)
    a, b = np.asarray(start), np.asarray(end)
    t = np.clip(((centre - a) @ (b - a)) / float((b - a) @ (b - a)), 0, 1)
    return np.hypot(*np.moveaxis(centre - (a + t[..., None] * (b - a)), -1, 0)) <= width / 2


def quiet_mask_centerlines(mask: np.ndarray, *args: object, **kwargs: object) -> strandify.Centerlines:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", strandify.LostStrokesWarning)
        return strandify.mask_centerlines(mask, *args, **kwargs)  # type: ignore[arg-type]


@pytest.mark.parametrize("angle", [0.0, 17.0, 45.0, 71.0])
def test_a_drawn_bar_gives_its_straight_middle_line(angle: float) -> None:
    # pixels sample an oblique bar in steps; the line through it is still straight
    c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    start, end = (40 - 25 * c, 40 - 25 * s), (40 + 25 * c, 40 + 25 * s)
    result = quiet_mask_centerlines(bar((80, 80), start, end, 7.0))
    assert len(result.chains) == 1
    truth = shapely.LineString([start, end])
    points = result.chains[0]
    assert max(truth.distance(shapely.Point(p)) for p in points) < 0.4
    # ends within a pen's half-width of the drawn ends, as a round pen would stop
    for tip in (points[0], points[-1]):
        assert min(math.dist(tip, start), math.dist(tip, end)) < 4.0


def test_placement_moves_and_scales_the_pixel_plane() -> None:
    mask = bar((60, 90), (10, 20), (80, 45), 6.0)
    here = quiet_mask_centerlines(mask)
    # a north-up GIS raster: origin at its top-left corner, rows going south
    there = quiet_mask_centerlines(mask, (2.5, -2.5), (500000.0, 4000000.0))
    assert len(here.chains) == len(there.chains) == 1
    expected = here.chains[0] * [2.5, -2.5] + [500000.0, 4000000.0]
    np.testing.assert_allclose(there.chains[0], expected, rtol=0, atol=1e-6)


def test_holes_and_islands_keep_their_nesting() -> None:
    # a ring with a blob on an island in its hole: the ring gives a loop, the blob a line of
    # its own, and the hole is not filled
    rows, cols = np.mgrid[0:120, 0:120]
    r = np.hypot(rows - 60, cols - 60)
    mask = (r < 50) & (r > 38) | (np.abs(rows - 60) < 6) & (np.abs(cols - 60) < 15)
    result = quiet_mask_centerlines(mask)
    loops = [c for c in result.chains if np.allclose(c[0], c[-1])]
    assert len(loops) == 1
    assert np.allclose(np.hypot(*(loops[0] - 60).T), 44, atol=1.0)
    inner = [c for c in result.chains if np.hypot(*(c - 60).T).max() < 20]
    assert inner and all(np.abs(c[:, 1] - 60).max() < 1.0 for c in inner)


@pytest.mark.parametrize(
    ("encode", "keywords"),
    [
        (lambda m: m.astype(np.uint8) * 255, {}),
        (lambda m: m.astype(np.float32), {}),
        (lambda m: np.where(m, 20, 230).astype(np.uint8), {"invert": True}),
        (lambda m: np.where(m, 200, 100), {"threshold": 150}),
    ],
    ids=["0/255", "0/1 floats", "dark ink", "threshold"],
)
def test_number_masks_read_as_the_boolean_one(encode: object, keywords: dict) -> None:
    mask = bar((50, 70), (10, 10), (60, 35), 6.0)
    expected = quiet_mask_centerlines(mask)
    got = quiet_mask_centerlines(encode(mask), **keywords)  # type: ignore[operator]
    assert len(got.chains) == len(expected.chains)
    for a, b in zip(got.chains, expected.chains):
        np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize(
    ("mask", "keywords", "error", "match"),
    [
        (np.zeros((3, 4, 3)), {}, ValueError, "2-D array"),
        (np.array([[0.0, math.nan]]), {}, ValueError, "NaN"),
        (np.zeros((4, 4), bool), {"threshold": 0.5}, ValueError, "boolean"),
        (np.array([["a", "b"]]), {}, TypeError, "booleans or real numbers"),
        (np.zeros((4, 4)), {"pixel_size": 0.0}, ValueError, "pixel_size"),
        (np.zeros((4, 4)), {"origin": (math.inf, 0)}, ValueError, "origin"),
        (np.zeros((4, 4)), {"smoothing": -1.0}, ValueError, "smoothing"),
        (np.zeros((4, 4)), {"threshold": math.nan}, ValueError, "threshold"),
    ],
)
def test_bad_masks_are_refused_by_name(mask: np.ndarray, keywords: dict, error: type, match: str) -> None:
    if "origin" in keywords:
        mask = np.ones((4, 4), bool)
    with pytest.raises(error, match=match):
        strandify.mask_centerlines(mask, **keywords)


def test_an_empty_mask_gives_nothing_and_specks_are_dropped() -> None:
    assert len(strandify.mask_centerlines(np.zeros((20, 20), bool)).chains) == 0
    specks = np.zeros((40, 40), bool)
    specks[5, 5] = specks[20, 30] = True
    assert len(strandify.mask_centerlines(specks).chains) == 0
    # asked to keep them, each speck gives lines at its pixel's centre
    kept = quiet_mask_centerlines(specks, min_area=0.0).chains
    assert {tuple(np.round(c.mean(axis=0), 1)) for c in kept} == {(5.5, 5.5), (30.5, 20.5)}


def test_the_horse_has_fewer_spurs_than_its_pixel_skeleton() -> None:
    # scikit-image's own silhouette (dark on white in the file)
    horse = ~data.horse()
    result = quiet_mask_centerlines(horse)
    ends = int((result.degrees() == 1).sum())
    skeleton = skeletonize(horse)
    padded = np.pad(skeleton, 1).astype(int)
    around = sum(np.roll(np.roll(padded, dy, 0), dx, 1) for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx)
    peer_ends = int(((around[1:-1, 1:-1] == 1) & skeleton).sum())
    assert 4 <= ends < peer_ends
    # every line runs inside the silhouette (pixel squares, half a pixel of tracing allowed)
    rr, cc = np.nonzero(horse)
    region = shapely.union_all(shapely.box(cc, rr, cc + 1, rr + 1)).buffer(0.5)
    assert all(region.covers(line) for line in shapely.get_parts(result.to_shapely()))


@pytest.mark.parametrize("ext", [".png", ".tif"])
def test_the_command_line_reads_images_as_masks(tmp_path, ext: str) -> None:
    import json

    from skimage import io

    from strandify.cli import main

    mask = bar((50, 90), (10, 15), (80, 30), 7.0)
    # dark ink on light paper, as a scan gives it
    io.imsave(tmp_path / f"scan{ext}", np.where(mask, 30, 220).astype(np.uint8), check_contrast=False)
    assert main([str(tmp_path / f"scan{ext}"), "-o", str(tmp_path / "out.json"), "--invert"]) == 0
    chains = json.loads((tmp_path / "out.json").read_text())["chains"]
    expected = quiet_mask_centerlines(mask)
    assert len(chains) == len(expected.chains) == 1
    np.testing.assert_allclose(np.asarray(chains[0]), expected.chains[0], rtol=0, atol=1e-9)


def test_the_command_line_names_what_is_wrong_with_an_image(tmp_path, capsys) -> None:
    from skimage import io

    from strandify.cli import main

    io.imsave(tmp_path / "blank.png", np.full((20, 20), 255, np.uint8), check_contrast=False)
    (tmp_path / "broken.png").write_bytes(b"\x89PNG\r\n\x1a\n not really")
    (tmp_path / "lines.json").write_text("[[[0, 0], [10, 0]]]")
    cases = [
        (["blank.png"], "no foreground"),
        (["broken.png"], "cannot read the image"),
        (["lines.json", "--threshold", "3"], "--threshold and --invert read images"),
        (["blank.png", "--layer", "roads"], "--layer picks layers of GIS files"),
    ]
    for arguments, message in cases:
        code = main([str(tmp_path / arguments[0]), "-o", str(tmp_path / "out.svg"), *arguments[1:]])
        err = capsys.readouterr().err
        assert code != 0 and message in err and "Traceback" not in err
        assert len(err.strip().splitlines()) == 1
