#include <type_traits>
#include <cmath>
#include <cstdint>
#include <limits>

#include "check.hpp"
#include "nearest_vertex.hpp"

using namespace strandify;

namespace {

double brute(const std::vector<Point>& pts, Point p) {
  double best = std::numeric_limits<double>::infinity();
  for (const Point& b : pts) {
    const double dx = p.x - b.x, dy = p.y - b.y;
    const double d = dx * dx + dy * dy;
    if (d < best) best = d;
  }
  return best;
}

struct Lcg {
  std::uint64_t s;
  double next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(s >> 11) * 0x1.0p-53;
  }
};

}  // namespace

// The grid must return exactly what scanning every vertex returns, for clustered, collinear,
// duplicated and sparse vertex sets, and for queries inside, on and outside their extent.
TEST(grid_search_equals_full_scan) {
  Lcg rng{7};
  for (int shape = 0; shape < 5; ++shape) {
    std::vector<Point> pts;
    for (int i = 0; i < 3000; ++i) {
      const double u = rng.next(), v = rng.next();
      switch (shape) {
        case 0: pts.push_back({u * 100, v * 100}); break;
        case 1: pts.push_back({u * 1000, 3.0}); break;                       // collinear
        case 2: pts.push_back({std::round(u * 5), std::round(v * 5)}); break;  // duplicates
        case 3: pts.push_back({u < 0.5 ? u : 1e6 + u, v}); break;            // two far clusters
        default: pts.push_back({std::cos(u * 6.3) * 50, std::sin(u * 6.3) * 50}); break;
      }
    }
    const NearestVertexIndex index(pts);
    for (int q = 0; q < 2000; ++q) {
      const Point p{(rng.next() * 1.4 - 0.2) * (shape == 3 ? 1e6 : shape == 1 ? 1000 : 100),
                    (rng.next() * 1.4 - 0.2) * 100};
      CHECK_EQ(index.min_squared_distance(p), brute(pts, p));
    }
    for (const Point& p : {pts[0], pts[17], Point{-1e9, 5}})
      CHECK_EQ(index.min_squared_distance(p), brute(pts, p));
  }
}

TEST(empty_and_non_finite) {
  const std::vector<Point> none;
  CHECK(std::isinf(NearestVertexIndex(none).min_squared_distance({0, 0})));
  std::vector<Point> pts;
  for (int i = 0; i < 100; ++i) pts.push_back({double(i), double(i % 7)});
  const NearestVertexIndex index(pts);
  CHECK(std::isinf(index.min_squared_distance({std::nan(""), 0})));
  CHECK(std::isinf(index.min_squared_distance({std::numeric_limits<double>::infinity(), 0})));
}

// The index keeps a reference to its vertices: building it from a temporary must not compile.
static_assert(!std::is_constructible_v<NearestVertexIndex, std::vector<Point>&&>);
static_assert(std::is_constructible_v<NearestVertexIndex, const std::vector<Point>&>);
