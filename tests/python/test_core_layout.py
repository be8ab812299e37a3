"""The include structure of the native core: drivers above stages, and no include circle.

The entry drivers in src/core/drivers/ run the stages; a stage that included a driver would tie
the stages back to one way of running them, which is how the centerline driver and tiling once
came to include each other.
"""

from __future__ import annotations

import re
from pathlib import Path

CORE = Path(__file__).resolve().parents[2] / "src" / "core"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def includes(core: Path) -> dict[Path, list[Path]]:
    """Every core file and the core files it includes, resolved as the compiler does: beside the
    including file first, then from src/core."""
    graph: dict[Path, list[Path]] = {}
    for path in sorted(p for p in core.rglob("*") if p.suffix in {".hpp", ".cpp"}):
        found = []
        for name in INCLUDE.findall(path.read_text()):
            for candidate in (path.parent / name, core / name):
                if candidate.is_file():
                    found.append(candidate.resolve())
                    break
        graph[path.resolve()] = found
    return graph


def module_of(path: Path, graph: dict[Path, list[Path]]) -> Path:
    """A header and the sources that implement it are one module: a source belongs to the header
    of its own name, or else to the first core header it includes (its own, by convention)."""
    if path.suffix == ".cpp":
        own = path.with_suffix(".hpp")
        if own.is_file():
            return own
        if graph[path]:
            return graph[path][0]
    return path


def module_cycle(core: Path) -> list[Path] | None:
    graph = includes(core)
    modules: dict[Path, set[Path]] = {}
    for path, targets in graph.items():
        edges = modules.setdefault(module_of(path, graph), set())
        edges.update(module_of(t, graph) for t in targets)
    state: dict[Path, int] = {}  # 1: on the current path, 2: done

    def visit(node: Path, path: list[Path]) -> list[Path] | None:
        state[node] = 1
        for target in sorted(modules.get(node, ())):
            if target == node or state.get(target) == 2:
                continue
            if state.get(target) == 1:
                return path + [node, target]
            cycle = visit(target, path + [node])
            if cycle:
                return cycle
        state[node] = 2
        return None

    for node in sorted(modules):
        if node not in state:
            cycle = visit(node, [])
            if cycle:
                return cycle
    return None


def test_no_stage_includes_a_driver() -> None:
    drivers = (CORE / "drivers").resolve()
    wrong = [
        f"{path.relative_to(CORE)} includes {target.relative_to(CORE)}"
        for path, targets in includes(CORE).items()
        if drivers not in path.parents
        for target in targets
        if drivers in target.parents
    ]
    assert not wrong, wrong


def test_core_modules_include_each_other_in_no_circle() -> None:
    cycle = module_cycle(CORE)
    assert cycle is None, " -> ".join(str(p.relative_to(CORE.resolve())) for p in cycle)
