// Seeded drawings of overdrawn glyph strokes, the kind of input a hand sketch gives: every
// stroke (a line, an arc or a hook) is traced two to four times with a wobbling pen, so the
// union of the buffers is full of thin slivers and narrow notches between the traces.
//
// Everything is computed with +, -, *, / and sqrt only (IEEE-exact operations; the trigonometry
// below is a fixed polynomial, not the C library's), and the generator is splitmix64, so the same
// seed gives the same drawing bit for bit on every platform and compiler.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "types.hpp"

namespace sketch {

using strandify::Curve;
using strandify::Point;

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }  // [0, 1)
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  int between(int lo, int hi) {  // [lo, hi]; the modulo bias does not matter here
    return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  double sign() { return (next() & 1u) ? 1.0 : -1.0; }

 private:
  std::uint64_t state_;
};

// sin on [-pi/2, pi/2] by its Taylor series to degree 19 (error far below 1e-12 there), the
// rest of the line folded onto that interval. Range reduction by a multiple of 2 pi loses a
// little accuracy for large arguments, but the result is still the same on every platform.
inline double poly_sin(double x) {
  const double turns = std::floor(x / kTwoPi + 0.5);
  x -= turns * kTwoPi;  // now in [-pi, pi]
  if (x > 0.5 * kPi) x = kPi - x;
  if (x < -0.5 * kPi) x = -kPi - x;
  const double x2 = x * x;
  double term = x;
  double sum = x;
  for (int k = 1; k <= 9; ++k) {
    term = -term * x2 / static_cast<double>((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}
inline double poly_cos(double x) { return poly_sin(x + 0.5 * kPi); }

struct SketchSettings {
  int min_strokes = 2;
  int max_strokes = 5;
  int min_traces = 2;         // re-traces per stroke
  int max_traces = 4;
  double min_length = 20.0;   // stroke length
  double max_length = 80.0;
  double extent = 50.0;       // stroke starts lie in [0, extent]^2
  double spacing = 0.4;       // distance between consecutive trace points
  double wobble = 0.45;       // largest sideways wobble of a trace
  double drift = 0.5;         // largest constant sideways shift of a trace
  double end_jitter = 1.0;    // how far a trace may overshoot or stop short at either end
};

// The ideal stroke: a path of points, about `spacing` apart, before any trace wobbles.
struct StrokeShape {
  std::vector<Point> points;
  std::vector<Point> normals;  // unit left normals of the path at each point
};

namespace detail {

inline void push_sample(StrokeShape& s, Point p, double heading) {
  s.points.push_back(p);
  s.normals.push_back({-poly_sin(heading), poly_cos(heading)});
}

// Samples a path made of a straight run followed by an arc (either part may be empty): lines,
// arcs and hooks are all of this form. `s0` and `s1` are the arc-length limits to sample,
// which lets a trace start early or late and overshoot or stop short.
inline StrokeShape sample_run_then_arc(Point start, double heading, double straight, double radius,
                                       double turn, double s0, double s1, double spacing) {
  StrokeShape shape;
  const double arc = radius * std::fabs(turn);
  if (s1 <= s0) s1 = s0 + spacing;
  const int n = static_cast<int>((s1 - s0) / spacing) + 1;
  const double step = (s1 - s0) / n;
  const double side = turn < 0.0 ? -1.0 : 1.0;
  shape.points.reserve(static_cast<std::size_t>(n) + 1);
  shape.normals.reserve(static_cast<std::size_t>(n) + 1);
  const Point bend{start.x + straight * poly_cos(heading), start.y + straight * poly_sin(heading)};
  for (int i = 0; i <= n; ++i) {
    const double s = s0 + step * i;
    if (s <= straight || arc <= 0.0) {  // before the bend, or a plain line: straight on
      push_sample(shape, {start.x + s * poly_cos(heading), start.y + s * poly_sin(heading)},
                  heading);
      continue;
    }
    const double into = s - straight;
    const double a = (into < arc ? into : arc) / radius * side;
    const double h = heading + a;
    // centre of the turning circle lies on the left (turn > 0) or right of the bend
    const Point centre{bend.x - side * radius * poly_sin(heading),
                       bend.y + side * radius * poly_cos(heading)};
    Point p{centre.x + side * radius * poly_sin(h), centre.y - side * radius * poly_cos(h)};
    if (into > arc) {  // overshoot past the arc's end: straight on along the last heading
      p.x += (into - arc) * poly_cos(h);
      p.y += (into - arc) * poly_sin(h);
    }
    push_sample(shape, p, h);
  }
  return shape;
}

struct StrokePlan {
  Point start;
  double heading;
  double straight;
  double radius;
  double turn;
  double length;
};

inline StrokePlan plan_stroke(SplitMix64& rng, const SketchSettings& o) {
  StrokePlan p{};
  p.start = {rng.uniform(0.0, o.extent), rng.uniform(0.0, o.extent)};
  p.heading = rng.uniform(0.0, kTwoPi);
  p.length = rng.uniform(o.min_length, o.max_length);
  const int kind = rng.between(0, 2);
  if (kind == 0) {  // line
    p.straight = p.length;
    p.radius = 1.0;
    p.turn = 0.0;
  } else if (kind == 1) {  // arc of a bowl or an o
    p.turn = rng.sign() * rng.uniform(kPi / 3.0, 5.0 * kPi / 3.0);
    p.radius = p.length / std::fabs(p.turn);
    p.straight = 0.0;
  } else {  // hook: a stem ending in a tight bend
    p.turn = rng.sign() * rng.uniform(kPi / 2.0, kPi);
    p.radius = rng.uniform(3.0, 8.0);
    const double arc = p.radius * std::fabs(p.turn);
    p.straight = p.length > arc + 5.0 ? p.length - arc : 5.0;
    p.length = p.straight + arc;
  }
  return p;
}

// One pass of the pen over the stroke: the path shifted sideways by a constant drift plus a
// smooth wobble of two sine waves, with the ends jittered.
inline Curve trace_stroke(const StrokePlan& p, SplitMix64& rng, const SketchSettings& o) {
  const double s0 = rng.uniform(-o.end_jitter, o.end_jitter);
  const double s1 = p.length + rng.uniform(-o.end_jitter, o.end_jitter);
  const StrokeShape shape =
      sample_run_then_arc(p.start, p.heading, p.straight, p.radius, p.turn, s0, s1, o.spacing);
  const double drift = rng.uniform(-o.drift, o.drift);
  const double a1 = rng.uniform(0.0, o.wobble);
  const double a2 = rng.uniform(0.0, o.wobble - a1);
  const double f1 = rng.uniform(0.5, 3.0) / (p.length > 1.0 ? p.length : 1.0);
  const double f2 = rng.uniform(3.0, 9.0) / (p.length > 1.0 ? p.length : 1.0);
  const double ph1 = rng.uniform(0.0, kTwoPi);
  const double ph2 = rng.uniform(0.0, kTwoPi);
  Curve curve;
  curve.reserve(shape.points.size());
  for (std::size_t i = 0; i < shape.points.size(); ++i) {
    const double s = s0 + (s1 - s0) * static_cast<double>(i) /
                              static_cast<double>(shape.points.size() - 1);
    const double off = drift + a1 * poly_sin(kTwoPi * f1 * s + ph1) +
                       a2 * poly_sin(kTwoPi * f2 * s + ph2);
    curve.push_back({shape.points[i].x + off * shape.normals[i].x,
                     shape.points[i].y + off * shape.normals[i].y});
  }
  return curve;
}

}  // namespace detail

struct Sketch {
  std::vector<Curve> curves;          // every trace, in drawing order
  std::vector<std::vector<Point>> strokes;  // the ideal path of each stroke, no wobble
};

inline Sketch make_sketch(std::uint64_t seed, const SketchSettings& o = {}) {
  SplitMix64 rng(seed);
  Sketch out;
  const int strokes = rng.between(o.min_strokes, o.max_strokes);
  for (int k = 0; k < strokes; ++k) {
    const detail::StrokePlan plan = detail::plan_stroke(rng, o);
    out.strokes.push_back(detail::sample_run_then_arc(plan.start, plan.heading, plan.straight,
                                                      plan.radius, plan.turn, 0.0, plan.length,
                                                      o.spacing)
                              .points);
    const int traces = rng.between(o.min_traces, o.max_traces);
    for (int t = 0; t < traces; ++t) out.curves.push_back(detail::trace_stroke(plan, rng, o));
  }
  return out;
}

}  // namespace sketch
