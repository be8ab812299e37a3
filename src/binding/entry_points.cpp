#include "entry_points.hpp"

#include "convert.hpp"
#include "interrupt.hpp"
#include "pipeline.hpp"

namespace strandify::binding {
namespace {

constexpr const char* kStrandifyParams[] = {
    "curves",         "buffer_distance",   "feature_size",         "simplification",
    "min_tip_fraction", "junction_merge_fraction", "per_curve_widths", "compute_widths",
    "subdivision_ratio", "max_nodes",       "resample",             "boundary_simplification",
    "merge_tolerance", "refine"};

constexpr const char* kInflateParams[] = {"curves", "buffer_distance", "feature_size",
                                          "per_curve_widths", "merge_tolerance"};

constexpr const char* kTriangulateParams[] = {
    "curves",           "buffer_distance", "feature_size",          "per_curve_widths",
    "subdivision_ratio", "resample",       "boundary_simplification", "merge_tolerance"};

template <std::size_t N>
constexpr Py_ssize_t count_of(const char* const (&)[N]) {
  return static_cast<Py_ssize_t>(N);
}

// The conversions shared by the three single-call entry points, in parameter order.
struct Converter {
  PyObject* const* slots;
  const char* const* names;
  bool ok = true;

  template <class T, class F>
  Converter& operator()(Py_ssize_t i, F convert, T& out) {
    if (ok) ok = convert_named(convert, slots[i], out, names[i]);
    return *this;
  }
};

}  // namespace

PyObject* strandify_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr Py_ssize_t n = count_of(kStrandifyParams);
  PyObject* slots[n];
  if (!bind_arguments("strandify", kStrandifyParams, n, 3, args, nargs, kwnames, slots))
    return nullptr;
  std::vector<Curve> curves;
  CenterlineOptions o;
  Converter convert{slots, kStrandifyParams};
  convert(0, to_curves, curves)(1, to_double, o.buffer_distance)(2, to_double, o.feature_size)
      (3, to_optional_double, o.tuning.simplification)
      (4, to_optional_double, o.tuning.min_tip_fraction)
      (5, to_optional_double, o.tuning.junction_merge_fraction)
      (6, to_optional_width_lists, o.per_curve_widths)(7, to_flag, o.compute_widths)
      (8, to_optional_double, o.tuning.subdivision_ratio)(9, to_optional_count, o.max_nodes)
      (10, to_optional_double, o.tuning.resample)
      (11, to_optional_double, o.tuning.boundary_simplification)
      (12, to_optional_double, o.tuning.merge_tolerance)(13, to_refine_steps, o.tuning.refine);
  if (!convert.ok) return nullptr;
  if (auto failure = validate_feature_size(o.feature_size)) return raise_failure(*failure);

  Outcome<CenterlineResult> result;
  // Ctrl-C is honoured between stages: the poll raises KeyboardInterrupt and the call stops.
  if (!run_interruptible([&](const KeepGoing& poll) { result = strandify_inner(curves, o, poll); }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure);
  return centerline_to_tuple(result.value, true);
}

PyObject* inflate_curves_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  constexpr Py_ssize_t n = count_of(kInflateParams);
  PyObject* slots[n];
  if (!bind_arguments("inflate_curves", kInflateParams, n, 3, args, nargs, kwnames, slots))
    return nullptr;
  std::vector<Curve> curves;
  double buffer_distance = 0.0, feature_size = 0.0;
  std::optional<WidthLists> widths;
  std::optional<double> merge_tolerance;
  Converter convert{slots, kInflateParams};
  convert(0, to_curves, curves)(1, to_double, buffer_distance)(2, to_double, feature_size)
      (3, to_optional_width_lists, widths)(4, to_optional_double, merge_tolerance);
  if (!convert.ok) return nullptr;
  // Kept under the interpreter lock: this is an inspection call, not a production path.
  Outcome<std::vector<Polygon>> result;
  if (!run_with_gil([&] {
        result = buffer_pipeline(curves, buffer_distance, feature_size, widths, merge_tolerance);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure);
  return polygons_to_list(result.value);
}

PyObject* triangulate_curves_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  constexpr Py_ssize_t n = count_of(kTriangulateParams);
  PyObject* slots[n];
  if (!bind_arguments("triangulate_curves", kTriangulateParams, n, 3, args, nargs, kwnames, slots))
    return nullptr;
  std::vector<Curve> curves;
  double buffer_distance = 0.0, feature_size = 0.0;
  std::optional<WidthLists> widths;
  BoundaryOptions boundary;
  std::optional<double> merge_tolerance;
  Converter convert{slots, kTriangulateParams};
  convert(0, to_curves, curves)(1, to_double, buffer_distance)(2, to_double, feature_size)
      (3, to_optional_width_lists, widths)(4, to_optional_double, boundary.subdivision_ratio)
      (5, to_optional_double, boundary.resample)
      (6, to_optional_double, boundary.boundary_simplification)
      (7, to_optional_double, merge_tolerance);
  if (!convert.ok) return nullptr;
  Outcome<std::vector<Triangle>> result;
  if (!run_with_gil([&] {
        result = triangulation_pipeline(curves, buffer_distance, feature_size, widths, boundary,
                                        merge_tolerance);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure);
  return triangles_to_list(result.value);
}

}  // namespace strandify::binding
