// Times every stage of the centerline pipeline on a synthetic sketch, calling the driver's own
// stage functions in the order strandify_inner runs them, and checks that the staged run gives
// exactly what strandify_inner gives. Not a test: the numbers depend on the machine and its load.
//
//   stage_bench [--repeats N] [--strokes N] [--seed N] [--widths]
//
// --widths also times the width measurement (the brute-force scan behind compute_widths), which
// is reported apart from the default pipeline's total.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "boundary.hpp"
#include "chain_finish.hpp"
#include "graph.hpp"
#include "inflate.hpp"
#include "input_prep.hpp"
#include "drivers/entry.hpp"
#include "skeleton_cdt.hpp"
#include "types.hpp"

namespace {

using namespace strandify;
using Clock = std::chrono::steady_clock;

constexpr double kPi = 3.14159265358979323846;

// --- synthetic drawing -------------------------------------------------------------------

// splitmix64: tiny, seedable and the same on every platform, unlike the standard engines'
// distributions.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1) from the top 53 bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Uniform in [lo, hi]; the modulo bias is irrelevant here.
  std::size_t between(std::size_t lo, std::size_t hi) {
    return lo + static_cast<std::size_t>(next() % (hi - lo + 1));
  }

 private:
  std::uint64_t state_;
};

struct DrawingShape {
  std::size_t strokes = 200;
  std::size_t min_points = 50;
  std::size_t max_points = 500;
  double box = 1000.0;
  std::uint64_t seed = 1;
};

// Keeps the walk inside the box by mirroring the heading at the walls.
void bounce(Point& p, double& heading, double box) {
  if (p.x < 0.0 || p.x > box) {
    heading = kPi - heading;
    p.x = std::clamp(p.x, 0.0, box);
  }
  if (p.y < 0.0 || p.y > box) {
    heading = -heading;
    p.y = std::clamp(p.y, 0.0, box);
  }
}

// A hand-drawn-looking stroke: a walk whose turning rate swings slowly (S-bends, the odd loop)
// with a little heading noise and a little jitter of every sample off the path.
Curve wobbly_stroke(SplitMix64& rng, std::size_t points, double box) {
  Curve curve;
  curve.reserve(points);
  Point p{rng.uniform(0.05, 0.95) * box, rng.uniform(0.05, 0.95) * box};
  double heading = rng.uniform(0.0, 2.0 * kPi);
  const double step = rng.uniform(1.0, 2.5);
  const double amplitude = rng.uniform(0.01, 0.05);
  const double frequency = rng.uniform(0.02, 0.12);
  const double phase = rng.uniform(0.0, 2.0 * kPi);
  for (std::size_t i = 0; i < points; ++i) {
    curve.push_back({p.x + rng.uniform(-0.1, 0.1), p.y + rng.uniform(-0.1, 0.1)});
    heading += amplitude * std::sin(frequency * static_cast<double>(i) + phase) +
               rng.uniform(-0.05, 0.05);
    p.x += step * std::cos(heading);
    p.y += step * std::sin(heading);
    bounce(p, heading, box);
  }
  return curve;
}

// Sketchers go over their lines again: a stretch of an earlier stroke, shifted by about a
// buffer radius and jittered, so that the buffers overlap along their length.
Curve retraced_stroke(SplitMix64& rng, const Curve& earlier, std::size_t points) {
  points = std::min(points, earlier.size());
  const std::size_t first = rng.between(0, earlier.size() - points);
  const double dx = rng.uniform(-1.5, 1.5);
  const double dy = rng.uniform(-1.5, 1.5);
  Curve curve;
  curve.reserve(points);
  for (std::size_t i = first; i < first + points; ++i)
    curve.push_back({earlier[i].x + dx + rng.uniform(-0.3, 0.3),
                     earlier[i].y + dy + rng.uniform(-0.3, 0.3)});
  return curve;
}

std::vector<Curve> synthetic_drawing(const DrawingShape& shape) {
  SplitMix64 rng(shape.seed);
  std::vector<Curve> curves;
  curves.reserve(shape.strokes);
  for (std::size_t s = 0; s < shape.strokes; ++s) {
    const std::size_t points = rng.between(shape.min_points, shape.max_points);
    if (!curves.empty() && rng.uniform() < 0.25) {
      const Curve& earlier = curves[rng.between(0, curves.size() - 1)];
      curves.push_back(retraced_stroke(rng, earlier, points));
    } else {
      curves.push_back(wobbly_stroke(rng, points, shape.box));
    }
  }
  return curves;
}

std::size_t point_count(const std::vector<Curve>& curves) {
  std::size_t n = 0;
  for (const Curve& c : curves) n += c.size();
  return n;
}

std::size_t point_count(const std::vector<Polygon>& polygons) {
  std::size_t n = 0;
  for (const Polygon& p : polygons) {
    n += p.outer.size();
    for (const Ring& h : p.holes) n += h.size();
  }
  return n;
}

// --- the staged pipeline -----------------------------------------------------------------

enum Stage {
  kPrepare,
  kInflate,
  kMesh,
  kSkeleton,
  kGraph,
  kClean,
  kChains,
  kFinish,
  kNumbering,
  kWidths,  // only with compute_widths; kept out of the default total
  kStageCount
};

const char* const kStageNames[kStageCount] = {
    "prepare_curves",  "inflate",        "mesh_polygons", "mesh_skeleton", "segments_to_graph",
    "cleaned_graph",   "extract_chains", "finish_chain",  "node numbering", "widths"};

struct StageTimes {
  double seconds[kStageCount] = {};
  // The triangulator alone over the conditioned rings, with each way of dropping the outer
  // triangles and holes (identical triangles; only the time differs).
  double depth_fill = 0.0;
  double library_removal = 0.0;
};

// Sizes between the stages, to read the times against.
struct Sizes {
  std::size_t merged_curves = 0;
  std::size_t decimated_points = 0;
  std::size_t polygons = 0;
  std::size_t holes = 0;
  std::size_t inflated_points = 0;
  std::size_t boundary_points = 0;
  std::size_t triangles = 0;
  std::size_t segments = 0;
  std::size_t graph_nodes = 0;
  std::size_t graph_edges = 0;
  std::size_t cleaned_nodes = 0;
  std::size_t cleaned_edges = 0;
  std::size_t chains = 0;
  std::size_t output_points = 0;
};

class Stopwatch {
 public:
  explicit Stopwatch(double& sink) : sink_(sink), start_(Clock::now()) {}
  ~Stopwatch() { sink_ += std::chrono::duration<double>(Clock::now() - start_).count(); }

 private:
  double& sink_;
  Clock::time_point start_;
};

template <class T>
T expect_ok(Outcome<T>&& outcome, const char* stage) {
  if (!outcome.ok()) {
    std::fprintf(stderr, "%s refused the drawing: %s\n", stage, outcome.message().c_str());
    std::exit(2);
  }
  return std::move(outcome.value);
}

// strandify_inner, one driver stage at a time, with the driver's own stage functions and the
// one Settings value it resolves.
CenterlineResult run_staged(const std::vector<Curve>& input, const CenterlineOptions& options,
                            StageTimes& t, Sizes& z) {
  double* sec = t.seconds;
  CenterlineResult result;
  const Settings settings =
      resolve_settings(options.buffer_distance, options.feature_size, options.tuning);

  PreparedCurves prepared;
  {
    Stopwatch w(sec[kPrepare]);
    prepared = expect_ok(prepare_curves(input, options.per_curve_widths, settings), "input");
  }
  z.merged_curves = prepared.curves.size();
  z.decimated_points = point_count(prepared.curves);

  std::vector<Polygon> polygons;
  {
    Stopwatch w(sec[kInflate]);
    polygons = inflate(prepared.curves, prepared.widths, settings.inflation);
  }
  z.polygons = polygons.size();
  for (const Polygon& p : polygons) z.holes += p.holes.size();
  z.inflated_points = point_count(polygons);

  std::vector<MeshedPolygon> meshed;
  {
    Stopwatch w(sec[kMesh]);
    meshed = expect_ok(mesh_polygons(polygons, settings.boundary), "boundary preprocessing");
  }
  for (const MeshedPolygon& m : meshed) {
    z.boundary_points += m.rings.outer.size();
    for (const Ring& h : m.rings.holes) z.boundary_points += h.size();
    z.triangles += m.mesh.triangles.size();
    if (m.rings.outer.size() < 3) continue;
    {
      Stopwatch w(t.depth_fill);
      (void)triangulate_polygon(m.rings.outer, m.rings.holes, OuterRemoval::depth_fill);
    }
    {
      Stopwatch w(t.library_removal);
      (void)triangulate_polygon(m.rings.outer, m.rings.holes, OuterRemoval::library);
    }
  }

  std::vector<Segment> segments;
  {
    Stopwatch w(sec[kSkeleton]);
    for (const MeshedPolygon& m : meshed) {
      std::vector<Segment> part = mesh_skeleton(m.mesh);
      segments.insert(segments.end(), part.begin(), part.end());
    }
  }
  z.segments = segments.size();
  if (segments.empty()) return result;

  Graph graph;
  {
    Stopwatch w(sec[kGraph]);
    graph = segments_to_graph(segments, settings.snap_distance);
  }
  z.graph_nodes = graph.nodes.size();
  z.graph_edges = graph.edges.size();
  {
    Stopwatch w(sec[kClean]);
    graph = cleaned_graph(std::move(graph), settings);
  }
  z.cleaned_nodes = graph.nodes.size();
  z.cleaned_edges = graph.edges.size();
  std::vector<Chain> chains;
  {
    Stopwatch w(sec[kChains]);
    chains = extract_chains(graph);
  }
  z.chains = chains.size();
  {
    Stopwatch w(sec[kFinish]);
    result.chains.reserve(chains.size());
    for (const Chain& chain : chains) result.chains.push_back(finish_chain(chain, settings.chains));
  }
  z.output_points = point_count(result.chains);
  {
    Stopwatch w(sec[kNumbering]);
    number_chain_ends(chains, graph.nodes.size(), result);
  }
  if (options.compute_widths) {
    Stopwatch w(sec[kWidths]);
    const std::vector<Point> boundary_points = boundary_vertices(meshed);
    const NearestVertexIndex boundary(boundary_points);
    result.chain_widths.reserve(result.chains.size());
    for (const Curve& chain : result.chains)
      result.chain_widths.push_back(widths_along(chain, boundary));
  }
  return result;
}

// Bit-for-bit: every coordinate and width compared with ==.
bool same_result(const CenterlineResult& a, const CenterlineResult& b) {
  return a.chains.size() == b.chains.size() && a.chains == b.chains && a.nodes == b.nodes &&
         a.chain_node_ids == b.chain_node_ids && a.chain_widths == b.chain_widths;
}

// --- command line and report -------------------------------------------------------------

struct Arguments {
  int repeats = 5;
  DrawingShape shape;
  bool widths = false;
};

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: stage_bench [--repeats N] [--strokes N] [--seed N] [--widths]\n");
  std::exit(1);
}

std::uint64_t positive_number(const char* text) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || v == 0) usage();
  return v;
}

Arguments parse(int argc, char** argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const bool has_value = i + 1 < argc;
    if (std::strcmp(argv[i], "--widths") == 0) {
      a.widths = true;
    } else if (std::strcmp(argv[i], "--repeats") == 0 && has_value) {
      a.repeats = static_cast<int>(std::min<std::uint64_t>(positive_number(argv[++i]), 1000));
    } else if (std::strcmp(argv[i], "--strokes") == 0 && has_value) {
      a.shape.strokes = positive_number(argv[++i]);
    } else if (std::strcmp(argv[i], "--seed") == 0 && has_value) {
      a.shape.seed = positive_number(argv[++i]);
    } else {
      usage();
    }
  }
  return a;
}

void print_sizes(const Sizes& z, std::size_t input_points, std::size_t strokes) {
  std::printf("input         %zu strokes, %zu points\n", strokes, input_points);
  std::printf("prepared      %zu curves, %zu points after decimation\n", z.merged_curves,
              z.decimated_points);
  std::printf("inflated      %zu polygons, %zu holes, %zu ring points\n", z.polygons, z.holes,
              z.inflated_points);
  std::printf("conditioned   %zu ring points\n", z.boundary_points);
  std::printf("meshed        %zu triangles, %zu skeleton segments\n", z.triangles, z.segments);
  std::printf("graph         %zu nodes, %zu edges\n", z.graph_nodes, z.graph_edges);
  std::printf("cleaned       %zu nodes, %zu edges after pruning and junction merging\n",
              z.cleaned_nodes, z.cleaned_edges);
  std::printf("output        %zu chains, %zu points\n\n", z.chains, z.output_points);
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments args = parse(argc, argv);
  const std::vector<Curve> curves = synthetic_drawing(args.shape);
  const std::size_t input_points = point_count(curves);

  CenterlineOptions options;
  options.buffer_distance = 2.0;
  options.feature_size = 1.0;
  options.compute_widths = args.widths;

  // Per stage the best of the repeats: the least disturbed by whatever else runs on the machine.
  StageTimes best;
  std::fill(std::begin(best.seconds), std::end(best.seconds),
            std::numeric_limits<double>::infinity());
  best.depth_fill = best.library_removal = std::numeric_limits<double>::infinity();
  double best_staged = std::numeric_limits<double>::infinity();
  double best_direct = std::numeric_limits<double>::infinity();
  Sizes sizes;
  for (int r = 0; r < args.repeats; ++r) {
    StageTimes t;
    Sizes z;
    const auto start = Clock::now();
    const CenterlineResult staged = run_staged(curves, options, t, z);
    const auto middle = Clock::now();
    const Outcome<CenterlineResult> direct = strandify_inner(curves, options);
    const auto end = Clock::now();
    if (!direct.ok() || !same_result(staged, direct.value)) {
      std::fprintf(stderr, "the staged run differs from strandify_inner (%zu vs %zu chains)\n",
                   staged.chains.size(), direct.value.chains.size());
      return 1;
    }
    best_staged = std::min(best_staged, std::chrono::duration<double>(middle - start).count());
    best_direct = std::min(best_direct, std::chrono::duration<double>(end - middle).count());
    for (int k = 0; k < kStageCount; ++k) best.seconds[k] = std::min(best.seconds[k], t.seconds[k]);
    best.depth_fill = std::min(best.depth_fill, t.depth_fill);
    best.library_removal = std::min(best.library_removal, t.library_removal);
    sizes = z;
  }

  print_sizes(sizes, input_points, curves.size());
  double total = 0.0;
  for (int k = 0; k < kWidths; ++k) total += best.seconds[k];
  std::printf("best of %d repeats; shares of the sum of the default stages\n", args.repeats);
  std::printf("%-28s %10s %7s\n", "stage", "ms", "share");
  for (int k = 0; k < kWidths; ++k)
    std::printf("%-28s %10.3f %6.1f%%\n", kStageNames[k], 1e3 * best.seconds[k],
                100.0 * best.seconds[k] / total);
  std::printf("%-28s %10.3f %6.1f%%\n", "sum of stages", 1e3 * total, 100.0);
  if (args.widths)
    std::printf("%-28s %10.3f %6.1f%%  (compute_widths only, not in the sum)\n",
                kStageNames[kWidths], 1e3 * best.seconds[kWidths],
                100.0 * best.seconds[kWidths] / total);
  std::printf("\ntriangulation alone: depth fill %.3f ms, library removal %.3f ms (%.2fx)\n",
              1e3 * best.depth_fill, 1e3 * best.library_removal,
              best.library_removal / best.depth_fill);
  std::printf("\nstaged run, best          %10.3f ms\n", 1e3 * best_staged);
  std::printf("strandify_inner, best     %10.3f ms\n", 1e3 * best_direct);
  std::printf("throughput                %10.0f input points/s (strandify_inner%s)\n",
              static_cast<double>(input_points) / best_direct,
              args.widths ? ", widths included" : "");
  std::printf("staged result identical to strandify_inner: yes (%zu chains, %zu points)\n",
              sizes.chains, sizes.output_points);
  return 0;
}
