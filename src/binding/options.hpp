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

}  // namespace strandify::binding
