// Chain finishing: Taubin smoothing, tip straightening and simplification of output chains.
#include "chain_finish.hpp"

#include <cstddef>
#include <utility>
#include <vector>

#include "boundary.hpp"
#include "geometry.hpp"

namespace strandify {
namespace {

// One umbrella pass: every interior point moves by `factor` toward the midpoint of its
// neighbours, all read from `from` so the update is simultaneous. End points stay put.
void umbrella_pass(const std::vector<Point>& from, std::vector<Point>& to, double factor) {
  const std::size_t n = from.size();
  to.front() = from.front();
  to.back() = from.back();
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const Point p = from[i], m = midpoint(from[i - 1], from[i + 1]);
    to[i] = {(m.x - p.x) * factor + p.x, (m.y - p.y) * factor + p.y};
  }
}

// Pulls `tip` halfway toward its projection on the line through `f` along direction `g`. A
// degenerate direction (both reference points equal) leaves the tip where it is.
Point pull_tip(Point tip, Point f, Point g) {
  const double gg = dot(g, g);
  if (gg == 0.0) return tip;
  const double t = dot(sub(tip, f), g) / gg;
  return midpoint({f.x + t * g.x, f.y + t * g.y}, tip);
}

}  // namespace

std::vector<Point> smooth_chain_taubin(const std::vector<Point>& points, int iterations,
                                       double lambda, double mu) {
  if (points.size() <= 2) return points;
  std::vector<Point> current = points;
  std::vector<Point> next(points.size());
  for (int it = 0; it < iterations; ++it) {
    umbrella_pass(current, next, lambda);
    current.swap(next);
    umbrella_pass(current, next, mu);
    current.swap(next);
  }
  return current;
}

std::vector<Point> finish_chain(const Chain& chain, double simplification_tolerance) {
  ChainSettings settings;
  settings.simplification_tolerance = simplification_tolerance;
  return finish_chain(chain, settings);
}

std::vector<Point> finish_chain(const Chain& chain, const ChainSettings& settings) {
  const double simplification_tolerance = settings.simplification_tolerance;
  std::vector<Point> p = smooth_chain_taubin(chain.points, settings.smoothing_iterations,
                                             settings.smoothing_lambda, settings.smoothing_mu);
  const std::size_t n = p.size();
  // The end tip goes first, so in a three-point chain the start pull already sees it moved.
  if (chain.end_is_tip && n >= 3) {
    p[n - 1] = pull_tip(p[n - 1], p[n - 2], sub(p[n - 2], p[n - 3]));
  }
  if (chain.start_is_tip && n >= 3) {
    p[0] = pull_tip(p[0], p[1], sub(p[1], p[2]));
  }
  if (simplification_tolerance > 0.0) return rdp(p, simplification_tolerance);
  return p;
}

}  // namespace strandify
