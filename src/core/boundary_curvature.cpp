// The curvature index (sharply turning boundary vertices on a grid) and the two refiners that
// densify the boundary near those turns.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

#include "boundary.hpp"
#include "geometry.hpp"
#include "numeric.hpp"
#include "pair_table.hpp"

namespace strandify {
namespace {

constexpr double kMinTurn = 0.2617993877991494;     // 15 degrees: below it an edge stays whole
constexpr double kTurnRange = 1.3089969389957472;   // 75 degrees: from 15 to 90 degrees
constexpr double kRightAngle = 1.5707963267948966;  // sharper turns refine no further
constexpr double kStepFloor = 1e-6;
// A cell holding more turns than this files them into boxes of at most kBoxLeaf as well.
constexpr std::size_t kCrowdedCell = 64;
constexpr double kGentleCosineMargin = 1e-9;
constexpr std::uint32_t kBoxLeaf = 16;

// Target edge length near a weighted turn A: bd at 15 degrees, easing quadratically down to
// ratio x bd at 90 degrees and beyond; infinite (never split) below 15 degrees.
double refine_spacing(double angle, double bd, double ratio) {
  if (angle < kMinTurn) return std::numeric_limits<double>::infinity();
  double t = ((angle < kRightAngle ? angle : kRightAngle) - kMinTurn) / kTurnRange;
  if (t < 0.0) t = 0.0;
  if (t > 1.0) t = 1.0;
  return (t * t) * (ratio * bd - bd) + bd;
}

// Pieces of the edge a-b, as the unrounded ceiling (possibly huge); below 2 means whole.
double refine_pieces(Point a, Point b, const CurvatureIndex& index,
                     const RefinementSettings& r) {
  const Point mid = midpoint(a, b);
  const double angle = index.max_angle_near(mid, r.inner_radius, r.outer_radius);
  const double sigma = refine_spacing(angle, r.buffer_distance, r.ratio);
  const double len = root_sum_squares_distance(a, b);
  return len > sigma ? std::ceil(len / sigma) : 0.0;
}

// Step of the adaptive walk at a position whose weighted turn is A: h on gentle boundary,
// shrinking with 1/sqrt(A) above the angle h / adaptive_scale, never below min_spacing.
double adaptive_step(double angle, double h, double adaptive_scale, double min_spacing) {
  double sigma = h;
  if (!(angle <= 1e-9) && !(h / angle >= adaptive_scale)) {
    sigma = h * std::sqrt((h / angle) / adaptive_scale);
    if (sigma < min_spacing) sigma = min_spacing;
    if (sigma > h) sigma = h;
  }
  // A NaN spacing would stall the walk; the floor applies to it as well.
  return sigma > kStepFloor ? sigma : kStepFloor;
}

// Walks the span, handing every sample to `emit` until it returns false. Returns the arc
// position reached, so that a caller that stopped early knows how far the walk got.
template <class Emit>
double walk_adaptive(const std::vector<Point>& p, const CurvatureIndex& index, double h,
                     const RefinementSettings& r, Emit&& emit) {
  const double bd = r.buffer_distance;
  const double ratio = r.ratio;
  const std::size_t n = p.size();
  if (n == 0) return 0.0;
  if (n == 1) {
    emit(p[0]);
    return 0.0;
  }
  const std::vector<double> cumulative = detail::cumulative_lengths(p);
  const double total = cumulative[n - 1];
  // A length that is not finite would never be reached by any number of steps.
  if (!(total > 1e-12) || std::isinf(total)) {
    if (emit(p[0])) emit(p[n - 1]);
    return std::isfinite(total) ? total : 0.0;
  }

  const double min_spacing = ratio * bd < h ? ratio * bd : h;
  Point last = p[0];
  if (!emit(last)) return 0.0;
  double s = 0.0;
  std::size_t j = 0;
  for (;;) {
    const double angle = index.max_angle_near(last, r.inner_radius, r.outer_radius);
    const double step = adaptive_step(angle, h, r.adaptive_scale, min_spacing);
    // Also stop once a step no longer moves the position (far beyond 2^53 steps), where the
    // walk could otherwise never reach the end.
    if (s + step >= total - 0.5 * step || s + step == s) {
      emit(p[n - 1]);
      return total;
    }
    s = s + step;
    last = detail::point_at_arc(p, cumulative, s, j);
    if (!emit(last)) return s;
  }
}

// A turn of `angle` seen from squared distance d2: at full weight within `inner`, fading
// linearly to nothing at `outer`. Monotonic in d2, so a bound on the distance bounds the result.
double weighted(double d2, double angle, double inner, double outer) {
  if (!(d2 <= outer * outer)) return 0.0;
  const double d = std::sqrt(d2);
  const double w = d <= inner ? 1.0 : 1.0 - (d - inner) / (outer - inner);
  return w * angle;
}

bool is_saturated(std::int64_t key) {
  return key == std::numeric_limits<std::int64_t>::min() ||
         key == std::numeric_limits<std::int64_t>::max();
}

}  // namespace

// --- the index ---------------------------------------------------------------------------

CurvatureIndex::CurvatureIndex(double cell_size)
    : cell_size_(cell_size), inv_cell_(1.0 / cell_size) {}

std::size_t CurvatureIndex::CellHash::operator()(const CellKey& k) const {
  return static_cast<std::size_t>(
      pair_hash(static_cast<std::uint64_t>(k.x), static_cast<std::uint64_t>(k.y)));
}

CurvatureIndex::CellKey CurvatureIndex::key_of(Point p) const {
  return {floor_i64(p.x * inv_cell_), floor_i64(p.y * inv_cell_)};
}

namespace {

// Whether the ring, walked in its order, has the region it bounds on its left: an outer ring
// turning counterclockwise, a hole clockwise.
bool region_on_left(const Ring& ring, bool hole) { return (ring_area(ring) > 0.0) != hole; }

}  // namespace

void CurvatureIndex::add_ring(const Ring& ring, double angle_threshold, double convex_weight,
                              bool hole) {
  const std::size_t n = ring.size();
  if (n < 3) return;
  // The side of the region tells a convex turn.
  const bool weighs_convex = convex_weight != 1.0;
  const bool left = weighs_convex && region_on_left(ring, hole);
  // Most vertices turn gently. A cosine that exceeds the threshold's by this much belongs to an
  // angle below the threshold by at least as much (acos falls at least as fast as its argument
  // rises), far beyond the rounding of acos and cos: those vertices are passed over without
  // taking the arc cosine, and every other one is decided by it exactly as before.
  // (Only for thresholds in the range of acos, where cos is falling; below it every angle
  // qualifies and none is passed over.)
  const double gentle_above = angle_threshold >= 0.0
                                  ? std::cos(angle_threshold) + kGentleCosineMargin
                                  : std::numeric_limits<double>::infinity();
  double before = root_sum_squares_distance(ring[n - 1], ring[0]);  // the edge into vertex i
  for (std::size_t i = 0; i < n; ++i) {
    const Point p = ring[i];
    const Point next = ring[(i + 1) % n];
    const double after = root_sum_squares_distance(p, next);
    const double c = detail::turning_cosine(ring[(i + n - 1) % n], p, next, before, after);
    before = after;
    if (c > gentle_above) continue;
    double angle = std::acos(c);
    if (!(angle >= angle_threshold)) continue;  // inclusive; NaN never qualifies
    if (weighs_convex) {
      const double turn = cross(sub(p, ring[(i + n - 1) % n]), sub(next, p));
      if (left ? turn > 0.0 : turn < 0.0) angle *= convex_weight;
    }
    const CellKey k = key_of(p);
    const std::size_t id = entries_.size();
    if (is_saturated(k.x)) {
      saturated_x_.emplace(p.x, id);
    } else if (is_saturated(k.y)) {
      saturated_y_.emplace(p.y, id);
    } else {
      gridded_.push_back(id);
    }
    entries_.push_back({p, angle, k});
    filed_ = false;
  }
}

void CurvatureIndex::finish() {
  cell_start_.clear();
  cell_entries_.clear();
  cells_.clear();
  boxes_ = BoxTree();
  box_max_angle_.clear();
  filed_ = true;
  if (gridded_.empty()) return;
  std::int64_t x0 = entries_[gridded_[0]].key.x, x1 = x0;
  std::int64_t y0 = entries_[gridded_[0]].key.y, y1 = y0;
  for (const std::size_t id : gridded_) {
    const CellKey& k = entries_[id].key;
    x0 = std::min(x0, k.x);
    x1 = std::max(x1, k.x);
    y0 = std::min(y0, k.y);
    y1 = std::max(y1, k.y);
  }
  // Keys are at most 2^63 from zero, so the spans are exact in unsigned arithmetic.
  const std::uint64_t wx = static_cast<std::uint64_t>(x1) - static_cast<std::uint64_t>(x0) + 1;
  const std::uint64_t wy = static_cast<std::uint64_t>(y1) - static_cast<std::uint64_t>(y0) + 1;
  const std::uint64_t budget = 4 * static_cast<std::uint64_t>(gridded_.size()) + 1024;
  std::size_t crowded = 0;  // entries in the fullest cell
  if (wx <= budget && wy <= budget && wx * wy <= budget) {
    // A dense grid over the occupied cells: a query finds a cell by its index, no hashing.
    min_key_ = {x0, y0};
    width_ = static_cast<std::int64_t>(wx);
    height_ = static_cast<std::int64_t>(wy);
    cell_start_.assign(static_cast<std::size_t>(wx * wy) + 1, 0);
    for (const std::size_t id : gridded_) ++cell_start_[dense_cell(entries_[id].key) + 1];
    for (std::size_t c = 1; c < cell_start_.size(); ++c) cell_start_[c] += cell_start_[c - 1];
    cell_entries_.resize(gridded_.size());
    std::vector<std::size_t> fill(cell_start_.begin(), cell_start_.end() - 1);
    for (const std::size_t id : gridded_) cell_entries_[fill[dense_cell(entries_[id].key)]++] = id;
    for (std::size_t c = 0; c + 1 < cell_start_.size(); ++c) {
      crowded = std::max(crowded, cell_start_[c + 1] - cell_start_[c]);
      sort_sharpest_first(cell_entries_.begin() + static_cast<std::ptrdiff_t>(cell_start_[c]),
                          cell_entries_.begin() + static_cast<std::ptrdiff_t>(cell_start_[c + 1]));
    }
  } else {
    for (const std::size_t id : gridded_) {
      std::vector<std::size_t>& cell = cells_[entries_[id].key];
      cell.push_back(id);
      crowded = std::max(crowded, cell.size());
    }
  }
  if (crowded > kCrowdedCell) build_boxes();
}

// The answer of a query is the largest weighted angle, whatever order the entries are looked
// at in; a cell's entries sharpest first let a query stop in the cell at the first entry whose
// full angle cannot beat the best found.
void CurvatureIndex::sort_sharpest_first(std::vector<std::size_t>::iterator first,
                                         std::vector<std::size_t>::iterator last) const {
  std::stable_sort(first, last,
                   [this](std::size_t a, std::size_t b) { return entries_[a].angle > entries_[b].angle; });
}

void CurvatureIndex::build_boxes() {
  if (gridded_.size() >= std::numeric_limits<std::uint32_t>::max()) return;  // cells only
  std::vector<std::uint32_t> ids(gridded_.begin(), gridded_.end());
  boxes_ = BoxTree(std::move(ids), [&](std::uint32_t id) { return entries_[id].position; },
                   kBoxLeaf);
  const std::vector<BoxTree::Box>& boxes = boxes_.boxes();
  box_max_angle_.assign(boxes.size(), 0.0);
  // Children come after their parents: from the last box back, each box's largest angle is
  // complete when its parent takes it.
  for (std::size_t b = boxes.size(); b-- > 0;) {
    const BoxTree::Box& box = boxes[b];
    double angle = 0.0;
    if (box.low == 0) {
      for (std::uint32_t i = box.first; i < box.last; ++i)
        angle = std::max(angle, entries_[boxes_.items()[i]].angle);
    } else {
      angle = std::max(box_max_angle_[box.low], box_max_angle_[box.high]);
    }
    box_max_angle_[b] = angle;
  }
}

// At least the weighted angle of every entry of the box: the weight falls with the distance,
// and the box's nearest point is no farther from q than any of its entries, in floating point
// too, as the squared gap is computed with monotonic operations and weighted is monotonic in it.
double CurvatureIndex::box_bound(std::size_t box, Point q, double inner, double outer) const {
  return weighted(BoxTree::gap_squared(boxes_.boxes()[box], q), box_max_angle_[box], inner, outer);
}

std::size_t CurvatureIndex::dense_cell(const CellKey& k) const {
  return static_cast<std::size_t>((k.x - min_key_.x) * height_ + (k.y - min_key_.y));
}

double CurvatureIndex::weighted_angle(const Entry& e, Point q, double inner,
                                      double outer) const {
  return weighted(squared_distance(q, e.position), e.angle, inner, outer);
}

double CurvatureIndex::max_angle_near(Point q, double inner, double outer) const {
  if (entries_.empty()) return 0.0;
  const std::int64_t x0 = floor_i64((q.x - outer) * inv_cell_);
  const std::int64_t x1 = floor_i64((q.x + outer) * inv_cell_);
  const std::int64_t y0 = floor_i64((q.y - outer) * inv_cell_);
  const std::int64_t y1 = floor_i64((q.y + outer) * inv_cell_);
  if (x1 < x0 || y1 < y0) return 0.0;

  double best = 0.0;
  auto consider = [&](std::size_t entry) {
    const CellKey& k = entries_[entry].key;
    if (k.x < x0 || k.x > x1 || k.y < y0 || k.y > y1) return;
    const double v = weighted_angle(entries_[entry], q, inner, outer);
    if (v > best) best = v;  // a NaN never wins
  };

  // Radii that are huge relative to the cell size (a fallback cell size, a huge buffer
  // distance, a range reaching a saturated key) can span more cells than there are entries;
  // visiting every entry finds exactly the same ones, faster.
  const double cells_in_range = (static_cast<double>(x1) - static_cast<double>(x0) + 1.0) *
                                (static_cast<double>(y1) - static_cast<double>(y0) + 1.0);
  // Before finish() the cells are not filed yet; every entry is looked at instead.
  if (!filed_ || (cells_in_range > 9.0 && cells_in_range > static_cast<double>(entries_.size()))) {
    for (std::size_t i = 0; i < entries_.size(); ++i) consider(i);
    return best;
  }
  const bool boxed_query = !boxes_.empty() && std::isfinite(q.x) && std::isfinite(q.y) &&
                          inner >= 0.0 && outer > inner && std::isfinite(outer);
  if (boxed_query) {
    // The same entries as the cells below would offer (`consider` keeps the key range), less
    // those whose box cannot win.
    boxes_.search([&](std::size_t box) { return box_bound(box, q, inner, outer); },
                  [&](double bound) { return bound > best; }, consider);
  } else if (!cell_start_.empty()) {
    // Only the part of the range that overlaps the grid can hold entries.
    const std::int64_t gx1 = min_key_.x + (width_ - 1), gy1 = min_key_.y + (height_ - 1);
    const std::int64_t lo_x = std::max(x0, min_key_.x), hi_x = std::min(x1, gx1);
    const std::int64_t lo_y = std::max(y0, min_key_.y), hi_y = std::min(y1, gy1);
    for (std::int64_t cx = lo_x; cx <= hi_x; ++cx) {
      for (std::int64_t cy = lo_y; cy <= hi_y; ++cy) {
        const std::size_t c = dense_cell({cx, cy});
        for (std::size_t e = cell_start_[c]; e < cell_start_[c + 1]; ++e) {
          // Sharpest first, and a weight is at most 1: no later entry of the cell can win.
          if (!(entries_[cell_entries_[e]].angle > best)) break;
          consider(cell_entries_[e]);
        }
      }
    }
  } else if (!cells_.empty()) {
    for (std::int64_t cx = x0;; ++cx) {
      for (std::int64_t cy = y0;; ++cy) {
        const auto it = cells_.find({cx, cy});
        if (it != cells_.end()) {
          for (const std::size_t entry : it->second) consider(entry);
        }
        if (cy == y1) break;
      }
      if (cx == x1) break;
    }
  }
  // Any entry within `outer` of q differs from it by less than `reach` in each coordinate,
  // even after rounding (and when outer * outer underflows to zero).
  const double reach = 2.0 * (2.0 * std::fabs(outer) + 1e-150);
  if (!(reach >= 0.0)) return best;  // a NaN radius reaches nothing
  auto search = [&](const std::multimap<double, std::size_t>& by, double centre) {
    const auto end = by.upper_bound(centre + reach);
    for (auto it = by.lower_bound(centre - reach); it != end; ++it) consider(it->second);
  };
  if (!saturated_x_.empty() && (is_saturated(x0) || is_saturated(x1))) search(saturated_x_, q.x);
  if (!saturated_y_.empty() && (is_saturated(y0) || is_saturated(y1))) search(saturated_y_, q.y);
  return best;
}

// --- refiners ----------------------------------------------------------------------------

Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index,
                            const RefinementSettings& refinement) {
  const std::size_t n = ring.size();
  if (n < 3 || refinement.ratio <= 0.0) return ring;

  // One query per edge; the piece counts are kept so that the output is allocated once.
  std::vector<std::uint64_t> pieces(n);
  for (std::size_t i = 0; i < n; ++i)
    pieces[i] = saturate_u64(refine_pieces(ring[i], ring[(i + 1) % n], index, refinement));
  return detail::split_edges(ring, pieces, kMaxBoundaryPoints);
}

std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& span,
                                               const CurvatureIndex& index, double spacing,
                                               const RefinementSettings& refinement) {
  std::vector<Point> out;
  const double expected = detail::span_length(span) / spacing + 2.0;
  if (expected < static_cast<double>(kMaxBoundaryPoints))
    out.reserve(static_cast<std::size_t>(saturate_u64(expected)));
  walk_adaptive(span, index, spacing, refinement, [&out](Point p) {
    out.push_back(p);
    return true;
  });
  return out;
}

Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            const RefinementSettings& refinement, double corner_angle) {
  return detail::resample_ring_by_spans(
      ring, spacing, corner_angle, [&](const std::vector<Point>& span) {
        return adaptive_resample_span_open(span, index, spacing, refinement);
      });
}

Ring refine_ring_from_index(const Ring& ring, const CurvatureIndex& index, double buffer_distance,
                            double ratio) {
  return refine_ring_from_index(ring, index, resolve_refinement(buffer_distance, ratio));
}

std::vector<Point> adaptive_resample_span_open(const std::vector<Point>& span,
                                               const CurvatureIndex& index, double spacing,
                                               double buffer_distance, double ratio) {
  return adaptive_resample_span_open(span, index, spacing,
                                     resolve_refinement(buffer_distance, ratio));
}

Ring resample_ring_adaptive(const Ring& ring, const CurvatureIndex& index, double spacing,
                            double buffer_distance, double ratio, double corner_angle) {
  return resample_ring_adaptive(ring, index, spacing, resolve_refinement(buffer_distance, ratio),
                                corner_angle);
}

// --- point counts ------------------------------------------------------------------------

double refined_ring_size(const Ring& ring, const CurvatureIndex& index,
                         const RefinementSettings& refinement) {
  const std::size_t n = ring.size();
  if (n < 3 || refinement.ratio <= 0.0) return static_cast<double>(n);
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double k = refine_pieces(ring[i], ring[(i + 1) % n], index, refinement);
    total += k >= 2.0 ? k : 1.0;
  }
  return total;
}

WalkCount adaptive_ring_size(const Ring& ring, const CurvatureIndex& index, double spacing,
                             const RefinementSettings& refinement, double corner_angle,
                             double budget) {
  WalkCount count;
  double kept = 0.0;  // samples of the finished spans, each without its last one
  const double size = detail::ring_size_by_spans(
      ring, spacing, corner_angle, [&](const std::vector<Point>& span) -> double {
        if (!count.complete) return 1.0;  // the count is abandoned; skip the remaining spans
        double c = 0.0;
        const double reached =
            walk_adaptive(span, index, spacing, refinement, [&](Point) {
              c += 1.0;
              return kept + (c - 1.0) <= budget;
            });
        count.arc_walked += reached;
        if (c > 0.0) kept += c - 1.0;
        if (kept > budget) count.complete = false;
        return c;
      });
  count.points = count.complete ? size : kept;
  return count;
}

}  // namespace strandify
