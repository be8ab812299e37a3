// The single-call entry points: the exact strandify, inflate_curves and triangulate_curves, and
// beside them the calls that take one options value (strokes, filled shapes, inspection).
#include "entry_points.hpp"

#include "convert.hpp"
#include "interrupt.hpp"
#include "drivers/entry.hpp"
#include "options.hpp"

namespace strandify::binding {
namespace {

constexpr const char* kStrandifyParams[] = {
    "curves",         "buffer_distance",   "feature_size",         "simplification",
    "min_tip_fraction", "junction_merge_fraction", "per_curve_widths", "compute_widths",
    "subdivision_ratio", "max_nodes",       "resample",             "boundary_simplification",
    "merge_tolerance"};

constexpr const char* kInflateParams[] = {"curves", "buffer_distance", "feature_size",
                                          "per_curve_widths", "merge_tolerance"};

constexpr const char* kTriangulateParams[] = {
    "curves",           "buffer_distance", "feature_size",          "per_curve_widths",
    "subdivision_ratio", "resample",       "boundary_simplification", "merge_tolerance"};

// The calls with an options value: the drawing, its scale, the options, then its data.
constexpr const char* kStrokeParams[] = {"curves", "buffer_distance", "feature_size", "options",
                                         "per_curve_widths"};
constexpr const char* kPolygonParams[] = {"polygons", "buffer_distance", "feature_size",
                                          "options"};

// Runs the centerline pipeline on the converted arguments with the interpreter lock released.
PyObject* run_strokes(const std::vector<Curve>& curves, const CenterlineOptions& o, bool typed) {
  if (auto failure = validate_feature_size(o.feature_size)) return raise_failure(*failure, typed);
  Outcome<CenterlineResult> result;
  // Ctrl-C is honoured between stages, and during the long ones, which then run on a thread of
  // their own: the poll raises KeyboardInterrupt and the call returns.
  if (!run_native(Gil::release,
                  [&](const KeepGoing& poll) { result = strandify_inner(curves, o, poll); }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure, typed);
  return centerline_to_tuple(result.value, true);
}

// The buffer polygons, kept under the interpreter lock: an inspection call, not a production
// path. Ctrl-C is still honoured while it waits for a long union.
PyObject* run_inflate(const std::vector<Curve>& curves, double bd, double fs,
                      const std::optional<WidthLists>& widths, const TuningOptions& t,
                      bool typed) {
  Outcome<std::vector<Polygon>> result;
  const CallScale scale{t.partition, t.workers};
  if (!run_native(Gil::keep, [&](const KeepGoing& poll) {
        result = buffer_pipeline(curves, bd, fs, widths, t.merge_tolerance, scale, poll);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure, typed);
  return polygons_to_list(result.value);
}

PyObject* run_triangulate(const std::vector<Curve>& curves, double bd, double fs,
                          const std::optional<WidthLists>& widths, const TuningOptions& t,
                          bool typed) {
  Outcome<std::vector<Triangle>> result;
  const BoundaryOptions boundary{t.subdivision_ratio, t.resample, t.boundary_simplification};
  const CallScale scale{t.partition, t.workers};
  if (!run_native(Gil::keep, [&](const KeepGoing& poll) {
        result = triangulation_pipeline(curves, bd, fs, widths, boundary, t.merge_tolerance,
                                        scale, poll);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure, typed);
  return triangles_to_list(result.value);
}

using TuningField = std::optional<double> TuningOptions::*;
constexpr TuningField kInflateTuning[] = {&TuningOptions::merge_tolerance};
constexpr TuningField kTriangulateTuning[] = {
    &TuningOptions::subdivision_ratio, &TuningOptions::resample,
    &TuningOptions::boundary_simplification, &TuningOptions::merge_tolerance};

// The exact inspection calls: (curves, buffer_distance, feature_size, per_curve_widths, then
// optional numbers into `fields`), each converted in parameter order. Their pipelines check
// feature_size themselves, before the width lists.
template <std::size_t N, class Run>
PyObject* exact_inspection(const char* function, const char* const (&names)[N],
                           const TuningField (&fields)[N - 4], PyObject* const* args,
                           Py_ssize_t nargs, PyObject* kwnames, Run run) {
  PyObject* slots[N];
  if (!bind_arguments(function, names, N, 3, args, nargs, kwnames, slots)) return nullptr;
  std::vector<Curve> curves;
  double buffer_distance = 0.0, feature_size = 0.0;
  std::optional<WidthLists> widths;
  TuningOptions tuning;
  Converter convert{slots, names};
  convert(0, to_curves, curves)(1, to_double, buffer_distance)(2, to_double, feature_size)
      (3, to_optional_width_lists, widths);
  for (std::size_t i = 0; i < N - 4; ++i)
    convert(static_cast<Py_ssize_t>(i + 4), to_optional_double, tuning.*fields[i]);
  if (!convert.ok) return nullptr;
  return run(curves, buffer_distance, feature_size, widths, tuning, false);
}

using StrokeCall = ScaledCall<std::vector<Curve>>;
using PolygonCall = ScaledCall<std::vector<Polygon>, std::optional<double>, std::optional<double>>;

// The native options of a call with an options value: its scale, tuning and width lists (which
// move out of the call).
CenterlineOptions stroke_call_options(StrokeCall& call) {
  CenterlineOptions o;
  o.buffer_distance = call.buffer_distance;
  o.feature_size = call.feature_size;
  o.per_curve_widths = std::move(call.widths);
  apply_call_options(call.options, o);
  return o;
}

PolygonCenterlineOptions polygon_call_options(const PolygonCall& call) {
  PolygonCenterlineOptions o;
  o.feature_size = call.feature_size;
  o.buffer_distance = call.buffer_distance;
  apply_call_options(call.options, o);
  return o;
}

// The inspection calls with an options value: a union cannot be tiled.
template <class Run>
PyObject* stroke_inspection(const char* function, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, Run run) {
  StrokeCall call;
  if (!bind_scaled_call(function, kStrokeParams, to_strokes, args, nargs, kwnames, call) ||
      !check_union_partition(call.options.tuning.partition))
    return nullptr;
  return run(call.data, call.buffer_distance, call.feature_size, call.widths, call.options.tuning,
             true);
}

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
      (12, to_optional_double, o.tuning.merge_tolerance);
  if (!convert.ok) return nullptr;
  return run_strokes(curves, o, false);
}

PyObject* inflate_curves_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return exact_inspection("inflate_curves", kInflateParams, kInflateTuning, args, nargs, kwnames,
                          run_inflate);
}

PyObject* triangulate_curves_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  return exact_inspection("triangulate_curves", kTriangulateParams, kTriangulateTuning, args,
                          nargs, kwnames, run_triangulate);
}

PyObject* strandify_strokes_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  StrokeCall call;
  if (!bind_scaled_call("strandify_strokes", kStrokeParams, to_strokes, args, nargs, kwnames, call))
    return nullptr;
  const CenterlineOptions o = stroke_call_options(call);
  return run_strokes(call.data, o, true);
}

PyObject* strandify_strokes_arrays_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  StrokeCall call;
  if (!bind_scaled_call("strandify_strokes_arrays", kStrokeParams, to_strokes, args, nargs,
                        kwnames, call))
    return nullptr;
  const CenterlineOptions o = stroke_call_options(call);
  Outcome<CheckedCenterlines> result;
  if (!run_native(Gil::release, [&](const KeepGoing& poll) {
        result = centerlines_and_lost_groups(call.data, o, poll);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure, true);
  const LostGroups& lost = result.value.lost;
  return centerline_to_buffers(result.value.result, lost.firsts, lost.groups, o.compute_widths);
}

PyObject* inflate_strokes_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  return stroke_inspection("inflate_strokes", args, nargs, kwnames, run_inflate);
}

PyObject* triangulate_strokes_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
  return stroke_inspection("triangulate_strokes", args, nargs, kwnames, run_triangulate);
}

PyObject* strandify_polygons_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  PolygonCall call;
  if (!bind_scaled_call("strandify_polygons", kPolygonParams, to_polygons, args, nargs, kwnames,
                        call) ||
      !check_union_partition(call.options.tuning.partition))
    return nullptr;
  const PolygonCenterlineOptions o = polygon_call_options(call);
  Outcome<CenterlineResult> result;
  if (!run_native(Gil::release, [&](const KeepGoing& poll) {
        result = polygon_centerlines_inner(std::move(call.data), o, poll);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure, true);
  return centerline_to_tuple(result.value, true);
}

PyObject* strandify_polygons_arrays_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  PolygonCall call;
  if (!bind_scaled_call("strandify_polygons_arrays", kPolygonParams, to_polygons, args, nargs,
                        kwnames, call) ||
      !check_union_partition(call.options.tuning.partition))
    return nullptr;
  const PolygonCenterlineOptions o = polygon_call_options(call);
  const std::size_t shapes = call.data.size();
  Outcome<CheckedPolygonCenterlines> result;
  if (!run_native(Gil::release, [&](const KeepGoing& poll) {
        result = polygon_centerlines_and_lost_shapes(std::move(call.data), o, poll);
      }))
    return nullptr;
  if (!result.ok()) return raise_failure(*result.failure, true);
  return centerline_to_buffers(result.value.result, result.value.lost, shapes, o.compute_widths);
}

PyObject* read_point_lists_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
  static const char* const names[] = {"curves"};
  PyObject* slots[1];
  if (!bind_arguments("read_point_lists", names, 1, 1, args, nargs, kwnames, slots))
    return nullptr;
  return point_lists_to_buffers(slots[0]);
}

}  // namespace strandify::binding
