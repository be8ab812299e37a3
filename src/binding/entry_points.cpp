#include "entry_points.hpp"

#include "convert.hpp"
#include "interrupt.hpp"
#include "drivers/entry.hpp"

namespace strandify::binding {
namespace {

constexpr const char* kStrandifyParams[] = {
    "curves",         "buffer_distance",   "feature_size",         "simplification",
    "min_tip_fraction", "junction_merge_fraction", "per_curve_widths", "compute_widths",
    "subdivision_ratio", "max_nodes",       "resample",             "boundary_simplification",
    "merge_tolerance", "partition",        "workers",              "tile_size",
    "refine"};

constexpr const char* kInflateParams[] = {"curves",           "buffer_distance", "feature_size",
                                          "per_curve_widths", "merge_tolerance", "partition",
                                          "workers"};

constexpr const char* kTriangulateParams[] = {
    "curves",           "buffer_distance", "feature_size",          "per_curve_widths",
    "subdivision_ratio", "resample",       "boundary_simplification", "merge_tolerance",
    "partition",        "workers"};

constexpr const char* kPolygonParams[] = {
    "polygons",        "feature_size",      "buffer_distance",         "simplification",
    "min_tip_fraction", "junction_merge_fraction", "compute_widths",   "subdivision_ratio",
    "max_nodes",       "resample",          "boundary_simplification", "partition",
    "workers",         "refine"};



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
      (12, to_optional_double, o.tuning.merge_tolerance)
      (13, to_centerline_partition, o.tuning.partition)(14, to_workers, o.tuning.workers)
      (15, to_optional_double, o.tuning.tile_size)(16, to_refine_steps, o.tuning.refine);
  if (!convert.ok) return nullptr;
  if (auto failure = validate_feature_size(o.feature_size)) return raise_failure(*failure);

  Outcome<CenterlineResult> result;
  // Ctrl-C is honoured between stages, and during the long ones, which then run on a thread of
  // their own: the poll raises KeyboardInterrupt and the call returns.
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
  CallScale scale;
  Converter convert{slots, kInflateParams};
  convert(0, to_curves, curves)(1, to_double, buffer_distance)(2, to_double, feature_size)
      (3, to_optional_width_lists, widths)(4, to_optional_double, merge_tolerance)
      (5, to_partition, scale.partition)(6, to_workers, scale.workers);
  if (!convert.ok) return nullptr;
  // Kept under the interpreter lock: this is an inspection call, not a production path. Ctrl-C
  // is still honoured while it waits for a long union.
  Outcome<std::vector<Polygon>> result;
  if (!run_interruptible_with_gil([&](const KeepGoing& poll) {
        result = buffer_pipeline(curves, buffer_distance, feature_size, widths, merge_tolerance,
                                 scale, poll);
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
  CallScale scale;
  Converter convert{slots, kTriangulateParams};
  convert(0, to_curves, curves)(1, to_double, buffer_distance)(2, to_double, feature_size)
      (3, to_optional_width_lists, widths)(4, to_optional_double, boundary.subdivision_ratio)
      (5, to_optional_double, boundary.resample)
      (6, to_optional_double, boundary.boundary_simplification)
      (7, to_optional_double, merge_tolerance)(8, to_partition, scale.partition)
      (9, to_workers, scale.workers);
  if (!convert.ok) return nullptr;
  Outcome<std::vector<Triangle>> result;
  if (!run_interruptible_with_gil([&](const KeepGoing& poll) {
        result = triangulation_pipeline(curves, buffer_distance, feature_size, widths, boundary,
                                        merge_tolerance, scale, poll);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure);
  return triangles_to_list(result.value);
}

PyObject* strandify_polygons_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  constexpr Py_ssize_t n = count_of(kPolygonParams);
  PyObject* slots[n];
  if (!bind_arguments("strandify_polygons", kPolygonParams, n, 2, args, nargs, kwnames, slots))
    return nullptr;
  std::vector<Polygon> polygons;
  PolygonCenterlineOptions o;
  Converter convert{slots, kPolygonParams};
  convert(0, to_polygons, polygons)(1, to_double, o.feature_size)
      (2, to_optional_double, o.buffer_distance)(3, to_optional_double, o.tuning.simplification)
      (4, to_optional_double, o.tuning.min_tip_fraction)
      (5, to_optional_double, o.tuning.junction_merge_fraction)(6, to_flag, o.compute_widths)
      (7, to_optional_double, o.tuning.subdivision_ratio)(8, to_optional_count, o.max_nodes)
      (9, to_optional_double, o.tuning.resample)
      (10, to_optional_double, o.tuning.boundary_simplification)
      (11, to_partition, o.tuning.partition)(12, to_workers, o.tuning.workers)
      (13, to_refine_steps, o.tuning.refine);
  if (!convert.ok) return nullptr;
  if (auto failure = validate_feature_size(o.feature_size)) return raise_failure(*failure);

  Outcome<CenterlineResult> result;
  if (!run_interruptible(
          [&](const KeepGoing& poll) {
            result = polygon_centerlines_inner(std::move(polygons), o, poll);
          }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure);
  return centerline_to_tuple(result.value, true);
}

}  // namespace strandify::binding
