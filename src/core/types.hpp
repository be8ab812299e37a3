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

// The width list of curve i, or nullptr when the curve is buffered with the uniform radius
// (no lists at all, none for this curve, or an empty one).
inline const WidthList* width_list_of(const std::optional<WidthLists>& widths, std::size_t i) {
  if (!widths || i >= widths->size() || (*widths)[i].empty()) return nullptr;
  return &(*widths)[i];
}

struct Polygon {
  Ring outer;
  std::vector<Ring> holes;
};

// An axis-aligned rectangle; which edges belong to it is up to its user.
struct Box {
  double min_x, min_y, max_x, max_y;
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

// Why a pipeline rejected its input. The message is the text the caller sees; the kind lets
// callers tell the cases apart without reading the text.
enum class FailureKind : std::uint8_t {
  invalid_feature_size,  // not a positive finite number
  width_lists,           // per_curve_widths inconsistent with the curves
  node_limit,            // skeleton above max_nodes
  boundary_points,       // boundary preprocessing would create too many points
  work_limit,            // the parameters ask for more work than any call may do
  interrupted,           // the caller asked the call to stop
  invalid_geometry,      // filled shapes that cannot be read as a region (NaN, out of range,
                         // no area) or a buffer_distance given for them that is not positive
};

struct Failure {
  FailureKind kind = FailureKind::invalid_feature_size;
  std::string message;
  std::optional<std::size_t> job_index;  // the batch job that failed, set by the batch
};

// A pipeline either produces a value or rejects its input with a Failure; nothing throws but
// memory exhaustion.
template <class T>
struct [[nodiscard]] Outcome {
  T value{};
  std::optional<Failure> failure;

  bool ok() const { return !failure.has_value(); }
  const std::string& message() const { return failure->message; }
  static Outcome fail(Failure f) {
    Outcome out;
    out.failure = std::move(f);
    return out;
  }
  static Outcome fail(FailureKind kind, std::string message) {
    return fail(Failure{kind, std::move(message), std::nullopt});
  }
};

// The one failure of a call that its caller stopped.
template <class T>
Outcome<T> interrupted() {
  return Outcome<T>::fail(FailureKind::interrupted, "interrupted");
}

}  // namespace strandify
