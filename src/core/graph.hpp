// The skeleton graph: construction from segments, tip pruning, junction merging and chain
// extraction.
#pragma once

#include <vector>

#include "types.hpp"

namespace strandify {

// Snaps segment end points on a grid of cell size `snap` into nodes; one edge per segment.
Graph segments_to_graph(const std::vector<Segment>& segments, double snap);

// Removes, pass after pass, every tip branch shorter than `max_length`. Nodes are kept.
Graph prune_short_tips(const Graph& graph, double max_length);
// The same with a per-node allowance: a branch ending at node e goes when it is shorter than
// max_length - allowance[e]. `allowance` holds one value per node.
Graph prune_short_tips(const Graph& graph, double max_length, const std::vector<double>& allowance);

// Collapses junction pairs joined by a chain no longer than `max_distance`; compacts nodes.
Graph merge_close_junctions(const Graph& graph, double max_distance);

// Cuts the graph into maximal chains (tip/junction to tip/junction) plus closed loops.
std::vector<Chain> extract_chains(const Graph& graph);

}  // namespace strandify
