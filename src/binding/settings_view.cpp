// resolved_settings: the thresholds a call derives from its scale and options, as the core
// resolves them, for the package's own planning around the native calls (how far the stitch of
// a seam reaches, how far a tile sees), so that no derived threshold is restated in Python.
#include "convert.hpp"
#include "entry_points.hpp"
#include "failures.hpp"
#include "options.hpp"
#include "settings.hpp"

namespace strandify::binding {
namespace {

constexpr const char* kSettingsParams[] = {"buffer_distance", "feature_size", "options"};

PyObject* optional_float(const std::optional<double>& value) {
  if (value) return PyFloat_FromDouble(*value);
  Py_RETURN_NONE;
}

PyObject* settings_to_dict(const Settings& s) {
  Ref tile_size(optional_float(s.tiling.tile_size));
  if (!tile_size) return nullptr;
  return Py_BuildValue(
      "{s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:O,s:d,s:d}", "buffer_distance", s.buffer_distance,
      "feature_size", s.feature_size, "merge_tolerance", s.merge_tolerance, "decimation_spacing",
      s.decimation_spacing, "snap_distance", s.snap_distance, "tip_length", s.tip_length,
      "junction_merge_distance", s.junction_merge_distance, "simplification_tolerance",
      s.chains.simplification_tolerance, "min_hole_area", s.inflation.min_hole_area,
      "arc_tolerance", s.inflation.arc_tolerance, "tile_size", tile_size.get(), "tile_halo",
      s.tiling.halo, "seam_snap", s.tiling.seam_snap);
}

}  // namespace

PyObject* resolved_settings_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  PyObject* slots[3];
  if (!bind_arguments("resolved_settings", kSettingsParams, 3, 2, args, nargs, kwnames, slots))
    return nullptr;
  double buffer_distance = 0.0, feature_size = 0.0;
  CallOptions options;
  Converter convert{slots, kSettingsParams};
  convert(0, to_double, buffer_distance)(1, to_double, feature_size)(2, to_call_options, options);
  if (!convert.ok) return nullptr;
  if (auto failure = validate_feature_size(feature_size)) return raise_failure(*failure, true);
  return settings_to_dict(resolve_settings(buffer_distance, feature_size, options.tuning));
}

}  // namespace strandify::binding
