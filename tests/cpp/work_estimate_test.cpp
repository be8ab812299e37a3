#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "check.hpp"
#include "drivers/entry.hpp"
#include "radix_sort.hpp"
#include "sketch.hpp"
#include "work_estimate.hpp"

using namespace strandify;

namespace {

Curve straight(int n, double spacing, double dx, double dy) {
  Curve c;
  for (int i = 0; i < n; ++i) c.push_back({1000.0 + i * spacing * dx, 2000.0 + i * spacing * dy});
  return c;
}

// A random walk of steps about `step` long that keeps coming back over itself.
Curve scribble(int n, double step, std::uint64_t seed = 7) {
  sketch::SplitMix64 rng(seed);
  Curve c;
  double x = 0.0, y = 0.0;
  for (int i = 0; i < n; ++i) {
    const double heading = rng.uniform(0.0, sketch::kTwoPi), length = rng.uniform(0.5, 1.5) * step;
    x += length * sketch::poly_cos(heading);
    y += length * sketch::poly_sin(heading);
    c.push_back({x, y});
  }
  return c;
}

double total(const Curve& c, double radius) {
  return union_sweep_work({c}, std::nullopt, radius).total();
}

}  // namespace

TEST(a_straight_stroke_along_an_axis_or_a_diagonal_costs_in_proportion_to_its_points) {
  // No vertex turns, so the offset has no spike, whatever the radius and however close the
  // points: twice the points, about twice the work, and the same work under any radius.
  const double directions[][2] = {{1.0, 0.0}, {0.0, 1.0}, {-1.0, 0.0}, {0.5, 0.5}};
  for (const auto& d : directions) {
    for (double spacing : {1e-4, 0.01}) {
      const double one = total(straight(20000, spacing, d[0], d[1]), 0.5);
      const double two = total(straight(40000, spacing, d[0], d[1]), 0.5);
      CHECK(two > 1.8 * one && two < 2.2 * one);
      const double wide = total(straight(20000, spacing, d[0], d[1]), 50.0);
      CHECK(wide > 0.9 * one && wide < 1.1 * one);
    }
  }
}

TEST(a_million_points_on_a_straight_line_stay_far_below_the_limit) {
  const Curve flat = straight(1000000, 1e-4, 1.0, 0.0);
  CHECK(total(flat, 0.5) < kMaxUnionWork / 10.0);
  const UnionWork widths =
      union_sweep_work({flat}, WidthLists{WidthList(flat.size(), 0.5)}, 1.0);
  CHECK(widths.total() < kMaxUnionWork / 10.0);
}

TEST(a_stroke_whose_rounding_wobbles_gets_a_spike_at_every_turn) {
  // At 3 degrees the points' heights round to 52 or 53 units of the union's grid by turns, so the
  // offsetter turns at nearly every vertex; each spike is as long as the radius and crosses the
  // rows of the hundreds of points around it. The same points exactly level cost next to nothing.
  const double a = 3.0 * sketch::kPi / 180.0;
  const double level = total(straight(20000, 0.001, 1.0, 0.0), 0.05);
  const double sloped = total(straight(20000, 0.001, sketch::poly_cos(a), sketch::poly_sin(a)), 0.05);
  CHECK(sloped > 100.0 * level);
}

TEST(work_grows_faster_than_the_points_of_an_overlapping_curve) {
  auto wave = [](int n) {
    Curve c;
    for (int i = 0; i < n; ++i) c.push_back({i * 0.01, std::sin(i * 0.001) * 5});
    return c;
  };
  const double a = total(wave(5000), 0.5);
  const double b = total(wave(20000), 0.5);
  CHECK(b > 10.0 * a);
}

TEST(a_scribble_shrunk_to_the_unions_resolution_costs_about_what_it_cost_full_size) {
  // Shrunk to a step of about one unit of the union's grid, the scribble's vertices share a third
  // of the rows they had, yet its union takes about as long (measured on these three walks of
  // 3000 points: 0.3 to 1.3 times as long): every swap of edges between two rows falls onto the
  // same height, and the library searches among them for the next one it may take.
  for (std::uint64_t seed : {7u, 8u, 9u}) {
    const Curve coarse = scribble(3000, 1e-3, seed);
    Curve fine = coarse;
    for (Point& p : fine) p = {p.x * 1e-3, p.y * 1e-3};
    CHECK(total(fine, 2e-5) > total(coarse, 2e-2) / 4.0);
  }
}

TEST(a_radius_widens_only_a_curves_own_offset) {
  // Two parallel strokes 5 apart never share a row of their outlines, whatever the radius; the
  // strokes are level, so their own offsets have no spike either.
  const std::vector<Curve> two{straight(1000, 0.01, 1.0, 0.0), straight(1000, 0.01, 1.0, 0.0)};
  std::vector<Curve> apart = two;
  for (Point& p : apart[1]) p.y += 5.0;
  const double narrow = union_sweep_work(apart, std::nullopt, 1.0).total();
  const double wide = union_sweep_work(apart, std::nullopt, 2.0).total();
  CHECK(wide < 1.1 * narrow);
}

TEST(a_partitioned_union_costs_what_its_groups_cost_apart) {
  const sketch::Sketch s = sketch::make_sketch(3);
  const std::vector<Curve> first(s.curves.begin(), s.curves.begin() + 2);
  const std::vector<Curve> rest(s.curves.begin() + 2, s.curves.end());
  CurveGroups groups;
  groups.members.resize(s.curves.size());
  for (std::size_t i = 0; i < groups.members.size(); ++i) groups.members[i] = i;
  groups.starts = {0, 2, s.curves.size()};
  const double parts = union_sweep_work(first, std::nullopt, 1.0).total() +
                       union_sweep_work(rest, std::nullopt, 1.0).total();
  const double grouped = union_sweep_work(s.curves, std::nullopt, 1.0, groups).total();
  CHECK(std::fabs(grouped - parts) <= 1e-9 * parts);
  CHECK(union_sweep_work(s.curves, std::nullopt, 1.0).total() > grouped);
}

TEST(curves_without_a_buffer_or_with_one_square_cost_next_to_nothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CHECK_EQ(union_sweep_work({{{0, nan}, {1, 0}}, {{3, 3}}}, std::nullopt, 1.0).total(), 0.0);
  CHECK_EQ(union_sweep_work({{{0, 1e13}, {1, 0}}}, std::nullopt, 1.0).total(), 0.0);
  // A million coincident points are one square, built without the offsetter.
  const UnionWork square = union_sweep_work({Curve(1000000, Point{2.0, 3.0})}, std::nullopt, 1.0);
  CHECK_EQ(square.own, 0.0);
  CHECK_EQ(square.overlap, union_sweep_work({Curve(2, Point{2.0, 3.0})}, std::nullopt, 1.0).overlap);
}

TEST(a_union_too_costly_is_refused_before_any_buffer_is_built) {
  Curve c;
  for (int i = 0; i < 100000; ++i) c.push_back({i * 0.01, std::sin(i * 0.001) * 5});
  const auto r = buffer_pipeline({c}, 0.5, 1.0, WidthLists{WidthList(c.size(), 0.5)}, std::nullopt);
  CHECK(!r.ok() && r.failure->kind == FailureKind::work_limit);
}

TEST(a_long_straight_stroke_with_widths_is_buffered) {
  const Curve c = straight(100000, 0.01, 1.0, 0.0);
  const auto r = buffer_pipeline({c}, 0.5, 1.0, WidthLists{WidthList(c.size(), 0.5)}, std::nullopt);
  CHECK(r.ok() && r.value.size() == 1);
}

TEST(radix_sort_orders_integers_as_a_comparison_sort_does) {
  sketch::SplitMix64 rng(11);
  const std::int64_t lo = std::numeric_limits<std::int64_t>::min();
  const std::int64_t hi = std::numeric_limits<std::int64_t>::max();
  std::vector<std::uint64_t> scratch;
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{255}, std::size_t{256}, std::size_t{257},
                        std::size_t{5000}}) {
    for (int spread = 0; spread < 3; ++spread) {
      std::vector<std::int64_t> values(n);
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t r = rng.next();
        // full range, rows near one height (shared high bytes, both signs), many repeats
        values[i] = spread == 0   ? static_cast<std::int64_t>(r)
                    : spread == 1 ? static_cast<std::int64_t>(r % 200001) - 100000
                                  : static_cast<std::int64_t>(r % 7) * 1000000007LL;
      }
      if (n > 2) {
        values[0] = lo;
        values[1] = hi;
      }
      std::vector<std::int64_t> expected = values;
      std::sort(expected.begin(), expected.end());
      radix_sort(values, scratch);
      CHECK(values == expected);
    }
  }
}
