// Uniform arc-length resampling of rings, with sharp corners kept as exact anchors.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "boundary.hpp"
#include "geometry.hpp"
#include "numeric.hpp"

namespace strandify {
namespace detail {

double span_length(const std::vector<Point>& span) {
  double total = 0.0;
  for (std::size_t i = 1; i < span.size(); ++i) total = total + root_sum_squares_distance(span[i - 1], span[i]);
  return total;
}

std::vector<double> cumulative_lengths(const std::vector<Point>& span) {
  std::vector<double> cumulative(span.size());
  if (span.empty()) return cumulative;
  cumulative[0] = 0.0;
  for (std::size_t i = 1; i < span.size(); ++i)
    cumulative[i] = cumulative[i - 1] + root_sum_squares_distance(span[i - 1], span[i]);
  return cumulative;
}

Point point_at_arc(const std::vector<Point>& span, const std::vector<double>& cumulative,
                   double s, std::size_t& piece) {
  const std::size_t last = span.size() - 1;
  while (piece < last && s > cumulative[piece + 1]) ++piece;
  if (piece == last) return span[last];
  const double length = cumulative[piece + 1] - cumulative[piece];
  const double f = length > 1e-12 ? (s - cumulative[piece]) / length : 0.0;
  const Point a = span[piece], b = span[piece + 1];
  return {a.x + f * (b.x - a.x), a.y + f * (b.y - a.y)};
}

double turning_cosine(Point prev, Point p, Point next) {
  return turning_cosine(prev, p, next, root_sum_squares_distance(prev, p),
                        root_sum_squares_distance(p, next));
}

double turning_cosine(Point prev, Point p, Point next, double lu, double lv) {
  const double ux = p.x - prev.x, uy = p.y - prev.y;
  const double vx = next.x - p.x, vy = next.y - p.y;
  if (lu < 1e-12 || lv < 1e-12) return std::nan("");
  const double c = (ux * vx + uy * vy) / (lu * lv);
  // Rounding can push the quotient just outside [-1, 1]; a NaN passes through untouched.
  if (c < -1.0) return -1.0;
  if (c > 1.0) return 1.0;
  return c;
}

// The ring as an open path that returns to its first point.
std::vector<Point> closed_path(const Ring& ring) {
  std::vector<Point> path;
  path.reserve(ring.size() + 1);
  path.assign(ring.begin(), ring.end());
  path.push_back(ring[0]);
  return path;
}

Ring resample_ring_by_spans(const Ring& ring, double spacing, double corner_angle,
                            const SpanResampler& resample_span) {
  const std::size_t n = ring.size();
  if (n < 3 || spacing <= 0.0) return ring;
  const std::vector<std::size_t> anchors = corner_anchors(ring, corner_angle);

  if (anchors.empty()) {
    const std::vector<Point> path = closed_path(ring);
    std::vector<Point> r = resample_span(path);
    if (r.size() <= 3) return ring;
    r.pop_back();  // the return to the first point
    return r;
  }

  Ring out;
  const std::size_t m = anchors.size();
  for (std::size_t i = 0; i < m; ++i) {
    const std::vector<Point> samples =
        resample_span(ring_span(ring, anchors[i], anchors[(i + 1) % m]));
    // The last sample is the next span's first point.
    if (!samples.empty()) out.insert(out.end(), samples.begin(), samples.end() - 1);
  }
  if (out.size() < 3) return ring;
  return out;
}

double ring_size_by_spans(const Ring& ring, double spacing, double corner_angle,
                          const SpanSizer& span_size) {
  const std::size_t n = ring.size();
  const double unchanged = static_cast<double>(n);
  if (n < 3 || spacing <= 0.0) return unchanged;
  const std::vector<std::size_t> anchors = corner_anchors(ring, corner_angle);

  if (anchors.empty()) {
    const std::vector<Point> path = closed_path(ring);
    const double c = span_size(path);
    return c > 3.0 ? c - 1.0 : unchanged;
  }

  double total = 0.0;
  const std::size_t m = anchors.size();
  for (std::size_t i = 0; i < m; ++i) {
    const double c = span_size(ring_span(ring, anchors[i], anchors[(i + 1) % m]));
    if (c > 0.0) total += c - 1.0;
  }
  return total < 3.0 ? unchanged : total;
}

}  // namespace detail

std::vector<std::size_t> corner_anchors(const Ring& ring, double corner_angle) {
  const std::size_t n = ring.size();
  const double c = std::cos(corner_angle);
  std::vector<std::size_t> anchors;
  for (std::size_t i = 0; i < n; ++i) {
    const Point prev = ring[(i + n - 1) % n];
    const Point next = ring[(i + 1) % n];
    // Strict, and false for a vertex without a turning angle (NaN cosine).
    if (c > detail::turning_cosine(prev, ring[i], next)) anchors.push_back(i);
  }
  return anchors;
}

std::vector<Point> ring_span(const Ring& ring, std::size_t a, std::size_t b) {
  const std::size_t n = ring.size();
  if (n == 0) return {};
  a %= n;
  b %= n;
  std::size_t count = (b + n - a) % n;
  if (count == 0) count = n;  // equal ends: once around the ring
  std::vector<Point> span;
  span.reserve(count + 1);
  std::size_t i = a;
  for (std::size_t w = 0; w <= count; ++w) {
    span.push_back(ring[i]);
    if (++i == n) i = 0;
  }
  return span;
}

std::vector<Point> resample_span_open(const std::vector<Point>& span, double spacing) {
  const std::size_t n = span.size();
  if (n <= 1) return span;

  const std::vector<double> cumulative = detail::cumulative_lengths(span);
  const double total = cumulative[n - 1];
  // A length that is not a finite number cannot be cut into a finite number of equal pieces
  // (and a NaN one places no sample anywhere), so it is treated like a degenerate span.
  if (!(total > 1e-12) || std::isinf(total)) return {span[0], span[n - 1]};

  std::uint64_t k = round_u64(total / spacing);
  if (k == 0) k = 1;
  const double kd = static_cast<double>(k);

  std::vector<Point> out;
  if (k < kMaxBoundaryPoints) out.reserve(static_cast<std::size_t>(k) + 1);
  std::size_t j = 0;
  for (std::uint64_t w = 0;; ++w) {
    const double t = (static_cast<double>(w) * total) / kd;
    out.push_back(detail::point_at_arc(span, cumulative, t, j));
    if (w == k) break;
  }
  return out;
}

Ring resample_ring(const Ring& ring, double spacing, double corner_angle) {
  return detail::resample_ring_by_spans(
      ring, spacing, corner_angle,
      [spacing](const std::vector<Point>& span) { return resample_span_open(span, spacing); });
}

double resample_ring_size(const Ring& ring, double spacing, double corner_angle) {
  return detail::ring_size_by_spans(
      ring, spacing, corner_angle, [spacing](const std::vector<Point>& span) -> double {
        if (span.size() <= 1) return static_cast<double>(span.size());
        const double total = detail::span_length(span);
        if (!(total > 1e-12) || std::isinf(total)) return 2.0;
        // Mirrors the saturating sample count: anything below one piece is one piece.
        const double k = std::round(total / spacing);
        return (k >= 1.0 ? k : 1.0) + 1.0;
      });
}

}  // namespace strandify
