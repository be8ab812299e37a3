"""What the fuzzers share: child processes that run numbered cases, and the report of outcomes.

A child reads case indices from standard input, one a line, and answers each with one JSON line
(index, outcome, detail).  The parent keeps ``jobs`` children busy; a child that dies in the
middle of a case is counted a ``crash`` and one that gives no answer within the timeout a
``hang``, and either is replaced by a fresh child.
"""
from __future__ import annotations

import argparse
import itertools
import json
import os
import resource
import selectors
import subprocess
import sys
import tempfile
import time
import traceback
from dataclasses import dataclass, field


def limit_memory(megabytes):
    """Let this process add at most ``megabytes`` of address space to what it holds now."""
    if megabytes <= 0:
        return
    with open("/proc/self/status") as f:
        vm = next(int(row.split()[1]) * 1024 for row in f if row.startswith("VmSize:"))
    limit = vm + (megabytes << 20)
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def serve(run_index, out=None):
    """The child's loop: answer each index read from standard input with ``run_index(index)``,
    an (outcome, detail) pair; a case that cannot even be made is a ``generator-error``."""
    out = out or sys.stdout
    for line in sys.stdin:
        index = int(line)
        try:
            outcome, detail = run_index(index)
        except Exception:
            outcome, detail = "generator-error", traceback.format_exc()[-2000:]
        out.write(json.dumps({"index": index, "outcome": outcome, "detail": detail}) + "\n")
        out.flush()


class Child:
    def __init__(self, command, env):
        self.stderr = tempfile.TemporaryFile(mode="w+b")
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=self.stderr, env=env)
        self.buffer = b""
        self.index = None
        self.started = 0.0

    def send(self, index):
        self.index = index
        self.started = time.monotonic()
        self.proc.stdin.write(f"{index}\n".encode())
        self.proc.stdin.flush()

    def stderr_tail(self, size=6000):
        self.stderr.flush()
        self.stderr.seek(0, os.SEEK_END)
        end = self.stderr.tell()
        self.stderr.seek(max(0, end - size))
        return self.stderr.read().decode(errors="replace")

    def close(self, kill=False):
        if kill and self.proc.poll() is None:
            self.proc.kill()
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.proc.stdout.close()
        self.stderr.close()


@dataclass
class Report:
    seed: int
    label: str
    fault_outcomes: tuple
    describe: object  # index -> the text of its case, for the findings
    counts: dict = field(default_factory=dict)
    faults: list = field(default_factory=list)
    on_fault: object = None  # called with each fault as it is found

    def add(self, index, outcome, detail=""):
        self.counts[outcome] = self.counts.get(outcome, 0) + 1
        if outcome in self.fault_outcomes:
            try:
                text = self.describe(index)
            except Exception as e:
                text = f"<the generator fails: {e!r}>"
            self.faults.append({"seed": self.seed, "index": index, "outcome": outcome,
                                "detail": detail, "input": text})
            if self.on_fault:
                self.on_fault(self, self.faults[-1])

    @property
    def ran(self):
        return sum(self.counts.values())

    def count(self, *outcomes):
        return sum(self.counts.get(o, 0) for o in outcomes)

    def summary(self):
        clean = self.ran - self.count(*self.fault_outcomes)
        parts = ", ".join(f"{k} {v}" for k, v in sorted(self.counts.items()))
        return f"seed {self.seed} ({self.label}): {self.ran} cases, {clean} clean; {parts}"

    def findings(self, script, flags=""):
        """The summary and each fault with the command that replays it, for a failed test."""
        lines = [self.summary()]
        for f in self.faults:
            lines.append(f"{f['outcome']}: {script} --seed {f['seed']}{flags} --replay {f['index']}\n"
                         f"  {f['input'][:1500]}\n  {f['detail'][:3000]}")
        return "\n".join(lines)


def run(command, report, *, count=None, seconds=None, start=0, jobs=2, timeout=10.0, env=None,
        progress=None):
    """Runs cases start, start+1, ... in ``jobs`` children started with ``command``, until
    ``count`` cases or ``seconds`` have passed; adds every outcome to ``report``."""
    deadline = time.monotonic() + seconds if seconds else None
    indices = itertools.count(start) if count is None else iter(range(start, start + count))
    selector = selectors.DefaultSelector()
    children = []

    def spawn():
        child = Child(command, env)
        selector.register(child.proc.stdout, selectors.EVENT_READ, child)
        children.append(child)
        return child

    def retire(child, kill):
        selector.unregister(child.proc.stdout)
        children.remove(child)
        child.close(kill=kill)

    def feed(child):
        if deadline is not None and time.monotonic() > deadline:
            return False
        index = next(indices, None)
        if index is None:
            return False
        child.send(index)
        return True

    def restart_after(child):
        retire(child, kill=True)
        fresh = spawn()
        if not feed(fresh):
            retire(fresh, kill=False)

    for _ in range(max(1, jobs)):
        child = spawn()
        if not feed(child):
            retire(child, kill=False)
    last_progress = time.monotonic()
    while children:
        now = time.monotonic()
        wait = min(max(0.05, c.started + timeout - now) for c in children)
        for key, _ in selector.select(timeout=wait):
            child = key.data
            chunk = os.read(child.proc.stdout.fileno(), 65536)
            if not chunk:  # the child is gone in the middle of a case
                rc = child.proc.wait()
                detail = f"exit status {rc}" + (f" (signal {-rc})" if rc < 0 else "")
                report.add(child.index, "crash", detail + "\n" + child.stderr_tail())
                restart_after(child)
                continue
            child.buffer += chunk
            while b"\n" in child.buffer:
                line, child.buffer = child.buffer.split(b"\n", 1)
                answer = json.loads(line)
                report.add(answer["index"], answer["outcome"], answer["detail"])
                if not feed(child):
                    retire(child, kill=False)
                    break
        now = time.monotonic()
        for child in list(children):
            if child.index is not None and now - child.started > timeout:
                report.add(child.index, "hang", f"no answer within {timeout:g} s")
                restart_after(child)
        if progress and now - last_progress > 30:
            progress(report)
            last_progress = now
    selector.close()
    return report


# ----------------------------------------------------------------------------------------------
# The command line both fuzzers share.


def add_arguments(ap, timeout):
    """The options of a fuzzer's command line; ``timeout`` is its default per case."""
    ap.add_argument("--seed", type=int, default=0)
    ap.add_argument("--count", type=int, help="number of cases (default: until --seconds)")
    ap.add_argument("--seconds", type=float, help="stop starting cases after this long")
    ap.add_argument("--start", type=int, default=0, help="first case index")
    ap.add_argument("--jobs", type=int, default=2, help="child processes running cases")
    ap.add_argument("--timeout", type=float, default=timeout, help="seconds per case")
    ap.add_argument("--memory-mb", type=int, default=2048,
                    help="address space a child may add after import (0: no limit)")
    ap.add_argument("--replay", type=int, metavar="INDEX", help="run one case in this process")
    ap.add_argument("--report", help="write the findings as JSON to this file")
    ap.add_argument("--fail-on-hang", action="store_true")
    ap.add_argument("--child", action="store_true", help=argparse.SUPPRESS)


def replay(text, run_case, fault_outcomes):
    """Show a case (its ``text``), run it here, show what came of it; the exit status."""
    print(text)
    sys.stdout.flush()
    t = time.monotonic()
    outcome, detail = run_case()
    print(f"-> {outcome} after {time.monotonic() - t:.2f} s {detail}")
    return 0 if outcome not in fault_outcomes else 1


def show_fault(flags=""):
    """A printer of each fault as it is found, with the flags that replay it."""
    def show(report, f):
        print(f"--- {f['outcome']}: --seed {f['seed']}{flags} --replay {f['index']}")
        print(f"    input: {f['input']}")
        print("    " + f["detail"].strip().replace("\n", "\n    "), flush=True)
    return show


def show_progress(report):
    print(report.summary(), file=sys.stderr, flush=True)


def conclude(report, path, fail_on_hang):
    """Print the summary, write the findings to ``path`` (if given); the exit status."""
    print(report.summary())
    if path:
        with open(path, "w") as f:
            json.dump({"summary": report.summary(), "counts": report.counts,
                       "faults": report.faults}, f, indent=1)
    fatal = report.count(*(o for o in report.fault_outcomes if o != "hang"))
    if fail_on_hang:
        fatal += report.count("hang")
    return 1 if fatal else 0
