// Tips: a skeleton tip ends at the centroid of the buffer's cap, short of where the stroke
// ended and often hooked toward a cap corner. A tip whose last stretch is straight is extended
// along that stretch's line to a buffer radius inside the boundary. A stub too short for a
// line, in a round cap, ends past the pen's end instead: it goes back along its branch to where
// the pen's end is, a radius inside the boundary.
#include "refine/refine.hpp"

#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {
namespace {

// The line of the walk's stretch [cut, fit_end] when it is straight and the tip side of the walk
// (before `cut`) lies within `spread` of it; `k` is the walk's first node at or past `cut`.
bool tip_line(const Graph& g, const Walk& w, double cut, double fit_end, double straightness,
              double spread, std::vector<Point>& scratch, std::size_t& k, Line& line) {
  if (w.length() < fit_end) return false;  // the branch ends before its stretch does
  k = w.first_at(cut);
  if (k == kNone) return false;
  stretch_points(g, w, cut, fit_end, scratch);
  if (!fit_line(scratch, line)) return false;
  for (const Point& p : scratch)
    if (offset_from(line, p) > straightness) return false;
  if (offset_from(line, g.nodes[w.nodes[k]]) > straightness) return false;
  for (std::size_t i = 0; i < k; ++i)
    if (offset_from(line, g.nodes[w.nodes[i]]) > spread) return false;
  if (dot(line.direction, sub(scratch.front(), scratch.back())) < 0.0)
    line.direction = scale(line.direction, -1.0);  // toward the tip
  return true;
}

// Whether the tip at w.nodes[0] was extended along its line.
bool finish_tip(const Graph& g, const Adjacency& adj, const BoundaryEdges& boundary,
                const RefineSettings& s, NodeId v, Walk& w, std::vector<Point>& scratch,
                GraphEdit& edit) {
  const bool see_through = s.tip_overdraw_end > 0.0;
  walk_branch(g, adj, v, adj.offset[v], see_through ? s.tip_overdraw_end : s.tip_fit_end, w);
  std::size_t k = kNone;
  Line line;
  // An overdrawn end (strokes stopping at different places) bends the skeleton's last radii
  // toward the longest stroke, and a line fitted to them points off the stroke. When the bend
  // stays within half a radius of the straight stretch before it, it is not a drawn turn: that
  // stretch gives the stroke's direction. Otherwise the last stretch does.
  if (!(see_through && tip_line(g, w, s.tip_overdraw_cut, s.tip_overdraw_end, s.tip_straightness,
                                s.tip_overdraw_spread, scratch, k, line)) &&
      !tip_line(g, w, s.tip_cut, s.tip_fit_end, s.tip_straightness, kInf, scratch, k, line))
    return false;
  const NodeId anchor = w.nodes[k];
  const bool movable = adj.degree(anchor) == 2;
  const Point origin = movable ? project(line, g.nodes[anchor]) : g.nodes[anchor];
  const double hit = boundary.first_hit(origin, line.direction, w.arc[k] + s.tip_reach);
  if (!(hit > s.tip_inset)) return false;
  if (!edit.untouched(w.nodes, k + 1)) return false;
  edit.touch(w.nodes, k + 1);
  edit.move(v, add(origin, scale(line.direction, hit - s.tip_inset)));
  if (movable) edit.move(anchor, origin);
  edit.shortcut(w, k);
  edit.mark_changed();
  return true;
}

// The stub `w` (walked from its tip to a junction) ends tip_pen_clearance inside the boundary:
// its tip moves back to the first point of the branch that far inside, found within
// tip_pullback_reach of the tip (clearance taken as linear between nodes), and the nodes it
// passes go, when the boundary ahead of that point lies within tip_cap_ahead. A stub that never
// gets that far inside (a thin end) or runs on beyond (a tapering one) stays as it is.
void pull_back_tip(const Graph& g, const Adjacency& adj, const BoundaryEdges& boundary,
                   const RefineSettings& s, const Walk& w, GraphEdit& edit) {
  if (!w.complete || w.length() >= s.tip_fit_end || adj.degree(w.end()) < 3) return;
  const double wanted = s.tip_pen_clearance;
  double before = boundary.distance_within(g.nodes[w.nodes[0]], s.radius_search);
  if (before >= wanted) return;
  for (std::size_t i = 1; i < w.nodes.size() && w.arc[i - 1] < s.tip_pullback_reach; ++i) {
    const double clearance = boundary.distance_within(g.nodes[w.nodes[i]], s.radius_search);
    if (clearance < wanted) {
      before = clearance;
      continue;
    }
    const double t = (wanted - before) / (clearance - before);
    if (w.arc[i - 1] + t * (w.arc[i] - w.arc[i - 1]) > s.tip_pullback_reach) return;
    const Point a = g.nodes[w.nodes[i - 1]];
    const Point end = add(a, scale(sub(g.nodes[w.nodes[i]], a), t));
    // A round cap lies about a radius ahead of the pen's end, as far as its sides; a tapering
    // end (a star's point) runs on far ahead of where it is that wide, and is drawn to its tip.
    Point ahead = sub(g.nodes[w.nodes[0]], end);
    if (!unit(ahead)) return;
    const double hit = boundary.first_hit(end, ahead, s.tip_cap_ahead);
    if (!(hit > 0.0)) return;
    if (!edit.untouched(w.nodes, i)) return;
    edit.touch(w.nodes, i);
    edit.move(w.nodes[0], end);
    edit.shortcut(w, i);
    edit.mark_changed();
    return;
  }
}

}  // namespace

Graph finish_tips(Graph graph, const BoundaryEdges& boundary, const RefineSettings& s) {
  const Adjacency adjacency = finishing_adjacency(graph);
  return finish_tips(std::move(graph), adjacency, boundary, s);
}

Graph finish_tips(Graph graph, const Adjacency& adj, const BoundaryEdges& boundary,
                  const RefineSettings& s) {
  GraphEdit edit(graph, adj);
  Walk w;
  std::vector<Point> scratch;
  for (NodeId v = 0; v < graph.nodes.size(); ++v) {
    if (adj.degree(v) != 1 || edit.touched(v)) continue;
    if (!finish_tip(graph, adj, boundary, s, v, w, scratch, edit))
      pull_back_tip(graph, adj, boundary, s, w, edit);
  }
  return edit.result_or(std::move(graph));
}

}  // namespace strandify
