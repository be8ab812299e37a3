#include <cmath>
#include <limits>
#include <vector>

#include "chain_finish.hpp"
#include "check.hpp"

using strandify::Chain;
using strandify::finish_chain;
using strandify::Point;
using strandify::smooth_chain_taubin;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

Chain make_chain(std::vector<Point> points, bool start_tip, bool end_tip) {
  Chain c;
  c.points = std::move(points);
  c.start = 0;
  c.end = 1;
  c.start_is_tip = start_tip;
  c.end_is_tip = end_tip;
  return c;
}

}  // namespace

TEST(taubin_updates_all_points_from_one_snapshot) {
  const std::vector<Point> zig{{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 0}};
  // mu = 0 makes the second pass a no-op, isolating one lambda pass. In-place updating would
  // give 0.375 at index 2.
  const std::vector<Point> out = smooth_chain_taubin(zig, 1, 0.5, 0.0);
  CHECK_EQ(out.size(), 5u);
  CHECK_EQ(out[1].y, 0.5);
  CHECK_EQ(out[2].y, 0.5);
  CHECK_EQ(out[3].y, 0.5);
  CHECK_EQ(out[0].y, 0.0);
  CHECK_EQ(out[4].y, 0.0);

  CHECK(smooth_chain_taubin(zig, 0, 0.5, -0.53) == zig);
  const std::vector<Point> two{{0, 0}, {5, 5}};
  CHECK(smooth_chain_taubin(two, 3, 0.5, -0.53) == two);
}

TEST(taubin_alternates_lambda_and_mu_passes) {
  // The bump's offset from its neighbours' midpoint: lambda halves it, mu then pushes it back
  // out by a factor 1.53, so each iteration keeps 0.765 of it.
  const std::vector<Point> bump{{0, 0}, {2, 2}, {4, 0}};
  const std::vector<Point> out = smooth_chain_taubin(bump, 3, 0.5, -0.53);
  CHECK_EQ(out[1].x, 2.0);
  CHECK_NEAR(out[1].y, 2.0 * std::pow(0.5 * 1.53, 3), 1e-15);
}

TEST(finish_two_point_chain_is_unchanged) {
  const Chain c = make_chain({{0, 0}, {3, 7}}, true, true);
  CHECK(finish_chain(c, 0.1) == c.points);
}

TEST(finish_straight_even_chain_reduces_to_its_ends) {
  const std::vector<Point> line{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}};
  const Chain c = make_chain(line, true, true);
  CHECK(finish_chain(c, 0.1) == (std::vector<Point>{{0, 0}, {4, 0}}));
  // Without a positive tolerance the smoothed, tip-pulled chain stays exactly as it was.
  CHECK(finish_chain(c, 0.0) == line);
  CHECK(finish_chain(c, -1.0) == line);
  CHECK(finish_chain(c, kNaN) == line);
}

TEST(finish_keeps_junction_ends_and_moves_tips) {
  const std::vector<Point> zig{{0, 0}, {1, 1}, {2, -1}, {3, 1}, {4, 3}};
  const std::vector<Point> junction = finish_chain(make_chain(zig, false, false), 0.0);
  CHECK(junction.front() == zig.front());
  CHECK(junction.back() == zig.back());

  const std::vector<Point> tipped = finish_chain(make_chain(zig, true, true), 0.0);
  CHECK(!(tipped.front() == zig.front()));
  CHECK(!(tipped.back() == zig.back()));
  // Interior points are the same smoothing either way.
  for (std::size_t i = 1; i + 1 < zig.size(); ++i) CHECK(tipped[i] == junction[i]);
}

TEST(finish_pulls_end_tip_before_start_tip) {
  // After smoothing the middle point sits at (2, h); ends are still (0,0) and (4,0).
  const double h = 2.0 * std::pow(0.5 * 1.53, 3);
  const double t_end = (2.0 * 2.0 + (-h) * h) / (2.0 * 2.0 + h * h);  // l - f = (2, -h), g = (2, h)
  const Point end{((2.0 + t_end * 2.0) + 4.0) * 0.5, ((h + t_end * h) + 0.0) * 0.5};
  // Start pull: f = (2, h), g = f - moved end, l = (0, 0).
  const Point g{2.0 - end.x, h - end.y};
  const double t_start = ((0.0 - 2.0) * g.x + (0.0 - h) * g.y) / (g.x * g.x + g.y * g.y);
  const Point start{((2.0 + t_start * g.x) + 0.0) * 0.5, ((h + t_start * g.y) + 0.0) * 0.5};

  const std::vector<Point> out = finish_chain(make_chain({{0, 0}, {2, 2}, {4, 0}}, true, true), 0.0);
  CHECK_EQ(out.size(), 3u);
  CHECK_NEAR(out[2].x, end.x, 1e-12);
  CHECK_NEAR(out[2].y, end.y, 1e-12);
  CHECK_NEAR(out[0].x, start.x, 1e-12);
  CHECK_NEAR(out[0].y, start.y, 1e-12);

  // Using the unmoved end (4, 0) for the start pull would land elsewhere.
  const Point g0{2.0 - 4.0, h};
  const double t0 = ((0.0 - 2.0) * g0.x + (0.0 - h) * g0.y) / (g0.x * g0.x + g0.y * g0.y);
  CHECK(std::fabs(out[0].x - ((2.0 + t0 * g0.x) * 0.5)) > 1e-6);
}

TEST(finish_skips_tip_pull_without_a_direction) {
  // All points coincide: a pull would divide 0 by 0 and spread NaN.
  const std::vector<Point> dot{{1, 1}, {1, 1}, {1, 1}};
  CHECK(finish_chain(make_chain(dot, true, true), 0.0) == dot);
  CHECK(finish_chain(make_chain(dot, true, true), 0.5) == (std::vector<Point>{{1, 1}, {1, 1}}));
}

TEST(finish_closed_chain_simplifies_from_the_shared_point) {
  const std::vector<Point> square{{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}};
  const std::vector<Point> out = finish_chain(make_chain(square, false, false), 0.1);
  CHECK(out.size() >= 3u);
  CHECK(out.front() == square.front());
  CHECK(out.back() == square.back());
}
