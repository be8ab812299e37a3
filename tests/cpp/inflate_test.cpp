#include <algorithm>
#include <cmath>
#include <limits>

#include "check.hpp"
#include "inflate.hpp"

using namespace strandify;

namespace {

Curve line(double x0, double y0, double x1, double y1, int n) {
  Curve c;
  for (int i = 0; i < n; ++i) c.push_back({x0 + (x1 - x0) * i / (n - 1), y0 + (y1 - y0) * i / (n - 1)});
  return c;
}

double signed_area(const Ring& r) {
  double a = 0;
  for (std::size_t k = 0; k < r.size(); ++k) {
    const Point& p = r[k];
    const Point& q = r[(k + 1) % r.size()];
    a += p.x * q.y - q.x * p.y;
  }
  return a / 2;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(nothing_to_inflate) {
  CHECK(inflate({}, std::nullopt, 1.0, 1.0).empty());
  CHECK(inflate({{}, {{1, 1}}}, std::nullopt, 1.0, 1.0).empty());
}

TEST(coincident_points_give_a_square) {
  const auto polys = inflate({{{2, 3}, {2, 3}}}, std::nullopt, 1.5, 1.0);
  CHECK_EQ(polys.size(), 1u);
  if (polys.empty()) return;
  CHECK_NEAR(signed_area(polys[0].outer), 9.0, 1e-9);
}

TEST(rings_are_clean_and_oriented) {
  const auto polys = inflate({line(0, 0, 10, 0, 11), line(5, -5, 5, 5, 11)}, std::nullopt, 1.0, 1.0);
  CHECK_EQ(polys.size(), 1u);
  for (const Polygon& p : polys) {
    CHECK(p.outer.size() >= 3);
    CHECK(signed_area(p.outer) > 0);
    for (std::size_t k = 1; k < p.outer.size(); ++k) {
      const double dx = p.outer[k].x - p.outer[k - 1].x, dy = p.outer[k].y - p.outer[k - 1].y;
      CHECK(dx * dx + dy * dy > 1e-10);
    }
  }
}

TEST(small_holes_are_dropped) {
  Curve loop;
  for (int i = 0; i <= 40; ++i) loop.push_back({3 * std::cos(2 * M_PI * i / 40), 3 * std::sin(2 * M_PI * i / 40)});
  const auto with_hole = inflate({loop}, std::nullopt, 1.0, 1.0);
  CHECK_EQ(with_hole.size(), 1u);
  CHECK_EQ(with_hole[0].holes.size(), 1u);
  CHECK(signed_area(with_hole[0].holes[0]) < 0);
  // the interior (about 12.6) is below 0.1 * 12^2
  const auto without = inflate({loop}, std::nullopt, 1.0, 12.0);
  CHECK_EQ(without[0].holes.size(), 0u);
}

TEST(variable_widths_follow_the_list) {
  const Curve c = line(0, 0, 10, 0, 3);
  const auto polys = inflate({c}, WidthLists{{1.0, 2.0, 1.0}}, 0.1, 1.0);
  CHECK_EQ(polys.size(), 1u);
  double top = -kInf;
  for (const Point& p : polys[0].outer) top = std::max(top, p.y);
  CHECK_NEAR(top, 2.0, 1e-6);
  // an empty width list means the uniform radius
  const auto uniform = inflate({c}, WidthLists{{}}, 0.5, 1.0);
  double t2 = -kInf;
  for (const Point& p : uniform[0].outer) t2 = std::max(t2, p.y);
  CHECK_NEAR(t2, 0.5, 1e-6);
}

TEST(unrepresentable_input_adds_no_buffer) {
  const Curve good = line(0, 0, 10, 0, 5);
  const std::vector<Curve> bad_curves{
      {{0, 5}, {kNaN, 5}}, {{0, 5}, {kInf, 5}}, {{3e12, 0}, {3e12 + 1, 0}}, {{-1e300, 0}, {0, 0}}};
  const auto reference = inflate({good}, std::nullopt, 1.0, 1.0);
  for (const Curve& bad : bad_curves) {
    const auto polys = inflate({good, bad}, std::nullopt, 1.0, 1.0);
    CHECK_EQ(polys.size(), reference.size());
  }
  for (double bd : {kNaN, kInf, -kInf, 1e300}) CHECK(inflate({good}, std::nullopt, bd, 1.0).empty());
  for (double w : {kNaN, kInf, 1e300}) {
    const auto polys = inflate({good, line(0, 5, 10, 5, 5)}, WidthLists{{}, {1.0, 1.0, w, 1.0, 1.0}}, 1.0, 1.0);
    CHECK_EQ(polys.size(), 1u);
  }
}

TEST(polygons_sorted_by_boundary_length) {
  const auto polys = inflate({line(0, 0, 50, 0, 2), line(0, 10, 5, 10, 2), line(0, 20, 20, 20, 2)},
                             std::nullopt, 1.0, 1.0);
  CHECK_EQ(polys.size(), 3u);
  double last = 0;
  for (const Polygon& p : polys) {
    double len = 0;
    for (std::size_t k = 1; k < p.outer.size(); ++k)
      len += std::hypot(p.outer[k].x - p.outer[k - 1].x, p.outer[k].y - p.outer[k - 1].y);
    CHECK(len >= last);
    last = len;
  }
}

namespace {

// An axis-aligned square from (x, y) of the given side, `per_side` points a side,
// counter-clockwise, or clockwise for a hole.
Ring square_ring(double x, double y, double side, int per_side, bool hole) {
  Ring r;
  const Point corners[4] = {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}};
  for (int c = 0; c < 4; ++c) {
    const Point a = corners[c], b = corners[(c + 1) % 4];
    for (int k = 0; k < per_side; ++k)
      r.push_back({a.x + (b.x - a.x) * k / per_side, a.y + (b.y - a.y) * k / per_side});
  }
  if (hole) std::reverse(r.begin(), r.end());
  return r;
}

}  // namespace

TEST(many_holes_go_to_their_innermost_outer) {
  // A frame whose own hole holds 30 x 30 cells, each a square with a square hole and an island
  // inside that hole. Every cell hole lies inside the frame's outline too (and inside the
  // outlines of the cells to its lower left as far as heights go), but its own cell is the
  // smallest outer around it; the frame keeps only its own hole.
  constexpr int kCells = 30;
  Clipper2Lib::Paths64 rings;
  rings.push_back(union_scaled(square_ring(-5, -5, 310, 100, false)));
  rings.push_back(union_scaled(square_ring(-3, -3, 306, 100, true)));
  for (int i = 0; i < kCells; ++i) {
    for (int j = 0; j < kCells; ++j) {
      rings.push_back(union_scaled(square_ring(10.0 * i, 10.0 * j, 8, 3, false)));
      rings.push_back(union_scaled(square_ring(10.0 * i + 1, 10.0 * j + 1, 6, 3, true)));
      rings.push_back(union_scaled(square_ring(10.0 * i + 3, 10.0 * j + 3, 2, 1, false)));
    }
  }
  const std::vector<Polygon> polygons = polygons_of_union(rings, 0.01);
  CHECK_EQ(polygons.size(), std::size_t{2 * kCells * kCells + 1});
  std::size_t cells = 0, islands = 0;
  for (const Polygon& p : polygons) {
    double min_x = p.outer[0].x, min_y = p.outer[0].y;
    for (const Point& q : p.outer) {
      min_x = std::min(min_x, q.x);
      min_y = std::min(min_y, q.y);
    }
    const double area = signed_area(p.outer);
    if (area > 50000.0) {  // the frame
      CHECK_EQ(p.holes.size(), std::size_t{1});
      CHECK_EQ(p.holes[0].size(), std::size_t{400});
    } else if (area > 10.0) {  // a cell: its hole starts one unit inside it
      ++cells;
      CHECK_EQ(p.holes.size(), std::size_t{1});
      if (p.holes.size() != 1) continue;
      for (const Point& q : p.holes[0]) CHECK(q.x >= min_x + 1 - 1e-9 && q.y >= min_y + 1 - 1e-9);
      CHECK_EQ(std::fabs(signed_area(p.holes[0])), 36.0);
    } else {
      ++islands;
      CHECK(p.holes.empty());
    }
  }
  CHECK_EQ(cells, std::size_t{kCells * kCells});
  CHECK_EQ(islands, std::size_t{kCells * kCells});
}
