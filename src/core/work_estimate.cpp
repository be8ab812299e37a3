#include "work_estimate.hpp"

#include <algorithm>
#include <cmath>

namespace strandify {
namespace {

double radius_at(const std::optional<WidthLists>& widths, std::size_t curve, std::size_t point,
                 double buffer_distance) {
  if (widths && curve < widths->size() && !(*widths)[curve].empty()) {
    const WidthList& w = (*widths)[curve];
    return point < w.size() ? std::fabs(w[point]) : 0.0;
  }
  return std::fabs(buffer_distance);
}

}  // namespace

double union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                        double buffer_distance) {
  std::vector<double> heights;
  std::size_t total = 0;
  for (const Curve& c : curves) total += c.size() >= 2 ? c.size() : 0;
  heights.reserve(total);
  for (const Curve& c : curves) {
    if (c.size() < 2) continue;
    for (const Point& p : c)
      if (std::isfinite(p.y)) heights.push_back(p.y);
  }
  std::sort(heights.begin(), heights.end());
  double work = 0.0;
  for (std::size_t i = 0; i < curves.size(); ++i) {
    const Curve& c = curves[i];
    if (c.size() < 2) continue;
    const bool variable = widths && i < widths->size() && !(*widths)[i].empty();
    const double weight = variable ? kVariableWidthWeight : 1.0;
    for (std::size_t k = 0; k + 1 < c.size(); ++k) {
      const double r = std::max(radius_at(widths, i, k, buffer_distance),
                                radius_at(widths, i, k + 1, buffer_distance));
      const double lo = std::min(c[k].y, c[k + 1].y) - r;
      const double hi = std::max(c[k].y, c[k + 1].y) + r;
      if (!(lo <= hi)) continue;  // NaN anywhere: the curve adds no buffer
      const auto first = std::lower_bound(heights.begin(), heights.end(), lo);
      const auto last = std::upper_bound(first, heights.end(), hi);
      // Every segment costs at least its own two vertices.
      work += weight * (2.0 + static_cast<double>(last - first));
    }
  }
  return work;
}

}  // namespace strandify
