// Boundary preprocessing: simplification, subdivision, corner-anchored resampling and
// curvature-driven refinement of the buffer polygons' rings before triangulation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "box_tree.hpp"
#include "settings.hpp"
#include "types.hpp"

namespace strandify {

// --- ring simplification and subdivision -------------------------------------------------

// Ramer-Douglas-Peucker over an open path (first to last point). Callers simplify only with
// epsilon > 0; any other epsilon still terminates, since no range is split where no point
// lies off its chord.
// Iterative, so a path of millions of points cannot exhaust a worker thread's stack.
std::vector<Point> rdp(const std::vector<Point>& points, double epsilon);

// Splits every edge of the closed ring (closing edge included) into pieces of at most
// `max_edge`. Precondition: max_edge > 0.
Ring subdivide_ring(const Ring& ring, double max_edge);

// --- uniform resampling with corner anchors ----------------------------------------------

// Ascending indices of the vertices where the direction of travel turns by more than
// `corner_angle` (radians), to either side.
std::vector<std::size_t> corner_anchors(const Ring& ring, double corner_angle);
// Points a, a+1, ..., b with cyclic indices; a == b goes once around (n + 1 points).
std::vector<Point> ring_span(const Ring& ring, std::size_t a, std::size_t b);
// Equal arc-length pieces of an open path, about `spacing` long; keeps both ends.
std::vector<Point> resample_span_open(const std::vector<Point>& span, double spacing);
// Resamples the ring by arc length between corner anchors, which survive exactly.
Ring resample_ring(const Ring& ring, double spacing, double corner_angle);

// --- curvature index and adaptive refinement ---------------------------------------------

// Sharply turning boundary vertices of one call, bucketed on a uniform grid.
class CurvatureIndex {
 public:
  explicit CurvatureIndex(double cell_size);

  // Records every vertex of `ring` that turns by at least `angle_threshold`. With a
  // `convex_weight` other than 1, a vertex where the ring turns away from the region it bounds
  // (the region inside an outer ring, outside a `hole`) is recorded with its angle times that
  // weight.
  void add_ring(const Ring& ring, double angle_threshold, double convex_weight = 1.0,
                bool hole = false);
  // Files the recorded vertices into their cells, after the last add_ring. Queries before it
  // (or after a later add_ring) give the same answers by looking at every vertex.
  void finish();
  // Largest turning angle near `q`, full weight within `inner`, fading to 0 at `outer`.
  double max_angle_near(Point q, double inner, double outer) const;

  double cell_size() const { return cell_size_; }
  std::size_t size() const { return entries_.size(); }

 private:
  struct CellKey {
    std::int64_t x;
    std::int64_t y;
    bool operator==(const CellKey& o) const { return x == o.x && y == o.y; }
  };
  struct Entry {
    Point position;
    double angle;
    CellKey key;  // key_of(position), kept so that queries need not recompute it
  };
  struct CellHash {
    std::size_t operator()(const CellKey& k) const;
  };

  CellKey key_of(Point p) const;
  std::size_t dense_cell(const CellKey& k) const;
  double weighted_angle(const Entry& e, Point q, double inner, double outer) const;

  double cell_size_;
  double inv_cell_;
  std::vector<Entry> entries_;
  // Cells whose key saturated (coordinates beyond 2^63 cells from the origin, as with a tiny
  // cell size) would gather a whole quadrant of entries in one bucket and make every query
  // scan it. Their entries are kept ordered by the saturated coordinate instead, so a query
  // looks only at those within reach.
  std::vector<std::size_t> gridded_;  // entries with finite keys, in the order recorded
  bool filed_ = true;                  // finish() has seen every entry
  // After finish(): where the occupied cells span few enough cells, a dense grid of them
  // (cell_start_ offsets into cell_entries_, row by row from min_key_); otherwise a map.
  CellKey min_key_{0, 0};
  std::int64_t width_ = 0;
  std::int64_t height_ = 0;
  std::vector<std::size_t> cell_start_;
  std::vector<std::size_t> cell_entries_;
  std::unordered_map<CellKey, std::vector<std::size_t>, CellHash> cells_;
  std::multimap<double, std::size_t> saturated_x_;  // x key saturated, ordered by x
  std::multimap<double, std::size_t> saturated_y_;  // only the y key saturated, ordered by y

  // A crowded index (a boundary resampled far more finely than the refinement radius puts
  // thousands of turns into every cell) makes each cell query scan them all, which is
  // quadratic in the points. finish() then also files the entries into a tree of boxes, each
  // knowing its largest angle: a query skips every box that cannot beat the best weighted
  // angle found so far. The answer is the same maximum; only fewer entries are looked at.
  void build_boxes();
  void sort_sharpest_first(std::vector<std::size_t>::iterator first,
                           std::vector<std::size_t>::iterator last) const;
  double box_bound(std::size_t box, Point q, double inner, double outer) const;
  BoxTree boxes_;
  std::vector<double> box_max_angle_;  // per box of boxes_
};

// Subdivides each edge more finely the sharper the boundary turns near its midpoint.
Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index,
                            const RefinementSettings& refinement);
// Arc-length walk with a step that shrinks near recorded turns; keeps both ends.
std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& span,
                                               const CurvatureIndex& index, double spacing,
                                               const RefinementSettings& refinement);
// resample_ring with every span walked by adaptive_resample_span_open.
Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            const RefinementSettings& refinement, double corner_angle);

// The same with the refinement settings resolved from (buffer_distance, ratio).
Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index, double buffer_distance,
                            double ratio);
std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& span,
                                               const CurvatureIndex& index, double spacing,
                                               double buffer_distance, double ratio);
Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            double buffer_distance, double ratio, double corner_angle);

// --- point counts, computed without emitting the points ----------------------------------

// Exactly ring.size() of the corresponding function's result, as a double so that absurd
// spacings give huge counts instead of wrapping.
double subdivided_ring_size(const Ring& ring, double max_edge);
double resample_ring_size(const Ring& ring, double spacing, double corner_angle);
double refined_ring_size(const Ring& ring, const CurvatureIndex& index,
                         const RefinementSettings& refinement);

// Size of resample_ring_adaptive's result, counted by walking the ring, but only until more
// than `budget` points have been counted: `complete` is then false, `points` exceeds the
// budget and `arc_walked` tells how much of the boundary length the count covers.
struct WalkCount {
  double points = 0.0;
  double arc_walked = 0.0;
  bool complete = true;
};
WalkCount adaptive_ring_size(const Ring& ring, const CurvatureIndex& index, double spacing,
                             const RefinementSettings& refinement, double corner_angle,
                             double budget);

namespace detail {
// The ring shape both resamplers share: anchors, one span per pair of consecutive anchors
// (each span's last sample dropped), or the whole closed ring when there is no anchor.
using SpanResampler = std::function<std::vector<Point>(const std::vector<Point>&)>;
using SpanSizer = std::function<double(const std::vector<Point>&)>;
Ring resample_ring_by_spans(const Ring& ring, double spacing, double corner_angle,
                            const SpanResampler& resample_span);
double ring_size_by_spans(const Ring& ring, double spacing, double corner_angle,
                          const SpanSizer& span_size);
// Arc length of an open path, accumulated from its first point in order.
double span_length(const std::vector<Point>& span);
// The arc length up to each point of an open path, accumulated as span_length does.
std::vector<double> cumulative_lengths(const std::vector<Point>& span);
// The point at arc position s of the path, for walks whose positions only grow: `piece` is
// where the previous position lay, advanced in place. Past the last piece, the last point.
Point point_at_arc(const std::vector<Point>& span, const std::vector<double>& cumulative,
                   double s, std::size_t& piece);
// The ring with edge i (from point i to the next, the closing edge last) cut into pieces[i]
// equal pieces; a count below 2 leaves the edge whole. The output is allocated once when its
// size stays within `reserve_limit`.
Ring split_edges(const Ring& ring, const std::vector<std::uint64_t>& pieces,
                 std::uint64_t reserve_limit);
// Cosine of the turning angle at `p`, or NaN when an incident edge is shorter than 1e-12 (such
// a vertex has no turning angle, and NaN fails every comparison).
double turning_cosine(Point prev, Point p, Point next);
// The same with the edge lengths given, as root_sum_squares_distance(prev, p) and (p, next):
// a walk around a ring measures each edge once for the two vertices it joins.
double turning_cosine(Point prev, Point p, Point next, double lu, double lv);
}  // namespace detail

// --- the stage ---------------------------------------------------------------------------

struct BoundaryOptions {
  std::optional<double> subdivision_ratio;
  std::optional<double> resample;
  std::optional<double> boundary_simplification;
  std::uint64_t max_points = kMaxBoundaryPoints;  // lowered only by tests
};

// The boundary settings of one call plus the curvature index over every ring of the call.
// Conditioning a polygon is then a pure function of the polygon, so a polygon can be
// conditioned again (for instance without simplification) against the very same index.
class BoundaryConditioner {
 public:
  // Builds the index over all rings of `polygons` (complete before any ring is refined).
  // Fails when the settings would create more than settings.max_points boundary points.
  static Outcome<BoundaryConditioner> build(const std::vector<Polygon>& polygons,
                                            const BoundarySettings& settings);
  // The same with the settings resolved from buffer_distance, feature_size and the options.
  static Outcome<BoundaryConditioner> build(const std::vector<Polygon>& polygons,
                                            double buffer_distance, double feature_size,
                                            const BoundaryOptions& options);

  // With `simplify` false the rings are not simplified; everything else is unchanged. When the
  // unsimplified rings of the build call could exceed the point limit, simplifies() is false
  // and `simplify` is ignored: the polygon is then always conditioned with simplification.
  Polygon condition(const Polygon& polygon, bool simplify) const;
  // The same as condition(polygons[i], true) for the polygons of the build call, but reuses
  // the simplification (and subdivision) that build already did.
  Polygon condition_built(std::size_t i) const;
  std::size_t built_size() const { return first_pass_.size(); }
  bool simplifies() const;  // whether `simplify` makes any difference

  const BoundarySettings& settings() const { return s_; }

  // A bound on the ring points that conditioning `polygons` creates, without simplifying or
  // refining anything (linear in their points): how long the stages after it will run.
  static double size_bound(const std::vector<Polygon>& polygons, const BoundarySettings& settings);

 private:
  friend Outcome<std::vector<Polygon>> preprocess_boundaries(std::vector<Polygon> polygons,
                                                             const BoundarySettings& settings);

  std::optional<Failure> prepare(const std::vector<Polygon>& polygons);
  std::optional<Failure> check_refined_size() const;
  double first_pass_size(const Ring& ring) const;
  double refined_size_bound(double points, double perimeter) const;
  double refinement_step_floor() const;
  double unsimplified_size_bound(const std::vector<Polygon>& polygons) const;
  Ring first_pass(const Ring& ring, bool simplify) const;
  Ring finish(const Ring& first_pass_ring) const;
  Ring finish(Ring&& first_pass_ring) const;

  BoundarySettings s_;
  std::optional<CurvatureIndex> index_;  // present exactly when refinement is enabled
  std::vector<Polygon> first_pass_;      // the build call's rings, simplified (and subdivided)
  bool unsimplified_fits_ = true;
};

// The whole stage: every ring simplified, subdivided or resampled, then refined.
Outcome<std::vector<Polygon>> preprocess_boundaries(std::vector<Polygon> polygons,
                                                    const BoundarySettings& settings);
Outcome<std::vector<Polygon>> preprocess_boundaries(std::vector<Polygon> polygons,
                                                    double buffer_distance, double feature_size,
                                                    const BoundaryOptions& options);

// Boundary settings resolved from the options, with the options' point limit.
BoundarySettings resolve_boundary(double buffer_distance, double feature_size,
                                  const BoundaryOptions& options);

}  // namespace strandify
