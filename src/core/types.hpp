// Plain value types shared by every stage of the centerline pipeline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace strandify {

// Coordinates are in the caller's units; "counter-clockwise" assumes y pointing up.
struct Point {
  double x = 0.0;
  double y = 0.0;
};

inline bool operator==(const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const Point& a, const Point& b) { return !(a == b); }

using Curve = std::vector<Point>;       // open polyline
using Ring = std::vector<Point>;        // closed boundary stored open (first point not repeated)
using WidthList = std::vector<double>;  // per-vertex radii of one curve
using WidthLists = std::vector<WidthList>;

struct Polygon {
  Ring outer;
  std::vector<Ring> holes;
};

struct Segment {
  Point from;
  Point to;
};

struct Triangle {
  Point a;
  Point b;
  Point c;
};

using NodeId = std::size_t;

struct Edge {
  NodeId a = 0;
  NodeId b = 0;
};

// Undirected graph without self-edges or repeated pairs; adjacency is derived from `edges`
// in edge order whenever an operation needs it, so that tie-breaks follow edge order.
struct Graph {
  std::vector<Point> nodes;
  std::vector<Edge> edges;
};

struct Chain {
  std::vector<Point> points;
  NodeId start = 0;
  NodeId end = 0;
  bool start_is_tip = false;
  bool end_is_tip = false;
};

struct CenterlineResult {
  std::vector<Curve> chains;
  std::vector<Point> nodes;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> chain_node_ids;
  std::vector<std::vector<double>> chain_widths;
};

// A pipeline either produces a value or rejects its input with a message; nothing throws.
template <class T>
struct Outcome {
  T value{};
  std::optional<std::string> failure;

  bool ok() const { return !failure.has_value(); }
  static Outcome fail(std::string message) {
    Outcome out;
    out.failure = std::move(message);
    return out;
  }
};

}  // namespace strandify
