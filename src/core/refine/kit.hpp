// What the finishing steps share: walks along branches, the editor that collects a step's edits
// against its input graph, lines fitted to stretches of a branch, and the clear-path test
// against the boundary.
//
// Each step reads the graph through compressed-row adjacency (neighbours in edge order, as
// everywhere else), collects its edits, and builds a new graph: edits never overlap (a step
// skips a site whose nodes another site already changed), and all geometry is read from the
// input positions, so the order in which sites are visited (ascending node id) is the only
// order that matters.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

#include "geometry.hpp"
#include "graph.hpp"
#include "refine/boundary_edges.hpp"
#include "types.hpp"

namespace strandify {

inline constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

// Scales v to unit length; false (v unchanged) when its length is zero or not finite.
bool unit(Point& v);

// ---------------------------------------------------------------------------------------------
// Walks and edits.

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

// Walks from `from` along its k-th incidence (an index into adj.neighbour) until a node of
// another degree, the start again, or arc length `cap`.
void walk_branch(const Graph& g, const Adjacency& adj, NodeId from, std::size_t k, double cap,
                 Walk& w);

// Where a complete walk of walk_branch with the same arguments ends, and its length, when it
// ends at another node than `from`; `end` is kNone otherwise, and also once the walk is longer
// than `max_length` (lengths only grow, so it could not end shorter). Nothing is recorded: most
// branches are no link between junctions, and are told without copying their walks.
struct LinkEnd {
  NodeId end = kNone;
  double length = 0.0;
};
LinkEnd link_end(const Graph& g, const Adjacency& adj, NodeId from, std::size_t k, double cap,
                 double max_length);

// What a walk of walk_branch with the same arguments comes to, without its nodes: where it
// ends, its length, whether it is complete, and its first and last edges.
struct BranchEnd {
  NodeId end = kNone;
  double length = 0.0;
  bool complete = false;
  std::size_t first_edge = kNone;
  std::size_t last_edge = kNone;
};
BranchEnd branch_end(const Graph& g, const Adjacency& adj, NodeId from, std::size_t k, double cap);

// Edits collected against one input graph and applied at once. `adj` is finishing_adjacency(g).
class GraphEdit {
 public:
  GraphEdit(const Graph& g, const Adjacency& adj)
      : g_(g), adj_(adj), dead_(g.edges.size(), 0), touched_(g.nodes.size(), 0) {}

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
  void move(NodeId v, Point p) {
    // The positions are copied at the first move: most steps move nothing.
    if (!moved_) position_ = g_.nodes;
    moved_ = true;
    position_[v] = p;
  }
  bool changed() const { return changed_; }
  void mark_changed() { changed_ = true; }

  // Replaces the part of walk `w` from its start to nodes[keep] by one edge.
  void shortcut(const Walk& w, std::size_t keep) {
    if (keep <= 1) return;
    for (std::size_t i = 0; i < keep; ++i) kill(w.edges[i]);
    add(w.nodes[0], w.nodes[keep]);
  }

  // The input graph with the edits applied: the surviving edges in their order, then the added
  // ones, each pair once.
  Graph result() const { return assembled(moved_ ? position_ : g_.nodes); }

  // The step's result: the input itself when nothing changed.
  Graph result_or(const Graph& unchanged) const { return changed_ ? result() : unchanged; }
  // The same for a step that owns its input and is done with the edit: an unchanged input is
  // handed on, and a changed one takes the edit's node positions along, neither of them copied.
  Graph result_or(Graph&& unchanged) {
    if (!changed_) return std::move(unchanged);
    return moved_ ? assembled(std::move(position_)) : result();
  }

 private:
  // The graph of the edit with `nodes` for its nodes (the positions as edited).
  Graph assembled(std::vector<Point> nodes) const;
  // Whether a surviving input edge joins a and b (nodes of the graph).
  bool joined(NodeId a, NodeId b) const;

  const Graph& g_;
  const Adjacency& adj_;
  std::vector<Point> position_;  // the nodes' positions once any has moved
  bool moved_ = false;
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
void stretch_points(const Graph& g, const Walk& w, double lo, double hi, std::vector<Point>& out);

// Total least squares: the principal axis of the points' scatter.
bool fit_line(const std::vector<Point>& pts, Line& line);

inline double offset_from(const Line& line, Point p) {
  return std::fabs(cross(sub(p, line.centre), line.direction));
}

inline Point project(const Line& line, Point p) {
  return add(line.centre, scale(line.direction, dot(sub(p, line.centre), line.direction)));
}

inline bool intersect(const Line& l1, const Line& l2, Point& out) {
  const double den = cross(l1.direction, l2.direction);
  if (den == 0.0 || !std::isfinite(den)) return false;
  const double t = cross(sub(l2.centre, l1.centre), l2.direction) / den;
  out = add(l1.centre, scale(l1.direction, t));
  return std::isfinite(out.x) && std::isfinite(out.y);
}

// The line of a branch's stretch [lo, hi] away from its start, clipped to the branch, with its
// direction pointing away from the start.
struct BranchLine {
  Line line;
  std::size_t keep = kNone;  // first node at or past the stretch's start
  Point far;                 // the stretch's far end
};

bool branch_line(const Graph& g, const Walk& w, double fit_start, double fit_end,
                 std::vector<Point>& scratch, BranchLine& out);

// Whether the straight way from `from` to `to` stays clear of the boundary, and `to` at least
// `margin` inside it along that way.
bool clear_path(const BoundaryEdges& boundary, Point from, Point to, double margin);

}  // namespace strandify
