// The boundary the finishing steps measure against: every ring edge of the polygons a skeleton
// graph came from, filed in a uniform grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "types.hpp"

namespace strandify {

// The boundary edges of all polygons in a uniform grid: the steps cast short rays against it
// and measure radii. Each edge remembers its polygon (the order polygons were added in).
class BoundaryEdges {
 public:
  explicit BoundaryEdges(double cell);
  void reserve(std::size_t sides);  // room for this many ring edges in all
  void add_polygon(const Polygon& polygon);
  void build();  // after the last add_polygon, before any query

  // Smallest t in (0, max_t] at which origin + t * dir crosses an edge; -1 when none does.
  double first_hit(Point origin, Point dir, double max_t) const;
  // Distance from p to the nearest edge, or `limit` when none is nearer.
  double distance_within(Point p, double limit) const;
  // The polygon whose boundary a ray from p toward +x meets first, which is the polygon that
  // contains p; -1 when the ray meets nothing.
  std::int64_t polygon_of(Point p) const;

  std::size_t polygon_count() const { return centres_.size(); }
  Point centre(std::size_t polygon) const { return centres_[polygon]; }

 private:
  struct Side {
    Point a;
    Point b;
    std::uint32_t polygon;
  };
  struct Entry {
    std::uint64_t cell;
    std::uint32_t side;
  };

  void sort_entries();
  std::int64_t column(double x) const;
  std::int64_t row(double y) const;
  double axis_gap(double v, double origin, std::int64_t c, std::int64_t count) const;
  // Entries of one cell, as a range into entries_.
  std::pair<std::size_t, std::size_t> cell_entries(std::int64_t cx, std::int64_t cy) const;

  double cell_;
  std::vector<Side> sides_;
  std::vector<Point> centres_;
  std::vector<Entry> entries_;  // sorted by cell, then side
  std::vector<std::size_t> cell_starts_;  // per cell, its first entry (dense grids only)
  double min_x_ = 0.0, min_y_ = 0.0, max_x_ = 0.0;
  std::int64_t nx_ = 0, ny_ = 0;
};

}  // namespace strandify
