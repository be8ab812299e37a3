// Crossings: two strokes crossing at a shallow angle leave two junctions joined by a short
// chain. When the four outer branches pair up into two straight lines, the junctions become one
// 4-way node where the lines cross.
#include "refine/refine.hpp"

#include <algorithm>
#include <cmath>

#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {
namespace {

struct CrossingFinder {
  const Graph& g;
  const Adjacency& adj;
  const RefineSettings& s;
  GraphEdit edit;
  Walk from_a[3];
  Walk from_b[3];
  std::vector<Point> scratch;
  std::vector<Point> both;

  CrossingFinder(const Graph& graph, const Adjacency& adjacency, const RefineSettings& settings)
      : g(graph), adj(adjacency), s(settings), edit(graph, adjacency) {}

  void walks_of(NodeId v, Walk (&w)[3]) {
    const double cap = std::max(s.crossing_max_length, s.crossing_fit_end);
    for (int i = 0; i < 3; ++i) walk_branch(g, adj, v, adj.offset[v] + i, cap, w[i]);
  }

  static int count_to(const Walk (&w)[3], NodeId target) {
    int n = 0;
    for (const Walk& x : w) n += x.complete && x.end() == target;
    return n;
  }

  // Do the outer branches a and b continue each other, antiparallel and in line?
  bool continues(const BranchLine& a, const BranchLine& b) const {
    if (dot(a.line.direction, b.line.direction) > -s.crossing_cos_tolerance) return false;
    return offset_from(a.line, b.line.centre) <= s.crossing_offset &&
           offset_from(b.line, a.line.centre) <= s.crossing_offset;
  }

  bool combined_line(const Walk& wa, const Walk& wb, Line& line) {
    both.clear();
    const double fs = s.crossing_fit_start, fe = s.crossing_fit_end;
    for (const Walk* w : {&wa, &wb}) {
      const double hi = std::min(fe, w->length());
      stretch_points(g, *w, std::min(fs, 0.5 * hi), hi, scratch);
      both.insert(both.end(), scratch.begin(), scratch.end());
    }
    return fit_line(both, line);
  }

  // Whether a branch of `a` is a short link to a later 3-way junction, the only branches `at`
  // pairs: most junctions have none and are told without recording their walks.
  bool has_later_link(NodeId a) const {
    const double cap = std::max(s.crossing_max_length, s.crossing_fit_end);
    for (int i = 0; i < 3; ++i) {
      const LinkEnd b = link_end(g, adj, a, adj.offset[a] + i, cap, s.crossing_max_length);
      if (b.end != kNone && adj.degree(b.end) == 3 && b.end > a &&
          !(b.length > s.crossing_max_length))
        return true;
    }
    return false;
  }

  void at(NodeId a) {
    if (adj.degree(a) != 3 || edit.touched(a) || !has_later_link(a)) return;
    walks_of(a, from_a);
    for (int c = 0; c < 3; ++c) {
      const Walk& link = from_a[c];
      const NodeId b = link.end();
      if (!link.complete || b == a || adj.degree(b) != 3 || b < a) continue;
      if (link.length() > s.crossing_max_length) continue;
      if (try_pair(a, c, b)) return;
    }
  }

  bool try_pair(NodeId a, int c, NodeId b) {
    if (count_to(from_a, b) != 1 || count_to(from_a, a) != 0 || edit.touched(b)) return false;
    walks_of(b, from_b);
    if (count_to(from_b, a) != 1 || count_to(from_b, b) != 0) return false;
    const Walk& link = from_a[c];
    const Walk* outer[4];
    int n = 0;
    for (int i = 0; i < 3; ++i)
      if (i != c) outer[n++] = &from_a[i];
    for (int i = 0; i < 3; ++i)
      if (!(from_b[i].complete && from_b[i].end() == a)) outer[n++] = &from_b[i];
    if (n != 4) return false;
    BranchLine lines[4];
    for (int i = 0; i < 4; ++i) {
      const NodeId e = outer[i]->end();
      if (e == a || e == b) return false;
      if (!branch_line(g, *outer[i], s.crossing_fit_start, s.crossing_fit_end, scratch, lines[i]))
        return false;
    }
    // Pair A's first outer branch with whichever of B's continues it.
    int partner = -1;
    if (continues(lines[0], lines[2]) && continues(lines[1], lines[3])) partner = 2;
    else if (continues(lines[0], lines[3]) && continues(lines[1], lines[2])) partner = 3;
    if (partner < 0) return false;
    Line first, second;
    if (!combined_line(*outer[0], *outer[partner], first) ||
        !combined_line(*outer[1], *outer[5 - partner], second))
      return false;
    if (std::fabs(cross(first.direction, second.direction)) < s.crossing_sin_min_angle) return false;
    Point node;
    if (!intersect(first, second, node)) return false;
    const Point pa = g.nodes[a], pb = g.nodes[b];
    const Point middle = midpoint(pa, pb);
    if (distance(node, middle) > 0.5 * distance(pa, pb) + s.crossing_offset) return false;
    NodeId kept[4];
    for (int i = 0; i < 4; ++i) {
      kept[i] = outer[i]->nodes[lines[i].keep];
      for (int k = 0; k < i; ++k)
        if (kept[k] == kept[i]) return false;
    }
    if (!edit.untouched(link.nodes, link.nodes.size())) return false;
    for (int i = 0; i < 4; ++i)
      if (!edit.untouched(outer[i]->nodes, lines[i].keep + 1)) return false;
    edit.touch(link.nodes, link.nodes.size());
    for (int i = 0; i < 4; ++i) edit.touch(outer[i]->nodes, lines[i].keep + 1);
    for (std::size_t e : link.edges) edit.kill(e);
    for (int i = 0; i < 4; ++i) {
      const Walk& w = *outer[i];
      if (i < 2) {
        edit.shortcut(w, lines[i].keep);
      } else {  // B's branches now start at A
        for (std::size_t k = 0; k < lines[i].keep; ++k) edit.kill(w.edges[k]);
        edit.add(a, kept[i]);
      }
    }
    edit.move(a, node);
    edit.mark_changed();
    return true;
  }
};

}  // namespace

Graph join_crossings(Graph graph, const Adjacency& adjacency, const RefineSettings& s,
                     bool& changed) {
  CrossingFinder finder(graph, adjacency, s);
  for (NodeId a = 0; a < graph.nodes.size(); ++a) finder.at(a);
  changed = finder.edit.changed();
  return finder.edit.result_or(std::move(graph));
}

}  // namespace strandify
