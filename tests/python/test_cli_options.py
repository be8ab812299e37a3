"""The command line's options, standard streams, --keep-going and its one-line errors."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path
from typing import Any

import numpy as np
import pytest

import strandify
from strandify import centerlines
from strandify.cli import main, option_flags

PLUS = [
    [(0.0, 0.0), (50.0, 0.4), (100.0, 0.0)],
    [(1.0, 1.0), (50.0, 0.8), (99.0, 1.2)],
    [(50.0, -50.0), (50.4, 0.0), (50.0, 50.0)],
    [(51.0, -49.0), (50.8, 0.0), (51.0, 49.0)],
]


def write(tmp_path: Path, name: str, text: str) -> Path:
    path = tmp_path / name
    path.write_text(text)
    return path


def plus(tmp_path: Path, name: str = "plus.json") -> Path:
    return write(tmp_path, name, json.dumps(PLUS))


def run(capsys: pytest.CaptureFixture[str], *argv: Any) -> tuple[int, str]:
    code = main([str(a) for a in argv])
    return code, capsys.readouterr().err


class Recorder:
    """Stands in for the native strokes batch: records every job with the batch's options."""

    def __init__(self) -> None:
        self.jobs: list[Any] = []
        self.real = strandify._native.strandify_strokes_arrays_batch

    def __call__(self, jobs: Any, options: Any) -> Any:
        self.jobs.extend((*job, options) for job in jobs)
        return self.real(jobs, options)


def env() -> dict[str, str]:
    out = dict(os.environ)
    out["PYTHONPATH"] = os.pathsep.join(filter(None, [str(Path(strandify.__file__).parent.parent), out.get("PYTHONPATH")]))
    return out


class TestTuning:
    VALUES = {
        "--simplification": ("0.25", "simplification", 0.25),
        "--min-tip-fraction": ("0.75", "min_tip_fraction", 0.75),
        "--junction-merge-fraction": ("0.3", "junction_merge_fraction", 0.3),
        "--max-nodes": ("5000", "max_nodes", 5000),
        "--subdivision-ratio": ("0.4", "subdivision_ratio", 0.4),
        "--resample": ("0.5", "resample", 0.5),
        "--boundary-simplification": ("0.05", "boundary_simplification", 0.05),
        "--merge-tolerance": ("0.2", "merge_tolerance", 0.2),
    }
    NUMBERS = ("simplification", "min_tip_fraction", "junction_merge_fraction", "max_nodes", "subdivision_ratio",
               "resample", "boundary_simplification", "merge_tolerance")

    def test_every_tuning_option_is_there(self) -> None:
        assert sorted(flag for group, flag, *_ in option_flags() if group == "tuning") == sorted(self.VALUES)
        flags = {flag for _, flag, *_ in option_flags()}
        assert {"--no-refine", "--no-finish-tips", "--radius-tips", "--partition", "--tile-size"} <= flags

    @pytest.mark.parametrize("flag", sorted(VALUES))
    def test_option_reaches_the_batch_job(
        self, tmp_path: Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch, flag: str
    ) -> None:
        text, position, value = self.VALUES[flag]
        recorder = Recorder()
        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", recorder)
        code, err = run(capsys, plus(tmp_path), "-o", tmp_path / "o.json", "-d", "2", "-f", "4", flag, text)
        assert code == 0, err
        ((_, d, f, options),) = recorder.jobs
        assert (d, f) == (2.0, 4.0)
        assert getattr(options, position) == value
        assert all(getattr(options, name) is None for name in self.NUMBERS if name != position)

    def test_lengths_with_units_in_tuning_options(
        self, tmp_path: Path, capsys: pytest.CaptureFixture[str], monkeypatch: pytest.MonkeyPatch
    ) -> None:
        pytest.importorskip("svgelements")
        svg = write(
            tmp_path, "a.svg",
            '<svg xmlns="http://www.w3.org/2000/svg" stroke="black" width="100mm" height="100mm" viewBox="0 0 1000 1000">'
            '<path d="M 100 100 L 900 100"/><path d="M 100 110 L 900 110"/></svg>',
        )
        recorder = Recorder()
        monkeypatch.setattr(strandify._native, "strandify_strokes_arrays_batch", recorder)
        code, err = run(capsys, svg, "-o", tmp_path / "o.svg", "-d", "1mm", "--resample", "0.5mm", "--merge-tolerance", "2")
        assert code == 0, err
        ((_, d, _, options),) = recorder.jobs
        assert d == pytest.approx(10.0) and options.resample == pytest.approx(5.0) and options.merge_tolerance == 2.0

    @pytest.mark.parametrize(
        "args",
        [["--simplification", "-1"], ["--resample", "abc"], ["--max-nodes", "0"], ["-d", "1furlong"], ["-d", "0mm"], ["--min-tip-fraction", "nan"]],
    )
    def test_bad_values_are_usage_errors(self, tmp_path: Path, capsys: pytest.CaptureFixture[str], args: list[str]) -> None:
        code, err = run(capsys, plus(tmp_path), "-o", tmp_path / "o.json", *args)
        assert code == 2 and "usage: strandify" in err

    def test_version(self, capsys: pytest.CaptureFixture[str]) -> None:
        assert main(["--version"]) == 0
        assert capsys.readouterr().out == f"strandify {strandify.__version__}\n"


class TestStreams:
    @pytest.mark.parametrize(("extra", "first"), [([], "{"), (["--to", "svg"], "<?xml"), (["--to", "json"], '{"chains"')])
    def test_stdin_to_stdout(self, extra: list[str], first: str) -> None:
        proc = subprocess.run(
            [sys.executable, "-m", "strandify", "-", "-o", "-", *extra],
            input=json.dumps(PLUS), capture_output=True, text=True, env=env(),
        )
        assert (proc.returncode, proc.stderr) == (0, "")
        assert proc.stdout.startswith(first)
        if not extra:  # a JSON input gives JSON
            got = json.loads(proc.stdout)
            want = centerlines(PLUS).to_json()
            assert len(got["chains"]) == len(want["chains"])
            assert all(np.allclose(a, b) for a, b in zip(got["chains"], want["chains"]))

    def test_svg_from_stdin_writes_svg(self, tmp_path: Path) -> None:
        pytest.importorskip("svgelements")
        svg = '<svg xmlns="http://www.w3.org/2000/svg" stroke="black" width="50mm" height="50mm" viewBox="0 0 50 50"><path d="M 5 5 L 45 5"/><path d="M 5 6 L 45 6"/></svg>'
        proc = subprocess.run([sys.executable, "-m", "strandify", "-", "-o", "-"], input=svg, capture_output=True, text=True, env=env())
        assert proc.returncode == 0, proc.stderr
        assert 'width="50mm"' in proc.stdout

    def test_stdin_that_is_nothing_known(self) -> None:
        proc = subprocess.run([sys.executable, "-m", "strandify", "-", "-o", "-"], input="hello", capture_output=True, text=True, env=env())
        assert proc.returncode == 1
        assert proc.stderr == "strandify: error: <stdin>: cannot tell the format of standard input; use --from\n"

    def test_stdout_takes_one_input(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        code, err = run(capsys, plus(tmp_path, "a.json"), plus(tmp_path, "b.json"), "-o", "-")
        assert (code, err) == (1, "strandify: error: standard output (-) takes the result of a single input\n")


class TestKeepGoing:
    def files(self, tmp_path: Path) -> list[Path]:
        return [plus(tmp_path, "a.json"), write(tmp_path, "b.json", "[7]"), plus(tmp_path, "c.json"), write(tmp_path, "d.json", "{")]

    def test_bad_files_are_reported_and_the_others_written(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        a, b, c, d = self.files(tmp_path)
        out = tmp_path / "out"
        code, err = run(capsys, a, b, c, d, "-o", out / "{stem}.json", "--keep-going")
        assert code == 1
        assert err.splitlines() == [
            f"strandify: error: {b}: curve 0: expected a list of [x, y] number pairs (skipped)",
            f"strandify: error: {d}: invalid JSON: Expecting property name enclosed in double quotes (line 1, column 2) (skipped)",
        ]
        assert sorted(p.name for p in out.iterdir()) == ["a.json", "c.json"]
        assert json.loads((out / "a.json").read_text()) == centerlines(PLUS).to_json()

    def test_without_it_nothing_is_written(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        code, err = run(capsys, *self.files(tmp_path), "-o", tmp_path / "out" / "{stem}.json")
        assert code == 1 and err.count("\n") == 1
        assert not (tmp_path / "out").exists()

    def test_failing_job_is_skipped(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        small = write(tmp_path, "small.json", json.dumps([[[0, 0], [10, 0]]]))
        out = tmp_path / "out"
        code, err = run(capsys, plus(tmp_path), small, "-o", out / "{stem}.json", "-k", "--max-nodes", "100", "-d", "1", "-f", "2")
        assert code == 1
        assert err.startswith(f"strandify: error: {tmp_path / 'plus.json'}: skeleton has ")
        assert err.endswith("exceeding max_nodes limit of 100 (skipped)\n")
        assert sorted(p.name for p in out.iterdir()) == ["small.json"]

    def test_all_good_exits_zero(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        code, err = run(capsys, plus(tmp_path, "a.json"), plus(tmp_path, "b.json"), "-o", tmp_path / "o" / "{stem}.json", "-k")
        assert (code, err) == (0, "")

    def test_progress_bar(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        pytest.importorskip("tqdm")
        files = [plus(tmp_path, f"{k}.json") for k in range(3)]
        code, err = run(capsys, *files, "-o", tmp_path / "o" / "{stem}.json", "--progress")
        assert code == 0 and "3/3" in err


class TestOneLineErrors:
    CASES = {
        "huge-integer.json": ("[[[1, 2], [" + "9" * 400 + ", 3]]]", [], "curve 0: a coordinate is too large for a floating-point number"),
        "huge-curve.svg": (
            '<svg xmlns="http://www.w3.org/2000/svg" stroke="black"><path d="M 0 0 C 1e307 1e307 -1e307 1e307 0.001 0"/></svg>', [], None,
        ),
        "huge-control.svg": (
            '<svg xmlns="http://www.w3.org/2000/svg" stroke="black"><path d="M 0 0 C 1e308 1e308 -1e308 1e308 1e308 0"/></svg>', [], None,
        ),
        "encoding.svg": (
            '<?xml version="1.0" encoding="x-unheard-of"?><svg xmlns="http://www.w3.org/2000/svg" stroke="black"><path d="M 0 0 L 9 9"/></svg>',
            [], "invalid SVG: unknown encoding: x-unheard-of",
        ),
        "overflowing-extent.svg": (
            '<svg xmlns="http://www.w3.org/2000/svg" stroke="black"><path d="M -1e308 0 L 1e308 0"/><path d="M -1e308 5 L 1e308 5"/></svg>',
            [], "cannot derive buffer_distance from this drawing",
        ),
        "tiny-feature.json": (json.dumps(PLUS), ["-f", "5e-324"], "buffer_distance derived from feature_size 5e-324 is not a positive number"),
        "everything-pruned.json": (json.dumps(PLUS), ["-d", "1", "-f", "1000", "--no-keep-dots"], "no centerlines: every stroke was pruned away"),
    }

    @pytest.mark.parametrize("name", sorted(CASES))
    def test_one_clear_line(self, tmp_path: Path, name: str) -> None:
        if name.endswith(".svg"):
            pytest.importorskip("svgelements")
        text, extra, problem = self.CASES[name]
        src = write(tmp_path, name, text)
        proc = subprocess.run(
            [sys.executable, "-m", "strandify", str(src), "-o", str(tmp_path / "o.svg"), *extra],
            capture_output=True, text=True, env=env(),
        )
        assert proc.returncode == 1
        assert "Traceback" not in proc.stderr
        lines = proc.stderr.splitlines()
        assert len(lines) == 1 and lines[0].startswith(f"strandify: error: {src}: "), proc.stderr
        if problem is not None:
            assert problem in lines[0]
        assert not (tmp_path / "o.svg").exists()

    def test_lost_groups_are_a_warning(self, tmp_path: Path, capsys: pytest.CaptureFixture[str]) -> None:
        src = write(tmp_path, "speck.json", json.dumps(PLUS + [[(500.0, 500.0), (500.5, 500.0)]]))
        code, err = run(capsys, src, "-o", tmp_path / "o.json", "--no-keep-dots")
        assert code == 0
        assert err.startswith(f"strandify: warning: {src}: 1 of 2 separate group(s) of strokes gave no centerline")
