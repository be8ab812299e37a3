#!/usr/bin/env python3
"""Fuzz the native functions of strandify._internal with adversarial inputs.

Every case is generated from (seed, index) alone, so any finding is reproduced by
``fuzz_native.py --seed SEED --replay INDEX``. Cases run in child processes, each under an
address-space limit and a per-case timeout; the parent counts

  crash          the child died (a signal, or a sanitizer report)
  hang           no answer within the timeout
  bad-exception  an exception other than ValueError, TypeError, OverflowError, MemoryError
                 (or the exception a hostile argument raised itself, which must come through)
  bad-shape      a result that is not what the function promises

The ``safe`` profile stays away from inputs that legitimately take long (a feature_size tiny
against the drawing, buffers huge against the feature size, very many points), so that it is a
stable guard; the ``full`` profile goes there too, and its hangs are reported, not fatal.

    fuzz_native.py --seed 1 --seconds 600 --jobs 2
    fuzz_native.py --seed 1 --replay 417          # run one case in this process, show it
"""
from __future__ import annotations

import argparse
import math
import os
import random
import sys
import traceback
from dataclasses import dataclass, field
from types import SimpleNamespace

import child_pool

FAULTS = ("crash", "hang", "bad-exception", "bad-shape", "generator-error")
ALLOWED = (ValueError, TypeError, OverflowError, MemoryError)
# The four exact functions, then the calls that take their tuning in one `options` value.
ENTRIES = ("strandify", "strandify_batch", "inflate_curves", "triangulate_curves",
           "strandify_strokes", "strandify_strokes_batch", "inflate_strokes", "triangulate_strokes",
           "strandify_polygons", "strandify_polygons_batch", "strandify_strokes_arrays_batch")
ENTRY_WEIGHTS = (3, 2, 2, 2, 3, 2, 2, 2, 3, 2, 2)
OPTIONAL_FLOATS = ("simplification", "min_tip_fraction", "junction_merge_fraction",
                   "subdivision_ratio", "resample", "boundary_simplification", "merge_tolerance")
BATCH_ORDER = ("simplification", "min_tip_fraction", "junction_merge_fraction", "max_nodes",
               "subdivision_ratio", "resample", "boundary_simplification", "merge_tolerance")
ENTRY_KEYWORDS = {
    "strandify": ("simplification", "min_tip_fraction", "junction_merge_fraction",
                  "per_curve_widths", "compute_widths", "subdivision_ratio", "max_nodes",
                  "resample", "boundary_simplification", "merge_tolerance"),
    "inflate_curves": ("per_curve_widths", "merge_tolerance"),
    "triangulate_curves": ("per_curve_widths", "subdivision_ratio", "resample",
                           "boundary_simplification", "merge_tolerance"),
}
# The attributes every `options` value must have, read by name.
OPTION_FIELDS = OPTIONAL_FLOATS + ("tile_size", "max_nodes", "compute_widths", "partition", "workers",
                                   "refine_steps")
STEPS = ("finish_tips", "recover_corners", "keep_dots", "join_crossings", "radius_tips", "real_ends")
# What each entry returns: centerlines, a list of them (four or, for the exact batch, three
# lists each), polygons or triangles.
RETURNS = {"strandify": "centerlines", "strandify_strokes": "centerlines", "strandify_polygons": "centerlines",
           "strandify_strokes_batch": "centerlines list", "strandify_polygons_batch": "centerlines list",
           "strandify_strokes_arrays_batch": "buffers list",
           "strandify_batch": "exact batch", "inflate_curves": "polygons", "inflate_strokes": "polygons",
           "triangulate_curves": "triangles", "triangulate_strokes": "triangles"}


# ----------------------------------------------------------------------------------------------
# Hostile objects. Each has a repr that says what it is, for the reproducer.


class Hostile(Exception):
    """Raised by hostile arguments; the native functions must let it through unchanged."""


class LyingList(list):
    def __init__(self, items, length):
        super().__init__(items)
        self.length = length

    def __len__(self):
        return self.length

    def __repr__(self):
        return f"LyingList({list.__repr__(self)}, length={self.length!r})"


class RaisingLenList(list):
    def __len__(self):
        raise Hostile("__len__")

    def __repr__(self):
        return f"RaisingLenList({list.__repr__(self)})"


class IndexSequence:
    """A sequence that is not a list: read through __getitem__ until IndexError."""

    def __init__(self, items, length, fail_at=None):
        self.items, self.length, self.fail_at = list(items), length, fail_at

    def __len__(self):
        return self.length

    def __getitem__(self, i):
        if i == self.fail_at:
            raise Hostile(f"__getitem__({i})")
        return self.items[i]

    def __repr__(self):
        return f"IndexSequence({self.items!r}, length={self.length!r}, fail_at={self.fail_at!r})"


class RaisingFloat:
    def __float__(self):
        raise Hostile("__float__")

    def __repr__(self):
        return "RaisingFloat()"


class WrongFloat:
    def __float__(self):
        return "1.0"

    def __repr__(self):
        return "WrongFloat()"


class HugeIndex:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"HugeIndex({self.value!r})"


class Clearing:
    """Converts to a float, and empties the list it was put in while that list is being read."""

    def __init__(self, value):
        self.value, self.target = value, None

    def __float__(self):
        if self.target is not None:
            self.target.clear()
        return self.value

    def __repr__(self):
        return f"Clearing({self.value!r})"


class Reentrant:
    """Converts to a float after calling the native module itself."""

    def __float__(self):
        from strandify import _internal as m
        m.strandify([[(0.0, 0.0), (3.0, 0.0)]], 0.5, 0.5)
        m.strandify_batch([([[(0.0, 0.0), (3.0, 1.0)]], 0.5, 0.5) + (None,) * 8])
        m.strandify_strokes_batch([([[(0.0, 0.0), (3.0, 1.0)]], 0.5, 0.5)], None)
        return 1.0

    def __repr__(self):
        return "Reentrant()"


class RaisingOptions:
    """An options value whose attribute `raising` raises; the others read as given."""

    def __init__(self, values, raising):
        self.values, self.raising = values, raising

    def __getattr__(self, name):
        if name == self.raising:
            raise Hostile(f"options.{name}")
        try:
            return self.values[name]
        except KeyError:
            raise AttributeError(name) from None

    def __repr__(self):
        return f"RaisingOptions({self.values!r}, raising={self.raising!r})"


class Deleting:
    """Converts to a float after deleting an attribute of the options value that holds it."""

    def __init__(self, value, name):
        self.value, self.name, self.target = value, name, None

    def __float__(self):
        if self.target is not None and hasattr(self.target, self.name):
            delattr(self.target, self.name)
        return self.value

    def __repr__(self):
        return f"Deleting({self.value!r}, {self.name!r})"


def object_array(np, items):
    """A one-dimensional NumPy array of the items themselves (point tuples stay tuples)."""
    a = np.empty(len(items), dtype=object)
    for i, item in enumerate(items):
        a[i] = item
    return a


def generator_of(items):
    return (x for x in items)


# ----------------------------------------------------------------------------------------------
# Case generation.

SPECIAL = [math.nan, math.inf, -math.inf, 1e308, -1e308, 5e-324, -5e-324, -0.0, 0.0, 1e-300,
           2.0**53, 1e15 + 0.5, -1e15]
# The ones that cannot widen a drawing's extent.
SMALL_SPECIAL = [math.nan, math.inf, -math.inf, 5e-324, -5e-324, -0.0, 0.0, 1e-300]


@dataclass
class Case:
    entry: str
    args: tuple
    kwargs: dict
    flags: dict = field(default_factory=dict)  # what the shape check needs to know

    def describe(self, limit=4000):
        text = f"{self.entry}(*{self.args!r}, **{self.kwargs!r})"
        return text if len(text) <= limit else text[:limit] + f"... [{len(text)} chars]"


class Generator:
    def __init__(self, seed, index, profile):
        self.r = random.Random(f"{seed}:{index}")
        self.safe = profile == "safe"
        # Whether arguments may be other objects than floats and lists; otherwise only the
        # values are hostile, and most cases get past the conversions into the pipeline.
        self.dressy = self.r.random() < 0.35
        self.np = None
        try:
            import numpy
            self.np = numpy
        except ImportError:
            pass

    def chance(self, p):
        return self.r.random() < p

    # -- numbers ---------------------------------------------------------------------------

    def hostile_number(self):
        r, np = self.r, self.np
        special = SMALL_SPECIAL if self.safe else SPECIAL
        options = [lambda: r.choice(special), lambda: RaisingFloat(), lambda: WrongFloat(),
                   lambda: HugeIndex(r.choice([2**100, -(2**70), 3])), lambda: 10**400,
                   lambda: True, lambda: r.randint(-5, 5), lambda: "1.0", lambda: None,
                   lambda: [1.0], lambda: complex(1, 1)]
        if np is not None:
            options += [lambda: np.float64(r.choice(special)), lambda: np.float32(r.uniform(0, 5)),
                        lambda: np.int64(r.randint(-3, 3)), lambda: np.float16(math.nan),
                        lambda: np.array(1.5), lambda: np.array([1.0, 2.0])]
        return r.choice(options)()

    def coordinate(self, value):
        """A coordinate, mostly the float it is, sometimes another number type or a hostile one."""
        r, np = self.r, self.np
        if not self.dressy:
            return value
        p = r.random()
        if p < 0.97:
            return value
        if p < 0.98:
            return r.choice(SMALL_SPECIAL if self.safe else SPECIAL)
        if p < 0.99 and np is not None:
            return r.choice([np.float64, np.float32])(value)
        if p < 0.995:
            return int(value) if math.isfinite(value) else value
        return self.hostile_number()

    # -- geometry --------------------------------------------------------------------------

    def base_curve(self, scale, origin):
        r = self.r
        kind = r.choice(["polyline", "polyline", "point", "coincident", "circle", "zigzag",
                         "backforth", "empty", "two", "tiny"])
        ox, oy = origin
        if kind == "empty":
            return []
        if kind == "point":
            return [(ox + r.uniform(0, scale), oy + r.uniform(0, scale))]
        if kind == "coincident":
            p = (ox + r.uniform(0, scale), oy + r.uniform(0, scale))
            return [p] * r.randint(2, 12)
        if kind == "two":
            return [(ox, oy), (ox + r.uniform(-scale, scale), oy + r.uniform(-scale, scale))]
        if kind == "tiny":
            eps = scale * r.choice([1e-9, 1e-15, 1e-300])
            return [(ox + i * eps, oy + (i % 2) * eps) for i in range(r.randint(2, 8))]
        if kind == "circle":
            n = r.randint(3, 60)
            rad = r.uniform(0.05, 0.5) * scale
            pts = [(ox + rad * math.cos(2 * math.pi * i / n), oy + rad * math.sin(2 * math.pi * i / n))
                   for i in range(n)]
            return pts + [pts[0]] if self.chance(0.7) else pts
        if kind == "zigzag":
            n = r.randint(3, 40)
            amp = scale * r.choice([0.001, 0.05, 0.3])
            return [(ox + scale * i / n, oy + amp * (i % 2)) for i in range(n)]
        if kind == "backforth":
            a, b = (ox, oy), (ox + scale, oy + scale * r.uniform(-1, 1))
            return [a, b] * r.randint(1, 6)
        n = r.randint(2, 40)
        x, y = ox, oy
        pts = []
        for _ in range(n):
            x += r.gauss(0, scale / 8)
            y += r.gauss(0, scale / 8)
            pts.append((x, y))
        return pts

    def curves_geometry(self):
        """Plain float curves, their extent (finite coordinates only) and the point count."""
        r = self.r
        scale = 10.0 ** r.choice([0, 0, 1, 2, -3, 6, -8, 12])
        origin = r.choice([(0.0, 0.0), (0.0, 0.0), (1e6, -1e6), (1e15, 1e15), (-3.5, 2.25)])
        curves = []
        for _ in range(r.choice([0, 1, 1, 2, 3, 4, 6, 10])):
            if curves and self.chance(0.15):
                curves.append(list(r.choice(curves)))  # a duplicate of an earlier curve
            elif curves and self.chance(0.1):
                curves.append(list(reversed(r.choice(curves))))
            else:
                curves.append(self.base_curve(scale, origin))
        if not self.safe and self.chance(0.03):
            if self.chance(0.5):  # a long stroke
                x, y = origin
                step = scale / r.choice([100, 1000])
                long_curve = []
                for _ in range(r.choice([2000, 20000])):
                    x += r.gauss(0, step)
                    y += r.gauss(0, step)
                    long_curve.append((x, y))
                curves.append(long_curve)
            else:  # a scribble crossing itself everywhere
                curves.append([(origin[0] + scale * r.random(), origin[1] + scale * r.random())
                               for _ in range(r.choice([50, 300]))])
        # Special values dropped into single coordinates.
        if self.chance(0.25):
            for _ in range(r.randint(1, 3)):
                if not any(curves):
                    break
                c = r.choice([c for c in curves if c])
                i = r.randrange(len(c))
                x, y = c[i]
                v = r.choice(SPECIAL)
                c[i] = (v, y) if self.chance(0.5) else (x, v)
        return curves

    @staticmethod
    def extent(curves):
        xs = [v for c in curves for p in c for v in (p[0],) if math.isfinite(v)]
        ys = [v for c in curves for p in c for v in (p[1],) if math.isfinite(v)]
        if not xs or not ys:
            return 0.0
        e = max(max(xs) - min(xs), max(ys) - min(ys))
        return e if math.isfinite(e) else math.inf

    def dress_point(self, p):
        """The point as the binding sees it: usually a tuple, sometimes something else."""
        r = self.r
        x, y = self.coordinate(p[0]), self.coordinate(p[1])
        q = r.random()
        if not self.dressy or q < 0.99:
            return (x, y)
        plain = self.np is not None and type(x) is float and type(y) is float
        return r.choice([[x, y], (x,), (x, y, 0.0), x, None, "xy",
                         self.np.array([x, y]) if plain else (x, y)])

    def dress_sequence(self, items, length_hint_ok=True):
        """A list, or a hostile or unusual sequence holding the same items."""
        r = self.r
        if not self.dressy or r.random() < 0.9:
            return list(items)
        choices = [lambda: LyingList(items, r.choice([2**62, 10**9, 2**63 - 1, 0, 1])),
                   lambda: RaisingLenList(items),
                   lambda: IndexSequence(items, r.choice([len(items), 2**62, 0])),
                   lambda: IndexSequence(items, len(items), fail_at=r.randint(0, len(items))),
                   lambda: tuple(items), lambda: generator_of(items)]
        if self.np is not None and items and all(
                type(p) is tuple and all(type(v) is float for v in p) for p in items):
            choices.append(lambda: object_array(self.np, items))
        return r.choice(choices)()

    def curves_argument(self, geometry):
        r = self.r
        if self.chance(0.02):
            return r.choice([None, "curves", b"\x00\x01", {0: [(0.0, 0.0)]}, 3.0,
                             self.np.zeros((3, 2)) if self.np is not None else 3.0,
                             [self.np.zeros((3, 2))] if self.np is not None else 3.0])
        out = []
        for c in geometry:
            pts = [self.dress_point(p) for p in c]
            if pts and self.chance(0.02):
                clearing = Clearing(1.0)
                k = r.randrange(len(pts))
                pts[k] = (clearing, pts[k][1] if isinstance(pts[k], tuple) and len(pts[k]) == 2 else 0.0)
                seq = list(pts)
                clearing.target = seq
                out.append(seq)
                continue
            if pts and self.chance(0.005):
                pts[0] = (Reentrant(), 0.0)
            out.append(self.dress_sequence(pts))
        return self.dress_sequence(out)

    def polygons_argument(self, geometry):
        """The curves read as rings (random walks cross themselves), grouped into (outer, holes)."""
        r = self.r
        if self.chance(0.02):
            return r.choice([None, "polygons", [[(0.0, 0.0)]], [((0.0, 0.0), [])],
                             [([(0.0, 0.0)],)], [([(0.0, 0.0), (1.0, 0.0)], None)], 3.0])
        rings = [self.ring_argument(c) for c in geometry]
        polygons, k = [], 0
        while k < len(rings):
            holes = rings[k + 1:k + 1 + r.choice([0, 0, 1, 2])]
            pair = (rings[k], self.dress_sequence(holes))
            polygons.append(list(pair) if self.dressy and self.chance(0.01) else pair)
            k += 1 + len(holes)
        return self.dress_sequence(polygons)

    def polygons_job(self):
        """(polygons, buffer_distance or None, feature_size), and the extent and feature size."""
        geometry = self.curves_geometry()
        extent = self.extent(geometry)
        bd, fs = self.sizes(extent)
        job = (self.polygons_argument(geometry), self.dressed(bd) if self.chance(0.5) else None,
               self.dressed(fs))
        return job, extent, fs

    def ring_argument(self, points):
        """A curve or ring of the options-taking calls: often a float64 (n, 2) array."""
        if self.np is not None and self.chance(0.25):
            return self.array_of(points)
        return self.dress_sequence([self.dress_point(p) for p in points])

    def array_of(self, points):
        """The points as a C-contiguous float64 (n, 2) array, now and then one to refuse."""
        np, r = self.np, self.r
        a = np.array(points, dtype=np.float64).reshape(-1, 2)
        if not (self.dressy and self.chance(0.15)):
            return a
        return r.choice([lambda: a.astype(np.float32), lambda: np.asfortranarray(a),
                         lambda: np.repeat(a, 2, axis=0)[::2], lambda: np.hstack([a, a[:, :1]]),
                         lambda: a.reshape(-1), lambda: a.astype(object)])()

    def strokes_argument(self, geometry):
        """The curves of the options-taking calls: lists of points or arrays, or one 3-D array."""
        lengths = {len(c) for c in geometry}
        if self.np is not None and len(lengths) == 1 and 0 not in lengths and self.chance(0.05):
            return self.np.array(geometry, dtype=self.np.float64)
        if self.chance(0.02):
            return self.curves_argument(geometry)  # the rare object that is no list of curves
        return self.dress_sequence([self.ring_argument(c) for c in geometry])

    # -- options ---------------------------------------------------------------------------

    def options_argument(self, fs, extent, tiles):
        """(options, widths): None, a namespace of every field (mostly sane values), or an
        object that is no options value; and whether the call must return widths. Partition
        'tiles' comes mostly where it is taken (`tiles`): strokes, not unions or shapes."""
        if self.chance(0.15):
            return None, False
        values = {name: self.option_value(name, fs, extent, tiles) for name in OPTION_FIELDS}
        widths = values["compute_widths"] is True or (
            self.np is not None and isinstance(values["compute_widths"], self.np.bool_)
            and bool(values["compute_widths"]))
        if not (self.dressy and self.chance(0.15)):
            return SimpleNamespace(**values), widths
        r = self.r
        name = r.choice(OPTION_FIELDS)
        kind = r.choice(["missing", "raising", "deleting", "dict", "other"])
        if kind == "missing":
            del values[name]
        elif kind == "raising":
            return RaisingOptions(values, name), widths
        elif kind == "deleting":
            deleting = Deleting(1.0, name)
            values[r.choice(OPTIONAL_FLOATS)] = deleting
            options = SimpleNamespace(**values)
            deleting.target = options
            return options, widths
        elif kind == "dict":
            return values, widths
        else:
            return r.choice([3, "options", (), [values]]), widths
        return SimpleNamespace(**values), widths

    def option_value(self, name, fs, extent, tiles):
        r, np = self.r, self.np
        hostile = self.dressy and self.chance(0.08)
        if name in OPTIONAL_FLOATS:
            return self.optional_float(name, fs)
        if name == "max_nodes":
            return self.max_nodes()
        if name == "compute_widths":
            return self.flag() if hostile else r.choice([False, False, True])
        if name == "tile_size":
            return self.tile_size(extent, hostile)
        if name == "partition":
            if hostile:
                return r.choice(["tiles?", "", None, 1, b"none", "NONE", " none",
                                 np.str_("components") if np is not None else "components"])
            return r.choice(["none", "components", "tiles" if tiles or self.chance(0.1) else "none"])
        if name == "workers":
            if hostile:
                return r.choice([0, -1, 2**64, 10**6, 2.0, True, "2", HugeIndex(2**100), HugeIndex(2),
                                 RaisingFloat(), np.int64(3) if np is not None else 3])
            return None if self.chance(0.5) else r.choice([1, 2, 3, 64])
        return self.refine_steps(hostile)

    def tile_size(self, extent, hostile):
        r = self.r
        if hostile:
            return r.choice([math.nan, math.inf, -1.0, 0.0, 5e-324, "10", RaisingFloat(), WrongFloat()])
        if self.chance(0.6) or not 0.0 < extent < math.inf:
            return None
        # a few tiles in the safe profile; in the full one up to the limit on their number
        return extent / r.uniform(0.3, 5 if self.safe else 1e5)

    def refine_steps(self, hostile):
        r = self.r
        if hostile:
            steps = list(r.sample(STEPS, r.randint(1, 3)))
            return r.choice([lambda: "finish_tips", lambda: ["spline"], lambda: [1], lambda: 5,
                             lambda: steps + steps, lambda: RaisingLenList(steps),
                             lambda: IndexSequence(steps, len(steps), fail_at=r.randrange(len(steps))),
                             lambda: LyingList(steps, 2**62), lambda: [STEPS[0].upper()]])()
        if self.chance(0.4):
            return None
        steps = tuple(r.sample(STEPS, r.randint(0, len(STEPS))))
        return r.choice([steps, list(steps), frozenset(steps), generator_of(steps)])

    # -- parameters ------------------------------------------------------------------------

    def sizes(self, extent):
        """(buffer_distance, feature_size) as numbers, before any dressing."""
        r = self.r
        base = extent if 0.0 < extent < math.inf else (1e307 if extent else 1.0)
        if self.safe:
            fs = base / r.uniform(2, 200)
            bd = fs * r.uniform(0.05, 10)
        else:
            fs = base / 10.0 ** r.uniform(0, 6 if self.chance(0.15) else 2.5)
            bd = fs * 10.0 ** r.uniform(-3, 3 if self.chance(0.15) else 1.2)
        if self.chance(0.08):
            fs = r.choice([0.0, -1.0, math.nan, math.inf, -math.inf, -0.0, 1e308]
                          + ([] if self.safe else [5e-324, 1e-300]))
        if self.chance(0.12):
            bd = r.choice([0.0, -1.0, math.nan, math.inf, -math.inf, -0.0, 5e-324, -fs]
                          + ([] if self.safe else [1e308, 1e12 * fs]))
        return bd, fs

    def dressed(self, value):
        return self.hostile_number() if self.dressy and self.chance(0.04) else value

    def optional_float(self, name, fs):
        r = self.r
        if self.chance(0.6):
            return None
        specials = [math.nan, math.inf, -math.inf, 0.0, -0.0, -1.0, 5e-324, 1e308]
        if self.safe and name in ("resample", "subdivision_ratio"):
            specials = [v for v in specials if not (0 < v < 0.05)]
        if self.chance(0.3):
            return self.dressed(r.choice(specials))
        if name == "resample":
            low = 0.1 if self.safe else 0.001
            return fs * r.uniform(low, 5)
        if name == "subdivision_ratio":
            return r.uniform(0.05 if self.safe else 0.001, 3)
        if name == "merge_tolerance":
            return fs * 10.0 ** r.uniform(-3, 3)
        return self.dressed(r.uniform(0, 5))

    def max_nodes(self):
        r, np = self.r, self.np
        if self.chance(0.7):
            return None
        options = [0, 1, 5, 50, 2**64 - 1, 2**64, -1, 10**30, True, 3.0, HugeIndex(2**100),
                   HugeIndex(7), RaisingFloat(), "5"]
        if np is not None:
            options += [np.int64(3), np.uint64(2**64 - 1), np.int8(-1), np.float64(2.0)]
        return r.choice(options)

    def width_lists(self, geometry, fs):
        r = self.r
        if self.chance(0.7):
            return None
        lists = []
        for c in geometry:
            q = r.random()
            if q < 0.15:
                lists.append([])
                continue
            n = len(c) if q < 0.85 else max(0, len(c) + r.choice([-1, 1, 5]))
            w = [fs * r.uniform(0.05, 3) for _ in range(n)]
            if w and self.chance(0.2):
                w[r.randrange(n)] = r.choice([math.nan, math.inf, -1.0, 0.0, -0.0, 5e-324]
                                             + ([] if self.safe else [1e308, 1e6 * fs]))
            lists.append(self.dress_sequence([self.dressed(v) for v in w]))
        if self.chance(0.1):
            lists.append([fs] * r.randint(0, 3))  # one list more than there are curves
        return self.dress_sequence(lists)

    def flag(self):
        r, np = self.r, self.np
        options = [True, False, True, False, 1, None, "yes"]
        if np is not None:
            options += [np.bool_(True), np.bool_(False)]
        return r.choice(options)

    # -- cases -----------------------------------------------------------------------------

    def job(self):
        geometry = self.curves_geometry()
        bd, fs = self.sizes(self.extent(geometry))
        values = {name: self.optional_float(name, fs) for name in OPTIONAL_FLOATS}
        values["max_nodes"] = self.max_nodes()
        job = (self.curves_argument(geometry), self.dressed(bd), self.dressed(fs)) + tuple(
            values[k] for k in BATCH_ORDER)
        if self.chance(0.02):
            job = self.r.choice([job[:10], job + (None,), list(job), None])
        return job

    def strokes_job(self):
        """(curves, buffer_distance, feature_size), and the extent and feature size."""
        geometry = self.curves_geometry()
        extent = self.extent(geometry)
        bd, fs = self.sizes(extent)
        return (self.strokes_argument(geometry), self.dressed(bd), self.dressed(fs)), extent, fs

    def misshapen(self, job):
        """Now and then a job tuple of the wrong length or type."""
        if self.chance(0.02):
            return self.r.choice([job[:2], job + (None,), job + (None,) * 8, list(job), None])
        return job

    def options_case(self, entry):
        """A call of the options-taking functions, the options positional or by keyword."""
        r = self.r
        if entry.endswith("_batch"):
            make = self.polygons_job if entry == "strandify_polygons_batch" else self.strokes_job
            made = [make() for _ in range(r.choice([0, 1, 1, 2, 3, 5]))]
            jobs = self.dress_sequence([self.misshapen(job) for job, _, _ in made])
            fs = min((f for _, _, f in made), default=1.0)
            extent = max((e for _, e, _ in made), default=0.0)
            options, widths = self.options_argument(fs, extent, tiles=entry != "strandify_polygons_batch")
            args, rest = (jobs,), {"options": options}
        elif entry == "strandify_polygons":
            args, extent, fs = self.polygons_job()
            options, widths = self.options_argument(fs, extent, tiles=False)
            rest = {"options": options}
        else:
            geometry = self.curves_geometry()
            extent = self.extent(geometry)
            bd, fs = self.sizes(extent)
            args = (self.strokes_argument(geometry), self.dressed(bd), self.dressed(fs))
            options, widths = self.options_argument(fs, extent, tiles=entry == "strandify_strokes")
            rest = {"options": options, "per_curve_widths": self.width_lists(geometry, fs)}
        kwargs, positional = {}, True
        for name, value in rest.items():  # in their positional order: after a gap, keywords
            positional = positional and self.chance(0.7)
            if positional:
                args += (value,)
            elif value is not None or self.chance(0.5):
                kwargs[name] = value
        if self.chance(0.02):
            # a keyword of the exact functions, which these take only inside the options
            kwargs[r.choice(["partition", "refine", "compute_widths", "bogus"])] = "none"
        return Case(entry, args, kwargs, {"widths": widths})

    def case(self):
        r = self.r
        entry = r.choices(ENTRIES, weights=ENTRY_WEIGHTS)[0]
        if entry == "strandify_batch":
            jobs = [self.job() for _ in range(r.choice([0, 1, 1, 2, 3, 5]))]
            return Case(entry, (self.dress_sequence(jobs),), {})
        if entry not in ENTRY_KEYWORDS:
            return self.options_case(entry)
        geometry = self.curves_geometry()
        bd, fs = self.sizes(self.extent(geometry))
        kwargs = {}
        for name in ENTRY_KEYWORDS[entry]:
            if name == "per_curve_widths":
                value = self.width_lists(geometry, fs)
            elif name == "compute_widths":
                value = self.flag() if self.chance(0.5) else None
            elif name == "max_nodes":
                value = self.max_nodes()
            else:
                value = self.optional_float(name, fs)
            if value is not None:
                kwargs[name] = value
        args = (self.curves_argument(geometry), self.dressed(bd), self.dressed(fs))
        if self.chance(0.02):
            # twice, unknown, or one the exact functions no longer take
            kwargs[r.choice(["curves", "feature_size", "bogus", "partition", "workers"])] = 1.0
        if self.chance(0.01):
            args = args + (None,) * 12  # too many
        widths = kwargs.get("compute_widths") is True or (
            self.np is not None and isinstance(kwargs.get("compute_widths"), self.np.bool_)
            and bool(kwargs["compute_widths"]))
        return Case(entry, args, kwargs, {"widths": widths})


def make_case(seed, index, profile):
    return Generator(seed, index, profile).case()


# ----------------------------------------------------------------------------------------------
# Result shapes.


def _point(p, where):
    if type(p) is not tuple or len(p) != 2 or type(p[0]) is not float or type(p[1]) is not float:
        raise AssertionError(f"{where}: not an (x, y) tuple of floats: {p!r}")


def _points(ps, where, at_least=0):
    if type(ps) is not list:
        raise AssertionError(f"{where}: not a list: {type(ps).__name__}")
    if len(ps) < at_least:
        raise AssertionError(f"{where}: {len(ps)} points, expected at least {at_least}")
    for k, p in enumerate(ps):
        _point(p, f"{where}[{k}]")


def check_centerlines(result, size, widths):
    if type(result) is not tuple or len(result) != size:
        raise AssertionError(f"not a tuple of {size}: {type(result).__name__}")
    chains, nodes, ids = result[:3]
    if type(chains) is not list:
        raise AssertionError("chains: not a list")
    for k, c in enumerate(chains):
        _points(c, f"chains[{k}]", at_least=2)
    _points(nodes, "nodes")
    if type(ids) is not list or len(ids) != len(chains):
        raise AssertionError(f"chain_node_ids: {len(ids)} for {len(chains)} chains")
    for k, pair in enumerate(ids):
        if (type(pair) is not tuple or len(pair) != 2
                or not all(type(v) is int and 0 <= v < len(nodes) for v in pair)):
            raise AssertionError(f"chain_node_ids[{k}] = {pair!r} with {len(nodes)} nodes")
    if size == 4:
        w = result[3]
        if type(w) is not list:
            raise AssertionError("widths: not a list")
        if widths:
            if len(w) != len(chains):
                raise AssertionError(f"widths: {len(w)} lists for {len(chains)} chains")
            for k, (wk, c) in enumerate(zip(w, chains)):
                if type(wk) is not list or len(wk) != len(c) or not all(type(v) is float for v in wk):
                    raise AssertionError(f"widths[{k}] does not match its chain")
        elif w:
            raise AssertionError("widths given although compute_widths is off")


def check_buffers(result, widths):
    """The flat buffers of strandify_strokes_arrays_batch's job: float64 chain points, int64
    chain starts, float64 nodes, int64 node id pairs, widths, int64 lost strokes, group count."""
    if type(result) is not tuple or len(result) != 7:
        raise AssertionError(f"not a tuple of 7: {type(result).__name__}")
    points, offsets, nodes, ids, w, lost, groups = result
    if not all(type(b) is bytearray for b in (points, offsets, nodes, ids, lost)):
        raise AssertionError("buffers: not all bytearrays")
    if len(points) % 16 or len(nodes) % 16 or len(ids) % 16 or len(lost) % 8 or len(offsets) % 8:
        raise AssertionError("buffers: a length that is no whole number of items")
    starts = memoryview(offsets).cast("q").tolist()
    total = len(points) // 16
    if not starts or starts[0] != 0 or starts[-1] != total or any(b - a < 2 for a, b in zip(starts, starts[1:])):
        raise AssertionError(f"offsets {starts[:10]} for {total} points")
    chains = len(starts) - 1
    pairs = memoryview(ids).cast("q").tolist()
    if len(pairs) != 2 * chains or not all(0 <= v < len(nodes) // 16 for v in pairs):
        raise AssertionError(f"chain_node_ids: {len(pairs) // 2} pairs for {chains} chains")
    if widths != (w is not None) or (w is not None and (type(w) is not bytearray or len(w) != 8 * total)):
        raise AssertionError("widths do not match compute_widths or the chain points")
    firsts = memoryview(lost).cast("q").tolist()
    if type(groups) is not int or len(firsts) > groups or firsts != sorted(set(firsts)) or any(v < 0 for v in firsts):
        raise AssertionError(f"lost {firsts[:10]} of {groups!r} groups")


def true_length(seq):
    """How many items a sequence argument really yields, whatever its __len__ says."""
    if isinstance(seq, list):
        return list.__len__(seq)
    if isinstance(seq, IndexSequence):
        return len(seq.items)
    return len(seq)


def check_result(case, result):
    returns = RETURNS[case.entry]
    widths = case.flags.get("widths", False)
    if returns == "centerlines":
        check_centerlines(result, 4, widths)
    elif returns == "buffers list":
        if type(result) is not list or len(result) != true_length(case.args[0]):
            raise AssertionError("batch: not a list of one result per job")
        for k, r in enumerate(result):
            try:
                check_buffers(r, widths)
            except AssertionError as e:
                raise AssertionError(f"job {k}: {e}") from None
    elif returns in ("exact batch", "centerlines list"):
        if type(result) is not list:
            raise AssertionError("batch: not a list")
        expected = true_length(case.args[0])
        if len(result) != expected:
            raise AssertionError(f"batch: {len(result)} results for {expected} jobs")
        for k, r in enumerate(result):
            try:
                check_centerlines(r, 3, False) if returns == "exact batch" else check_centerlines(r, 4, widths)
            except AssertionError as e:
                raise AssertionError(f"job {k}: {e}") from None
    elif returns == "polygons":
        if type(result) is not list:
            raise AssertionError("polygons: not a list")
        for k, poly in enumerate(result):
            if type(poly) is not tuple or len(poly) != 2:
                raise AssertionError(f"polygons[{k}]: not an (outer, holes) pair")
            _points(poly[0], f"polygons[{k}].outer")
            if type(poly[1]) is not list:
                raise AssertionError(f"polygons[{k}].holes: not a list")
            for j, h in enumerate(poly[1]):
                _points(h, f"polygons[{k}].holes[{j}]")
    else:
        if type(result) is not list:
            raise AssertionError("triangles: not a list")
        for k, t in enumerate(result):
            if type(t) is not tuple or len(t) != 3:
                raise AssertionError(f"triangles[{k}]: not a triple")
            for j, p in enumerate(t):
                _point(p, f"triangles[{k}][{j}]")


def run_case(case):
    """(outcome, detail) of one call, in this process."""
    from strandify import _internal as m
    try:
        result = getattr(m, case.entry)(*case.args, **case.kwargs)
    except Hostile:
        return "propagated", ""
    except ALLOWED as e:
        return f"rejected-{type(e).__name__}", str(e)[:300]
    except BaseException as e:  # noqa: B902 - every other exception is the finding
        return "bad-exception", f"{type(e).__name__}: {e}"[:2000] + "\n" + traceback.format_exc()[-2000:]
    try:
        check_result(case, result)
    except AssertionError as e:
        return "bad-shape", str(e)[:2000]
    return "ok", ""


# ----------------------------------------------------------------------------------------------
# Child processes.


def child_main(seed, profile, memory_mb):
    import strandify._internal  # noqa: F401 - imported before the limit, with its dependencies
    child_pool.limit_memory(memory_mb)
    child_pool.serve(lambda index: run_case(make_case(seed, index, profile)))


def fuzz(seed=0, count=None, seconds=None, jobs=2, timeout=10.0, memory_mb=2048,
         profile="full", start=0, env=None, progress=None, on_fault=None):
    """Runs cases start, start+1, ... in `jobs` child processes; returns the Report."""
    env = dict(os.environ if env is None else env)
    env.setdefault("RAYON_NUM_THREADS", "2")
    report = child_pool.Report(seed, profile, FAULTS, lambda index: make_case(seed, index, profile).describe(),
                               on_fault=on_fault)
    command = [sys.executable, os.path.abspath(__file__), "--child", "--seed", str(seed),
               "--profile", profile, "--memory-mb", str(memory_mb)]
    return child_pool.run(command, report, count=count, seconds=seconds, start=start, jobs=jobs,
                          timeout=timeout, env=env, progress=progress)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    child_pool.add_arguments(ap, timeout=10.0)
    ap.add_argument("--profile", choices=["full", "safe"], default="full")
    a = ap.parse_args(argv)
    if a.child:
        child_main(a.seed, a.profile, a.memory_mb)
        return 0
    if a.replay is not None:
        case = make_case(a.seed, a.replay, a.profile)
        return child_pool.replay(case.describe(limit=20000), lambda: run_case(case), ("bad-exception", "bad-shape"))
    if a.count is None and a.seconds is None:
        a.count = 1000
    report = fuzz(a.seed, a.count, a.seconds, a.jobs, a.timeout, a.memory_mb, a.profile, a.start,
                  progress=child_pool.show_progress, on_fault=child_pool.show_fault(f" --profile {a.profile}"))
    return child_pool.conclude(report, a.report, a.fail_on_hang)


if __name__ == "__main__":
    sys.exit(main())
