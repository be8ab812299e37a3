// Overhangs: where one stroke starts a little past another (the top-left corner of a box drawn
// as two strokes), the buffer bulges past the corner and the skeleton keeps a short stub into
// the bulge. A tip branch whose pen, a buffer radius inside the boundary ahead of its tip, ends
// within about one pen width (two buffer radii) of the edge of its junction's own disc is that
// bulge, not a stroke: it goes. Stubs that reach further are drawn strokes and stay, and so do
// two stubs of one junction that end side by side, pointing the same way: two strokes ending
// next to each other, closer than a pen width.
#include "refine/refine.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {
namespace {

struct Stub {
  NodeId junction;
  NodeId tip;
  Point direction;  // of its last edge, toward the tip
  bool pointed;     // the direction is known (the last edge has a length)
};

// Every stub, in the order of its tip: a tip branch that, walked up to overhang_walk, reaches a
// junction.
std::vector<Stub> stubs_of(const Graph& graph, const Adjacency& adj, const RefineSettings& s) {
  constexpr double kAnyLength = std::numeric_limits<double>::infinity();
  std::vector<Stub> stubs;
  for (NodeId v = 0; v < graph.nodes.size(); ++v) {
    if (adj.degree(v) != 1) continue;
    const NodeId end = link_end(graph, adj, v, adj.offset[v], s.overhang_walk, kAnyLength).end;
    if (end == kNone || adj.degree(end) < 3) continue;
    Point direction = sub(graph.nodes[v], graph.nodes[adj.neighbour[adj.offset[v]]]);
    const bool pointed = unit(direction);
    stubs.push_back({end, v, direction, pointed});
  }
  return stubs;
}

// Per node, whether it is the tip of a stub that ends beside another stub of the same junction
// pointing within the angle of overhang_cos_pair.
std::vector<unsigned char> paired_stubs(std::size_t nodes, const std::vector<Stub>& all,
                                        const RefineSettings& s) {
  std::vector<Stub> stubs;
  for (const Stub& stub : all)
    if (stub.pointed) stubs.push_back(stub);
  std::stable_sort(stubs.begin(), stubs.end(),
                   [](const Stub& a, const Stub& b) { return a.junction < b.junction; });
  std::vector<unsigned char> paired(nodes, 0);
  for (std::size_t a = 0; a < stubs.size(); ++a) {
    for (std::size_t b = a + 1; b < stubs.size() && stubs[b].junction == stubs[a].junction; ++b) {
      if (dot(stubs[a].direction, stubs[b].direction) > s.overhang_cos_pair)
        paired[stubs[a].tip] = paired[stubs[b].tip] = 1;
    }
  }
  return paired;
}

// How far beyond the junction j the pen of the tip v ends: the tip's distance from j, plus
// however much more than a radius the boundary lies ahead of the tip (a round cap leaves a
// short stub's skeleton tip well short of the cap where strokes overdraw each other).
double pen_reach(const Graph& graph, const BoundaryEdges& boundary, const RefineSettings& s,
                 NodeId v, NodeId j) {
  const double reach = distance(graph.nodes[v], graph.nodes[j]);
  Point ahead = sub(graph.nodes[v], graph.nodes[j]);
  if (!unit(ahead)) return reach;
  const double hit = boundary.first_hit(graph.nodes[v], ahead, s.overhang_cap_search);
  return hit > s.buffer_distance ? reach + (hit - s.buffer_distance) : reach;
}

}  // namespace

Graph drop_overhangs(Graph graph, const Adjacency& adj, const BoundaryEdges& boundary,
                     const RefineSettings& s, bool& changed) {
  GraphEdit edit(graph, adj);
  Walk w;
  const std::vector<Stub> stubs = stubs_of(graph, adj, s);
  const std::vector<unsigned char> paired = paired_stubs(graph.nodes.size(), stubs, s);
  for (const Stub& stub : stubs) {
    const NodeId v = stub.tip, j = stub.junction;
    if (paired[v] || edit.touched(v) || edit.touched(j)) continue;
    const double radius = boundary.distance_within(graph.nodes[j], s.radius_search);
    if (pen_reach(graph, boundary, s, v, j) - radius > s.overhang_reach) continue;
    // only a stub that goes is walked again, for the nodes and edges it takes with it
    walk_branch(graph, adj, v, adj.offset[v], s.overhang_walk, w);
    if (!edit.untouched(w.nodes, w.nodes.size())) continue;
    edit.touch(w.nodes, w.nodes.size());
    for (std::size_t e : w.edges) edit.kill(e);
    edit.mark_changed();
  }
  changed = edit.changed();
  return edit.result_or(std::move(graph));
}

}  // namespace strandify
