// Optional finishing of the cleaned skeleton graph into the centerlines a person would draw:
// tips that end where the stroke ends, corners instead of corner spurs, dots that survive
// pruning, one node per crossing. Every step is a pure function from a Graph to a new Graph and
// takes its thresholds from RefineSettings; none runs unless asked.
#pragma once

#include <vector>

#include "graph.hpp"
#include "refine/boundary_edges.hpp"
#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// The adjacency every finishing step reads a graph through: its walks measure edges by the
// square root of the sum of squares (EdgeMeasure::root_sum_squares).
inline Adjacency finishing_adjacency(const Graph& graph) {
  return build_adjacency(graph, EdgeMeasure::root_sum_squares);
}

// Per node, how much longer than the buffer radius the skeleton's radius is at a junction (0 for
// other nodes and where it is not larger): the part of a branch that lies inside the junction's
// own disc. `adjacency` is finishing_adjacency(graph).
std::vector<double> junction_allowances(const Graph& graph, const Adjacency& adjacency,
                                        const BoundaryEdges& boundary,
                                        const RefineSettings& settings);

// The ends of the input lines (curves of at least two points that do not close), sorted by x,
// then y.
std::vector<Point> line_ends(const std::vector<Curve>& curves);

// Keeps a short tip branch whose tip lies within real_end_snap of one of `ends` (sorted as
// line_ends gives them) and reaches at least real_end_reach beyond the disc of the junction it
// leaves: the end of a real line. Empty (keeps nothing) without ends. `adjacency` is
// finishing_adjacency(graph). The rule refers to its arguments, which must outlive it.
TipKeep real_end_rule(const Graph& graph, const Adjacency& adjacency,
                      const BoundaryEdges& boundary, const std::vector<Point>& ends,
                      const RefineSettings& settings);

// Gives every polygon that has no edge left in `pruned` its dot back: one straight chain along
// the principal axis of its largest vanished component when that is elongated enough, or else a
// dot position (the polygon's centre) appended to `dots`. `skeleton` is the graph before
// pruning, with the same node ids; `has_segments` says which polygons gave any skeleton segment.
Graph keep_dots(const Graph& skeleton, Graph pruned, const BoundaryEdges& boundary,
                const std::vector<unsigned char>& has_segments, const RefineSettings& settings,
                std::vector<Point>& dots);
// The same with finishing_adjacency(skeleton) given, for a caller that needs it too.
Graph keep_dots(const Graph& skeleton, const Adjacency& adjacency, Graph pruned,
                const BoundaryEdges& boundary, const std::vector<unsigned char>& has_segments,
                const RefineSettings& settings, std::vector<Point>& dots);

// A degree-3 junction with one short spur along the bisector of its two legs becomes the
// intersection of the legs' lines, when that lies inside `boundary`; the spur goes. The new
// corner positions are appended to `corners` when it is given.
Graph recover_corners(Graph graph, const BoundaryEdges& boundary,
                      const RefineSettings& settings, std::vector<Point>* corners = nullptr);

// A tip branch whose tip lies less than overhang_reach farther from its junction than the
// junction's distance to `boundary` is the bulge of a stroke that starts just past another: it
// goes. `adjacency` is finishing_adjacency(graph); `changed` tells whether the step changed the
// graph.
Graph drop_overhangs(Graph graph, const Adjacency& adjacency, const BoundaryEdges& boundary,
                     const RefineSettings& settings, bool& changed);

// Two degree-3 junctions joined by one short chain whose outer branches continue each other in
// two lines become one 4-way node where the lines cross. Adjacency and `changed` as above.
Graph join_crossings(Graph graph, const Adjacency& adjacency, const RefineSettings& settings,
                     bool& changed);

// A tree of up to crossing_cluster_nodes junctions joined by short chains, more than the two
// 3-way junctions of join_crossings, whose outer branches pair into at least two straight lines
// through one point, every unpaired branch's line passing through it too, becomes one node
// there: the crossing of three or more strokes. Adjacency and `changed` as above.
Graph join_crossing_clusters(Graph graph, const Adjacency& adjacency,
                             const RefineSettings& settings, bool& changed);

// A tip whose last stretch is straight ends tip_inset short of where its line leaves the buffer;
// the stretch after tip_cut is replaced by that straight end.
Graph finish_tips(Graph graph, const BoundaryEdges& boundary,
                  const RefineSettings& settings);

// Corners and tips with finishing_adjacency(graph) given, and corners telling whether it changed
// the graph: the steps run one after another, and a step that changed nothing leaves the next
// one the same graph, whose adjacency need not be built again.
Graph recover_corners(Graph graph, const Adjacency& adjacency, const BoundaryEdges& boundary,
                      const RefineSettings& settings, std::vector<Point>* corners, bool& changed);
Graph finish_tips(Graph graph, const Adjacency& adjacency, const BoundaryEdges& boundary,
                  const RefineSettings& settings);

struct RefinedGraph {
  Graph graph;
  std::vector<Point> dots;     // point chains, one per dot too small to be a chain
  std::vector<Point> corners;  // recovered corners, sorted (x, then y)
};

// Tip pruning (radius-compensated when asked), dots, junction merging, corners, crossings and
// tips, in that order, each as the settings switch it on.
// `ends` are the input lines' ends (line_ends), empty for filled shapes.
RefinedGraph refine_graph(const Graph& skeleton, const BoundaryEdges& boundary,
                          const std::vector<unsigned char>& has_segments,
                          const std::vector<Point>& ends, const Settings& settings);

// Chain finishing that keeps recovered corners sharp: the chain is finished piece by piece
// between the interior points that lie exactly on a corner (`corners` sorted as in
// RefinedGraph), so smoothing never rounds a corner off.
std::vector<Point> finish_chain_keeping_corners(const Chain& chain, const ChainSettings& settings,
                                                const std::vector<Point>& corners);

// Appends a two-point chain (both points at the dot) per dot, each at a new isolated node.
void append_dot_chains(const std::vector<Point>& dots, Graph& graph, std::vector<Chain>& chains);

}  // namespace strandify
