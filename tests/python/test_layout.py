"""The source layout keeps its direction: Python modules and C++ units import only
downwards, and no stage of the core includes a driver (tools/import_graph.py)."""

from __future__ import annotations

import importlib
import sys
from pathlib import Path
from types import ModuleType

import pytest

ROOT = Path(__file__).resolve().parents[2]


def _checker() -> ModuleType:
    path = ROOT / "tools" / "import_graph.py"
    if not path.is_file():
        pytest.skip("not run from a source checkout")
    # imported by name, as dataclasses look their module up in sys.modules
    sys.path.insert(0, str(path.parent))
    try:
        return importlib.import_module("import_graph")
    finally:
        sys.path.remove(str(path.parent))


def test_python_modules_import_downwards_only() -> None:
    report = _checker().check(ROOT)
    assert "strandify._lines" in report.python and report.python_cycles == []


def test_core_units_include_downwards_and_stages_no_driver() -> None:
    report = _checker().check(ROOT)
    assert [c for c in report.cpp_cycles if all(unit.startswith("src/core/") for unit in c)] == []
    assert report.driver_includes == []


def test_the_checker_catches_cycles_and_stages_that_include_a_driver(tmp_path: Path) -> None:
    checker = _checker()
    graph = {"a": {"b"}, "b": {"c"}, "c": {"a", "d"}, "d": set(), "e": {"e"}, "f": {"a"}}
    assert checker.cycles(graph) == [["a", "b", "c", "a"], ["e", "e"]]
    assert checker.cycles({"a": {"b"}, "b": set()}) == []

    core = tmp_path / "src" / "core"
    (core / "drivers").mkdir(parents=True)
    (core / "stage.hpp").write_text('#include "run.hpp"\n')  # found through the include roots
    (core / "drivers" / "run.hpp").write_text('#include "stage.hpp"\n#include <vector>\n')
    (tmp_path / "python" / "strandify").mkdir(parents=True)
    (tmp_path / "python" / "strandify" / "__init__.py").write_text("from . import _low\n")
    (tmp_path / "python" / "strandify" / "_low.py").write_text("def f():\n    from . import _high\n")
    (tmp_path / "python" / "strandify" / "_high.py").write_text("from ._low import f\n")
    report = checker.check(tmp_path)
    assert report.driver_includes == [("src/core/stage.hpp", "src/core/drivers/run.hpp")]
    assert report.cpp_cycles == [["src/core/drivers/run", "src/core/stage", "src/core/drivers/run"]]
    assert report.python_cycles == [["strandify._high", "strandify._low", "strandify._high"]]
    assert len(report.problems()) == 3
