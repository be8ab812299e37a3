// Finishing steps on the skeleton graph. Each step reads the graph through compressed-row
// adjacency (neighbours in edge order, as everywhere else), collects its edits, and builds a new
// graph: edits never overlap (a step skips a site whose nodes another site already changed),
// and all geometry is read from the input positions, so the order in which sites are visited
// (ascending node id) is the only order that matters.
#include "refine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "chain_finish.hpp"
#include "geometry.hpp"
#include "graph.hpp"
#include "pair_table.hpp"

namespace strandify {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();

Point sub(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point add(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point scale(Point a, double s) { return {a.x * s, a.y * s}; }
double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
double cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }
double norm(Point a) { return std::hypot(a.x, a.y); }

bool unit(Point& v) {
  const double n = norm(v);
  if (!(n > 0.0) || !std::isfinite(n)) return false;
  v = scale(v, 1.0 / n);
  return true;
}

double segment_distance(Point p, Point a, Point b) {
  const Point e = sub(b, a);
  const double ee = dot(e, e);
  double t = ee > 0.0 ? dot(sub(p, a), e) / ee : 0.0;
  t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
  return distance(p, add(a, scale(e, t)));
}

// ---------------------------------------------------------------------------------------------
// Adjacency, walks and edits.


// A branch from a node through degree-2 nodes: nodes[0] is the start, arc[i] the length along
// the branch to nodes[i], edges[i] the edge from nodes[i] to nodes[i + 1]. `complete` when the
// walk reached a node of another degree (or came back to its start) rather than its length cap.
struct Walk {
  std::vector<NodeId> nodes;
  std::vector<double> arc;
  std::vector<std::size_t> edges;
  bool complete = false;

  NodeId end() const { return nodes.back(); }
  double length() const { return arc.back(); }
  // First index at or past arc length s (at least 1), or kNone.
  std::size_t first_at(double s) const {
    for (std::size_t i = 1; i < arc.size(); ++i)
      if (arc[i] >= s) return i;
    return kNone;
  }
};

void walk_branch(const Graph& g, const Adjacency& adj, NodeId from, std::size_t k, double cap,
                 Walk& w) {
  w.nodes.clear();
  w.arc.clear();
  w.edges.clear();
  w.complete = false;
  w.nodes.push_back(from);
  w.arc.push_back(0.0);
  NodeId prev = from;
  NodeId cur = adj.neighbour[k];
  std::size_t edge = adj.edge_id[k];
  const std::size_t max_steps = g.edges.size();
  for (std::size_t steps = 0; steps <= max_steps; ++steps) {
    w.edges.push_back(edge);
    w.nodes.push_back(cur);
    w.arc.push_back(w.arc.back() + distance(g.nodes[prev], g.nodes[cur]));
    if (adj.degree(cur) != 2 || cur == from) {
      w.complete = true;
      return;
    }
    if (w.arc.back() >= cap) return;
    std::size_t step = adj.offset[cur];
    if (adj.edge_id[step] == edge) ++step;
    prev = cur;
    edge = adj.edge_id[step];
    cur = adj.neighbour[step];
  }
}

// Edits collected against one input graph and applied at once.
class GraphEdit {
 public:
  explicit GraphEdit(const Graph& g)
      : g_(g), position_(g.nodes), dead_(g.edges.size(), 0), touched_(g.nodes.size(), 0) {}

  bool untouched(const std::vector<NodeId>& nodes, std::size_t count) const {
    for (std::size_t i = 0; i < count && i < nodes.size(); ++i)
      if (touched_[nodes[i]]) return false;
    return true;
  }
  void touch(const std::vector<NodeId>& nodes, std::size_t count) {
    for (std::size_t i = 0; i < count && i < nodes.size(); ++i) touched_[nodes[i]] = 1;
  }
  bool touched(NodeId v) const { return touched_[v] != 0; }
  void touch(NodeId v) { touched_[v] = 1; }
  void kill(std::size_t edge) { dead_[edge] = 1; }
  void add(NodeId a, NodeId b) { added_.push_back({a, b}); }
  void move(NodeId v, Point p) { position_[v] = p; }
  bool changed() const { return changed_; }
  void mark_changed() { changed_ = true; }

  // Replaces the part of walk `w` from its start to nodes[keep] by one edge.
  void shortcut(const Walk& w, std::size_t keep) {
    if (keep <= 1) return;
    for (std::size_t i = 0; i < keep; ++i) kill(w.edges[i]);
    add(w.nodes[0], w.nodes[keep]);
  }

  Graph result() const {
    Graph out;
    out.nodes = position_;
    out.edges.reserve(g_.edges.size() + added_.size());
    PairTable<unsigned char> seen(g_.edges.size() + added_.size());
    auto emit = [&](const Edge& e) {
      if (e.a == e.b) return;
      if (seen.insert(unordered_pair(e.a, e.b), 1)) out.edges.push_back(e);
    };
    for (std::size_t id = 0; id < g_.edges.size(); ++id)
      if (!dead_[id]) emit(g_.edges[id]);
    for (const Edge& e : added_) emit(e);
    return out;
  }

 private:
  const Graph& g_;
  std::vector<Point> position_;
  std::vector<unsigned char> dead_;
  std::vector<unsigned char> touched_;
  std::vector<Edge> added_;
  bool changed_ = false;
};

// ---------------------------------------------------------------------------------------------
// Lines fitted to stretches of a branch.

struct Line {
  Point centre;
  Point direction;  // unit
};

// The branch between arc lengths lo and hi: the interpolated points at both ends and every
// node between them. Interpolating keeps a stretch meaningful where nodes lie far apart.
void stretch_points(const Graph& g, const Walk& w, double lo, double hi, std::vector<Point>& out) {
  out.clear();
  auto at = [&](double s) {
    for (std::size_t i = 1; i < w.arc.size(); ++i) {
      if (w.arc[i] >= s) {
        const double span = w.arc[i] - w.arc[i - 1];
        const double t = span > 0.0 ? (s - w.arc[i - 1]) / span : 1.0;
        const Point a = g.nodes[w.nodes[i - 1]], b = g.nodes[w.nodes[i]];
        return add(a, scale(sub(b, a), t));
      }
    }
    return g.nodes[w.nodes.back()];
  };
  out.push_back(at(lo));
  for (std::size_t i = 1; i < w.arc.size(); ++i)
    if (w.arc[i] > lo && w.arc[i] < hi) out.push_back(g.nodes[w.nodes[i]]);
  out.push_back(at(hi));
}

// Total least squares: the principal axis of the points' scatter.
bool fit_line(const std::vector<Point>& pts, Line& line) {
  if (pts.size() < 2) return false;
  Point c{0.0, 0.0};
  for (const Point& p : pts) c = add(c, p);
  c = scale(c, 1.0 / static_cast<double>(pts.size()));
  double sxx = 0.0, sxy = 0.0, syy = 0.0;
  for (const Point& p : pts) {
    const Point d = sub(p, c);
    sxx += d.x * d.x;
    sxy += d.x * d.y;
    syy += d.y * d.y;
  }
  const double half = (sxx - syy) * 0.5;
  const double lambda = (sxx + syy) * 0.5 + std::hypot(half, sxy);
  // Of the two forms of the eigenvector, the one with the larger norm is the stable one.
  Point v1{sxy, lambda - sxx}, v2{lambda - syy, sxy};
  Point d = norm(v1) >= norm(v2) ? v1 : v2;
  if (!unit(d)) return false;
  line = {c, d};
  return true;
}

double offset_from(const Line& line, Point p) { return std::fabs(cross(sub(p, line.centre), line.direction)); }

Point project(const Line& line, Point p) {
  return add(line.centre, scale(line.direction, dot(sub(p, line.centre), line.direction)));
}

bool intersect(const Line& l1, const Line& l2, Point& out) {
  const double den = cross(l1.direction, l2.direction);
  if (den == 0.0 || !std::isfinite(den)) return false;
  const double t = cross(sub(l2.centre, l1.centre), l2.direction) / den;
  out = add(l1.centre, scale(l1.direction, t));
  return std::isfinite(out.x) && std::isfinite(out.y);
}

// The line of a branch's stretch [lo, hi] away from its start, clipped to the branch, with its
// direction pointing away from the start. Returns the index of the first node past lo.
struct BranchLine {
  Line line;
  std::size_t keep = kNone;  // first node at or past the stretch's start
  Point far;                 // the stretch's far end
};

bool branch_line(const Graph& g, const Walk& w, double fit_start, double fit_end,
                 std::vector<Point>& scratch, BranchLine& out) {
  const double hi = std::min(fit_end, w.length());
  const double lo = std::min(fit_start, 0.5 * hi);
  if (!(hi > lo)) return false;
  stretch_points(g, w, lo, hi, scratch);
  if (!fit_line(scratch, out.line)) return false;
  if (dot(out.line.direction, sub(scratch.back(), scratch.front())) < 0.0)
    out.line.direction = scale(out.line.direction, -1.0);
  out.keep = w.first_at(lo);
  out.far = scratch.back();
  return out.keep != kNone;
}

// ---------------------------------------------------------------------------------------------
// Corners.

// Whether the straight way from `from` to `to` stays clear of the boundary, and `to` at least
// `margin` inside it along that way.
bool clear_path(const BoundaryEdges& boundary, Point from, Point to, double margin) {
  const Point d = sub(to, from);
  const double length = root_sum_squares_distance(from, to);
  if (!(length > 0.0)) return boundary.distance_within(to, margin) >= margin;
  return boundary.first_hit(from, d, 1.0 + margin / length) < 0.0;
}

struct CornerFinder {
  const Graph& g;
  const Adjacency adj;
  const RefineSettings& s;
  const BoundaryEdges& boundary;
  GraphEdit edit;
  Walk walks[3];
  std::vector<Point> scratch;
  std::vector<Point> found;

  CornerFinder(const Graph& graph, const BoundaryEdges& edges, const RefineSettings& settings)
      : g(graph), adj(build_adjacency(graph)), s(settings), boundary(edges), edit(graph) {}

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

  void at(NodeId j) {
    if (adj.degree(j) != 3 || edit.touched(j)) return;
    const double cap = std::max(s.corner_spur_max, s.corner_fit_end);
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

// ---------------------------------------------------------------------------------------------
// Crossings.

struct CrossingFinder {
  const Graph& g;
  const Adjacency adj;
  const RefineSettings& s;
  GraphEdit edit;
  Walk from_a[3];
  Walk from_b[3];
  std::vector<Point> scratch;
  std::vector<Point> both;

  CrossingFinder(const Graph& graph, const RefineSettings& settings)
      : g(graph), adj(build_adjacency(graph)), s(settings), edit(graph) {}

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

  void at(NodeId a) {
    if (adj.degree(a) != 3 || edit.touched(a)) return;
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
    const Point middle = scale(add(pa, pb), 0.5);
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

// ---------------------------------------------------------------------------------------------
// Tips.

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

// ---------------------------------------------------------------------------------------------
// Dots.

// Longest path of a tree component (two sweeps from any node), as a node list.
struct TreeSweep {
  const Graph& g;
  const Adjacency& adj;
  std::vector<double> dist;
  std::vector<NodeId> parent;
  std::vector<NodeId> stack;

  TreeSweep(const Graph& graph, const Adjacency& a)
      : g(graph), adj(a), dist(graph.nodes.size(), -1.0), parent(graph.nodes.size(), kNone) {}

  // Farthest node from `root` within the component listed in `members`.
  NodeId farthest(NodeId root, const std::vector<NodeId>& members) {
    for (NodeId m : members) {
      dist[m] = -1.0;
      parent[m] = kNone;
    }
    dist[root] = 0.0;
    stack.assign(1, root);
    NodeId best = root;
    while (!stack.empty()) {
      const NodeId v = stack.back();
      stack.pop_back();
      if (dist[v] > dist[best]) best = v;
      for (std::size_t k = adj.offset[v]; k < adj.offset[v + 1]; ++k) {
        const NodeId w = adj.neighbour[k];
        if (dist[w] >= 0.0) continue;
        dist[w] = dist[v] + distance(g.nodes[v], g.nodes[w]);
        parent[w] = v;
        stack.push_back(w);
      }
    }
    return best;
  }

  double longest_path(NodeId start, const std::vector<NodeId>& members, std::vector<NodeId>& path) {
    const NodeId a = farthest(start, members);
    const NodeId b = farthest(a, members);
    path.clear();
    for (NodeId v = b; v != kNone; v = parent[v]) path.push_back(v);
    return dist[b];
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// BoundaryEdges.

BoundaryEdges::BoundaryEdges(double cell) : cell_(cell > 0.0 && std::isfinite(cell) ? cell : 1.0) {}

void BoundaryEdges::add_polygon(const Polygon& polygon) {
  const auto id = static_cast<std::uint32_t>(centres_.size());
  auto add_ring = [&](const Ring& ring) {
    const std::size_t n = ring.size();
    for (std::size_t i = 0; i < n && n >= 2; ++i) sides_.push_back({ring[i], ring[(i + 1) % n], id});
  };
  add_ring(polygon.outer);
  for (const Ring& h : polygon.holes) add_ring(h);
  // Area centroid of the outer ring; its vertex mean when the area vanishes.
  const Ring& r = polygon.outer;
  double a2 = 0.0, cx = 0.0, cy = 0.0, mx = 0.0, my = 0.0;
  for (std::size_t i = 0; i < r.size(); ++i) {
    const Point p = r[i], q = r[(i + 1) % r.size()];
    const double c = cross(p, q);
    a2 += c;
    cx += (p.x + q.x) * c;
    cy += (p.y + q.y) * c;
    mx += p.x;
    my += p.y;
  }
  Point centre{0.0, 0.0};
  if (a2 != 0.0 && std::isfinite(a2)) {
    centre = {cx / (3.0 * a2), cy / (3.0 * a2)};
  } else if (!r.empty()) {
    centre = {mx / static_cast<double>(r.size()), my / static_cast<double>(r.size())};
  }
  centres_.push_back(centre);
}

std::int64_t BoundaryEdges::column(double x) const {
  const double c = std::floor((x - min_x_) / cell_);
  if (!(c > 0.0)) return 0;
  return c >= static_cast<double>(nx_ - 1) ? nx_ - 1 : static_cast<std::int64_t>(c);
}

std::int64_t BoundaryEdges::row(double y) const {
  const double c = std::floor((y - min_y_) / cell_);
  if (!(c > 0.0)) return 0;
  return c >= static_cast<double>(ny_ - 1) ? ny_ - 1 : static_cast<std::int64_t>(c);
}

void BoundaryEdges::build() {
  if (sides_.empty()) return;
  double min_x = kInf, min_y = kInf, max_x = -kInf, max_y = -kInf;
  for (const Side& s : sides_) {
    for (const Point& p : {s.a, s.b}) {
      min_x = std::min(min_x, p.x);
      min_y = std::min(min_y, p.y);
      max_x = std::max(max_x, p.x);
      max_y = std::max(max_y, p.y);
    }
  }
  min_x_ = min_x;
  min_y_ = min_y;
  max_x_ = max_x;
  // At most 2^31 cells a side: beyond that the grid degenerates into coarser cells, never into
  // an overflowing key.
  constexpr double kMaxCells = 2147483647.0;
  const double wx = std::floor((max_x - min_x) / cell_) + 1.0;
  const double wy = std::floor((max_y - min_y) / cell_) + 1.0;
  if (!(wx < kMaxCells) || !(wy < kMaxCells)) cell_ = std::max(max_x - min_x, max_y - min_y);
  nx_ = static_cast<std::int64_t>(std::min(std::floor((max_x - min_x) / cell_) + 1.0, kMaxCells));
  ny_ = static_cast<std::int64_t>(std::min(std::floor((max_y - min_y) / cell_) + 1.0, kMaxCells));
  entries_.reserve(sides_.size() * 2);
  for (std::size_t i = 0; i < sides_.size(); ++i) {
    const Side& s = sides_[i];
    const std::int64_t x0 = column(std::min(s.a.x, s.b.x)), x1 = column(std::max(s.a.x, s.b.x));
    const std::int64_t y0 = row(std::min(s.a.y, s.b.y)), y1 = row(std::max(s.a.y, s.b.y));
    for (std::int64_t cx = x0; cx <= x1; ++cx)
      for (std::int64_t cy = y0; cy <= y1; ++cy)
        entries_.push_back({static_cast<std::uint64_t>(cx) * static_cast<std::uint64_t>(ny_) +
                                static_cast<std::uint64_t>(cy),
                            static_cast<std::uint32_t>(i)});
  }
  std::sort(entries_.begin(), entries_.end(), [](const Entry& l, const Entry& r) {
    return l.cell != r.cell ? l.cell < r.cell : l.side < r.side;
  });
}

std::pair<std::size_t, std::size_t> BoundaryEdges::cell_entries(std::int64_t cx,
                                                                std::int64_t cy) const {
  const std::uint64_t key =
      static_cast<std::uint64_t>(cx) * static_cast<std::uint64_t>(ny_) + static_cast<std::uint64_t>(cy);
  const auto lo = std::lower_bound(entries_.begin(), entries_.end(), key,
                                   [](const Entry& e, std::uint64_t k) { return e.cell < k; });
  auto hi = lo;
  while (hi != entries_.end() && hi->cell == key) ++hi;
  return {static_cast<std::size_t>(lo - entries_.begin()),
          static_cast<std::size_t>(hi - entries_.begin())};
}

double BoundaryEdges::first_hit(Point o, Point d, double max_t) const {
  if (entries_.empty() || !(max_t > 0.0)) return -1.0;
  const Point end = add(o, scale(d, max_t));
  double best = kInf;
  for (std::int64_t cx = column(std::min(o.x, end.x)); cx <= column(std::max(o.x, end.x)); ++cx) {
    for (std::int64_t cy = row(std::min(o.y, end.y)); cy <= row(std::max(o.y, end.y)); ++cy) {
      const auto [lo, hi] = cell_entries(cx, cy);
      for (std::size_t i = lo; i < hi; ++i) {
        const Side& s = sides_[entries_[i].side];
        const Point e = sub(s.b, s.a);
        const double den = cross(d, e);
        if (den == 0.0) continue;
        const Point ao = sub(s.a, o);
        const double t = cross(ao, e) / den;
        const double u = cross(ao, d) / den;
        if (t > 0.0 && t <= max_t && u >= 0.0 && u <= 1.0 && t < best) best = t;
      }
    }
  }
  return best < kInf ? best : -1.0;
}

double BoundaryEdges::distance_within(Point p, double limit) const {
  double best = limit;
  if (entries_.empty() || !(limit > 0.0)) return best;
  for (std::int64_t cx = column(p.x - limit); cx <= column(p.x + limit); ++cx) {
    for (std::int64_t cy = row(p.y - limit); cy <= row(p.y + limit); ++cy) {
      const auto [lo, hi] = cell_entries(cx, cy);
      for (std::size_t i = lo; i < hi; ++i) {
        const Side& s = sides_[entries_[i].side];
        best = std::min(best, segment_distance(p, s.a, s.b));
      }
    }
  }
  return best;
}

std::int64_t BoundaryEdges::polygon_of(Point p) const {
  if (entries_.empty()) return -1;
  const std::int64_t cy = row(p.y);
  double best = kInf;
  std::int64_t polygon = -1;
  for (std::int64_t cx = column(p.x); cx < nx_; ++cx) {
    const auto [lo, hi] = cell_entries(cx, cy);
    for (std::size_t i = lo; i < hi; ++i) {
      const Side& s = sides_[entries_[i].side];
      if (s.a.y == s.b.y || (s.a.y - p.y) * (s.b.y - p.y) > 0.0) continue;
      const double x = s.a.x + (p.y - s.a.y) * (s.b.x - s.a.x) / (s.b.y - s.a.y);
      if (x > p.x && x < best) {
        best = x;
        polygon = s.polygon;
      }
    }
    // A hit inside this column is nearer than anything a later column can hold.
    if (best <= min_x_ + static_cast<double>(cx + 1) * cell_) break;
  }
  return polygon;
}

// ---------------------------------------------------------------------------------------------
// Steps.

std::vector<double> junction_allowances(const Graph& graph, const BoundaryEdges& boundary,
                                        const RefineSettings& s) {
  const Adjacency adj = build_adjacency(graph);
  std::vector<double> allowance(graph.nodes.size(), 0.0);
  for (NodeId v = 0; v < graph.nodes.size(); ++v) {
    if (adj.degree(v) < 3) continue;
    const double extra = boundary.distance_within(graph.nodes[v], s.radius_search) - s.buffer_distance;
    if (extra > 0.0) allowance[v] = extra;
  }
  return allowance;
}

Graph keep_dots(const Graph& skeleton, Graph pruned, const BoundaryEdges& boundary,
                const std::vector<unsigned char>& has_segments, const RefineSettings& s,
                std::vector<Point>& dots) {
  const std::size_t n = skeleton.nodes.size();
  const Adjacency adj = build_adjacency(skeleton);
  std::vector<unsigned char> alive(n, 0);
  for (const Edge& e : pruned.edges) {
    if (e.a < n && e.b < n) alive[e.a] = alive[e.b] = 1;
  }
  const std::size_t polygons = boundary.polygon_count();
  std::vector<unsigned char> polygon_alive(polygons, 0);
  // Per polygon, the longest vanished path found so far (its nodes in `paths`).
  struct Best {
    double length = -1.0;
    std::vector<NodeId> members;
  };
  std::vector<Best> best(polygons);
  std::vector<Best> orphans;  // components whose polygon the boundary cannot tell

  std::vector<unsigned char> seen(n, 0);
  std::vector<NodeId> members;
  std::vector<NodeId> path;
  TreeSweep sweep(skeleton, adj);
  for (NodeId root = 0; root < n; ++root) {
    if (seen[root]) continue;
    members.assign(1, root);
    seen[root] = 1;
    bool survives = false;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const NodeId v = members[i];
      survives = survives || alive[v];
      for (std::size_t k = adj.offset[v]; k < adj.offset[v + 1]; ++k) {
        const NodeId w = adj.neighbour[k];
        if (!seen[w]) {
          seen[w] = 1;
          members.push_back(w);
        }
      }
    }
    const std::int64_t polygon = boundary.polygon_of(skeleton.nodes[root]);
    if (survives) {
      if (polygon >= 0) polygon_alive[static_cast<std::size_t>(polygon)] = 1;
      continue;
    }
    // Pruning removes only tree branches, so a vanished component is a tree.
    const double length = sweep.longest_path(root, members, path);
    Best* slot = nullptr;
    if (polygon < 0) {
      orphans.emplace_back();
      slot = &orphans.back();
    } else if (length > best[static_cast<std::size_t>(polygon)].length) {
      slot = &best[static_cast<std::size_t>(polygon)];
    }
    if (slot) {
      slot->length = length;
      slot->members = members;
    }
  }

  // A dot is drawn as one straight dash along the principal axis of its skeleton's nodes,
  // across their whole extent (its skeleton wanders between the blob's corners in a way no
  // stroke did), when they stretch at least dot_point_length along an axis that much longer
  // than the other (dot_elongation, in variance); otherwise as a point at its centre.
  std::vector<Point> positions;
  auto restore = [&](const Best& b, const Point* centre) {
    positions.clear();
    for (NodeId v : b.members) positions.push_back(skeleton.nodes[v]);
    Line axis;
    double lo = kInf, hi = -kInf, across = 0.0;
    NodeId first = kNone, last = kNone;
    if (fit_line(positions, axis)) {
      for (std::size_t i = 0; i < positions.size(); ++i) {
        const double t = dot(sub(positions[i], axis.centre), axis.direction);
        const double u = cross(sub(positions[i], axis.centre), axis.direction);
        across += u * u;
        if (t < lo) lo = t, first = b.members[i];
        if (t > hi) hi = t, last = b.members[i];
      }
    }
    double along = 0.0;
    for (const Point& q : positions) {
      const double t = dot(sub(q, axis.centre), axis.direction);
      along += t * t;
    }
    if (first != kNone && first != last && hi - lo >= s.dot_point_length &&
        along >= s.dot_elongation * across) {
      pruned.nodes[first] = add(axis.centre, scale(axis.direction, lo));
      pruned.nodes[last] = add(axis.centre, scale(axis.direction, hi));
      pruned.edges.push_back({first, last});
    } else {
      dots.push_back(centre ? *centre : (fit_line(positions, axis) ? axis.centre : positions[0]));
    }
  };
  for (std::size_t p = 0; p < polygons; ++p) {
    if (polygon_alive[p]) continue;
    const Point centre = boundary.centre(p);
    if (best[p].length >= 0.0) {
      restore(best[p], &centre);
    } else if (p >= has_segments.size() || !has_segments[p]) {
      dots.push_back(centre);
    }
  }
  for (const Best& b : orphans) restore(b, nullptr);
  return pruned;
}

Graph recover_corners(const Graph& graph, const BoundaryEdges& boundary, const RefineSettings& s,
                      std::vector<Point>* corners) {
  CornerFinder finder(graph, boundary, s);
  for (NodeId j = 0; j < graph.nodes.size(); ++j) finder.at(j);
  if (corners) corners->insert(corners->end(), finder.found.begin(), finder.found.end());
  return finder.edit.changed() ? finder.edit.result() : graph;
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

Graph join_crossings(const Graph& graph, const RefineSettings& s) {
  CrossingFinder finder(graph, s);
  for (NodeId a = 0; a < graph.nodes.size(); ++a) finder.at(a);
  return finder.edit.changed() ? finder.edit.result() : graph;
}

Graph finish_tips(const Graph& graph, const BoundaryEdges& boundary, const RefineSettings& s) {
  const Adjacency adj = build_adjacency(graph);
  GraphEdit edit(graph);
  Walk w;
  std::vector<Point> scratch;
  for (NodeId v = 0; v < graph.nodes.size(); ++v) {
    if (adj.degree(v) == 1 && !edit.touched(v)) finish_tip(graph, adj, boundary, s, v, w, scratch, edit);
  }
  return edit.changed() ? edit.result() : graph;
}

RefinedGraph refine_graph(const Graph& skeleton, const BoundaryEdges& boundary,
                          const std::vector<unsigned char>& has_segments, const Settings& settings) {
  const RefineSettings& r = settings.refine;
  const RefineSteps& steps = r.steps;
  // The geometric steps measure in buffer radii; without a positive radius they have nothing to
  // measure with.
  const bool geometric = r.buffer_distance > 0.0 && std::isfinite(r.buffer_distance);
  RefinedGraph out;
  if (settings.tip_length > 0.0) {
    if (steps.radius_tips && geometric) {
      out.graph = prune_short_tips(skeleton, settings.tip_length,
                                   junction_allowances(skeleton, boundary, r));
    } else {
      out.graph = prune_short_tips(skeleton, settings.tip_length);
    }
  } else {
    out.graph = skeleton;
  }
  if (steps.keep_dots) out.graph = keep_dots(skeleton, std::move(out.graph), boundary, has_segments, r, out.dots);
  if (settings.junction_merge_fraction > 0.0)
    out.graph = merge_close_junctions(out.graph, settings.junction_merge_distance);
  if (!geometric) return out;
  if (steps.recover_corners) {
    out.graph = recover_corners(out.graph, boundary, r, &out.corners);
    std::sort(out.corners.begin(), out.corners.end(), point_less);
  }
  if (steps.join_crossings) out.graph = join_crossings(out.graph, r);
  if (steps.finish_tips) out.graph = finish_tips(out.graph, boundary, r);
  return out;
}

void append_dot_chains(const std::vector<Point>& dots, Graph& graph, std::vector<Chain>& chains) {
  chains.reserve(chains.size() + dots.size());
  for (const Point& p : dots) {
    const NodeId id = graph.nodes.size();
    graph.nodes.push_back(p);
    Chain c;
    c.points = {p, p};
    c.start = c.end = id;
    chains.push_back(std::move(c));
  }
}

}  // namespace strandify
