// Crossings of three or more strokes: the skeleton of such a crossing is a small tree of
// junctions a few radii apart (a stroke through two others, or strokes that start where two
// cross), which the pairwise crossing step does not see as one. When at least two pairs of the
// tree's outer branches continue each other into straight lines, and those lines and every
// unpaired branch's line pass through one point, the tree becomes one node at that point.
#include "refine/refine.hpp"

#include <algorithm>
#include <cmath>

#include "geometry.hpp"
#include "refine/kit.hpp"

namespace strandify {
namespace {

struct Outer {
  Walk walk;
  BranchLine line;
  int partner = -1;
};

struct ClusterFinder {
  const Graph& g;
  const Adjacency& adj;
  const RefineSettings& s;
  GraphEdit edit;
  std::vector<NodeId> members;
  std::vector<Walk> links;
  struct Link {
    NodeId start, end;
    std::size_t first_edge;
  };
  std::vector<Link> link_ends;  // the links by their ends, as gather decides on them
  std::vector<Outer> outer;
  std::vector<BranchEnd> spokes;  // where the branches of the junction being looked at end
  // Where the branches of the tree's other junctions end, in the order the unrecorded gather
  // met them: the recording gather makes the same decisions in the same order, and reads them
  // back instead of walking the branches again.
  std::vector<BranchEnd> beyond;
  std::vector<Point> scratch;
  std::vector<Point> both;
  Walk w;

  ClusterFinder(const Graph& graph, const Adjacency& adjacency, const RefineSettings& settings)
      : g(graph), adj(adjacency), s(settings), edit(graph, adjacency) {}

  bool member(NodeId v) const { return std::find(members.begin(), members.end(), v) != members.end(); }

  double walk_cap() const { return std::max(s.crossing_max_length, s.crossing_fit_end); }

  // The junctions reachable from `a` through short links, and every branch leaving them: a tree
  // `at` goes on with. False when the links close a loop (a small hole is a shape of its own),
  // the tree grows too big, reaches a junction before `a` (it is taken up from that one), or is
  // no more than the two 3-way junctions of the pairwise step.
  // Every decision reads only where a walk ends, so the tree is told first without recording
  // anything (most are such pairs), and the walks of `links` and `outer` are recorded only with
  // `record`.
  bool gather(NodeId a, bool record) {
    members.assign(1, a);
    link_ends.clear();
    links.clear();
    outer.clear();
    if (!record) beyond.clear();
    std::size_t outers = 0, read_back = 0;
    for (std::size_t m = 0; m < members.size(); ++m) {
      const NodeId v = members[m];
      for (std::size_t k = adj.begin(v); k < adj.end(v); ++k) {
        BranchEnd b;
        if (m == 0) {
          b = spokes[k - adj.begin(v)];
        } else if (record) {
          b = beyond[read_back++];
        } else {
          b = branch_end(g, adj, v, k, walk_cap());
          beyond.push_back(b);
        }
        const NodeId e = b.end;
        const bool link = is_link(v, b);
        if (!link) {
          if (b.complete && e == v) return false;  // a loop back to the junction
          ++outers;
          if (record) {
            walk_branch(g, adj, v, k, walk_cap(), w);
            outer.push_back({w, {}, -1});
          }
          continue;
        }
        if (member(e)) {
          // Walked from the other side already, or a second way in: a loop.
          const bool seen = std::any_of(link_ends.begin(), link_ends.end(), [&](const Link& l) {
            return l.end == v && l.start == e && l.first_edge == b.last_edge;
          });
          if (!seen) return false;
          continue;
        }
        if (members.size() >= s.crossing_cluster_nodes) return false;
        if (e < a) return false;  // the tree is taken up from its first node, not from `a`
        members.push_back(e);
        link_ends.push_back({v, e, b.first_edge});
        if (record) {
          walk_branch(g, adj, v, k, walk_cap(), w);
          links.push_back(w);
        }
      }
    }
    // Two 3-way junctions are the pairwise step's.
    return members.size() >= 2 && !(members.size() < 3 && outers <= 4);
  }

  bool continues(const BranchLine& a, const BranchLine& b) const {
    if (dot(a.line.direction, b.line.direction) > -s.crossing_cos_tolerance) return false;
    return offset_from(a.line, b.line.centre) <= s.crossing_offset &&
           offset_from(b.line, a.line.centre) <= s.crossing_offset;
  }

  // Pairs the outer branches that continue each other, the most nearly opposite pair first.
  int pair_up() {
    int pairs = 0;
    for (;;) {
      int bi = -1, bj = -1;
      double best = 0.0;
      for (std::size_t i = 0; i < outer.size(); ++i) {
        if (outer[i].partner >= 0) continue;
        for (std::size_t j = i + 1; j < outer.size(); ++j) {
          if (outer[j].partner >= 0 || !continues(outer[i].line, outer[j].line)) continue;
          const double d = dot(outer[i].line.line.direction, outer[j].line.line.direction);
          if (bi < 0 || d < best) {
            best = d;
            bi = static_cast<int>(i);
            bj = static_cast<int>(j);
          }
        }
      }
      if (bi < 0) return pairs;
      outer[bi].partner = bj;
      outer[bj].partner = bi;
      ++pairs;
    }
  }

  bool combined_line(const Outer& a, const Outer& b, Line& line) {
    both.clear();
    for (const Walk* x : {&a.walk, &b.walk}) {
      const double hi = std::min(s.crossing_fit_end, x->length());
      stretch_points(g, *x, std::min(s.crossing_fit_start, 0.5 * hi), hi, scratch);
      both.insert(both.end(), scratch.begin(), scratch.end());
    }
    return fit_line(both, line);
  }

  // Where the paired lines cross, when they all pass through one point and so does every
  // unpaired branch's line.
  bool common_point(Point& at) {
    std::vector<Line> lines;
    for (std::size_t i = 0; i < outer.size(); ++i) {
      if (outer[i].partner < static_cast<int>(i)) continue;
      Line l;
      if (!combined_line(outer[i], outer[outer[i].partner], l)) return false;
      lines.push_back(l);
    }
    if (lines.size() < 2) return false;
    if (std::fabs(cross(lines[0].direction, lines[1].direction)) < s.crossing_sin_min_angle)
      return false;
    if (!intersect(lines[0], lines[1], at)) return false;
    for (const Line& l : lines)
      if (offset_from(l, at) > s.crossing_offset) return false;
    // A stroke that starts at the crossing points away from it, along a line through it.
    for (const Outer& o : outer) {
      if (o.partner >= 0) continue;
      if (offset_from(o.line.line, at) > s.crossing_offset) return false;
      if (dot(o.line.line.direction, sub(o.line.line.centre, at)) <= 0.0) return false;
    }
    for (NodeId v : members)
      if (distance(g.nodes[v], at) > s.crossing_max_length) return false;
    return true;
  }

  bool is_link(NodeId from, const BranchEnd& b) const {
    return b.complete && b.end != from && adj.degree(b.end) >= 3 &&
           b.length <= s.crossing_max_length;
  }

  // Whether short links leave `a` for other junctions, all of them later ones: most junctions
  // stand alone, and they are told without gathering (and copying) their branches. A tree is
  // taken up from its first node, and a link to an earlier junction puts that one in the tree
  // (or makes the tree fail), so such a junction is passed over at once. The ends of a's
  // branches are kept in `spokes` for gathering, which starts from them.
  bool first_of_links(NodeId a) {
    spokes.clear();
    bool found = false;
    for (std::size_t k = adj.begin(a); k < adj.end(a); ++k) {
      spokes.push_back(branch_end(g, adj, a, k, walk_cap()));
      if (!is_link(a, spokes.back())) continue;
      if (spokes.back().end < a) return false;
      found = true;
    }
    return found;
  }

  void at(NodeId a) {
    if (adj.degree(a) < 3 || edit.touched(a) || !first_of_links(a)) return;
    // A tree is taken up from its first node: gathering stops at any earlier one.
    if (!gather(a, false)) return;
    gather(a, true);
    for (Outer& o : outer) {
      const NodeId e = o.walk.end();
      if (member(e)) return;
      if (!branch_line(g, o.walk, s.crossing_fit_start, s.crossing_fit_end, scratch, o.line)) return;
    }
    if (pair_up() < 2) return;
    Point node;
    if (!common_point(node)) return;
    for (std::size_t i = 0; i < outer.size(); ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (outer[i].walk.nodes[outer[i].line.keep] == outer[j].walk.nodes[outer[j].line.keep]) return;
    for (const Walk& l : links)
      if (!edit.untouched(l.nodes, l.nodes.size())) return;
    for (const Outer& o : outer)
      if (!edit.untouched(o.walk.nodes, o.line.keep + 1)) return;
    for (const Walk& l : links) {
      edit.touch(l.nodes, l.nodes.size());
      for (std::size_t e : l.edges) edit.kill(e);
    }
    for (const Outer& o : outer) {
      edit.touch(o.walk.nodes, o.line.keep + 1);
      if (o.walk.nodes.front() == a) {
        edit.shortcut(o.walk, o.line.keep);
      } else {  // the other junctions' branches now start at a
        for (std::size_t k = 0; k < o.line.keep; ++k) edit.kill(o.walk.edges[k]);
        edit.add(a, o.walk.nodes[o.line.keep]);
      }
    }
    edit.move(a, node);
    edit.mark_changed();
  }
};

}  // namespace

Graph join_crossing_clusters(Graph graph, const Adjacency& adjacency, const RefineSettings& s,
                             bool& changed) {
  ClusterFinder finder(graph, adjacency, s);
  for (NodeId a = 0; a < graph.nodes.size(); ++a) finder.at(a);
  changed = finder.edit.changed();
  return finder.edit.result_or(std::move(graph));
}

}  // namespace strandify
