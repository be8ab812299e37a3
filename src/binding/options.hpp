// The one options value through which tuning crosses into the native side. Every entry point
// beyond the four exact ones takes it as its `options` argument: any object with the named
// attributes below (the Python package passes its frozen `strandify.options.Options`), or None
// for every default. Fields are read by name, so their order means nothing and a new option is
// one line of the table in options.cpp.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <type_traits>

#include "convert.hpp"
#include "drivers/entry.hpp"

namespace strandify::binding {

struct CallOptions {
  TuningOptions tuning;  // tuning.workers: `workers`, or 1 when it is None
  bool compute_widths = false;
  std::optional<std::uint64_t> max_nodes;
  // `workers` as given: a batch reads None as every thread of the pool.
  std::optional<std::size_t> workers;
};

// Reads every field of `obj` (None: all defaults). A missing attribute or a value that cannot
// be converted raises TypeError ("option '{name}': {reason}"); a value of the right type out of
// range (an unknown partition or step name, workers 0) raises ValueError. Returns false with
// the error set.
bool to_call_options(PyObject* obj, CallOptions& out);

// Tiles cut strokes; a union (inflate_strokes, triangulate_strokes) or filled shapes cannot be
// tiled. ValueError otherwise.
bool check_union_partition(Partition partition);

// The options that every centerline call's native options carry beside its scale.
template <class CallKind>
void apply_call_options(const CallOptions& options, CallKind& out) {
  out.tuning = options.tuning;
  out.compute_widths = options.compute_widths;
  out.max_nodes = options.max_nodes;
}

// The arguments of every call with an options value: (data, buffer_distance, feature_size,
// options[, per_curve_widths]). `Scale` and `Feature` are double, or std::optional<double> where
// None stands for a buffer distance or feature size the call derives (filled shapes).
template <class Data, class Scale = double, class Feature = double>
struct ScaledCall {
  Data data{};
  Scale buffer_distance{};
  Feature feature_size{};
  CallOptions options;
  std::optional<WidthLists> widths;  // read only where the call takes per_curve_widths
};

// Binds and converts such a call's arguments in parameter order (`names` lists its 4 or 5
// parameters), then checks feature_size as every entry point does before any work. Returns
// false with the Python error set.
// A scale as given: a float, or a float or None.
template <class Scale>
bool to_scale(PyObject* obj, Scale& out) {
  if constexpr (std::is_same_v<Scale, double>)
    return to_double(obj, out);
  else
    return to_optional_double(obj, out);
}

inline std::optional<Failure> validate_given_feature_size(double feature_size) {
  return validate_feature_size(feature_size);
}

inline std::optional<Failure> validate_given_feature_size(const std::optional<double>& feature_size) {
  return feature_size ? validate_feature_size(*feature_size) : std::nullopt;
}

template <class Data, class Scale, class Feature, std::size_t N>
bool bind_scaled_call(const char* function, const char* const (&names)[N],
                      bool (*read)(PyObject*, Data&), PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, ScaledCall<Data, Scale, Feature>& call) {
  static_assert(N == 4 || N == 5, "(data, buffer_distance, feature_size, options[, widths])");
  PyObject* slots[N];
  if (!bind_arguments(function, names, N, 3, args, nargs, kwnames, slots)) return false;
  Converter convert{slots, names};
  convert(0, read, call.data)(1, to_scale<Scale>, call.buffer_distance)
      (2, to_scale<Feature>, call.feature_size)(3, to_call_options, call.options);
  if constexpr (N == 5) convert(4, to_optional_width_lists, call.widths);
  if (!convert.ok) return false;
  if (auto failure = validate_given_feature_size(call.feature_size)) {
    raise_failure(*failure, true);
    return false;
  }
  return true;
}

}  // namespace strandify::binding
