// Times the unions of the buffers of one drawing, the two kinds apart, next to the work
// estimate the core refuses calls by (work_estimate.hpp). Driven by bench_union_estimate.py,
// which writes the drawings and runs one drawing per process under a deadline. Not a test: the
// numbers depend on the machine and its load.
//
//   union_timing FILE [--estimate-only]
//
// FILE holds one drawing, little-endian:
//   f64 buffer_distance, f64 feature_size, u64 curves, u8 has_widths,
//   then per curve u64 points, the points as x, y pairs of f64, and with widths one f64 each.
//
// Prints one line: the estimate (own, overlap), the seconds of the offsets (each runs the
// offsetter's own union of its curve) and of the union of all offsets, and the rows and edge
// crossings of that last union counted on its real input.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "clipper2/clipper.h"
#include "inflate.hpp"
#include "settings.hpp"
#include "types.hpp"
#include "work_estimate.hpp"

namespace {

using namespace strandify;
namespace c2 = Clipper2Lib;
using Clock = std::chrono::steady_clock;

struct Drawing {
  double buffer_distance = 0.0;
  double feature_size = 0.0;
  std::vector<Curve> curves;
  std::optional<WidthLists> widths;
};

template <class T>
bool read_value(std::FILE* f, T& v) {
  return std::fread(&v, sizeof v, 1, f) == 1;
}

bool read_drawing(std::FILE* f, Drawing& d) {
  std::uint64_t n = 0;
  std::uint8_t has_widths = 0;
  if (!read_value(f, d.buffer_distance) || !read_value(f, d.feature_size) || !read_value(f, n) ||
      !read_value(f, has_widths))
    return false;
  d.curves.assign(n, {});
  if (has_widths) d.widths.emplace(n);
  for (std::uint64_t i = 0; i < n; ++i) {
    std::uint64_t points = 0;
    if (!read_value(f, points)) return false;
    d.curves[i].resize(points);
    if (std::fread(d.curves[i].data(), sizeof(Point), points, f) != points) return false;
    if (!has_widths) continue;
    (*d.widths)[i].resize(points);
    if (std::fread((*d.widths)[i].data(), sizeof(double), points, f) != points) return false;
  }
  return true;
}

// The closed offset paths of one curve, as inflate builds them (square joins and ends).
c2::Paths64 offset_of(const Curve& curve, const WidthList* widths, double buffer_distance,
                      double arc_tolerance) {
  c2::Paths64 out;
  if (widths) {
    c2::ClipperOffset offsetter(2.0, arc_tolerance * kUnionScale, false, false);
    offsetter.AddPath(union_scaled(curve), c2::JoinType::Square, c2::EndType::Square);
    offsetter.Execute(
        [widths](const c2::Path64&, const c2::PathD&, std::size_t curr, std::size_t) {
          return curr < widths->size() ? (*widths)[curr] * kUnionScale : 0.0;
        },
        out);
  } else {
    c2::ClipperOffset offsetter(0.0, arc_tolerance * kUnionScale);
    offsetter.AddPaths({union_scaled(curve)}, c2::JoinType::Square, c2::EndType::Square);
    offsetter.Execute(buffer_distance * kUnionScale, out);
  }
  return out;
}

// Distinct vertex rows of `paths` and, summed over them, the edges the sweep line crosses just
// above each row.
struct RowCount {
  double rows = 0.0;
  double crossings = 0.0;
};

RowCount rows_and_crossings(const c2::Paths64& paths) {
  std::vector<std::int64_t> ys, lows, highs;
  for (const c2::Path64& p : paths) {
    for (std::size_t i = 0; i < p.size(); ++i) {
      const c2::Point64 a = p[i], b = p[(i + 1) % p.size()];
      ys.push_back(a.y);
      if (a.y == b.y) continue;
      lows.push_back(std::min(a.y, b.y));
      highs.push_back(std::max(a.y, b.y));
    }
  }
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  std::sort(lows.begin(), lows.end());
  std::sort(highs.begin(), highs.end());
  RowCount out;
  std::size_t opened = 0, closed = 0;
  for (std::int64_t y : ys) {
    while (opened < lows.size() && lows[opened] <= y) ++opened;
    while (closed < highs.size() && highs[closed] <= y) ++closed;
    out.rows += 1.0;
    out.crossings += static_cast<double>(opened - closed);
  }
  return out;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: union_timing FILE [--estimate-only]\n");
    return 2;
  }
  const bool estimate_only = argc > 2 && std::strcmp(argv[2], "--estimate-only") == 0;
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 2;
  Drawing d;
  const bool read = read_drawing(f, d);
  std::fclose(f);
  if (!read) return 2;

  const UnionWork work = union_sweep_work(d.curves, d.widths, d.buffer_distance);
  std::printf("own %.6g overlap %.6g", work.own, work.overlap);
  if (estimate_only) {
    std::printf("\n");
    return 0;
  }
  std::fflush(stdout);
  const double arc_tolerance = resolve_inflation(d.buffer_distance, d.feature_size).arc_tolerance;
  c2::Paths64 offsets;
  const Clock::time_point start = Clock::now();
  for (std::size_t i = 0; i < d.curves.size(); ++i) {
    if (d.curves[i].size() < 2) continue;
    for (c2::Path64& p : offset_of(d.curves[i], width_list_of(d.widths, i), d.buffer_distance,
                                   arc_tolerance))
      offsets.push_back(std::move(p));
  }
  const double own_seconds = seconds_since(start);
  const Clock::time_point union_start = Clock::now();
  const c2::Paths64 rings = c2::Union(offsets, c2::FillRule::NonZero);
  const double union_seconds = seconds_since(union_start);
  const RowCount count = rows_and_crossings(offsets);
  std::printf(" own_s %.6g union_s %.6g rows %.6g crossings %.6g rings %zu\n", own_seconds,
              union_seconds, count.rows, count.crossings, rings.size());
  return 0;
}
