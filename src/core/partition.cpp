#include "partition.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "geometry.hpp"

namespace strandify {
namespace {

// Union-find over curve indices; the root of a set is always its smallest index, so the
// groups come out in a fixed order whatever the order of the unions.
class Sets {
 public:
  explicit Sets(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), 0); }

  std::size_t find(std::size_t i) {
    while (parent_[i] != i) {
      parent_[i] = parent_[parent_[i]];
      i = parent_[i];
    }
    return i;
  }
  void unite(std::size_t a, std::size_t b) {
    a = find(a);
    b = find(b);
    if (a == b) return;
    if (b < a) std::swap(a, b);
    parent_[b] = a;
  }

 private:
  std::vector<std::size_t> parent_;
};

bool overlap_in_y(const Box& a, const Box& b) { return a.min_y <= b.max_y && b.min_y <= a.max_y; }

}  // namespace

std::optional<Box> buffer_box(const Curve& curve, const WidthList* widths, double buffer_distance) {
  if (curve.size() < 2) return std::nullopt;
  double radius = std::fabs(buffer_distance);
  if (widths) {
    radius = 0.0;
    for (double w : *widths) radius = std::max(radius, std::fabs(w));
    for (double w : *widths)
      if (!std::isfinite(w)) return std::nullopt;
  }
  Box b = bounding_box(curve);
  const double reach = 2.0 * radius;
  b = {b.min_x - reach, b.min_y - reach, b.max_x + reach, b.max_y + reach};
  // std::min/max drop a NaN that is not first, so finiteness is checked on every point here
  // rather than trusted to the box.
  for (const Point& p : curve)
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
  if (!std::isfinite(b.min_x) || !std::isfinite(b.min_y) || !std::isfinite(b.max_x) ||
      !std::isfinite(b.max_y))
    return std::nullopt;
  return b;
}

CurveGroups group_overlapping_boxes(const std::vector<std::optional<Box>>& boxes) {
  const std::size_t n = boxes.size();
  std::vector<std::size_t> order;
  order.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (boxes[i]) order.push_back(i);
  std::sort(order.begin(), order.end(), [&boxes](std::size_t a, std::size_t b) {
    return boxes[a]->min_x < boxes[b]->min_x || (boxes[a]->min_x == boxes[b]->min_x && a < b);
  });

  // Sweep from left to right; `active` holds the boxes the sweep line still crosses. Each new
  // box is compared with those only, so the cost is the number of boxes times the boxes that
  // cross a vertical line, not all pairs.
  Sets sets(n);
  std::vector<std::size_t> active;
  for (std::size_t i : order) {
    const Box& b = *boxes[i];
    std::size_t kept = 0;
    for (std::size_t j : active) {
      if (boxes[j]->max_x < b.min_x) continue;  // left behind for good
      active[kept++] = j;
      if (overlap_in_y(b, *boxes[j])) sets.unite(i, j);
    }
    active.resize(kept);
    active.push_back(i);
  }

  // Count the members of each root, then lay the groups out in order of their roots (each
  // root is its group's smallest index), members ascending.
  std::vector<std::size_t> group_of_root(n, n);
  std::vector<std::size_t> sizes;
  for (std::size_t i = 0; i < n; ++i) {
    if (!boxes[i]) continue;
    const std::size_t r = sets.find(i);
    if (group_of_root[r] == n) {
      group_of_root[r] = sizes.size();
      sizes.push_back(0);
    }
    ++sizes[group_of_root[r]];
  }
  CurveGroups groups;
  groups.starts.assign(sizes.size() + 1, 0);
  for (std::size_t g = 0; g < sizes.size(); ++g) groups.starts[g + 1] = groups.starts[g] + sizes[g];
  groups.members.resize(groups.starts.back());
  std::vector<std::size_t> fill(groups.starts.begin(), groups.starts.end() - 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (!boxes[i]) continue;
    groups.members[fill[group_of_root[sets.find(i)]]++] = i;
  }
  return groups;
}

CurveGroups group_by_buffer_boxes(const std::vector<Curve>& curves,
                                  const std::optional<WidthLists>& widths, double buffer_distance) {
  std::vector<std::optional<Box>> boxes(curves.size());
  for (std::size_t i = 0; i < curves.size(); ++i)
    boxes[i] = buffer_box(curves[i], width_list_of(widths, i), buffer_distance);
  return group_overlapping_boxes(boxes);
}

}  // namespace strandify
