// Corners: a junction whose third branch is a short spur along the bisector of the other two
// is where a stroke turned a corner; the buffer's outer corner grew the spur. The junction
// moves to where the legs' lines meet and the spur goes.
#include "refine/refine.hpp"

#include <algorithm>
#include <cstddef>

#include "chain_finish.hpp"
#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {
namespace {

struct CornerFinder {
  const Graph& g;
  const Adjacency& adj;
  const RefineSettings& s;
  const BoundaryEdges& boundary;
  GraphEdit edit;
  Walk walks[3];
  std::vector<Point> scratch;
  std::vector<Point> found;

  CornerFinder(const Graph& graph, const Adjacency& adjacency, const BoundaryEdges& edges,
               const RefineSettings& settings)
      : g(graph), adj(adjacency), s(settings), boundary(edges), edit(graph, adjacency) {}

  // Legs that bend away from their fitted lines can make the lines meet on or beyond the
  // boundary, where nothing was drawn: the corner, and the new straight legs to it, must stay
  // inside the shape.
  bool apex_inside(NodeId j, Point apex, const Walk& l1, std::size_t k1, const Walk& l2,
                   std::size_t k2) const {
    const double margin = s.corner_clearance;
    return clear_path(boundary, g.nodes[j], apex, margin) &&
           clear_path(boundary, g.nodes[l1.nodes[k1]], apex, margin) &&
           clear_path(boundary, g.nodes[l2.nodes[k2]], apex, margin);
  }

  // Whether a branch of j could be the spur: one that ends at a tip within corner_spur_max.
  // Most junctions have none, and are told without recording their walks.
  bool has_spur(NodeId j, double cap) const {
    for (int i = 0; i < 3; ++i) {
      const LinkEnd e = link_end(g, adj, j, adj.offset[j] + i, cap, s.corner_spur_max);
      if (e.end != kNone && adj.degree(e.end) == 1 && !(e.length > s.corner_spur_max)) return true;
    }
    return false;
  }

  void at(NodeId j) {
    if (adj.degree(j) != 3 || edit.touched(j)) return;
    const double cap = std::max(s.corner_spur_max, s.corner_fit_end);
    if (!has_spur(j, cap)) return;
    for (int i = 0; i < 3; ++i) {
      walk_branch(g, adj, j, adj.offset[j] + i, cap, walks[i]);
      if (walks[i].end() == j) return;  // a loop through the junction: no corner
    }
    int spur = -1;
    for (int i = 0; i < 3; ++i) {
      const Walk& w = walks[i];
      if (!w.complete || adj.degree(w.end()) != 1 || w.length() > s.corner_spur_max) continue;
      if (spur < 0 || w.length() < walks[spur].length()) spur = i;
    }
    if (spur < 0) return;
    const Walk& sw = walks[spur];
    const Walk& l1 = walks[(spur + 1) % 3];
    const Walk& l2 = walks[(spur + 2) % 3];
    for (const Walk* l : {&l1, &l2})
      if (l->length() < s.corner_leg_min || l->length() <= sw.length()) return;
    BranchLine b1, b2;
    if (!branch_line(g, l1, s.corner_fit_start, s.corner_fit_end, scratch, b1)) return;
    if (!branch_line(g, l2, s.corner_fit_start, s.corner_fit_end, scratch, b2)) return;
    const double c = dot(b1.line.direction, b2.line.direction);
    if (!(c > s.corner_cos_max_angle && c < s.corner_cos_min_angle)) return;
    Point bisector = scale(add(b1.line.direction, b2.line.direction), -1.0);
    Point spur_direction = sub(g.nodes[sw.end()], g.nodes[j]);
    if (!unit(bisector) || !unit(spur_direction)) return;
    if (dot(bisector, spur_direction) < s.corner_cos_bisector) return;
    Point apex;
    if (!intersect(b1.line, b2.line, apex)) return;
    if (distance(apex, g.nodes[sw.end()]) > s.corner_reach) return;
    if (dot(sub(apex, g.nodes[j]), bisector) < -s.corner_reach) return;
    if (l1.nodes[b1.keep] == l2.nodes[b2.keep]) return;
    if (!apex_inside(j, apex, l1, b1.keep, l2, b2.keep)) return;
    if (!edit.untouched(sw.nodes, sw.nodes.size()) || !edit.untouched(l1.nodes, b1.keep + 1) ||
        !edit.untouched(l2.nodes, b2.keep + 1))
      return;
    edit.touch(sw.nodes, sw.nodes.size());
    edit.touch(l1.nodes, b1.keep + 1);
    edit.touch(l2.nodes, b2.keep + 1);
    for (std::size_t e : sw.edges) edit.kill(e);
    edit.shortcut(l1, b1.keep);
    edit.shortcut(l2, b2.keep);
    edit.move(j, apex);
    edit.mark_changed();
    found.push_back(apex);
  }
};

}  // namespace

Graph recover_corners(Graph graph, const BoundaryEdges& boundary, const RefineSettings& s,
                      std::vector<Point>* corners) {
  const Adjacency adjacency = finishing_adjacency(graph);
  bool changed = false;
  return recover_corners(std::move(graph), adjacency, boundary, s, corners, changed);
}

Graph recover_corners(Graph graph, const Adjacency& adjacency, const BoundaryEdges& boundary,
                      const RefineSettings& s, std::vector<Point>* corners, bool& changed) {
  CornerFinder finder(graph, adjacency, boundary, s);
  for (NodeId j = 0; j < graph.nodes.size(); ++j) finder.at(j);
  if (corners) corners->insert(corners->end(), finder.found.begin(), finder.found.end());
  changed = finder.edit.changed();
  return finder.edit.result_or(std::move(graph));
}

std::vector<Point> finish_chain_keeping_corners(const Chain& chain, const ChainSettings& settings,
                                                const std::vector<Point>& corners) {
  const std::vector<Point>& p = chain.points;
  auto is_corner = [&](const Point& q) {
    return std::binary_search(corners.begin(), corners.end(), q, point_less);
  };
  std::size_t first_cut = kNone;
  for (std::size_t i = 1; i + 1 < p.size() && first_cut == kNone; ++i)
    if (is_corner(p[i])) first_cut = i;
  if (first_cut == kNone) return finish_chain(chain, settings);
  std::vector<Point> out;
  out.reserve(p.size());
  Chain piece;
  std::size_t begin = 0;
  for (std::size_t i = first_cut; i < p.size(); ++i) {
    if (i + 1 < p.size() && !is_corner(p[i])) continue;
    piece.points.assign(p.begin() + static_cast<std::ptrdiff_t>(begin),
                        p.begin() + static_cast<std::ptrdiff_t>(i + 1));
    piece.start_is_tip = begin == 0 && chain.start_is_tip;
    piece.end_is_tip = i + 1 == p.size() && chain.end_is_tip;
    const std::vector<Point> done = finish_chain(piece, settings);
    out.insert(out.end(), done.begin() + (out.empty() ? 0 : 1), done.end());
    begin = i;
  }
  return out;
}

}  // namespace strandify
