#include "refine/kit.hpp"

#include <algorithm>
#include <cmath>

#include "pair_table.hpp"

namespace strandify {

bool unit(Point& v) {
  const double n = norm(v);
  if (!(n > 0.0) || !std::isfinite(n)) return false;
  v = scale(v, 1.0 / n);
  return true;
}

namespace {

constexpr std::size_t kWalkRoom = 64;

// The one walk every form below takes: from `from` along its k-th incidence, on through nodes of
// degree 2, calling visit(node, edge) for every node reached and the edge it was reached by,
// until visit says stop (or every edge has been crossed). Each form sums the lengths itself,
// in the same order, so all of them come to the same lengths to the last bit.
template <class Visit>
void follow_branch(const Graph& g, const Adjacency& adj, std::size_t k, Visit&& visit) {
  NodeId cur = adj.neighbour[k];
  std::size_t edge = adj.edge_id[k];
  const std::size_t max_steps = g.edges.size();
  for (std::size_t steps = 0; steps <= max_steps; ++steps) {
    if (!visit(cur, edge)) return;
    std::size_t step = adj.offset[cur];
    if (adj.edge_id[step] == edge) ++step;
    edge = adj.edge_id[step];
    cur = adj.neighbour[step];
  }
}

}  // namespace

void walk_branch(const Graph& g, const Adjacency& adj, NodeId from, std::size_t k, double cap,
                 Walk& w) {
  w.nodes.clear();
  w.arc.clear();
  w.edges.clear();
  w.complete = false;
  // Most walks of a step run a few dozen nodes: room for them at once, where growing a fresh
  // walk one doubling at a time made an allocation per doubling, per step and polygon.
  if (w.nodes.capacity() < kWalkRoom) {
    w.nodes.reserve(kWalkRoom);
    w.arc.reserve(kWalkRoom);
    w.edges.reserve(kWalkRoom);
  }
  w.nodes.push_back(from);
  w.arc.push_back(0.0);
  follow_branch(g, adj, k, [&](NodeId cur, std::size_t edge) {
    w.edges.push_back(edge);
    w.nodes.push_back(cur);
    w.arc.push_back(w.arc.back() + adj.length(g, edge));
    if (adj.degree(cur) != 2 || cur == from) {
      w.complete = true;
      return false;
    }
    return !(w.arc.back() >= cap);
  });
}

LinkEnd link_end(const Graph& g, const Adjacency& adj, NodeId from, std::size_t k, double cap,
                 double max_length) {
  LinkEnd out;
  double arc = 0.0;
  follow_branch(g, adj, k, [&](NodeId cur, std::size_t edge) {
    arc = arc + adj.length(g, edge);
    if (adj.degree(cur) != 2 || cur == from) {
      if (cur != from) out = {cur, arc};
      return false;
    }
    return !(arc >= cap || arc > max_length);
  });
  return out;
}

BranchEnd branch_end(const Graph& g, const Adjacency& adj, NodeId from, std::size_t k,
                     double cap) {
  BranchEnd b;
  b.first_edge = adj.edge_id[k];
  double arc = 0.0;
  follow_branch(g, adj, k, [&](NodeId cur, std::size_t edge) {
    arc = arc + adj.length(g, edge);
    b.end = cur;
    b.length = arc;
    b.last_edge = edge;
    if (adj.degree(cur) != 2 || cur == from) {
      b.complete = true;
      return false;
    }
    return !(arc >= cap);
  });
  return b;
}

bool GraphEdit::joined(NodeId a, NodeId b) const {
  for (std::size_t k = adj_.begin(a); k < adj_.end(a); ++k)
    if (adj_.neighbour[k] == b && !dead_[adj_.edge_id[k]]) return true;
  return false;
}

Graph GraphEdit::assembled(std::vector<Point> nodes) const {
  Graph out;
  out.nodes = std::move(nodes);
  out.edges.reserve(g_.edges.size() + added_.size());
  if (distinct_pairs(g_, adj_)) {
    // The surviving input edges all go, and an added edge goes unless a surviving input edge
    // or an earlier added one joins its nodes already: what the check of every edge against
    // all before it below keeps, with only the added edges in a table.
    for (std::size_t id = 0; id < g_.edges.size(); ++id)
      if (!dead_[id]) out.edges.push_back(g_.edges[id]);
    const std::size_t n = g_.nodes.size();
    NodePairSet added(added_.size());
    for (const Edge& e : added_) {
      if (e.a == e.b || (e.a < n && e.b < n && joined(e.a, e.b))) continue;
      if (added.insert(e.a, e.b)) out.edges.push_back(e);
    }
    return out;
  }
  NodePairSet seen(g_.edges.size() + added_.size());
  auto emit = [&](const Edge& e) {
    if (e.a == e.b) return;
    if (seen.insert(e.a, e.b)) out.edges.push_back(e);
  };
  for (std::size_t id = 0; id < g_.edges.size(); ++id)
    if (!dead_[id]) emit(g_.edges[id]);
  for (const Edge& e : added_) emit(e);
  return out;
}

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

bool clear_path(const BoundaryEdges& boundary, Point from, Point to, double margin) {
  const Point d = sub(to, from);
  const double length = root_sum_squares_distance(from, to);
  if (!(length > 0.0)) return boundary.distance_within(to, margin) >= margin;
  return boundary.first_hit(from, d, 1.0 + margin / length) < 0.0;
}

}  // namespace strandify
