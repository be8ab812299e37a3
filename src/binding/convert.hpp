// Argument binding and conversion between Python objects and the core's value types.
// Every function here needs the interpreter lock. A conversion that fails returns false with a
// Python exception set; TypeErrors carry the "argument '{name}': " prefix.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "drivers/entry.hpp"
#include "types.hpp"

namespace strandify::binding {

// Owned reference with automatic release, for error paths that return early.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* o) : o_(o) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : o_(other.o_) { other.o_ = nullptr; }
  ~Ref() { Py_XDECREF(o_); }
  PyObject* get() const { return o_; }
  PyObject* release() {
    PyObject* o = o_;
    o_ = nullptr;
    return o;
  }
  explicit operator bool() const { return o_ != nullptr; }

 private:
  PyObject* o_ = nullptr;
};

// Binds fast-call positional and keyword arguments to `count` named parameters, the first
// `required` of which must be present. Unbound slots stay null. Returns false with TypeError.
bool bind_arguments(const char* function, const char* const* names, Py_ssize_t count,
                    Py_ssize_t required, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots);

// Re-raises a pending TypeError (and with `value_errors_too` a ValueError or OverflowError) as
// the same class
// with the message "{kind} '{name}': {reason}"; other errors pass unchanged.
void prefix_error(const char* kind, const char* name, bool value_errors_too);
// The same as "argument '{name}': {reason}", for TypeError only.
void prefix_type_error(const char* name);

// Any sequence but str (which passes the interpreter's sequence check); TypeError otherwise.
bool check_list_argument(PyObject* obj);

// A reported length reserves at most this much up front: the length is only a hint, and a
// sequence whose __len__ lies must not make a conversion ask for terabytes before it has read a
// single element. Longer sequences grow as they are read.
constexpr std::size_t kMaxReservedBytes = std::size_t{64} << 20;

// Iterates a list argument, converting each element with `item`; the reported length is only
// a capacity hint. Running out of memory while reading raises MemoryError: nothing here may
// throw, since conversions run under the interpreter lock outside any handler.
template <class T, class F>
bool convert_sequence(PyObject* obj, std::vector<T>& out, F item) {
  if (!check_list_argument(obj)) return false;
  try {
    const Py_ssize_t hint = PyObject_LengthHint(obj, 0);
    if (hint < 0) {
      PyErr_Clear();
    } else {
      constexpr std::size_t cap = std::max<std::size_t>(1, kMaxReservedBytes / sizeof(T));
      out.reserve(std::min(static_cast<std::size_t>(hint), cap));
    }
    Ref it(PyObject_GetIter(obj));
    if (!it) return false;
    while (PyObject* raw = PyIter_Next(it.get())) {
      Ref element(raw);
      out.emplace_back();
      if (!item(element.get(), out.back())) return false;
    }
  } catch (...) {
    // Only allocation can throw here (bad_alloc, or length_error past max_size()).
    PyErr_NoMemory();
    return false;
  }
  return !PyErr_Occurred();
}

bool to_double(PyObject* obj, double& out);
bool to_optional_double(PyObject* obj, std::optional<double>& out);
bool to_curves(PyObject* obj, std::vector<Curve>& out);
// Curves that may also come as C-contiguous float64 (n, 2) arrays, each read in one copy; for
// the calls beyond the exact ones, whose callers hold their strokes as arrays.
bool to_strokes(PyObject* obj, std::vector<Curve>& out);
// One list of (x, y) tuples, or a C-contiguous float64 (n, 2) array read in one copy.
bool to_curve_points(PyObject* obj, std::vector<Point>& out);
bool to_optional_width_lists(PyObject* obj, std::optional<WidthLists>& out);
bool to_flag(PyObject* obj, bool& out);
bool to_refine_steps(PyObject* obj, RefineSteps& out);
bool to_optional_count(PyObject* obj, std::optional<std::uint64_t>& out);
// None, "none" or "components"; another string raises ValueError.
bool to_partition(PyObject* obj, Partition& out);
// The same with "tiles" too, for the centerline entry points.
bool to_centerline_partition(PyObject* obj, Partition& out);
// None (one thread) or a positive integer, capped at kMaxWorkers: a call never starts more
// threads than that, however many it is asked for.
bool to_workers(PyObject* obj, std::size_t& out);
constexpr std::uint64_t kMaxWorkers = 256;
// A sequence of (outer ring, holes) tuples, each ring a sequence of (x, y) tuples.
bool to_polygons(PyObject* obj, std::vector<Polygon>& out);

// The conversions above, with the argument's name added to a TypeError.
template <class T, class F>
bool convert_named(F convert, PyObject* obj, T& out, const char* name) {
  if (convert(obj, out)) return true;
  prefix_type_error(name);
  return false;
}

template <std::size_t N>
constexpr Py_ssize_t count_of(const char* const (&)[N]) {
  return static_cast<Py_ssize_t>(N);
}

// Converts bound argument slots in parameter order, stopping at the first failure:
// convert(0, to_curves, curves)(1, to_double, d)...; `ok` tells whether all succeeded.
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

PyObject* points_to_list(const std::vector<Point>& points);
PyObject* curves_to_list(const std::vector<Curve>& curves);
PyObject* centerline_to_tuple(const CenterlineResult& result, bool with_widths);
// The result as flat bytearrays for numpy.frombuffer, with the parts of the drawing that gave
// no chain: (points: float64 x, y pairs of every chain one after another, offsets: int64 where
// each chain starts and the end, nodes: float64 pairs, chain_node_ids: int64 pairs, widths:
// float64 per chain point or None, lost: int64 index of every lost part, parts: int).
PyObject* centerline_to_buffers(const CenterlineResult& result,
                                const std::vector<std::size_t>& lost, std::size_t parts,
                                bool with_widths);
// A drawing given as a list (or tuple) of curves, each a list or tuple of (x, y) tuples or
// lists of numbers, as (points: float64 x, y pairs of every curve one after another, counts:
// int64 points per curve), read in one pass; None for anything else, for the caller to read
// and name what is wrong.
PyObject* point_lists_to_buffers(PyObject* curves);
PyObject* polygons_to_list(const std::vector<Polygon>& polygons);
PyObject* triangles_to_list(const std::vector<Triangle>& triangles);

// Raises a pipeline failure as ValueError with its message. A batch job's failure reads
// "{batch} job {i} failed: {message}", `batch` naming the batch function, and carries
// `job_index` and `reason` (the message) as attributes. With `typed` (every call beyond the
// exact four) the error also carries `kind`, the failure's kind by name (see
// failure_kind_name), so that the package raises its own exception classes and callers need
// not parse the text. Returns null.
PyObject* raise_failure(const Failure& failure, bool typed, const char* batch = "strandify_batch");

// "invalid_feature_size", "width_lists", "node_limit", "boundary_points", "work_limit",
// "interrupted", "invalid_geometry": the names the package's errors module maps to classes.
const char* failure_kind_name(FailureKind kind);

}  // namespace strandify::binding
