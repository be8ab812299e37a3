// The boundary preprocessing stage: settings derived once per call, the curvature index over
// every ring of the call, and the conditioning of each polygon against it.
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "boundary.hpp"
#include "assert.hpp"
#include "geometry.hpp"
#include "numeric.hpp"

namespace strandify {
namespace {

constexpr double kCornerAngle = 1.0471975511965976;      // 60 degrees
// The point bounds divide by a smallest spacing that the refiners compute with a few roundings;
// a slightly smaller divisor keeps the bound an upper bound.
constexpr double kRoundingSlack = 0.999;

// A count too large for 64 bits (or infinite) is not "about" anything; printing the saturated
// value would only look like a real estimate.
Failure too_many_points(double estimate, std::uint64_t limit, const char* remedy) {
  const double rounded = std::round(estimate);
  const std::string count = rounded < 18446744073709551616.0
                                ? "about " + std::to_string(saturate_u64(rounded)) + " points"
                                : "more points than can be counted";
  return {FailureKind::boundary_points,
          "boundary preprocessing would create " + count + ", more than the limit of " +
              std::to_string(limit) + "; " + remedy,
          std::nullopt};
}

double ring_perimeter(const Ring& ring) {
  const std::size_t n = ring.size();
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) total += root_sum_squares_distance(ring[i], ring[(i + 1) % n]);
  return total;
}

template <class F>
void for_each_ring(const std::vector<Polygon>& polygons, F&& f) {
  for (const Polygon& p : polygons) {
    f(p.outer);
    for (const Ring& h : p.holes) f(h);
  }
}

template <class F>
void for_each_ring(std::vector<Polygon>& polygons, F&& f) {
  for (Polygon& p : polygons) {
    f(p.outer);
    for (Ring& h : p.holes) f(h);
  }
}

// The polygon with f applied to every ring, outer first, holes in order.
template <class F>
Polygon map_polygon(const Polygon& p, F&& f) {
  Polygon q;
  q.outer = f(p.outer);
  q.holes.reserve(p.holes.size());
  for (const Ring& h : p.holes) q.holes.push_back(f(h));
  return q;
}

template <class F>
std::vector<Polygon> map_rings(const std::vector<Polygon>& polygons, F&& f) {
  std::vector<Polygon> out;
  out.reserve(polygons.size());
  for (const Polygon& p : polygons) out.push_back(map_polygon(p, f));
  return out;
}

}  // namespace

double subdivided_ring_size(const Ring& ring, double max_edge) {
  const std::size_t n = ring.size();
  if (n <= 1) return static_cast<double>(n);
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double len = root_sum_squares_distance(ring[i], ring[(i + 1) % n]);
    // An edge that is not finite stays whole, as in subdivide_ring.
    const double k = (len > max_edge && std::isfinite(len)) ? std::ceil(len / max_edge) : 0.0;
    total += k >= 2.0 ? k : 1.0;
  }
  return total;
}

// --- settings ----------------------------------------------------------------------------

BoundarySettings resolve_boundary(double buffer_distance, double feature_size,
                                  const BoundaryOptions& o) {
  BoundarySettings s = resolve_boundary(buffer_distance, feature_size, o.subdivision_ratio,
                                        o.resample, o.boundary_simplification);
  s.max_points = o.max_points;
  return s;
}

bool BoundaryConditioner::simplifies() const {
  return s_.simplification_tolerance > 0.0 && unsimplified_fits_;
}

// --- point bounds ------------------------------------------------------------------------

// Size of a ring after subdivision or uniform resampling, without refinement.
double BoundaryConditioner::first_pass_size(const Ring& ring) const {
  if (s_.resample_spacing) return resample_ring_size(ring, *s_.resample_spacing, kCornerAngle);
  return subdivided_ring_size(ring, s_.max_edge);
}

// The smallest spacing refinement can produce: near a turn the subdivision spacing eases down
// to ratio x bd (or up to it, for a ratio above 1); the adaptive step is smallest at the
// sharpest weighted turn, which is below 4 radians, and never below its floor of 1e-6.
double BoundaryConditioner::refinement_step_floor() const {
  const double bd = s_.refinement.buffer_distance;
  const double ratio = s_.refinement.ratio;
  if (!s_.resample_spacing) return (ratio < 1.0 ? ratio : 1.0) * bd * kRoundingSlack;
  const double h = *s_.resample_spacing;
  const double min_spacing = ratio * bd < h ? ratio * bd : h;
  double sharpest = h * std::sqrt((h / 4.0) / s_.refinement.adaptive_scale);
  if (sharpest > h) sharpest = h;
  if (sharpest < min_spacing) sharpest = min_spacing;
  return (sharpest > 1e-6 ? sharpest : 1e-6) * kRoundingSlack;
}

// An upper bound on the refined size of a ring whose first pass has `points` points and the
// given perimeter. Subdividing an edge of length l at spacing at least f gives at most
// 1 + l / f points; an adaptive span emits its two ends and at most one sample per step, and
// there are no more spans than points.
double BoundaryConditioner::refined_size_bound(double points, double perimeter) const {
  const double floor = refinement_step_floor();
  if (!s_.resample_spacing) return points + perimeter / floor;
  return perimeter / floor + 2.0 * points + 3.0;
}

// The exact refined size is counted only when the cheap bound exceeds the limit: refinement
// usually densifies a small part of the boundary, so the bound is far too pessimistic to
// reject a call on.
std::optional<Failure> BoundaryConditioner::check_refined_size() const {
  const double limit = static_cast<double>(s_.max_points);
  double bound = 0.0;
  for_each_ring(first_pass_, [&](const Ring& r) {
    bound += refined_size_bound(static_cast<double>(r.size()), ring_perimeter(r));
  });
  if (!(bound > limit)) return std::nullopt;

  if (!s_.resample_spacing) {
    double total = 0.0;
    for_each_ring(first_pass_,
                  [&](const Ring& r) { total += refined_ring_size(r, *index_, s_.refinement); });
    if (total > limit)
      return too_many_points(total, s_.max_points, "increase subdivision_ratio or set it to 0");
    return std::nullopt;
  }

  // The adaptive walk has no closed form; it is counted, but only up to the limit, and the
  // count is extrapolated over the boundary length it did not reach.
  const double h = *s_.resample_spacing;
  double total = 0.0, walked = 0.0, perimeter = 0.0;
  bool complete = true;
  for_each_ring(first_pass_, [&](const Ring& r) {
    perimeter += ring_perimeter(r);
    if (!complete) return;
    const WalkCount c = adaptive_ring_size(r, *index_, h, s_.refinement, kCornerAngle, limit - total);
    total += c.points;
    walked += c.arc_walked;
    complete = c.complete;
  });
  if (!complete && walked > 0.0 && perimeter > walked) {
    const double extrapolated = total * (perimeter / walked);
    if (extrapolated > total) total = extrapolated;
  }
  if (!complete || total > limit)
    return too_many_points(total, s_.max_points,
                           "increase resample or subdivision_ratio, or set subdivision_ratio to 0");
  return std::nullopt;
}

// --- building ----------------------------------------------------------------------------

std::optional<Failure> BoundaryConditioner::prepare(const std::vector<Polygon>& polygons) {
  const double limit = static_cast<double>(s_.max_points);
  const double tol = s_.simplification_tolerance;
  const bool simplify = tol > 0.0;
  if (simplify) first_pass_ = map_rings(polygons, [tol](const Ring& r) { return rdp(r, tol); });
  const std::vector<Polygon>& source = simplify ? first_pass_ : polygons;

  // Nothing is subdivided or resampled before the whole call is known to stay in bounds.
  double size = 0.0;
  for_each_ring(source, [&](const Ring& r) { size += first_pass_size(r); });
  if (size > limit)
    return too_many_points(size, s_.max_points,
                           s_.resample_spacing ? "increase resample" : "increase feature_size");

  if (!s_.resample_spacing) {
    if (simplify) {
      for_each_ring(first_pass_, [&](Ring& r) { r = subdivide_ring(r, s_.max_edge); });
    } else {
      first_pass_ = map_rings(polygons, [&](const Ring& r) { return subdivide_ring(r, s_.max_edge); });
    }
  } else if (!simplify) {
    first_pass_ = polygons;
  }

  if (s_.refinement_enabled) {
    // Every ring of the call goes into the index before any ring is refined, so a sharp turn
    // on one ring densifies whatever boundary lies near it, on any ring.
    CurvatureIndex& index = index_.emplace(s_.index_cell_size);
    // Convex turns weigh convex_turn_weight of their angle, on rings at least
    // lean_ring_perimeter long (measured before any resampling).
    const auto add = [&](const Ring& r, bool hole) {
      const bool lean =
          s_.convex_turn_weight != 1.0 && !(ring_perimeter(r) < s_.lean_ring_perimeter);
      const double weight = lean ? s_.convex_turn_weight : 1.0;
      if (s_.resample_spacing) {
        index.add_ring(resample_ring(r, *s_.resample_spacing, kCornerAngle),
                       s_.index_angle_threshold, weight, hole);
      } else {
        index.add_ring(r, s_.index_angle_threshold, weight, hole);
      }
    };
    for (const Polygon& p : first_pass_) {
      add(p.outer, false);
      for (const Ring& h : p.holes) add(h, true);
    }
    index.finish();
    if (auto failure = check_refined_size()) return failure;
  }

  // A polygon whose simplified rings fail to triangulate may be conditioned again without
  // simplification; allow that only when even all polygons at once would stay in bounds.
  if (simplify) unsimplified_fits_ = unsimplified_size_bound(polygons) <= limit;
  return std::nullopt;
}

double BoundaryConditioner::unsimplified_size_bound(const std::vector<Polygon>& polygons) const {
  double size = 0.0;
  for_each_ring(polygons, [&](const Ring& r) {
    if (!s_.refinement_enabled) {
      size += first_pass_size(r);
    } else {
      const double points =
          s_.resample_spacing ? static_cast<double>(r.size()) : subdivided_ring_size(r, s_.max_edge);
      size += refined_size_bound(points, ring_perimeter(r));
    }
  });
  return size;
}

double BoundaryConditioner::size_bound(const std::vector<Polygon>& polygons,
                                       const BoundarySettings& settings) {
  BoundaryConditioner c;
  c.s_ = settings;
  return c.unsimplified_size_bound(polygons);
}

Outcome<BoundaryConditioner> BoundaryConditioner::build(const std::vector<Polygon>& polygons,
                                                        const BoundarySettings& settings) {
  Outcome<BoundaryConditioner> out;
  out.value.s_ = settings;
  if (auto failure = out.value.prepare(polygons))
    return Outcome<BoundaryConditioner>::fail(std::move(*failure));
  return out;
}

Outcome<BoundaryConditioner> BoundaryConditioner::build(const std::vector<Polygon>& polygons,
                                                        double buffer_distance,
                                                        double feature_size,
                                                        const BoundaryOptions& options) {
  return build(polygons, resolve_boundary(buffer_distance, feature_size, options));
}

// --- conditioning ------------------------------------------------------------------------

Ring BoundaryConditioner::first_pass(const Ring& ring, bool simplify) const {
  const bool simplified = simplify && s_.simplification_tolerance > 0.0;
  if (s_.resample_spacing) return simplified ? rdp(ring, s_.simplification_tolerance) : ring;
  if (simplified) return subdivide_ring(rdp(ring, s_.simplification_tolerance), s_.max_edge);
  return subdivide_ring(ring, s_.max_edge);
}

Ring BoundaryConditioner::finish(const Ring& ring) const {
  if (!s_.resample_spacing)
    return index_ ? refine_ring_from_index(ring, *index_, s_.refinement) : ring;
  const double h = *s_.resample_spacing;
  if (!index_) return resample_ring(ring, h, kCornerAngle);
  return resample_ring_adaptive(ring, *index_, h, s_.refinement, kCornerAngle);
}

Ring BoundaryConditioner::finish(Ring&& ring) const {
  if (!s_.resample_spacing && !index_) return std::move(ring);  // subdivision was all there was
  return finish(static_cast<const Ring&>(ring));
}

Polygon BoundaryConditioner::condition(const Polygon& polygon, bool simplify) const {
  const bool s = simplify || !unsimplified_fits_;
  return map_polygon(polygon, [&](const Ring& r) { return finish(first_pass(r, s)); });
}

Polygon BoundaryConditioner::condition_built(std::size_t i) const {
  STRANDIFY_ASSERT(i < first_pass_.size());
  if (i >= first_pass_.size()) return {};
  return map_polygon(first_pass_[i], [this](const Ring& r) { return finish(r); });
}

Outcome<std::vector<Polygon>> preprocess_boundaries(std::vector<Polygon> polygons,
                                                    const BoundarySettings& settings) {
  using Result = Outcome<std::vector<Polygon>>;
  auto built = BoundaryConditioner::build(polygons, settings);
  if (!built.ok()) return Result::fail(std::move(*built.failure));
  std::vector<Polygon>().swap(polygons);  // the first pass holds everything still needed

  BoundaryConditioner& c = built.value;
  Result out;
  out.value.reserve(c.first_pass_.size());
  for (Polygon& p : c.first_pass_) {
    Polygon q;
    q.outer = c.finish(std::move(p.outer));
    q.holes.reserve(p.holes.size());
    for (Ring& h : p.holes) q.holes.push_back(c.finish(std::move(h)));
    out.value.push_back(std::move(q));
    p = Polygon();
  }
  return out;
}

Outcome<std::vector<Polygon>> preprocess_boundaries(std::vector<Polygon> polygons,
                                                    double buffer_distance, double feature_size,
                                                    const BoundaryOptions& options) {
  return preprocess_boundaries(std::move(polygons),
                               resolve_boundary(buffer_distance, feature_size, options));
}

}  // namespace strandify
