"""Centerlines of the bundled HEXA sketch, through the Python API.

    python examples/api_example.py        # writes out/letters_api.svg
"""

from __future__ import annotations

import json
from pathlib import Path

import numpy as np

import strandify

sample = Path(__file__).with_name("letters.json")
curves = [np.array(c, dtype=float) for c in json.loads(sample.read_text())]

# buffer_distance and feature_size left out: derived from the drawing's size
result = strandify.centerlines(curves, compute_widths=True)
print(result, "with parameters", strandify.suggest_parameters(curves))

assert result.widths is not None
for k, chain in enumerate(result.chains):
    start, end = result.chain_node_ids[k]
    print(f"chain {k:2d}: {len(chain):3d} points, node {start} -> {end}, mean width {result.widths[k].mean():.2f}")

# the sample's y axis points up, so ask the SVG to flip it for display
out = Path("out")
out.mkdir(exist_ok=True)
(out / "letters_api.svg").write_text(result.to_svg(y_up=True))

# GeoJSON needs nothing extra; networkx and shapely only when installed
features = result.to_geojson()["features"]
print(len(features), "GeoJSON features, first one joins nodes", features[0]["properties"])
try:
    graph = result.to_networkx()
    print("graph:", graph.number_of_nodes(), "nodes,", graph.number_of_edges(), "edges")
except ImportError as exc:
    print(exc)

# many drawings at once, run in parallel: here the strokes in groups of eight
groups = [curves[i : i + 8] for i in range(0, len(curves), 8)]
for part in strandify.centerlines_batch(groups, chunk_size=2):
    print(part)
