#include "polyline_clip.hpp"

#include <algorithm>

namespace strandify {
namespace {

// Liang-Barsky: the parameter range [t0, t1] of p + t (q - p) inside the closed box.
bool clip_segment(Point p, Point q, const Box& b, double& t0, double& t1) {
  t0 = 0.0;
  t1 = 1.0;
  const double dx = q.x - p.x, dy = q.y - p.y;
  auto edge = [&](double denom, double num) {
    if (denom == 0.0) return num >= 0.0;
    const double r = num / denom;
    if (denom < 0.0) {
      if (r > t1) return false;
      if (r > t0) t0 = r;
    } else {
      if (r < t0) return false;
      if (r < t1) t1 = r;
    }
    return true;
  };
  return edge(-dx, p.x - b.min_x) && edge(dx, b.max_x - p.x) && edge(-dy, p.y - b.min_y) &&
         edge(dy, b.max_y - p.y);
}

// Points at the ends of the range are the polyline's own, bit for bit, so a polyline that lies
// inside the box comes out unchanged.
Point point_at(Point p, Point q, double t) {
  if (t == 0.0) return p;
  if (t == 1.0) return q;
  return {p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
}

double width_at(double a, double b, double t) {
  if (t == 0.0) return a;
  if (t == 1.0) return b;
  return a + t * (b - a);
}

}  // namespace

std::vector<ClippedRun> clip_polyline(const std::vector<Point>& points,
                                      const std::vector<double>* widths, std::size_t first,
                                      std::size_t last, const Box& box) {
  std::vector<ClippedRun> runs;
  ClippedRun current;
  bool open = false;
  auto close = [&](bool cut) {
    current.end_cut = cut;
    if (current.points.size() >= 2) runs.push_back(std::move(current));
    current = ClippedRun{};
    open = false;
  };
  for (std::size_t k = first; k < last; ++k) {
    const Point p = points[k], q = points[k + 1];
    double t0, t1;
    if (!clip_segment(p, q, box, t0, t1)) {
      if (open) close(true);
      continue;
    }
    if (!open || t0 > 0.0) {
      if (open) close(true);
      open = true;
      current.start_cut = k > 0 || t0 > 0.0;
      current.points.push_back(point_at(p, q, t0));
      if (widths) current.widths.push_back(width_at((*widths)[k], (*widths)[k + 1], t0));
    }
    if (t1 > t0) {
      current.points.push_back(point_at(p, q, t1));
      if (widths) current.widths.push_back(width_at((*widths)[k], (*widths)[k + 1], t1));
    }
    if (t1 < 1.0) close(true);
  }
  if (open) close(last + 1 < points.size());
  return runs;
}

bool inside_half_open(Point p, const Box& b) {
  return p.x >= b.min_x && p.x < b.max_x && p.y >= b.min_y && p.y < b.max_y;
}

bool on_far_edge(const std::vector<Point>& points, const Box& core) {
  const bool right = std::all_of(points.begin(), points.end(),
                                 [&](const Point& p) { return p.x == core.max_x; });
  const bool top = std::all_of(points.begin(), points.end(),
                               [&](const Point& p) { return p.y == core.max_y; });
  return right || top;
}

}  // namespace strandify
