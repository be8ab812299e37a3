"""The import graph of the Python package and the include graph of the C++ sources,
and what is wrong with them.

    python tools/import_graph.py           # both graphs, then the problems
    python tools/import_graph.py --check   # the problems only

Python: every import of a module of ``python/strandify`` by another, read with
``ast`` (imports inside functions and ``from . import x`` included).  C++: every
``#include "..."`` of a file under ``src/`` that names a file under ``src/``,
looked up next to the including file, then in ``src/core``, its subdirectories
and ``src/binding`` (the include roots of the build); angle-bracket and
third-party includes are left out.

Problems: a cycle among Python modules; a cycle among C++ units, a unit being
a source file and its header (``pipeline.cpp`` and ``pipeline.hpp``), since
include guards hide circles between files but not between components; and a
stage, any file of ``src/core`` outside ``src/core/drivers/``, that includes a
header of ``src/core/drivers/``: stages are what drivers put together, never
the other way round.  The exit status is 1 when there is any problem.
"""

from __future__ import annotations

import argparse
import ast
import re
import sys
from collections.abc import Iterable
from dataclasses import dataclass
from pathlib import Path

PACKAGE = "strandify"
CPP_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp")
DRIVERS = "src/core/drivers/"
STAGES = "src/core/"

Graph = dict[str, set[str]]

_INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)


# -- Python --------------------------------------------------------------------------


def _module_names(package: Path) -> dict[str, Path]:
    """Dotted name of every module of the package; a stub stands for a compiled module."""
    found: dict[str, Path] = {}
    for path in sorted(package.rglob("*.py*")):
        if path.suffix not in (".py", ".pyi") or "__pycache__" in path.parts:
            continue
        parts = [package.name, *path.relative_to(package).with_suffix("").parts]
        if parts[-1] == "__init__":
            parts.pop()
        name = ".".join(parts)
        if path.suffix == ".py" or name not in found:
            found[name] = path
    return found


def _imported(tree: ast.AST, module: str, is_package: bool, known: set[str]) -> set[str]:
    """The modules of ``known`` that ``module`` imports anywhere in its code."""
    out: set[str] = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            for alias in node.names:
                target = _longest_known(alias.name, known)
                if target is not None:
                    out.add(target)
        elif isinstance(node, ast.ImportFrom):
            if node.level:
                # a package's own name is the base of its relative imports
                base = module.split(".")
                base = base[: len(base) - node.level + (1 if is_package else 0)]
                if not base:
                    continue
                source = ".".join(base + ([node.module] if node.module else []))
            else:
                source = node.module or ""
            for alias in node.names:
                # `from p import m` imports module p.m if there is one, else a name of p
                target = _longest_known(f"{source}.{alias.name}", known) or _longest_known(source, known)
                if target is not None:
                    out.add(target)
    out.discard(module)
    return out


def _longest_known(name: str, known: set[str]) -> str | None:
    parts = name.split(".")
    while parts:
        candidate = ".".join(parts)
        if candidate in known:
            return candidate
        parts.pop()
    return None


def python_graph(package: Path) -> Graph:
    """Each module of ``package`` (dotted names) and the modules of the package it imports."""
    modules = _module_names(package)
    known = set(modules)
    graph: Graph = {}
    for name, path in modules.items():
        tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
        graph[name] = _imported(tree, name, path.stem == "__init__", known)
    return graph


# -- C++ -----------------------------------------------------------------------------


def _include_roots(src: Path) -> list[Path]:
    core = src / "core"
    subdirectories = sorted(p for p in core.iterdir() if p.is_dir()) if core.is_dir() else []
    return [core, *subdirectories, src / "binding"]


def include_graph(src: Path) -> Graph:
    """Each C/C++ file under ``src`` (paths relative to the parent of ``src``) and the files
    under ``src`` it includes."""
    root = src.parent
    roots = _include_roots(src)
    graph: Graph = {}
    for path in sorted(p for p in src.rglob("*") if p.suffix in CPP_SUFFIXES and p.is_file()):
        included: set[str] = set()
        for name in _INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            for base in (path.parent, *roots):
                target = (base / name).resolve()
                if target.is_file() and target.is_relative_to(src.resolve()):
                    included.add(target.relative_to(root.resolve()).as_posix())
                    break
        graph[path.relative_to(root).as_posix()] = included
    return graph


def _unit(path: str) -> str:
    return path.rsplit(".", 1)[0]


def unit_graph(files: Graph) -> Graph:
    """The include graph between units: a source file and its header count as one."""
    graph: Graph = {}
    for path, included in files.items():
        graph.setdefault(_unit(path), set()).update(_unit(p) for p in included if _unit(p) != _unit(path))
    return graph


def driver_includes(files: Graph) -> list[tuple[str, str]]:
    """``(stage, driver header)`` for every include of a driver by a stage."""
    return sorted(
        (path, header)
        for path, included in files.items()
        if path.startswith(STAGES) and not path.startswith(DRIVERS)
        for header in included
        if header.startswith(DRIVERS)
    )


# -- cycles --------------------------------------------------------------------------


def cycles(graph: Graph) -> list[list[str]]:
    """One cycle through every strongly connected part of ``graph`` that has one, as the
    path from its smallest node back to it."""
    index: dict[str, int] = {}
    low: dict[str, int] = {}
    stack: list[str] = []
    on_stack: set[str] = set()
    parts: list[set[str]] = []

    def visit(node: str) -> None:
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            part = set()
            while True:
                member = stack.pop()
                on_stack.discard(member)
                part.add(member)
                if member == node:
                    break
            parts.append(part)

    for node in sorted(graph):
        if node not in index:
            visit(node)
    found = []
    for part in parts:
        start = min(part)
        if len(part) > 1 or start in graph.get(start, ()):
            found.append(_path_back(graph, start, part))
    return sorted(found)


def _path_back(graph: Graph, start: str, part: set[str]) -> list[str]:
    """The shortest path from ``start`` back to itself within ``part``."""
    previous: dict[str, str] = {}
    frontier = [start]
    while frontier:
        following = []
        for node in frontier:
            for nxt in sorted(graph.get(node, ())):
                if nxt == start:
                    path = [node]
                    while path[-1] != start:
                        path.append(previous[path[-1]])
                    return [start, *reversed(path[:-1]), start] if node != start else [start, start]
                if nxt in part and nxt not in previous:
                    previous[nxt] = node
                    following.append(nxt)
        frontier = following
    raise ValueError(f"{start} is on no cycle")


# -- the report ----------------------------------------------------------------------


@dataclass
class Report:
    python: Graph
    includes: Graph
    python_cycles: list[list[str]]
    cpp_cycles: list[list[str]]
    driver_includes: list[tuple[str, str]]

    def problems(self) -> list[str]:
        out = [f"python cycle: {' -> '.join(c)}" for c in self.python_cycles]
        out += [f"c++ cycle: {' -> '.join(c)}" for c in self.cpp_cycles]
        out += [f"a stage includes a driver: {stage} -> {header}" for stage, header in self.driver_includes]
        return out


def check(root: Path) -> Report:
    """The graphs and problems of the repository at ``root``."""
    python = python_graph(root / "python" / PACKAGE)
    src = root / "src"
    includes = include_graph(src) if src.is_dir() else {}
    return Report(python, includes, cycles(python), cycles(unit_graph(includes)), driver_includes(includes))


def layered(graph: Graph) -> list[str]:
    """The nodes, each after everything it imports (by name where that leaves a choice);
    nodes on a cycle come last, by name."""
    done: list[str] = []
    placed: set[str] = set()
    remaining = set(graph)
    while remaining:
        ready = sorted(n for n in remaining if graph[n] <= placed)
        if not ready:
            done.extend(sorted(remaining))
            break
        done.extend(ready)
        placed.update(ready)
        remaining.difference_update(ready)
    return done


def _listing(title: str, graph: Graph, order: Iterable[str]) -> list[str]:
    lines = [f"{title}:"]
    for node in order:
        lines.append(f"  {node} -> {', '.join(sorted(graph[node])) or '(nothing)'}")
    return lines


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--check", action="store_true", help="print only the problems")
    parser.add_argument("--root", type=Path, default=Path(__file__).resolve().parents[1], help="the repository")
    args = parser.parse_args(argv)
    report = check(args.root)
    problems = report.problems()
    if not args.check:
        lines = _listing(f"python ({PACKAGE}, lowest first)", report.python, layered(report.python))
        lines += _listing("c++ (src)", report.includes, sorted(report.includes))
        print("\n".join(lines))
    for problem in problems:
        print(problem)
    if not args.check or problems:
        print(f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
