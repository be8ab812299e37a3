// A static tree of boxes over points, for exact branch-and-bound searches (nearest boundary
// vertex, largest weighted turn near a point). Each box is halved at the median along its
// longer side down to `leaf` points, so the tree is balanced whatever the points' spread;
// boxes are the points' exact bounds, so a bound computed from a box with monotonic
// floating-point operations holds for every point in it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "types.hpp"

namespace strandify {

class BoxTree {
 public:
  struct Box {
    double min_x, min_y, max_x, max_y;
    std::uint32_t first, last;  // its items, items()[first, last)
    std::uint32_t low, high;    // children, 0 for a leaf (the root, index 0, is nobody's child)
  };

  BoxTree() = default;
  // `ids` are the items; `position(id)` their points, all finite. Indices are 32-bit, which
  // keeps the boxes small; with 2^32 items or more the tree stays empty.
  template <class Position>
  BoxTree(std::vector<std::uint32_t> ids, const Position& position, std::uint32_t leaf);

  bool empty() const { return boxes_.empty(); }
  const std::vector<Box>& boxes() const { return boxes_; }
  const std::vector<std::uint32_t>& items() const { return items_; }

  // Squared distance from p to the box, no more than that of any of its points.
  static double gap_squared(const Box& b, Point p) {
    const double gx = p.x < b.min_x ? b.min_x - p.x : (p.x > b.max_x ? p.x - b.max_x : 0.0);
    const double gy = p.y < b.min_y ? b.min_y - p.y : (p.y > b.max_y ? p.y - b.max_y : 0.0);
    return gx * gx + gy * gy;
  }

  // Depth-first over the boxes whose promise(box index) is still worth(promise) when reached,
  // the more promising child first; visit(id) for every item of such a leaf. `worth` is asked
  // again at every box, so it may tighten as the visits find better answers.
  template <class Promise, class Worth, class Visit>
  void search(const Promise& promise, const Worth& worth, const Visit& visit) const;

 private:
  std::vector<std::uint32_t> items_;
  std::vector<Box> boxes_;
};

template <class Position>
BoxTree::BoxTree(std::vector<std::uint32_t> ids, const Position& position, std::uint32_t leaf) {
  if (ids.empty() || ids.size() >= std::numeric_limits<std::uint32_t>::max()) return;
  items_ = std::move(ids);
  boxes_.reserve(items_.size() / 4 + 1);
  boxes_.push_back({0, 0, 0, 0, 0, static_cast<std::uint32_t>(items_.size()), 0, 0});
  // Boxes are split in creation order, so every child comes after its parent.
  for (std::size_t b = 0; b < boxes_.size(); ++b) {
    Box box = boxes_[b];
    const Point first = position(items_[box.first]);
    box.min_x = box.max_x = first.x;
    box.min_y = box.max_y = first.y;
    for (std::uint32_t i = box.first; i < box.last; ++i) {
      const Point p = position(items_[i]);
      box.min_x = std::min(box.min_x, p.x);
      box.max_x = std::max(box.max_x, p.x);
      box.min_y = std::min(box.min_y, p.y);
      box.max_y = std::max(box.max_y, p.y);
    }
    if (box.last - box.first > leaf) {
      // Ties in the coordinate fall back to the item's number, so the split does not depend
      // on the library's selection algorithm.
      const bool along_x = box.max_x - box.min_x >= box.max_y - box.min_y;
      const std::uint32_t mid = box.first + (box.last - box.first) / 2;
      const auto begin = items_.begin();
      std::nth_element(begin + static_cast<std::ptrdiff_t>(box.first),
                       begin + static_cast<std::ptrdiff_t>(mid),
                       begin + static_cast<std::ptrdiff_t>(box.last),
                       [&](std::uint32_t a, std::uint32_t c) {
                         const Point pa = position(a), pc = position(c);
                         const double ca = along_x ? pa.x : pa.y, cc = along_x ? pc.x : pc.y;
                         return ca < cc || (ca == cc && a < c);
                       });
      box.low = static_cast<std::uint32_t>(boxes_.size());
      boxes_.push_back({0, 0, 0, 0, box.first, mid, 0, 0});
      box.high = static_cast<std::uint32_t>(boxes_.size());
      boxes_.push_back({0, 0, 0, 0, mid, box.last, 0, 0});
    }
    boxes_[b] = box;
  }
}

template <class Promise, class Worth, class Visit>
void BoxTree::search(const Promise& promise, const Worth& worth, const Visit& visit) const {
  if (boxes_.empty()) return;
  // The tree is balanced, so its depth stays far below the stack's size.
  std::array<std::uint32_t, 128> stack;
  std::size_t top = 0;
  stack[top++] = 0;
  while (top > 0) {
    const std::uint32_t index = stack[--top];
    if (!worth(promise(index))) continue;
    const Box& b = boxes_[index];
    if (b.low == 0 || top + 2 > stack.size()) {  // the second is unreachable; stays exact
      for (std::uint32_t i = b.first; i < b.last; ++i) visit(items_[i]);
      continue;
    }
    const bool low_first = promise(b.low) >= promise(b.high);
    stack[top++] = low_first ? b.high : b.low;
    stack[top++] = low_first ? b.low : b.high;
  }
}

}  // namespace strandify
