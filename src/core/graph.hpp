// The skeleton graph: construction from segments, tip pruning, junction merging and chain
// extraction.
#pragma once

#include <functional>
#include <vector>

#include "fill_later.hpp"
#include "geometry.hpp"
#include "types.hpp"

namespace strandify {

// How an adjacency measures its edges: by `distance` (std::hypot), what the cleaning of the
// exact pipeline has always measured with, or by `root_sum_squares_distance`, what the finishing
// steps measure with. The square root of the sum of squares is correctly rounded, so the same on
// every machine and maths library, and a fraction of hypot's latency, which the walks of the
// finishing steps pay on most edges they cross.
enum class EdgeMeasure : unsigned char { hypot, root_sum_squares };

// Neighbour lists of a graph in edge order (the rule every graph operation's tie-breaks follow),
// compressed: node v's neighbours are neighbour[offset[v] .. offset[v + 1]), with the id of the
// edge to each. Out-of-range ids and self-edges are left out.
struct Adjacency {
  std::vector<std::size_t> offset;
  // Sized, then filled incidence by incidence.
  FillLaterVector<NodeId> neighbour;
  FillLaterVector<std::size_t> edge_id;

  std::size_t degree(NodeId v) const { return offset[v + 1] - offset[v]; }
  std::size_t begin(NodeId v) const { return offset[v]; }
  std::size_t end(NodeId v) const { return offset[v + 1]; }

  // The length of edge `edge` of `graph` (the graph this adjacency was built from), by
  // `measure`, measured at its first use and remembered: the walks of one graph measure the
  // edges near its junctions and tips again and again, and every walk sums the same values
  // (both measures are symmetric to the bit, so the direction an edge is walked in does not
  // matter).
  double length(const Graph& graph, std::size_t edge) const {
    double& known = length_[edge];
    if (known < 0.0) {
      const Edge& e = graph.edges[edge];
      const Point a = graph.nodes[e.a], b = graph.nodes[e.b];
      known = measure == EdgeMeasure::hypot ? distance(a, b) : root_sum_squares_distance(a, b);
    }
    return known;
  }

  EdgeMeasure measure = EdgeMeasure::hypot;

  // Negative until measured (a NaN length is remembered as NaN). A memo of values the graph
  // determines, so the adjacency still reads as the value build_adjacency made; an adjacency is
  // read only by the thread of the call that built it.
  mutable std::vector<double> length_;
};

Adjacency build_adjacency(const Graph& graph, EdgeMeasure measure = EdgeMeasure::hypot);

// Whether every edge of `graph` joins two of its nodes and no two edges join the same pair,
// told from its adjacency. Nodes of more than a few neighbours are not compared pairwise: with
// one of them the answer is false, and the caller checks its edges another way.
bool distinct_pairs(const Graph& graph, const Adjacency& adjacency);

// Snaps segment end points on a grid of cell size `snap` into nodes; one edge per segment.
Graph segments_to_graph(const std::vector<Segment>& segments, double snap);

// Removes, pass after pass, every tip branch shorter than `max_length`. Nodes are kept.
Graph prune_short_tips(const Graph& graph, double max_length);
// The same with a per-node allowance: a branch ending at node e goes when it is shorter than
// max_length - allowance[e]. `allowance` holds one value per node.
Graph prune_short_tips(const Graph& graph, double max_length, const std::vector<double>& allowance);

// Whether the short branch from tip `tip` to node `end` is to stay all the same.
using TipKeep = std::function<bool(NodeId tip, NodeId end)>;
// The same again, keeping every branch that `keep` asks for; an empty `allowance` means none.
Graph prune_short_tips(const Graph& graph, double max_length, const std::vector<double>& allowance,
                       const TipKeep& keep);
// The same with build_adjacency(graph) given, for a caller that needs it too.
Graph prune_short_tips(const Graph& graph, const Adjacency& adjacency, double max_length,
                       const std::vector<double>& allowance, const TipKeep& keep);

// Whether a cluster of junctions merged at `at` may keep its spokes, the straight first segments
// from `at` to the nodes in `ends` just beyond the cluster.
using MergeCheck = std::function<bool(Point at, const std::vector<Point>& ends)>;

// Collapses junction pairs joined by a chain no longer than `max_distance`; compacts nodes.
// With `allow`, a pair whose merge it refuses stays apart (the pairs are still taken shortest
// first); without, every such pair merges.
Graph merge_close_junctions(const Graph& graph, double max_distance, const MergeCheck& allow = {});

// Cuts the graph into maximal chains (tip/junction to tip/junction) plus closed loops.
std::vector<Chain> extract_chains(const Graph& graph);

}  // namespace strandify
