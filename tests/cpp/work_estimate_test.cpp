#include <cmath>
#include <limits>

#include "check.hpp"
#include "drivers/entry.hpp"
#include "work_estimate.hpp"

using namespace strandify;

TEST(union_work_counts_the_edges_each_vertex_height_crosses) {
  // One segment: its two vertex heights each cross its one span, in its own offset
  // (radius-widened) and in the union of outlines (plain).
  const UnionWork one = union_sweep_work({{{0, 0}, {1, 1}}}, std::nullopt, 1.0);
  CHECK_EQ(one.own, 2.0);
  CHECK_EQ(one.overlap, 2.0);
  // A step: at radius 1 each of the four heights lies in two widened spans (one merge pass
  // each); of the plain spans the middle heights cross two, the end ones one.
  const Curve step{{0, 0}, {1, 1}, {2, 10}, {3, 11}};
  const UnionWork narrow = union_sweep_work({step}, std::nullopt, 1.0);
  CHECK_EQ(narrow.own, 8.0);
  CHECK_EQ(narrow.overlap, 6.0);
  // A radius of 20 puts every height inside all three widened spans: 3 edges, 2 passes. Width
  // lists set the radius point by point, the same way.
  const UnionWork wide = union_sweep_work({step}, std::nullopt, 20.0);
  CHECK_EQ(wide.own, 24.0);
  CHECK_EQ(wide.overlap, 6.0);
  const UnionWork widths = union_sweep_work({step}, WidthLists{{1.0, 20.0, 20.0, 1.0}}, 1.0);
  CHECK_EQ(widths.own, 24.0);
}

TEST(a_radius_widens_only_a_curves_own_spans) {
  // Two parallel strokes 5 apart: their outlines never share a height, whatever the radius.
  const std::vector<Curve> two{{{0, 0}, {1, 0.5}}, {{0, 5}, {1, 5.5}}};
  CHECK_EQ(union_sweep_work(two, std::nullopt, 1.0).total(), 8.0);
  CHECK_EQ(union_sweep_work(two, std::nullopt, 5.0).total(), 8.0);
}

TEST(vertices_sharing_an_integer_row_of_the_union_cost_more) {
  // Nine points whose eight segments all span every height: 8 edges, 3 passes per height. On one
  // row each height also has 8 tied companions, a quarter step per edge each.
  Curve flat, apart;
  for (int k = 0; k < 9; ++k) {
    flat.push_back({k * 0.1, 0.0});
    apart.push_back({k * 0.1, k * 1e-5});
  }
  CHECK_EQ(union_sweep_work({apart}, std::nullopt, 1.0).own, 9.0 * 8.0 * 3.0);
  CHECK_EQ(union_sweep_work({flat}, std::nullopt, 1.0).own, 9.0 * 8.0 * (3.0 + 2.0));
}

TEST(curves_without_a_buffer_or_with_one_square_cost_next_to_nothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CHECK_EQ(union_sweep_work({{{0, nan}, {1, 0}}, {{3, 3}}}, std::nullopt, 1.0).total(), 0.0);
  CHECK_EQ(union_sweep_work({{{0, 1e13}, {1, 0}}}, std::nullopt, 1.0).total(), 0.0);
  // A million coincident points are one square: four corners, two sides.
  const Curve dot(1000000, Point{2.0, 3.0});
  const UnionWork square = union_sweep_work({dot}, std::nullopt, 1.0);
  CHECK_EQ(square.own, 4.0);
  CHECK_EQ(square.overlap, 8.0);
}

TEST(work_grows_faster_than_the_points_of_an_overlapping_curve) {
  auto wave = [](int n) {
    Curve c;
    for (int i = 0; i < n; ++i) c.push_back({i * 0.01, std::sin(i * 0.001) * 5});
    return c;
  };
  const double a = union_sweep_work({wave(5000)}, std::nullopt, 0.5).total();
  const double b = union_sweep_work({wave(20000)}, std::nullopt, 0.5).total();
  CHECK(b > 10.0 * a);
}

TEST(a_union_too_costly_is_refused_before_any_buffer_is_built) {
  Curve c;
  for (int i = 0; i < 100000; ++i) c.push_back({i * 0.01, std::sin(i * 0.001) * 5});
  const auto r = buffer_pipeline({c}, 0.5, 1.0, WidthLists{WidthList(c.size(), 0.5)}, std::nullopt);
  CHECK(!r.ok() && r.failure->kind == FailureKind::work_limit);
}
