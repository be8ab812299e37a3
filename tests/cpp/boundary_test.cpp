#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "boundary.hpp"
#include "check.hpp"

using namespace strandify;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kPi = 3.141592653589793;
const double k15 = 0.2617993877991494;
const double k45 = 0.7853981633974483;
const double k60 = 1.0471975511965976;
const double k90 = 1.5707963267948966;

bool same_bits(const std::vector<Point>& a, const std::vector<Point>& b) {
  if (a.size() != b.size()) return false;
  return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Point)) == 0;
}

bool same_polygons(const std::vector<Polygon>& a, const std::vector<Polygon>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same_bits(a[i].outer, b[i].outer) || a[i].holes.size() != b[i].holes.size()) return false;
    for (std::size_t j = 0; j < a[i].holes.size(); ++j)
      if (!same_bits(a[i].holes[j], b[i].holes[j])) return false;
  }
  return true;
}

bool contains(const std::vector<Point>& ring, Point p) {
  for (const Point& q : ring)
    if (q == p) return true;
  return false;
}

Ring square(double x0, double y0, double side) {
  return {{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}};
}

// Twelve edges of length exactly 5 built from 3-4-5 triangles: perimeter exactly 60, and no
// turn reaches 60 degrees, so resampling sees no anchor.
Ring dodecagon() {
  return {{0, 0},   {5, 0},   {9, 3},  {12, 7}, {12, 12}, {9, 16},
          {5, 19},  {0, 19},  {-4, 16}, {-7, 12}, {-7, 7},  {-4, 3}};
}

Ring star(double cx, double cy, double r_out, double r_in, int spikes, double phase) {
  Ring r;
  for (int i = 0; i < 2 * spikes; ++i) {
    const double a = phase + kPi * i / spikes;
    const double rad = i % 2 == 0 ? r_out : r_in;
    r.push_back({cx + rad * std::cos(a), cy + rad * std::sin(a)});
  }
  return r;
}

// A vertex at the origin whose turning angle makes the queries below hit exact values; its
// two neighbours lie far outside every query radius.
Ring right_angle_at_origin() { return {{64, 0}, {0, 0}, {0, 64}}; }
Ring odd_angle_at_origin() { return {{64, 0}, {0, 0}, {-266, 1000}}; }
// Query distance from the origin at which the odd angle, weighted with bd = 1, is exactly 15
// degrees: w = 1 - (d - 3) and w * angle rounds to 0.2617993877991494.
const double kDistanceFor15 = 3.8002776141447718;

BoundaryOptions options(std::optional<double> ratio = std::nullopt,
                        std::optional<double> resample = std::nullopt,
                        std::optional<double> simplification = std::nullopt) {
  BoundaryOptions o;
  o.subdivision_ratio = ratio;
  o.resample = resample;
  o.boundary_simplification = simplification;
  return o;
}

BoundaryConditioner settings(double bd, double fs, const BoundaryOptions& o) {
  auto built = BoundaryConditioner::build({}, bd, fs, o);
  CHECK(built.ok());
  return built.value;
}

// A copy: the settings of a temporary conditioner would not outlive the check reading them.
BoundarySettings derived(double bd, double fs, const BoundaryOptions& o) {
  return settings(bd, fs, o).settings();
}

// The stage written out step by step from the primitives, as the independent reference for
// the conditioner's orchestration.
std::vector<Polygon> reference_stage(std::vector<Polygon> polys, double bd, double fs,
                                     double tol, double ratio, bool refine,
                                     std::optional<double> h, double threshold) {
  std::vector<Ring*> rings;
  for (Polygon& p : polys) {
    rings.push_back(&p.outer);
    for (Ring& r : p.holes) rings.push_back(&r);
  }
  for (Ring* r : rings) {
    if (tol > 0) *r = rdp(*r, tol);
    if (!h) *r = subdivide_ring(*r, 1.5 * fs);
  }
  if (!refine) {
    if (h)
      for (Ring* r : rings) *r = resample_ring(*r, *h, k60);
    return polys;
  }
  CurvatureIndex index(4 * bd);
  for (Ring* r : rings) index.add_ring(h ? resample_ring(*r, *h, k60) : *r, threshold);
  for (Ring* r : rings)
    *r = h ? resample_ring_adaptive(*r, index, *h, bd, ratio, k60)
           : refine_ring_from_index(*r, index, bd, ratio);
  return polys;
}

std::vector<Polygon> sample_polygons() {
  Polygon a;
  a.outer = star(0, 0, 12, 5, 7, 0.1);
  a.holes.push_back(square(-1.5, -1.5, 3));
  a.holes.push_back(star(0.5, 0.2, 0.9, 0.4, 3, 0.3));
  Polygon b;
  b.outer = dodecagon();
  for (Point& p : b.outer) p.x += 30;
  Polygon c;  // fine wiggles that simplification removes
  for (int i = 0; i < 200; ++i) {
    const double a2 = 2 * kPi * i / 200;
    const double r = 6 + 0.01 * ((i % 2) ? 1 : -1);
    c.outer.push_back({-30 + r * std::cos(a2), r * std::sin(a2)});
  }
  return {a, b, c};
}

}  // namespace

// --- corner anchors and uniform resampling -----------------------------------------------

TEST(resample_square_keeps_corners_and_starts_at_first_anchor) {
  const Ring sq = square(0, 0, 10);
  CHECK_EQ(corner_anchors(sq, k60).size(), 4u);
  const Ring r = resample_ring(sq, 1.0, k60);
  CHECK_EQ(r.size(), 40u);
  CHECK(r[0] == sq[0]);
  CHECK(r[10] == sq[1]);
  CHECK(r[20] == sq[2]);
  CHECK(r[30] == sq[3]);
  for (std::size_t i = 0; i + 1 < r.size(); ++i) {
    const double len = std::hypot(r[i + 1].x - r[i].x, r[i + 1].y - r[i].y);
    CHECK_NEAR(len, 1.0, 1e-12);
  }
}

TEST(resample_starts_at_lowest_anchor_not_at_first_point) {
  // Vertex 0 sits in the middle of the bottom edge; the first corner is vertex 1.
  const Ring r{{5, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
  const std::vector<std::size_t> anchors = corner_anchors(r, k60);
  CHECK(anchors == (std::vector<std::size_t>{1, 2, 3, 4}));
  const Ring out = resample_ring(r, 2.5, k60);
  CHECK(out[0] == r[1]);
  CHECK_EQ(out.size(), 16u);
  CHECK(contains(out, r[0]));  // 5 is a whole number of spacings from the corner at 0
}

TEST(resample_octagon_has_no_anchors_and_starts_at_first_point) {
  Ring oct;
  for (int i = 0; i < 8; ++i) oct.push_back({std::cos(kPi * i / 4), std::sin(kPi * i / 4)});
  CHECK(corner_anchors(oct, k60).empty());
  const Ring r = resample_ring(oct, 0.1, k60);
  CHECK(r[0] == oct[0]);
  CHECK_EQ(r.size(), 61u);  // perimeter 6.12 at spacing 0.1
  CHECK(!(r.back() == r.front()));
}

TEST(resample_without_anchors_short_perimeter_thresholds) {
  const Ring d = dodecagon();  // perimeter exactly 60
  CHECK(corner_anchors(d, k60).empty());
  CHECK(same_bits(resample_ring(d, 24.1, k60), d));  // T/s just below 2.5: unchanged
  // T/s = 2.5 exactly rounds away from zero to 3 pieces.
  const Ring three = resample_ring(d, 24.0, k60);
  CHECK(same_bits(three, Ring{{0, 0}, {12, 12}, {-4, 16}}));
  CHECK_EQ(resample_ring(d, 60.0 / 3.4, k60).size(), 3u);
  CHECK_EQ(resample_ring(d, 17.0, k60).size(), 4u);  // T/s = 3.53
}

TEST(resample_degenerate_inputs) {
  const Ring two{{0, 0}, {1, 0}};
  CHECK(same_bits(resample_ring(two, 0.1, k60), two));
  const Ring sq = square(0, 0, 10);
  CHECK(same_bits(resample_ring(sq, 0.0, k60), sq));
  CHECK(same_bits(resample_ring(sq, -1.0, k60), sq));
  // A duplicated point gives its neighbours a zero-length edge: no anchor there.
  const Ring dup{{0, 0}, {10, 0}, {10, 0}, {10, 10}, {0, 10}};
  CHECK(corner_anchors(dup, k60) == (std::vector<std::size_t>{0, 3, 4}));
  // A span no longer than 1e-12 keeps only its ends.
  const std::vector<Point> tiny{{0, 0}, {1e-13, 0}, {2e-13, 0}};
  CHECK(same_bits(resample_span_open(tiny, 1.0), std::vector<Point>{{0, 0}, {2e-13, 0}}));
  CHECK(resample_span_open({}, 1.0).empty());
  // An infinite length cannot be cut into finitely many pieces.
  const std::vector<Point> huge{{-1e308, 0}, {1e308, 0}};
  CHECK_EQ(resample_span_open(huge, 1.0).size(), 2u);
}

TEST(ring_span_wraps_and_goes_around_once) {
  const Ring sq = square(0, 0, 1);
  CHECK(same_bits(ring_span(sq, 3, 1), std::vector<Point>{sq[3], sq[0], sq[1]}));
  const std::vector<Point> all = ring_span(sq, 2, 2);
  CHECK_EQ(all.size(), 5u);
  CHECK(all.front() == sq[2] && all.back() == sq[2]);
}

TEST(resample_span_open_equal_pieces) {
  const std::vector<Point> span{{0, 0}, {3, 0}, {3, 4}};  // length 7
  const std::vector<Point> r = resample_span_open(span, 2.0);  // round(3.5) = 4 pieces
  CHECK_EQ(r.size(), 5u);
  CHECK(r[0] == span[0]);
  CHECK_NEAR(r[1].x, 1.75, 1e-15);
  CHECK_NEAR(r[2].y, 0.5, 1e-15);
  CHECK_NEAR(r[4].y, 4.0, 1e-15);
}

// --- the curvature index -----------------------------------------------------------------

TEST(index_threshold_is_inclusive_and_skips_duplicated_neighbours) {
  CurvatureIndex idx(4.0);
  idx.add_ring(right_angle_at_origin(), k90);
  CHECK_EQ(idx.size(), 3u);  // the corner (exactly 90 degrees) and two sharper ones
  CurvatureIndex strict(4.0);
  strict.add_ring(right_angle_at_origin(), std::nextafter(k90, 4.0));
  CHECK_EQ(strict.size(), 2u);
  CurvatureIndex dup(4.0);
  dup.add_ring({{64, 0}, {0, 0}, {0, 0}, {0, 64}}, 0.0);
  CHECK_EQ(dup.size(), 2u);  // both copies of the origin have a zero-length edge
  CurvatureIndex small(4.0);
  small.add_ring({{0, 0}, {1, 0}}, 0.0);
  CHECK_EQ(small.size(), 0u);
}

TEST(index_weights_full_within_three_and_zero_at_four) {
  CurvatureIndex idx(4.0);
  idx.add_ring(right_angle_at_origin(), k45);
  CHECK_EQ(idx.max_angle_near({-3, 0}, 3, 4), k90);
  CHECK_EQ(idx.max_angle_near({0, 3}, 3, 4), k90);  // diagonal cell neighbours too
  CHECK_EQ(idx.max_angle_near({-4, 0}, 3, 4), 0.0);
  CHECK_EQ(idx.max_angle_near({-3.5, 0}, 3, 4), 0.5 * k90);
  CHECK(idx.max_angle_near({-3.9, 0}, 3, 4) > 0.0);
  CHECK_EQ(idx.max_angle_near({-4.1, 0}, 3, 4), 0.0);
  CHECK_EQ(CurvatureIndex(4.0).max_angle_near({0, 0}, 3, 4), 0.0);
}

TEST(index_weighs_convex_turns_by_the_side_of_the_region) {
  // An L-shaped ring: five convex corners and one concave (at (10, 10)), 90 degrees each.
  const Ring ccw{{0, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 20}, {0, 20}};
  const Ring cw(ccw.rbegin(), ccw.rend());
  const auto angle_at = [](const CurvatureIndex& idx, Point p) { return idx.max_angle_near(p, 1, 2); };
  for (const Ring& ring : {ccw, cw}) {
    CurvatureIndex outer(4.0), hole(4.0), full(4.0);
    outer.add_ring(ring, k45, 0.5, false);
    hole.add_ring(ring, k45, 0.5, true);
    full.add_ring(ring, k45);
    CHECK_EQ(angle_at(full, {0, 0}), k90);
    CHECK_EQ(angle_at(full, {10, 10}), k90);
    // As an outer ring, whichever its direction: its convex corners weigh half.
    CHECK_EQ(angle_at(outer, {0, 0}), 0.5 * k90);
    CHECK_EQ(angle_at(outer, {20, 10}), 0.5 * k90);
    CHECK_EQ(angle_at(outer, {10, 10}), k90);
    // As a hole the region lies outside it, and its one convex corner is (10, 10).
    CHECK_EQ(angle_at(hole, {0, 0}), k90);
    CHECK_EQ(angle_at(hole, {10, 10}), 0.5 * k90);
  }
}

TEST(index_cell_range_guard_gives_the_same_answers) {
  // Cell sizes whose ranges span far more cells than there are entries (the fallback cell
  // size 1.0 with huge radii, a subnormal cell size whose reciprocal is infinite) must find
  // exactly the entries an ordinary grid finds.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(-20, 20);
  std::vector<Ring> rings;
  for (int i = 0; i < 30; ++i) rings.push_back(star(u(rng), u(rng), 2, 0.7, 3 + i % 4, u(rng)));
  // `scan` is never filed into cells, so it looks at every vertex: the reference.
  CurvatureIndex normal(4.0), tiny(1e-320), coarse(1e6), scan(4.0);
  for (const Ring& r : rings) {
    normal.add_ring(r, k45);
    tiny.add_ring(r, k45);
    coarse.add_ring(r, k45);
    scan.add_ring(r, k45);
  }
  normal.finish();
  tiny.finish();
  coarse.finish();
  int mismatches = 0;
  for (int i = 0; i < 500; ++i) {
    const Point q{u(rng), u(rng)};
    const double a = scan.max_angle_near(q, 3, 4);
    if (!(normal.max_angle_near(q, 3, 4) == a) || !(tiny.max_angle_near(q, 3, 4) == a) ||
        !(coarse.max_angle_near(q, 3, 4) == a))
      ++mismatches;
  }
  // A ring added after filing is found as well.
  normal.add_ring(star(60, 60, 2, 0.7, 3, 0.0), k45);
  CHECK(normal.max_angle_near({60, 60}, 3, 4) > 0.0);
  CHECK_EQ(mismatches, 0);

  const auto start = std::chrono::steady_clock::now();
  CurvatureIndex fallback(1.0);
  fallback.add_ring(right_angle_at_origin(), k45);
  CHECK_EQ(fallback.max_angle_near({5, 5}, 3e300, 4e300), kPi * 0.75);
  CHECK_EQ(fallback.max_angle_near({5, 5}, kInf, kInf), kPi * 0.75);
  CHECK_EQ(tiny.max_angle_near({0, 0}, 1e-300, 2e-300),
           normal.max_angle_near({0, 0}, 1e-300, 2e-300));
  CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(1));
}

TEST(index_with_saturated_keys_stays_fast_and_exact) {
  // With an infinite reciprocal every key off the axes saturates, so a plain grid would put a
  // whole quadrant into one bucket and scan it for every query.
  Ring zigzag;
  const int n = 40000;
  for (int i = 0; i < n; ++i) zigzag.push_back({1.0 + i, 1.0 + (i % 2) * 5.0});
  zigzag.push_back({double(n), -3.0});
  CurvatureIndex sat(1e-320);
  sat.add_ring(zigzag, k45);
  sat.finish();
  CHECK_EQ(sat.size(), std::size_t(n + 1));
  CurvatureIndex grid(4.0);
  grid.add_ring(zigzag, k45);
  grid.finish();
  const double turn = grid.max_angle_near(zigzag[1], 3, 4);  // the same at every zigzag vertex
  CHECK(turn > 2.7);
  const auto start = std::chrono::steady_clock::now();
  int wrong = 0;
  for (int i = 1; i + 1 < n; ++i) {
    const Point at = zigzag[i];
    if (!(sat.max_angle_near(at, 3e-320, 4e-320) == turn)) ++wrong;
    if (!(sat.max_angle_near({at.x + 0.5, at.y}, 3e-320, 4e-320) == 0.0)) ++wrong;
  }
  CHECK_EQ(wrong, 0);
  CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(1));
}

TEST(crowded_index_gives_the_scan_answers_fast) {
  // A boundary resampled far below the refinement radius puts every vertex of a round cap into
  // the index (each turns by more than the tiny threshold) and thousands into one cell. Jitter
  // makes the angles differ, and stars add sharp turns among them.
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> jitter(-1e-4, 1e-4), u(-3, 3);
  Ring dense;
  const int n = 60000;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * kPi * i / n;
    dense.push_back({std::cos(a) + jitter(rng), std::sin(a) + jitter(rng)});
  }
  CurvatureIndex boxed(4.0), scan(4.0);
  for (CurvatureIndex* index : {&boxed, &scan}) {
    index->add_ring(dense, 1e-6);
    index->add_ring(star(0.5, 0.2, 0.3, 0.1, 5, 0.3), 1e-6);
    index->add_ring(star(-2.5, 1.0, 0.4, 0.2, 3, 0.0), 1e-6);
  }
  boxed.finish();
  CHECK(boxed.size() > std::size_t(n / 2));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Ordinary radii, a zero inner radius, equal radii and non-finite ones (the last ones take
  // the plain cell path), and queries outside everything.
  const double radii[][2] = {{0.3, 0.6}, {0.0, 2.0}, {1.5, 1.5}, {0.2, kInf}, {nan, 1.0}, {0.5, 40}};
  int mismatches = 0;
  for (int i = 0; i < 300; ++i) {
    const Point q = i % 50 == 49 ? Point{nan, 0.0} : Point{u(rng), u(rng)};
    for (const auto& r : radii)
      if (!(boxed.max_angle_near(q, r[0], r[1]) == scan.max_angle_near(q, r[0], r[1])) &&
          !(std::isnan(boxed.max_angle_near(q, r[0], r[1])) &&
            std::isnan(scan.max_angle_near(q, r[0], r[1]))))
        ++mismatches;
  }
  CHECK_EQ(mismatches, 0);
  // One query per vertex, as refinement makes them: quadratic work took minutes here.
  const auto start = std::chrono::steady_clock::now();
  double total = 0.0;
  for (const Point& p : dense) total += boxed.max_angle_near(p, 0.5, 1.0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  CHECK(total > 0.0);
  CHECK(seconds < 2.0);
}

// --- refinement --------------------------------------------------------------------------

TEST(refine_spacing_thresholds_at_15_and_90_degrees) {
  CurvatureIndex odd(4.0);
  odd.add_ring(odd_angle_at_origin(), 1.0);
  const double d = kDistanceFor15;
  CHECK_EQ(odd.max_angle_near({-d, 0}, 3, 4), k15);
  const double d_below = std::nextafter(d, 4.0);
  CHECK(odd.max_angle_near({-d_below, 0}, 3, 4) < k15);

  // An edge of length 1.2 whose midpoint is the query point; the midpoints of the other two
  // edges are far from any turn.
  auto edge_ring = [](double x) { return Ring{{x, -0.6}, {x, 0.6}, {x - 100, 0}}; };
  const Ring at15 = refine_ring_from_index(edge_ring(-d), odd, 1.0, 0.5);
  CHECK_EQ(at15.size(), 4u);  // spacing bd: one midpoint
  CHECK(at15[1] == (Point{-d, 0}));
  CHECK_EQ(refine_ring_from_index(edge_ring(-d_below), odd, 1.0, 0.5).size(), 3u);

  CurvatureIndex right(4.0);
  right.add_ring(right_angle_at_origin(), 1.0);
  const Ring at90 = refine_ring_from_index(edge_ring(-1), right, 1.0, 0.5);
  CHECK_EQ(at90.size(), 5u);  // spacing 0.5: ceil(2.4) = 3 pieces
  CHECK_NEAR(at90[1].y, -0.2, 1e-15);
  CHECK_NEAR(at90[2].y, 0.2, 1e-15);
  // Refinement is a no-op with a disabled ratio or a short ring.
  CHECK(same_bits(refine_ring_from_index(edge_ring(-1), right, 1.0, 0.0), edge_ring(-1)));
  const Ring two{{-1, 0}, {1, 0}};
  CHECK(same_bits(refine_ring_from_index(two, right, 1.0, 0.5), two));
}

TEST(empty_index_adds_nothing_and_adaptive_steps_by_exactly_h) {
  const CurvatureIndex empty(4.0);
  const Ring sq = square(0, 0, 10);
  CHECK(same_bits(refine_ring_from_index(sq, empty, 1.0, 0.5), sq));

  const std::vector<Point> line{{0, 0}, {4, 0}, {10, 0}};
  const std::vector<Point> r = adaptive_resample_span_open(line, empty, 1.2, 1.0, 0.5);
  // Steps of exactly 1.2 until at most 1.5 x 1.2 is left: 0, 1.2, ..., 8.4, then the end.
  CHECK_EQ(r.size(), 9u);
  double s = 0.0;
  for (std::size_t i = 0; i + 1 < r.size(); ++i) {
    CHECK_EQ(r[i].x, s);
    s = s + 1.2;
  }
  CHECK(r.back() == line.back());
  CHECK_EQ(adaptive_resample_span_open({{0, 0}, {1e-13, 0}}, empty, 1.0, 1.0, 0.5).size(), 2u);
}

TEST(adaptive_spacing_shrinks_near_a_turn) {
  CurvatureIndex right(4.0);
  right.add_ring(right_angle_at_origin(), 1.0);
  const std::vector<Point> line{{-20, 1}, {20, 1}};
  const std::vector<Point> r = adaptive_resample_span_open(line, right, 1.0, 1.0, 0.5);
  double near_gap = 1e9, far_gap = 0.0;
  for (std::size_t i = 0; i + 1 < r.size(); ++i) {
    const double gap = r[i + 1].x - r[i].x;
    if (std::fabs(r[i].x) < 2) near_gap = std::min(near_gap, gap);
    if (r[i].x < -6) far_gap = std::max(far_gap, gap);
  }
  CHECK_NEAR(far_gap, 1.0, 1e-12);
  // At A = pi/2 the formula asks for h * sqrt((h / A) / (10 bd)) = 0.25, but the step never
  // goes below ratio x bd = 0.5.
  CHECK_NEAR(near_gap, 0.5, 1e-12);
  CHECK(r.front() == line.front() && r.back() == line.back());
}

// --- point counts ------------------------------------------------------------------------

TEST(point_counts_match_the_functions) {
  CurvatureIndex index(4.0);
  std::vector<Ring> rings{square(0, 0, 10), dodecagon(), star(3, 3, 6, 2, 5, 0.2),
                          Ring{{0, 0}, {7, 0}}, Ring{{0, 0}, {5, 0}, {5, 0}, {5, 5}}};
  for (const Ring& r : rings) index.add_ring(r, k45);
  int mismatches = 0;
  for (const Ring& r : rings) {
    for (double s : {0.3, 1.0, 2.5, 7.0}) {
      if (subdivided_ring_size(r, s) != double(subdivide_ring(r, s).size())) ++mismatches;
      if (resample_ring_size(r, s, k60) != double(resample_ring(r, s, k60).size())) ++mismatches;
      for (double bd : {0.5, 1.0}) {
        if (refined_ring_size(r, index, resolve_refinement(bd, 0.3)) !=
            double(refine_ring_from_index(r, index, bd, 0.3).size()))
          ++mismatches;
        const WalkCount w = adaptive_ring_size(r, index, s, resolve_refinement(bd, 0.3), k60, 1e9);
        if (!w.complete ||
            w.points != double(resample_ring_adaptive(r, index, s, bd, 0.3, k60).size()))
          ++mismatches;
      }
    }
  }
  CHECK_EQ(mismatches, 0);
  // A small budget stops the walk early and says how far it got.
  const WalkCount partial = adaptive_ring_size(square(0, 0, 100), index, 0.1, resolve_refinement(1.0, 0.3), k60, 50);
  CHECK(!partial.complete);
  CHECK(partial.points > 50);
  CHECK(partial.arc_walked > 0 && partial.arc_walked < 20);
}

// --- the stage ---------------------------------------------------------------------------

TEST(derived_settings) {
  const BoundaryConditioner d = settings(1.0, 2.0, options());
  CHECK_EQ(d.settings().simplification_tolerance, 0.1);
  CHECK_EQ(d.settings().max_edge, 3.0);
  CHECK_EQ(d.settings().refinement.ratio, 0.5);
  CHECK(d.settings().refinement_enabled);
  CHECK(!d.settings().resample_spacing);
  CHECK_EQ(d.settings().index_cell_size, 4.0);
  CHECK_EQ(d.settings().index_angle_threshold, k45);

  CHECK_EQ(derived(1, 2, options({}, {}, 0.3)).simplification_tolerance, 0.3);
  CHECK_EQ(derived(1, 2, options({}, {}, -1.0)).simplification_tolerance, 0.0);
  CHECK_EQ(derived(1, 2, options({}, {}, kNaN)).simplification_tolerance, 0.0);
  CHECK(!settings(1, 2, options({}, {}, kNaN)).simplifies());

  CHECK_EQ(derived(1, 2, options(0.001)).refinement.ratio, 0.01);
  CHECK_EQ(derived(1, 2, options(2.0)).refinement.ratio, 2.0);
  CHECK(derived(1, 2, options(2.0)).refinement_enabled);
  CHECK_EQ(derived(1, 2, options(-2.0)).refinement.ratio, -2.0);
  CHECK(!derived(1, 2, options(-2.0)).refinement_enabled);
  CHECK(!derived(1, 2, options(0.0)).refinement_enabled);
  CHECK(std::isnan(derived(1, 2, options(kNaN)).refinement.ratio));
  CHECK(!derived(1, 2, options(kNaN)).refinement_enabled);

  for (double bd : {0.0, -1.0, kNaN, kInf, 1e308}) {
    const BoundaryConditioner c = settings(bd, 2, options());
    CHECK(!c.settings().refinement_enabled);
    CHECK_EQ(c.settings().index_cell_size, 1.0);
  }
  const BoundaryConditioner sub = settings(5e-324, 2, options());
  CHECK(sub.settings().refinement_enabled);
  CHECK_EQ(sub.settings().index_cell_size, 4 * 5e-324);

  for (double r : {0.0, -1.0, kNaN}) {
    const BoundaryConditioner c = settings(1, 2, options({}, r));
    CHECK(!c.settings().resample_spacing);
    CHECK_EQ(c.settings().index_angle_threshold, k45);
  }
  const BoundaryConditioner b = settings(1, 2, options({}, 2.0));
  CHECK(b.settings().resample_spacing && *b.settings().resample_spacing == 2.0);
  CHECK_EQ(b.settings().index_angle_threshold, 2.0 / 10.0);
  CHECK_EQ(derived(1, 2, options({}, 100.0)).index_angle_threshold, k90);
  CHECK_EQ(derived(-1, 2, options({}, 2.0)).index_angle_threshold, 0.0);
}

TEST(stage_matches_the_step_by_step_reference) {
  const std::vector<Polygon> polys = sample_polygons();
  struct Case {
    double bd, fs;
    BoundaryOptions o;
  };
  const std::vector<Case> cases{
      {0.8, 1.0, options()},
      {0.3, 0.5, options(0.001)},
      {0.8, 1.0, options(0.0)},
      {0.8, 1.0, options({}, kNaN, 0.0)},
      {0.8, 1.0, options({}, 0.7)},
      {2.0, 1.0, options(0.2, 0.4, 0.3)},
      {0.8, 1.0, options(-1.0, 0.7)},
      {-1.0, 1.0, options({}, 0.7)},
  };
  for (const Case& c : cases) {
    const BoundaryConditioner s = settings(c.bd, c.fs, c.o);
    const std::vector<Polygon> expected =
        reference_stage(polys, c.bd, c.fs, s.settings().simplification_tolerance, s.settings().refinement.ratio,
                        s.settings().refinement_enabled, s.settings().resample_spacing, s.settings().index_angle_threshold);
    auto got = preprocess_boundaries(polys, c.bd, c.fs, c.o);
    CHECK(got.ok());
    CHECK(same_polygons(got.value, expected));

    auto built = BoundaryConditioner::build(polys, c.bd, c.fs, c.o);
    CHECK(built.ok());
    CHECK_EQ(built.value.built_size(), polys.size());
    std::vector<Polygon> one_by_one, reused;
    for (std::size_t i = 0; i < polys.size(); ++i) {
      one_by_one.push_back(built.value.condition(polys[i], true));
      reused.push_back(built.value.condition_built(i));
    }
    CHECK(same_polygons(one_by_one, expected));
    CHECK(same_polygons(reused, expected));
  }
  auto empty = preprocess_boundaries({}, 1.0, 1.0, options());
  CHECK(empty.ok() && empty.value.empty());
}

TEST(sharp_hole_corner_densifies_the_outer_ring) {
  Polygon p;
  p.outer = square(0, 0, 20);
  p.holes.push_back({{10, 1.5}, {11, 8}, {9, 8}});  // spike pointing at the bottom edge
  Polygon alone;
  alone.outer = p.outer;
  for (const bool resample : {false, true}) {
    const BoundaryOptions o = resample ? options({}, 1.0) : options();
    auto with_hole = preprocess_boundaries({p}, 1.0, 1.0, o);
    auto without = preprocess_boundaries({alone}, 1.0, 1.0, o);
    CHECK(with_hole.ok() && without.ok());
    const Ring& a = with_hole.value[0].outer;
    const Ring& b = without.value[0].outer;
    CHECK(a.size() > b.size());
    std::size_t near_spike_a = 0, near_spike_b = 0;
    for (const Point& q : a) near_spike_a += (q.y == 0 && std::fabs(q.x - 10) < 4);
    for (const Point& q : b) near_spike_b += (q.y == 0 && std::fabs(q.x - 10) < 4);
    CHECK(near_spike_a > near_spike_b);
    // Away from the spike (and from the outer corners) nothing changes.
    for (const Point& q : a)
      if (q.y == 20 && q.x > 5 && q.x < 15) CHECK(contains(b, q));
  }
}

TEST(simplification_to_two_points_walks_out_and_back) {
  const Ring flat{{0, 0}, {5, 0.01}, {10, 0}};
  const std::vector<Point> simplified = rdp(flat, 0.05);
  CHECK(same_bits(simplified, std::vector<Point>{{0, 0}, {10, 0}}));
  Polygon p;
  p.outer = flat;
  auto out = preprocess_boundaries({p}, 1.0, 1.0, options(0.0));
  CHECK(out.ok());
  const Ring& r = out.value[0].outer;
  CHECK_EQ(r.size(), 14u);  // ceil(10 / 1.5) = 7 pieces each way
  CHECK(r[0] == (Point{0, 0}));
  CHECK(r[7] == (Point{10, 0}));
  for (std::size_t i = 1; i < 7; ++i) CHECK_NEAR(r[i].x, r[14 - i].x, 1e-12);
}

TEST(mode_b_output_starts_at_first_sharp_corner) {
  Polygon p;
  p.outer = {{5, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}};
  auto out = preprocess_boundaries({p}, 1.0, 1.0, options({}, 1.0, 0.0));
  CHECK(out.ok());
  CHECK(out.value[0].outer[0] == (Point{10, 0}));
}

TEST(condition_without_simplification_skips_only_that_step) {
  const std::vector<Polygon> polys = sample_polygons();
  for (const std::optional<double> h : {std::optional<double>(), std::optional<double>(0.6)}) {
    const BoundaryOptions o = options({}, h);
    auto built = BoundaryConditioner::build(polys, 0.8, 1.0, o);
    CHECK(built.ok());
    const BoundaryConditioner& c = built.value;
    CHECK(c.simplifies());
    // The index of the call is built from the simplified rings, exactly as without retries.
    CurvatureIndex index(3.2);
    for (const Polygon& p : polys) {
      std::vector<const Ring*> rings{&p.outer};
      for (const Ring& hole : p.holes) rings.push_back(&hole);
      for (const Ring* r : rings) {
        const Ring s = rdp(*r, 0.05);
        if (h)
          index.add_ring(resample_ring(s, *h, k60), c.settings().index_angle_threshold);
        else
          index.add_ring(subdivide_ring(s, 1.5), k45);
      }
    }
    for (const Polygon& p : polys) {
      const Polygon raw = c.condition(p, false);
      const Ring expected =
          h ? resample_ring_adaptive(p.outer, index, *h, 0.8, 0.5, k60)
            : refine_ring_from_index(subdivide_ring(p.outer, 1.5), index, 0.8, 0.5);
      CHECK(same_bits(raw.outer, expected));
      CHECK_EQ(raw.holes.size(), p.holes.size());
    }
    // The wiggly ring really is simplified.
    CHECK(!same_bits(c.condition(polys[2], false).outer, c.condition(polys[2], true).outer));
  }
}

// --- guards against runaway sizes --------------------------------------------------------

TEST(huge_and_infinite_buffer_distances_finish) {
  Polygon p;
  p.outer = square(0, 0, 10);
  p.holes.push_back(star(5, 5, 2, 1, 4, 0));
  auto disabled = preprocess_boundaries({p}, 1.0, 1.0, options(0.0));
  const auto start = std::chrono::steady_clock::now();
  for (double bd : {kInf, 1e308, 1e300, 4.4e307}) {
    auto a = preprocess_boundaries({p}, bd, 1.0, options());
    CHECK(a.ok());
    // Within the huge radius every edge sees a sharp turn, but its target spacing is huge.
    CHECK(same_polygons(a.value, disabled.value));
    auto b = preprocess_boundaries({p}, bd, 1.0, options({}, 0.5));
    CHECK(b.ok());
    CHECK(b.value.size() == 1 && b.value[0].outer.size() > 4);
  }
  CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(2));
}

TEST(tiny_spacings_fail_with_a_message_naming_the_parameter) {
  Polygon p;
  p.outer = square(0, 0, 10);
  auto sub = preprocess_boundaries({p}, 1.0, 5e-324, options());
  CHECK(!sub.ok());
  CHECK_EQ(sub.message(),
           std::string("boundary preprocessing would create more points than can be counted, "
                       "more than the limit of 3000000; increase feature_size"));
  auto small_fs = preprocess_boundaries({p}, 1.0, 1e-6, options());
  CHECK(!small_fs.ok());
  CHECK(small_fs.message().find("about 26666668 points") != std::string::npos);
  auto res = preprocess_boundaries({p}, 1.0, 1.0, options({}, 1e-9));
  CHECK(!res.ok());
  CHECK_EQ(res.message(),
           std::string("boundary preprocessing would create about 40000000000 points, more than "
                       "the limit of 3000000; increase resample"));
  // A hole corner right at the middle of a long outer edge, with a tiny buffer distance,
  // would split that edge into ten billion pieces.
  Polygon spike;
  spike.outer = square(0, 0, 100);
  spike.holes.push_back({{50, 1e-6}, {60, 50}, {40, 50}});
  auto refined = preprocess_boundaries({spike}, 1e-6, 100.0, options(0.01));
  CHECK(!refined.ok());
  CHECK(refined.message().find("; increase subdivision_ratio or set it to 0") != std::string::npos);
  CHECK(preprocess_boundaries({spike}, 1e-6, 100.0, options(0.0)).ok());
}

TEST(point_limit_counts_refinement_exactly_before_failing) {
  Polygon p;
  p.outer = square(0, 0, 10);
  p.holes.push_back(star(5, 5, 2, 0.8, 5, 0));
  for (const std::optional<double> h : {std::optional<double>(), std::optional<double>(0.5)}) {
    BoundaryOptions o = options(0.01, h);
    auto free = preprocess_boundaries({p}, 0.5, 1.0, o);
    CHECK(free.ok());
    std::size_t n = free.value[0].outer.size();
    for (const Ring& r : free.value[0].holes) n += r.size();
    // The cheap bound (spacing floor 0.005 all around) is far above the real size, which
    // is what decides.
    o.max_points = n;
    auto at_limit = preprocess_boundaries({p}, 0.5, 1.0, o);
    CHECK(at_limit.ok());
    CHECK(same_polygons(at_limit.value, free.value));
    o.max_points = n - 1;
    auto over = preprocess_boundaries({p}, 0.5, 1.0, o);
    CHECK(!over.ok());
    CHECK(over.message().find("about " + std::to_string(n) + " points, more than the limit of " +
                             std::to_string(n - 1)) != std::string::npos);
    // A walk stopped early extrapolates over the boundary it did not reach.
    double base = 0.0;
    for (const Ring* r : {&p.outer, &p.holes[0]})
      base += h ? resample_ring_size(*r, *h, k60) : subdivided_ring_size(*r, 1.5);
    o.max_points = static_cast<std::uint64_t>(base + (n - base) / 2);
    auto early = preprocess_boundaries({p}, 0.5, 1.0, o);
    CHECK(!early.ok());
    const std::string prefix = "boundary preprocessing would create about ";
    CHECK(early.message().rfind(prefix, 0) == 0);
    const double estimate = std::stod(early.message().substr(prefix.size()));
    CHECK(estimate > double(o.max_points) && estimate < 2.0 * n);
    if (!h) CHECK_EQ(estimate, double(n));
  }
}

TEST(retry_without_simplification_is_refused_when_it_could_exceed_the_limit) {
  std::vector<Polygon> polys = sample_polygons();
  polys.resize(3);
  BoundaryOptions o = options(0.0, {}, 2.0);  // coarse simplification
  auto free = BoundaryConditioner::build(polys, 0.8, 1.0, o);
  CHECK(free.ok() && free.value.simplifies());
  std::size_t simplified = 0;
  for (std::size_t i = 0; i < polys.size(); ++i) {
    const Polygon c = free.value.condition(polys[i], true);
    simplified += c.outer.size();
    for (const Ring& r : c.holes) simplified += r.size();
  }
  o.max_points = simplified;
  auto tight = BoundaryConditioner::build(polys, 0.8, 1.0, o);
  CHECK(tight.ok());
  CHECK(!tight.value.simplifies());
  CHECK(same_bits(tight.value.condition(polys[2], false).outer,
                  tight.value.condition(polys[2], true).outer));
}
