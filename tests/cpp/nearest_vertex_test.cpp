#include <type_traits>
#include <chrono>
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

// The index must return exactly what scanning every vertex returns, for clustered, collinear,
// duplicated and sparse vertex sets, and for queries inside, on and outside their extent.
TEST(index_search_equals_full_scan) {
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

// Chain points of a wide shape lie far from its finely subdivided boundary; a search whose
// cost grows with that distance took minutes on such shapes.
TEST(queries_far_inside_a_fine_boundary_are_exact_and_fast) {
  std::vector<Point> ring;
  const int n = 400000;
  for (int i = 0; i < n; ++i) {
    const double a = 6.283185307179586 * i / n;
    ring.push_back({9.0 * std::cos(a), 4.0 * std::sin(a)});
  }
  const NearestVertexIndex index(ring);
  Lcg rng{3};
  // Timed against scans of every vertex, so that the bound holds in any build: 20,000
  // queries must cost less than 2,000 full scans (a search that grows with the distance to
  // the boundary costs several times more).
  auto clock = std::chrono::steady_clock::now();
  for (int q = 0; q < 200; ++q) {
    const Point p{rng.next() * 12 - 6, rng.next() * 4 - 2};
    CHECK_EQ(index.min_squared_distance(p), brute(ring, p));
  }
  const auto elapsed = [&clock] {
    const auto now = std::chrono::steady_clock::now();
    const double s = std::chrono::duration<double>(now - clock).count();
    clock = now;
    return s;
  };
  const double scans = elapsed();
  double total = 0.0;
  for (int q = 0; q < 20000; ++q) total += index.min_squared_distance({-8.0 + 16.0 * q / 20000, 0.0});
  const double queries = elapsed();
  CHECK(total > 0.0);
  CHECK(queries < 10.0 * scans);
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
