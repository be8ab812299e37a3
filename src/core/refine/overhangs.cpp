// Overhangs: where one stroke starts a little past another (the top-left corner of a box drawn
// as two strokes), the buffer bulges past the corner and the skeleton keeps a short stub into
// the bulge. A tip branch whose tip, plus the buffer radius its cap adds, ends within about one
// pen width (two buffer radii) of the edge of its junction's own disc is that bulge, not a
// stroke: it goes. Stubs that reach further are drawn strokes and stay.
#include "refine/refine.hpp"

#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {

Graph drop_overhangs(const Graph& graph, const BoundaryEdges& boundary, const RefineSettings& s) {
  const Adjacency adj = build_adjacency(graph);
  GraphEdit edit(graph);
  Walk w;
  for (NodeId v = 0; v < graph.nodes.size(); ++v) {
    if (adj.degree(v) != 1 || edit.touched(v)) continue;
    walk_branch(graph, adj, v, adj.offset[v], s.overhang_walk, w);
    if (!w.complete) continue;
    const NodeId j = w.end();
    if (j == v || adj.degree(j) < 3 || edit.touched(j)) continue;
    const double radius = boundary.distance_within(graph.nodes[j], s.radius_search);
    if (distance(graph.nodes[v], graph.nodes[j]) - radius > s.overhang_reach) continue;
    if (!edit.untouched(w.nodes, w.nodes.size())) continue;
    edit.touch(w.nodes, w.nodes.size());
    for (std::size_t e : w.edges) edit.kill(e);
    edit.mark_changed();
  }
  return edit.result_or(graph);
}

}  // namespace strandify
