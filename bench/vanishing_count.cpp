// Counts, over generated sketches, the polygons whose simplified rings fail to triangulate (they
// would vanish from the centerlines but for the retry without simplification) and those that
// still fail after the retry. Not a test: it prints numbers and the first failing seeds.
//
// Built with the benchmarks (-DSTRANDIFY_BUILD_BENCH=ON, target vanishing_count), or directly:
//   g++ -std=c++17 -O2 -ffp-contract=off -Isrc/core -Itests/cpp -isystem <clipper2 include>
//       -isystem <cdt include> bench/vanishing_count.cpp src/core/*.cpp <clipper2 sources>
//       -lpthread -o vanishing_count
//
//   vanishing_count [--seeds N] [--first S] [--traces MIN MAX] [--wobble W] [--drift D]
//                   [--feature-size F] [--show N]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "boundary.hpp"
#include "drivers/entry.hpp"
#include "sketch.hpp"
#include "skeleton_cdt.hpp"

namespace {

using namespace strandify;

struct Segment2 {
  Point a, b;
};

double orient(Point a, Point b, Point c) {
  return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

bool proper_cross(const Segment2& s, const Segment2& t) {
  const double d1 = orient(s.a, s.b, t.a), d2 = orient(s.a, s.b, t.b);
  const double d3 = orient(t.a, t.b, s.a), d4 = orient(t.a, t.b, s.b);
  return ((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0));
}

// Why the simplified rings failed: counts of crossings within a ring and between rings, and of
// rings that collapsed below three points. Quadratic, fine for a diagnostic.
struct Diagnosis {
  int self_crossings = 0;
  int ring_crossings = 0;
  int collapsed = 0;
};

Diagnosis diagnose(const std::vector<Ring>& rings) {
  Diagnosis d;
  std::vector<std::vector<Segment2>> edges;
  for (const Ring& r : rings) {
    if (r.size() < 3) ++d.collapsed;
    std::vector<Segment2> e;
    for (std::size_t i = 0; i < r.size(); ++i) e.push_back({r[i], r[(i + 1) % r.size()]});
    edges.push_back(std::move(e));
  }
  for (std::size_t a = 0; a < edges.size(); ++a)
    for (std::size_t b = a; b < edges.size(); ++b)
      for (std::size_t i = 0; i < edges[a].size(); ++i)
        for (std::size_t j = (a == b ? i + 1 : 0); j < edges[b].size(); ++j)
          if (proper_cross(edges[a][i], edges[b][j])) (a == b ? d.self_crossings : d.ring_crossings)++;
  return d;
}

std::vector<Ring> simplified_rings(const Polygon& p, double tolerance) {
  std::vector<Ring> out{rdp(p.outer, tolerance)};
  for (const Ring& h : p.holes) out.push_back(rdp(h, tolerance));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seeds = 300, first = 1;
  int show = 10;
  double fs = 1.0;
  sketch::SketchSettings settings;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&]() { return i + 1 < argc ? argv[++i] : "0"; };
    if (a == "--seeds") seeds = std::strtoull(next(), nullptr, 10);
    else if (a == "--first") first = std::strtoull(next(), nullptr, 10);
    else if (a == "--show") show = std::atoi(next());
    else if (a == "--wobble") settings.wobble = std::atof(next());
    else if (a == "--drift") settings.drift = std::atof(next());
    else if (a == "--feature-size") fs = std::atof(next());
    else if (a == "--traces") {
      settings.min_traces = std::atoi(next());
      settings.max_traces = std::atoi(next());
    } else {
      std::fprintf(stderr, "unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  const double bd = 1.0;
  std::uint64_t polygons = 0, failed_first = 0, failed_after = 0;
  std::uint64_t drawings_first = 0, drawings_empty_first = 0, drawings_after = 0,
                drawings_empty_after = 0;
  for (std::uint64_t seed = first; seed < first + seeds; ++seed) {
    const sketch::Sketch s = sketch::make_sketch(seed, settings);
    const auto polys = buffer_pipeline(s.curves, bd, fs, std::nullopt, std::nullopt);
    const auto cond = BoundaryConditioner::build(polys.value, bd, fs, {});
    if (!polys.ok() || !cond.ok()) {
      std::printf("seed %llu: pipeline failure\n", static_cast<unsigned long long>(seed));
      continue;
    }
    int first_fail = 0, after_fail = 0, meshed_first = 0, meshed_after = 0;
    for (const Polygon& p : polys.value) {
      ++polygons;
      const Polygon simplified = cond.value.condition(p, true);
      const bool ok_first = !triangulate_polygon(simplified.outer, simplified.holes).triangles.empty();
      bool ok_after = ok_first;
      if (!ok_first) {
        const Polygon plain = cond.value.condition(p, false);
        ok_after = !triangulate_polygon(plain.outer, plain.holes).triangles.empty();
        ++first_fail;
        if (show > 0) {
          --show;
          const Diagnosis d = diagnose(simplified_rings(p, cond.value.settings().simplification_tolerance));
          std::printf("seed %llu: polygon of %zu outer points, %zu holes fails simplified "
                      "(%d self-crossings, %d ring crossings, %d collapsed rings); retry %s\n",
                      static_cast<unsigned long long>(seed), p.outer.size(), p.holes.size(),
                      d.self_crossings, d.ring_crossings, d.collapsed,
                      ok_after ? "triangulates" : "fails too");
        }
      }
      if (!ok_after) ++after_fail;
      meshed_first += ok_first;
      meshed_after += ok_after;
    }
    failed_first += first_fail;
    failed_after += after_fail;
    drawings_first += first_fail > 0;
    drawings_after += after_fail > 0;
    drawings_empty_first += !polys.value.empty() && meshed_first == 0;
    drawings_empty_after += !polys.value.empty() && meshed_after == 0;
  }
  std::printf("%llu drawings, %llu polygons (wobble %g, drift %g, traces %d-%d, feature_size %g)\n",
              static_cast<unsigned long long>(seeds), static_cast<unsigned long long>(polygons),
              settings.wobble, settings.drift, settings.min_traces, settings.max_traces, fs);
  std::printf("before the retry: %llu drawings with a vanishing polygon (%llu polygons), "
              "%llu drawings entirely empty\n",
              static_cast<unsigned long long>(drawings_first),
              static_cast<unsigned long long>(failed_first),
              static_cast<unsigned long long>(drawings_empty_first));
  std::printf("after the retry:  %llu drawings with a vanishing polygon (%llu polygons), "
              "%llu drawings entirely empty\n",
              static_cast<unsigned long long>(drawings_after),
              static_cast<unsigned long long>(failed_after),
              static_cast<unsigned long long>(drawings_empty_after));
  return 0;
}
