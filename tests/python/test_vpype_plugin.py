"""The vpype command: a layer's lines replaced by their centerlines."""

from __future__ import annotations

import importlib
import importlib.metadata
import sys
from pathlib import Path

import numpy as np
import pytest

from strandify import centerlines, vpype_plugin


def test_module_imports_without_vpype(monkeypatch: pytest.MonkeyPatch) -> None:
    monkeypatch.setitem(sys.modules, "vpype", None)
    monkeypatch.setitem(sys.modules, "vpype_cli", None)
    module = importlib.reload(vpype_plugin)
    try:
        lines = [np.array([0, 10 + 0j]), np.array([0.5j, 10 + 0.5j])]
        got = module.process(lines, buffer_distance=1.0, feature_size=2.0)
        want = centerlines([[(0, 0), (10, 0)], [(0, 0.5), (10, 0.5)]], 1.0, 2.0)
        assert len(got) == len(want.chains)
        assert all(np.array_equal(np.column_stack((g.real, g.imag)), w) for g, w in zip(got, want.chains))
        with pytest.raises(ImportError, match=r"pip install 'strandify\[vpype\]'"):
            module.strandify_command  # noqa: B018
    finally:
        monkeypatch.undo()
        importlib.reload(vpype_plugin)


def test_entry_points_name_the_command() -> None:
    try:
        dist = importlib.metadata.distribution("strandify")
    except importlib.metadata.PackageNotFoundError:
        pytest.skip("strandify is not installed")
    found = {(ep.group, ep.name, ep.value) for ep in dist.entry_points}
    for group in ("vpype.plugins", "vpype_cli.plugins"):
        assert (group, "strandify", "strandify.vpype_plugin:strandify_command") in found


class TestInVpype:
    @pytest.fixture(autouse=True)
    def _vpype(self) -> None:
        pytest.importorskip("vpype")
        pytest.importorskip("vpype_cli")

    def test_pipeline_replaces_each_layer(self, tmp_path: Path) -> None:
        import vpype_cli

        doc = vpype_cli.execute(
            "line -l 1 0 0 100 0 line -l 1 0 1 100 1 line -l 2 0 50 100 50 line -l 2 0 51.5 100 51.5 strandify -d 2 -f 4"
        )
        assert sorted(doc.layers) == [1, 2]
        for layer, y in ((1, 0.0), (2, 50.0)):
            want = centerlines([[(0, y), (100, y)], [(0, y + (1 if layer == 1 else 1.5)), (100, y + (1 if layer == 1 else 1.5))]], 2.0, 4.0)
            got = [np.column_stack((line.real, line.imag)) for line in doc.layers[layer]]
            assert len(got) == len(want.chains) == 1
            np.testing.assert_allclose(got[0], want.chains[0], rtol=0, atol=1e-9)

    def test_lengths_take_vpype_units(self) -> None:
        import vpype_cli

        px = vpype_cli.execute("line 0 0 100 0 line 0 1 100 1 strandify -d 3.7795275590551185 -f 7.559055118110237")
        mm = vpype_cli.execute("line 0 0 100 0 line 0 1 100 1 strandify -d 1mm -f 2mm")
        a, b = px.layers[1].lines, mm.layers[1].lines
        assert len(a) == len(b) and all(np.allclose(x, y) for x, y in zip(a, b))

    def test_read_and_write_an_svg(self, tmp_path: Path) -> None:
        import vpype_cli

        src = tmp_path / "in.svg"
        src.write_text(
            '<svg xmlns="http://www.w3.org/2000/svg" width="100mm" height="100mm" viewBox="0 0 100 100">'
            '<path d="M 10 10 L 90 10"/><path d="M 10 10.5 L 90 10.4"/></svg>'
        )
        out = tmp_path / "out.svg"
        vpype_cli.execute(f"read {src} strandify -d 0.5mm write {out}")
        assert out.exists()
        doc = vpype_cli.execute(f"read {out}")
        assert len(doc.layers[1]) == 1

    def test_empty_layer(self) -> None:
        import vpype_cli

        doc = vpype_cli.execute("strandify")
        assert doc.is_empty()


class TestMatchesTheCommandLine:
    @pytest.fixture(autouse=True)
    def _vpype(self) -> None:
        pytest.importorskip("vpype")
        pytest.importorskip("vpype_cli")

    def test_fill_traces_the_outlined_shapes(self) -> None:
        import vpype_cli

        from strandify import polygon_centerlines
        from strandify._read_shapes import regions_from_subpaths

        doc = vpype_cli.execute("rect 0 0 100 10 circle 50 50 20 circle 50 50 10 strandify --fill")
        outlines = vpype_cli.execute("rect 0 0 100 10 circle 50 50 20 circle 50 50 10")
        rings = vpype_plugin.lines_to_curves(outlines.layers[1])
        want = polygon_centerlines(regions_from_subpaths(rings))
        got = vpype_plugin.lines_to_curves(doc.layers[1])
        # a bar and a ring (the inner circle is the outer one's hole)
        assert len(got) == len(want.chains) == 2
        assert all(np.array_equal(g, w) for g, w in zip(got, want.chains))

    @pytest.mark.parametrize(
        ("flags", "keywords"),
        [
            ("--no-refine", {"refine": False}),
            ("--partition none --no-finish-tips", {"partition": "none", "finish_tips": False}),
            ("--radius-tips --min-tip-fraction 1", {"radius_tips": True, "min_tip_fraction": 1.0}),
        ],
    )
    def test_flags_are_the_options(self, flags: str, keywords: dict[str, object]) -> None:
        import vpype_cli

        doc = vpype_cli.execute(f"line 0 0 100 0 line 0 1 100 1 line 50 0 50 30 strandify -d 2 -f 4 {flags}")
        want = centerlines([[(0, 0), (100, 0)], [(0, 1), (100, 1)], [(50, 0), (50, 30)]], 2.0, 4.0, **keywords)
        got = vpype_plugin.lines_to_curves(doc.layers[1])
        assert len(got) == len(want.chains) and all(np.array_equal(g, w) for g, w in zip(got, want.chains))

    @pytest.mark.parametrize(
        ("command", "problem"),
        [
            ("strandify -d -1", "--buffer-distance: must be a positive finite number, got -1"),
            ("strandify --simplification -2mm", "--simplification: must be a non-negative finite number"),
            ("strandify --fill --merge-tolerance 1", "--merge-tolerance joins stroke ends; it has no meaning with --fill"),
            ("strandify --partition tiles --tile-size 0", "--tile-size: must be a positive finite number, got 0"),
        ],
    )
    def test_bad_values_are_one_line_usage_errors(self, command: str, problem: str) -> None:
        import click
        import vpype_cli

        with pytest.raises(click.UsageError) as info:
            vpype_cli.execute(f"line 0 0 100 0 {command}")
        assert problem in info.value.format_message() and "\n" not in info.value.format_message()

    def test_listed_under_plugins(self) -> None:
        assert vpype_plugin.strandify_command.help_group == "Plugins"
