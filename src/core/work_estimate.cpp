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

// The count for the curves curves[*first], ..., curves[*(last - 1)].
double sweep_work_of(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                     double buffer_distance, const std::size_t* first, const std::size_t* last,
                     std::vector<double>& heights) {
  heights.clear();
  std::size_t total = 0;
  for (const std::size_t* i = first; i != last; ++i)
    total += curves[*i].size() >= 2 ? curves[*i].size() : 0;
  heights.reserve(total);
  for (const std::size_t* i = first; i != last; ++i) {
    const Curve& c = curves[*i];
    if (c.size() < 2) continue;
    for (const Point& p : c)
      if (std::isfinite(p.y)) heights.push_back(p.y);
  }
  std::sort(heights.begin(), heights.end());
  double work = 0.0;
  for (const std::size_t* it = first; it != last; ++it) {
    const std::size_t i = *it;
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
      const auto from = std::lower_bound(heights.begin(), heights.end(), lo);
      const auto to = std::upper_bound(from, heights.end(), hi);
      // Every segment costs at least its own two vertices.
      work += weight * (2.0 + static_cast<double>(to - from));
    }
  }
  return work;
}

}  // namespace

double union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                        double buffer_distance) {
  std::vector<std::size_t> all(curves.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::vector<double> heights;
  return sweep_work_of(curves, widths, buffer_distance, all.data(), all.data() + all.size(),
                       heights);
}

double union_sweep_work(const std::vector<Curve>& curves, const std::optional<WidthLists>& widths,
                        double buffer_distance, const CurveGroups& groups) {
  std::vector<double> heights;
  double work = 0.0;
  for (std::size_t g = 0; g < groups.size(); ++g)
    work += sweep_work_of(curves, widths, buffer_distance, groups.begin_of(g), groups.end_of(g),
                          heights);
  return work;
}

}  // namespace strandify
