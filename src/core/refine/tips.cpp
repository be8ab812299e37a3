// Tips: a skeleton tip ends at the centroid of the buffer's cap, short of where the stroke
// ended and often hooked toward a cap corner. A tip whose last stretch is straight is extended
// along that stretch's line to a buffer radius inside the boundary.
#include "refine/refine.hpp"

#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {
namespace {

void finish_tip(const Graph& g, const Adjacency& adj, const BoundaryEdges& boundary,
                const RefineSettings& s, NodeId v, Walk& w, std::vector<Point>& scratch,
                GraphEdit& edit) {
  walk_branch(g, adj, v, adj.offset[v], s.tip_fit_end, w);
  if (w.length() < s.tip_fit_end) return;  // the branch ends before its stretch does
  const std::size_t k = w.first_at(s.tip_cut);
  if (k == kNone) return;
  stretch_points(g, w, s.tip_cut, s.tip_fit_end, scratch);
  const NodeId anchor = w.nodes[k];
  const bool movable = adj.degree(anchor) == 2;
  Line line;
  if (!fit_line(scratch, line)) return;
  for (const Point& p : scratch)
    if (offset_from(line, p) > s.tip_straightness) return;
  if (offset_from(line, g.nodes[anchor]) > s.tip_straightness) return;
  if (dot(line.direction, sub(scratch.front(), scratch.back())) < 0.0)
    line.direction = scale(line.direction, -1.0);  // toward the tip
  const Point origin = movable ? project(line, g.nodes[anchor]) : g.nodes[anchor];
  const double hit = boundary.first_hit(origin, line.direction, w.arc[k] + s.tip_reach);
  if (!(hit > s.tip_inset)) return;
  if (!edit.untouched(w.nodes, k + 1)) return;
  edit.touch(w.nodes, k + 1);
  edit.move(v, add(origin, scale(line.direction, hit - s.tip_inset)));
  if (movable) edit.move(anchor, origin);
  edit.shortcut(w, k);
  edit.mark_changed();
}

}  // namespace

Graph finish_tips(const Graph& graph, const BoundaryEdges& boundary, const RefineSettings& s) {
  const Adjacency adj = build_adjacency(graph);
  GraphEdit edit(graph);
  Walk w;
  std::vector<Point> scratch;
  for (NodeId v = 0; v < graph.nodes.size(); ++v) {
    if (adj.degree(v) == 1 && !edit.touched(v)) finish_tip(graph, adj, boundary, s, v, w, scratch, edit);
  }
  return edit.result_or(graph);
}

}  // namespace strandify
