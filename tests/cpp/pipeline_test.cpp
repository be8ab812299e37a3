#include <cmath>
#include <limits>

#include "check.hpp"
#include "drivers/entry.hpp"

using namespace strandify;

TEST(float_formatting_is_shortest_and_never_exponent) {
  CHECK_EQ(format_float(0.0), std::string("0"));
  CHECK_EQ(format_float(-0.0), std::string("-0"));
  CHECK_EQ(format_float(-1.0), std::string("-1"));
  CHECK_EQ(format_float(1e-6), std::string("0.000001"));
  CHECK_EQ(format_float(1e21), std::string("1000000000000000000000"));
  CHECK_EQ(format_float(0.1), std::string("0.1"));
  CHECK_EQ(format_float(-2.5e-7), std::string("-0.00000025"));
  // Shortest round-tripping digits, not the exact binary value of a large magnitude.
  CHECK_EQ(format_float(-1e24), std::string("-1000000000000000000000000"));
  CHECK_EQ(format_float(123.456), std::string("123.456"));
  CHECK_EQ(format_float(1.5e300), std::string("15") + std::string(299, '0'));
  CHECK_EQ(format_float(5e-324), std::string("0.") + std::string(323, '0') + "5");
  CHECK_EQ(format_float(-1234567.0), std::string("-1234567"));
  CHECK_EQ(format_float(std::numeric_limits<double>::quiet_NaN()), std::string("NaN"));
  CHECK_EQ(format_float(std::numeric_limits<double>::infinity()), std::string("inf"));
  CHECK_EQ(format_float(-std::numeric_limits<double>::infinity()), std::string("-inf"));
  const std::string tiny = format_float(5e-324);
  CHECK(tiny.rfind("0.000", 0) == 0 && tiny.back() == '5' && tiny.find('e') == std::string::npos);
}

TEST(feature_size_validation) {
  CHECK(!validate_feature_size(1.0));
  CHECK(!validate_feature_size(5e-324));
  CHECK(validate_feature_size(0.0));
  CHECK(validate_feature_size(std::numeric_limits<double>::infinity()));
  const std::optional<Failure> negative = validate_feature_size(-1.0);
  CHECK_EQ(negative->message,
           std::string("feature_size must be a positive finite number, got -1"));
}

namespace {
std::string failure_text(const Outcome<CenterlineResult>& r) {
  return r.ok() ? std::string() : r.message();
}

Curve line(double x0, double y0, double x1, double y1, int n) {
  Curve c;
  for (int i = 0; i < n; ++i) c.push_back({x0 + (x1 - x0) * i / (n - 1), y0 + (y1 - y0) * i / (n - 1)});
  return c;
}
}  // namespace

TEST(lowest_failing_width_index_decides) {
  CenterlineOptions o;
  o.buffer_distance = 1.0;
  const std::vector<Curve> curves{line(0, 0, 5, 0, 3), line(0, 3, 5, 3, 4)};
  o.per_curve_widths = WidthLists{{}, {}, {1.0}};
  CHECK_EQ(failure_text(strandify_inner(curves, o)),
           std::string("per_curve_widths has an entry for curve 2 but only 2 curve(s) were given"));
  o.per_curve_widths = WidthLists{{}, {1.0, 1.0}, {1.0}};
  CHECK_EQ(failure_text(strandify_inner(curves, o)),
           std::string("per_curve_widths[1] has 2 entries but curve 1 has 4 points; they must match "
                       "(or pass an empty list to use the uniform buffer)"));
  CHECK(strandify_inner(curves, o).failure->kind == FailureKind::width_lists);
  o.per_curve_widths = WidthLists{{}, {}, {}, {}};
  CHECK(strandify_inner(curves, o).ok());
}

TEST(failures_carry_their_kind) {
  CHECK(validate_feature_size(0.0)->kind == FailureKind::invalid_feature_size);
  CenterlineOptions o;
  o.buffer_distance = 1.0;
  o.max_nodes = 1;
  const auto r = strandify_inner({line(0, 0, 40, 0, 41)}, o);
  CHECK(!r.ok() && r.failure->kind == FailureKind::node_limit && !r.failure->job_index);
  o.max_nodes.reset();
  o.feature_size = 1e-6;
  const auto big = strandify_inner({line(0, 0, 40, 0, 41)}, o);
  CHECK(!big.ok() && big.failure->kind == FailureKind::boundary_points);
}

TEST(empty_skeleton_is_not_a_node_limit_failure) {
  CenterlineOptions o;
  o.buffer_distance = 1.0;
  o.max_nodes = 0;
  CHECK(strandify_inner({}, o).ok());
  CHECK(strandify_inner({{{1, 1}}}, o).ok());
  o.buffer_distance = 0.0;
  CHECK(strandify_inner({line(0, 0, 10, 0, 5)}, o).ok());
}

TEST(chain_ends_are_numbered_in_order_of_first_mention) {
  CenterlineOptions o;
  o.buffer_distance = 1.0;
  const auto r = strandify_inner({line(0, 0, 40, 0, 41), line(20, 0, 20, 20, 21)}, o);
  CHECK(r.ok());
  const CenterlineResult& c = r.value;
  CHECK_EQ(c.chains.size(), 3u);
  std::uint64_t next = 0;
  for (std::size_t k = 0; k < c.chain_node_ids.size(); ++k) {
    for (std::uint64_t id : {c.chain_node_ids[k].first, c.chain_node_ids[k].second}) {
      CHECK(id <= next);
      if (id == next) ++next;
    }
    const Point& s = c.nodes[c.chain_node_ids[k].first];
    const Point& e = c.nodes[c.chain_node_ids[k].second];
    // tips move only with their own chain and junction ends never move
    CHECK(s == c.chains[k].front());
    CHECK(e == c.chains[k].back());
  }
  CHECK_EQ(next, c.nodes.size());
}

TEST(triangles_are_those_the_skeleton_uses) {
  const std::vector<Curve> curves{line(0, 0, 30, 4, 31), line(10, -8, 12, 9, 18)};
  const auto tris = triangulation_pipeline(curves, 1.0, 1.0, std::nullopt, {}, std::nullopt);
  auto polys = buffer_pipeline(curves, 1.0, 1.0, std::nullopt, std::nullopt);
  CHECK(tris.ok() && polys.ok());
  const auto meshed = mesh_polygons(polys.value, resolve_boundary(1.0, 1.0, BoundaryOptions{}));
  std::size_t n = 0;
  for (const MeshedPolygon& m : meshed.value) n += m.mesh.triangles.size();
  CHECK_EQ(tris.value.size(), n);
  CHECK(n > 0);
}
