#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "boundary.hpp"
#include "check.hpp"

using strandify::Point;
using strandify::rdp;
using strandify::Ring;
using strandify::subdivide_ring;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_bits(const std::vector<Point>& a, const std::vector<Point>& b) {
  if (a.size() != b.size()) return false;
  return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Point)) == 0;
}

// The textbook recursive form, kept deliberately naive as the reference for the iterative one.
std::vector<Point> reference_rdp(const std::vector<Point>& p, double eps) {
  const std::size_t n = p.size();
  if (n <= 2) return p;
  const Point first = p.front(), last = p.back();
  const double dx = last.x - first.x, dy = last.y - first.y;
  const double l2 = dx * dx + dy * dy;
  double m = 0.0;
  std::size_t k = 0;
  for (std::size_t i = 1; i + 1 < n; ++i) {
    double d;
    if (l2 != 0.0) {
      const double t = ((p[i].x - first.x) * dx + (p[i].y - first.y) * dy) / l2;
      const double ex = (first.x + t * dx) - p[i].x, ey = (first.y + t * dy) - p[i].y;
      d = std::sqrt(ex * ex + ey * ey);
    } else {
      const double ex = p[i].x - first.x, ey = p[i].y - first.y;
      d = std::sqrt(ex * ex + ey * ey);
    }
    if (d > m) {
      m = d;
      k = i;
    }
  }
  if (eps >= m) return {first, last};
  std::vector<Point> left = reference_rdp(std::vector<Point>(p.begin(), p.begin() + k + 1), eps);
  const std::vector<Point> right = reference_rdp(std::vector<Point>(p.begin() + k, p.end()), eps);
  left.insert(left.end(), right.begin() + 1, right.end());
  return left;
}

}  // namespace

TEST(rdp_short_paths_come_back_unchanged) {
  CHECK(rdp({}, 1.0).empty());
  const std::vector<Point> one{{1, 2}};
  CHECK(same_bits(rdp(one, 1.0), one));
  const std::vector<Point> two_coincident{{1, 2}, {1, 2}};
  CHECK(same_bits(rdp(two_coincident, 1.0), two_coincident));
}

TEST(rdp_drops_points_within_and_exactly_at_epsilon) {
  const std::vector<Point> bump{{0, 0}, {1, 0.5}, {2, 0}};
  CHECK_EQ(rdp(bump, 0.5).size(), 2u);  // exactly epsilon away: dropped
  CHECK(same_bits(rdp(bump, 0.4999), bump));

  // A ring stored open collapses to two points when everything hugs the closing chord.
  const std::vector<Point> flat{{0, 0}, {1, 0.1}, {2, -0.1}, {3, 0.05}, {4, 0}};
  CHECK(same_bits(rdp(flat, 0.2), std::vector<Point>{{0, 0}, {4, 0}}));
}

TEST(rdp_tie_keeps_lowest_index_and_measures_to_extended_line) {
  // Points 1 and 2 are both 1 away from the chord; splitting at 1 lets point 2 fall away.
  const std::vector<Point> plateau{{0, 0}, {1, 1}, {2, 1}, {3, 0}};
  CHECK(same_bits(rdp(plateau, 0.5), std::vector<Point>{{0, 0}, {1, 1}, {3, 0}}));

  // (-5, 0) lies on the line beyond the first point: distance 0, not 5.
  const std::vector<Point> overshoot{{0, 0}, {-5, 0}, {1, 0}};
  CHECK(same_bits(rdp(overshoot, 0.5), std::vector<Point>{{0, 0}, {1, 0}}));
}

TEST(rdp_coincident_ends_measure_from_the_shared_point) {
  const std::vector<Point> loop{{0, 0}, {1, 0}, {3, 0}, {2, 0}, {0, 0}};
  CHECK(same_bits(rdp(loop, 0.5), std::vector<Point>{{0, 0}, {3, 0}, {0, 0}}));
}

TEST(rdp_nan_distance_never_splits) {
  const std::vector<Point> p{{0, 0}, {1, kNaN}, {2, 1}, {4, 0}};
  CHECK(same_bits(rdp(p, 0.5), std::vector<Point>{{0, 0}, {2, 1}, {4, 0}}));
  // Without any finite candidate the path reduces to its ends.
  const std::vector<Point> all_nan{{0, 0}, {kNaN, 1}, {1, kNaN}, {4, 0}};
  CHECK(same_bits(rdp(all_nan, 0.5), std::vector<Point>{{0, 0}, {4, 0}}));
}

TEST(rdp_without_candidate_terminates_for_nonpositive_epsilon) {
  const std::vector<Point> collinear{{0, 0}, {1, 0}, {2, 0}, {3, 0}};
  CHECK_EQ(rdp(collinear, 0.0).size(), 2u);
  CHECK_EQ(rdp(collinear, -1.0).size(), 2u);
  CHECK_EQ(rdp(collinear, kNaN).size(), 2u);
}

TEST(rdp_matches_recursive_reference_on_random_paths) {
  std::mt19937_64 rng(12345);
  int mismatches = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const std::size_t n = rng() % 120;
    // A coarse integer grid makes equal distances (ties) frequent.
    std::vector<Point> p(n);
    for (Point& q : p) q = {double(rng() % 9), double(rng() % 9)};
    if (n > 1 && trial % 3 == 0) p.back() = p.front();
    if (n > 2 && trial % 7 == 0) p[rng() % n].y = kNaN;
    const double eps = 0.25 + double(rng() % 16) * 0.25;
    if (!same_bits(rdp(p, eps), reference_rdp(p, eps))) ++mismatches;
  }
  CHECK_EQ(mismatches, 0);
}

TEST(rdp_matches_reference_on_deeply_nested_splits) {
  // A zigzag whose amplitude decays (or grows) along the path splits next to one end every
  // time, so the nesting is as deep as the path is long.
  for (double ratio : {0.995, 1.005}) {
    std::vector<Point> p;
    double amp = 1.0;
    for (int i = 0; i < 3000; ++i, amp *= ratio) p.push_back({double(i), (i % 2 ? amp : -amp)});
    CHECK(same_bits(rdp(p, 1e-3), reference_rdp(p, 1e-3)));
  }
}

TEST(rdp_handles_a_million_point_zigzag) {
  // A zigzag wrapped around a wide arc: every point survives, which visits a million nested
  // sub-paths. The arc keeps the splits balanced enough for the test to stay fast.
  const std::size_t n = 1000000;
  std::vector<Point> p(n);
  const double pi = 3.14159265358979323846;
  for (std::size_t i = 0; i < n; ++i) {
    const double a = pi * double(i) / double(n - 1);
    const double r = 1e6 + (i % 2 ? 1.0 : -1.0);
    p[i] = {r * std::cos(a), r * std::sin(a)};
  }
  const std::vector<Point> kept = rdp(p, 0.5);
  CHECK_EQ(kept.size(), n);
  CHECK(same_bits(kept, p));

  // Straight zigzag within tolerance: only the ends remain.
  for (std::size_t i = 0; i < n; ++i) p[i] = {double(i), (i % 2 ? 0.25 : -0.25)};
  p.front().y = p.back().y = 0.0;
  CHECK(same_bits(rdp(p, 0.5), std::vector<Point>{p.front(), p.back()}));
}

TEST(subdivide_short_rings_and_edge_lengths) {
  CHECK(subdivide_ring({}, 1.0).empty());
  CHECK(same_bits(subdivide_ring({{3, 4}}, 1.0), Ring{{3, 4}}));

  // Edges of exactly m, 2m and 2.5m (m = 2): 0, 1 and 2 inserted points.
  const Ring ring{{0, 0}, {2, 0}, {2, 4}, {-1, 0}};  // closing edge (-1,0)->(0,0) is 1 long
  const Ring out = subdivide_ring(ring, 2.0);
  const Ring expect{{0, 0}, {2, 0}, {2, 2}, {2, 4}, {1, 4.0 - 4.0 / 3.0}, {0, 4.0 - 8.0 / 3.0},
                    {-1, 0}};
  CHECK_EQ(out.size(), expect.size());
  for (std::size_t i = 0; i < out.size() && i < expect.size(); ++i) {
    CHECK_NEAR(out[i].x, expect[i].x, 1e-12);
    CHECK_NEAR(out[i].y, expect[i].y, 1e-12);
  }
  // The fraction j/k is formed first, then applied to the edge vector.
  CHECK_EQ(out[4].y, 4.0 + (1.0 / 3.0) * -4.0);
  CHECK_EQ(out[5].x, 2.0 + (2.0 / 3.0) * -3.0);

  // Ten pieces: 3/10 and 3 * (1/10) differ in the last bit.
  const Ring long_edge = subdivide_ring({{0, 0}, {0, 10}}, 1.0);
  CHECK_EQ(long_edge.size(), 20u);
  CHECK_EQ(long_edge[3].y, (3.0 / 10.0) * 10.0);
  CHECK_EQ(long_edge[3].y, 3.0);
}

TEST(subdivide_two_point_ring_goes_out_and_back) {
  const Ring out = subdivide_ring({{0, 0}, {3, 0}}, 1.0);
  CHECK(same_bits(out, Ring{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {2, 0}, {1, 0}}));
}

TEST(subdivide_keeps_a_duplicate_closing_point) {
  const Ring ring{{0, 0}, {2, 0}, {2, 2}, {0, 0}};
  const Ring out = subdivide_ring(ring, 2.0);
  // Only the diagonal (length 2.83) is split; the zero-length closing edge is left alone.
  CHECK(same_bits(out, Ring{{0, 0}, {2, 0}, {2, 2}, {1, 1}, {0, 0}}));
}

TEST(subdivide_leaves_unmeasurable_edges_whole) {
  const double inf = std::numeric_limits<double>::infinity();
  const Ring nan_ring{{0, 0}, {kNaN, 0}, {5, 5}};
  CHECK_EQ(subdivide_ring(nan_ring, 1.0).size(), 3u + 7u);  // only (5,5)->(0,0) is split
  const Ring inf_ring{{0, 0}, {inf, 0}, {0, 1}};
  CHECK_EQ(subdivide_ring(inf_ring, 1.0).size(), 3u);
}
