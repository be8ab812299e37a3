"""The package and its examples type-check under mypy --strict."""

from __future__ import annotations

from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def test_mypy_strict(tmp_path: Path) -> None:
    api = pytest.importorskip("mypy.api")
    sources = [ROOT / "python" / "strandify", ROOT / "examples"]
    if not all(p.is_dir() for p in sources):
        pytest.skip("not run from a source checkout")
    out, err, status = api.run(
        ["--strict", "--cache-dir", str(tmp_path / "cache"), "--no-error-summary", *map(str, sources)]
    )
    assert status == 0, out + err
