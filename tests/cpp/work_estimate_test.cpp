#include <cmath>
#include <limits>

#include "check.hpp"
#include "pipeline.hpp"
#include "work_estimate.hpp"

using namespace strandify;

TEST(union_work_counts_vertex_heights_inside_each_buffered_segment) {
  // One segment at y = 0, radius 1: both of its vertices lie in its span [-1, 1].
  CHECK_EQ(union_sweep_work({{{0, 0}, {1, 0}}}, std::nullopt, 1.0), 4.0);
  // A second, parallel stroke 5 above: out of reach at radius 1, within reach at radius 5.
  const std::vector<Curve> two{{{0, 0}, {1, 0}}, {{0, 5}, {1, 5}}};
  CHECK_EQ(union_sweep_work(two, std::nullopt, 1.0), 8.0);
  CHECK_EQ(union_sweep_work(two, std::nullopt, 5.0), 12.0);
  // Width lists set the radius point by point and weigh their curve's segments more.
  const WidthLists widths{{5.0, 5.0}, {}};
  CHECK_EQ(union_sweep_work(two, widths, 1.0), kVariableWidthWeight * 6.0 + 4.0);
  // Curves that add no buffer add no work.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CHECK_EQ(union_sweep_work({{{0, nan}, {1, 0}}, {{3, 3}}}, std::nullopt, 1.0), 0.0);
}

TEST(work_grows_with_the_square_of_an_overlapping_curve) {
  auto wave = [](int n) {
    Curve c;
    for (int i = 0; i < n; ++i) c.push_back({i * 0.01, std::sin(i * 0.001) * 5});
    return c;
  };
  const double a = union_sweep_work({wave(5000)}, std::nullopt, 0.5);
  const double b = union_sweep_work({wave(20000)}, std::nullopt, 0.5);
  CHECK(b > 10.0 * a);
}

TEST(a_union_too_costly_is_refused_before_any_buffer_is_built) {
  Curve c;
  for (int i = 0; i < 100000; ++i) c.push_back({i * 0.01, std::sin(i * 0.001) * 5});
  const auto r = buffer_pipeline({c}, 0.5, 1.0, WidthLists{WidthList(c.size(), 0.5)}, std::nullopt);
  CHECK(!r.ok() && r.failure->kind == FailureKind::work_limit);
}
