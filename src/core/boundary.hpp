// Boundary preprocessing: simplification, subdivision, corner-anchored resampling and
// curvature-driven refinement of the buffer polygons' rings before triangulation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "types.hpp"

namespace strandify {

// --- ring simplification and subdivision -------------------------------------------------

// Ramer-Douglas-Peucker over an open path (first to last point). Precondition: epsilon > 0.
// Iterative, so a path of millions of points cannot exhaust a worker thread's stack.
std::vector<Point> rdp(const std::vector<Point>& points, double epsilon);

// Splits every edge of the closed ring (closing edge included) into pieces of at most
// `max_edge`. Precondition: max_edge > 0.
Ring subdivide_ring(const Ring& ring, double max_edge);

// --- uniform resampling with corner anchors ----------------------------------------------

std::vector<std::size_t> corner_anchors(const Ring& ring, double corner_angle);
std::vector<Point> ring_span(const Ring& ring, std::size_t a, std::size_t b);
std::vector<Point> resample_span_open(const std::vector<Point>& span, double spacing);
Ring resample_ring(const Ring& ring, double spacing, double corner_angle);

// --- curvature index and adaptive refinement ---------------------------------------------

class CurvatureIndex {
 public:
  explicit CurvatureIndex(double cell_size);

  void add_ring(const Ring& ring, double angle_threshold);
  // Largest turning angle near `q`, full weight within `inner`, fading to 0 at `outer`.
  double max_angle_near(Point q, double inner, double outer) const;

  double cell_size() const { return cell_size_; }
  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    Point position;
    double angle;
  };
  struct CellKey {
    std::int64_t x;
    std::int64_t y;
    bool operator==(const CellKey& o) const { return x == o.x && y == o.y; }
  };
  struct CellHash {
    std::size_t operator()(const CellKey& k) const;
  };

  double cell_size_;
  double inv_cell_;
  std::vector<Entry> entries_;
  std::unordered_map<CellKey, std::vector<std::size_t>, CellHash> cells_;
};

Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index, double buffer_distance,
                            double ratio);
std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& span,
                                               const CurvatureIndex& index, double spacing,
                                               double buffer_distance, double ratio);
Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            double buffer_distance, double ratio, double corner_angle);

// --- the stage ---------------------------------------------------------------------------

struct BoundaryOptions {
  std::optional<double> subdivision_ratio;
  std::optional<double> resample;
  std::optional<double> boundary_simplification;
};

// Settings derived once per call from feature_size, buffer_distance and the options, plus the
// curvature index over every ring of the call. Conditioning a polygon is then a pure function
// of the polygon, so a polygon can be conditioned again (for instance without simplification)
// against the very same index.
class BoundaryConditioner {
 public:
  // Builds the index over all rings of `polygons` (complete before any ring is refined).
  // Fails when the settings would create an unreasonable number of boundary points.
  static Outcome<BoundaryConditioner> build(const std::vector<Polygon>& polygons,
                                            double feature_size, double buffer_distance,
                                            const BoundaryOptions& options);

  Polygon condition(const Polygon& polygon, bool simplify) const;
  bool simplifies() const;  // whether `simplify` makes any difference

  // public for the derived-settings tests
  double simplification_tolerance = 0.0;
  double max_edge = 0.0;
  double refinement_ratio = 0.5;
  bool refinement_enabled = false;
  std::optional<double> resample_spacing;
  double index_cell_size = 1.0;
  double index_angle_threshold = 0.0;
  double buffer_distance = 0.0;

 private:
  std::optional<CurvatureIndex> index_;
};

// The whole stage: every ring simplified, subdivided or resampled, then refined.
Outcome<std::vector<Polygon>> preprocess_boundaries(std::vector<Polygon> polygons,
                                                    double feature_size, double buffer_distance,
                                                    const BoundaryOptions& options);

}  // namespace strandify
