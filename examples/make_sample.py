"""Generate examples/letters.json: the word HEXA drawn with sketchy, overdrawn strokes.

Every stroke of every letter is traced two or three times, each trace a little
off the ideal line, with a slow sideways wobble, some jitter and ends that
overshoot or stop short, the way a quick pencil sketch looks.  The output is a
plain JSON list of curves, each a list of [x, y] pairs, y pointing up.

    python examples/make_sample.py            # rewrites examples/letters.json
    python examples/make_sample.py out.json   # writes elsewhere
"""

from __future__ import annotations

import json
import math
import random
import sys
from pathlib import Path

Point = tuple[float, float]
Stroke = tuple[Point, Point]

SEED = 20240611
LETTER_WIDTH = 60.0
LETTER_GAP = 28.0
SPACING = 1.5  # distance between consecutive points of a trace

# Letters on a 60 x 100 cell, strokes as (start, end) in drawing order.
LETTERS: dict[str, list[Stroke]] = {
    "H": [((0, 0), (0, 100)), ((60, 0), (60, 100)), ((0, 52), (60, 52))],
    "E": [((0, 0), (0, 100)), ((0, 100), (56, 100)), ((0, 52), (44, 52)), ((0, 0), (58, 0))],
    "X": [((0, 0), (60, 100)), ((0, 100), (60, 0))],
    "A": [((0, 0), (30, 100)), ((30, 100), (60, 0)), ((13, 40), (47, 40))],
}


def trace(rng: random.Random, start: Point, end: Point) -> list[Point]:
    """One hand-drawn pass along the segment start-end."""
    (x0, y0), (x1, y1) = start, end
    length = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / length, (y1 - y0) / length
    nx, ny = -uy, ux
    # where the pen lands and lifts: a bit beside the line, over- or undershooting
    begin = rng.uniform(-3.0, 2.0)
    stop = length + rng.uniform(-2.0, 4.0)
    offset = rng.uniform(-1.2, 1.2)
    tilt = rng.uniform(-1.0, 1.0) / length  # a slightly rotated pass
    amplitude = rng.uniform(0.3, 0.9)
    waves = rng.uniform(0.5, 1.5)
    phase = rng.uniform(0.0, 2.0 * math.pi)
    count = max(int((stop - begin) / SPACING), 2)
    points = []
    for i in range(count + 1):
        s = begin + (stop - begin) * i / count
        side = (
            offset
            + tilt * s
            + amplitude * math.sin(phase + 2.0 * math.pi * waves * s / length)
            + rng.gauss(0.0, 0.12)
        )
        points.append((round(x0 + ux * s + nx * side, 2), round(y0 + uy * s + ny * side, 2)))
    return points


def drawing(word: str = "HEXA", seed: int = SEED) -> list[list[Point]]:
    rng = random.Random(seed)
    curves = []
    for k, letter in enumerate(word):
        dx = k * (LETTER_WIDTH + LETTER_GAP)
        for (x0, y0), (x1, y1) in LETTERS[letter]:
            for _ in range(rng.choice((2, 3, 3))):
                curves.append(trace(rng, (x0 + dx, y0), (x1 + dx, y1)))
    return curves


def main() -> None:
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("letters.json")
    curves = drawing()
    text = "[\n" + ",\n".join(json.dumps([list(p) for p in c], separators=(",", ":")) for c in curves) + "\n]\n"
    target.write_text(text)
    print(f"wrote {target}: {len(curves)} curves, {sum(map(len, curves))} points")


if __name__ == "__main__":
    main()
