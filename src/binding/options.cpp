#include "options.hpp"

#include "convert.hpp"

namespace strandify::binding {
namespace {

struct Field {
  const char* name;
  bool (*read)(PyObject* value, CallOptions& out);
};

template <std::optional<double> TuningOptions::*member>
bool optional_number(PyObject* value, CallOptions& out) {
  return to_optional_double(value, out.tuning.*member);
}

// The attribute names are those of the Python record, which are the keywords of the API.
constexpr Field kFields[] = {
    {"simplification", optional_number<&TuningOptions::simplification>},
    {"min_tip_fraction", optional_number<&TuningOptions::min_tip_fraction>},
    {"junction_merge_fraction", optional_number<&TuningOptions::junction_merge_fraction>},
    {"subdivision_ratio", optional_number<&TuningOptions::subdivision_ratio>},
    {"resample", optional_number<&TuningOptions::resample>},
    {"boundary_simplification", optional_number<&TuningOptions::boundary_simplification>},
    {"merge_tolerance", optional_number<&TuningOptions::merge_tolerance>},
    {"tile_size", optional_number<&TuningOptions::tile_size>},
    {"max_nodes", [](PyObject* v, CallOptions& o) { return to_optional_count(v, o.max_nodes); }},
    {"compute_widths", [](PyObject* v, CallOptions& o) { return to_flag(v, o.compute_widths); }},
    {"partition",
     [](PyObject* v, CallOptions& o) { return to_centerline_partition(v, o.tuning.partition); }},
    {"workers",
     [](PyObject* v, CallOptions& o) {
       if (!to_workers(v, o.tuning.workers)) return false;
       if (v != Py_None) o.workers = o.tuning.workers;
       return true;
     }},
    {"refine_steps", [](PyObject* v, CallOptions& o) { return to_refine_steps(v, o.tuning.refine); }},
};

constexpr std::size_t kFieldCount = sizeof(kFields) / sizeof(kFields[0]);

// The field names as interned strings, made once: every call reads every field, and a name
// made anew each time would be hashed anew for each lookup. Made and read under the
// interpreter lock; kept for the life of the process, as interned names are.
PyObject* const* field_names() {
  static PyObject* names[kFieldCount] = {};
  if (names[kFieldCount - 1]) return names;
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (names[i]) continue;
    names[i] = PyUnicode_InternFromString(kFields[i].name);
    if (!names[i]) return nullptr;
  }
  return names;
}

}  // namespace

bool to_call_options(PyObject* obj, CallOptions& out) {
  out = CallOptions{};
  if (!obj || obj == Py_None) return true;
  PyObject* const* names = field_names();
  if (!names) return false;
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    const Field& field = kFields[i];
    Ref value(PyObject_GetAttr(obj, names[i]));
    if (!value) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "expected an options value with the attribute '%s', got %.200s",
                   field.name, Py_TYPE(obj)->tp_name);
      return false;
    }
    if (!field.read(value.get(), out)) {
      prefix_error("option", field.name, true);
      return false;
    }
  }
  return true;
}

bool check_union_partition(Partition partition) {
  if (partition != Partition::tiles) return true;
  PyErr_SetString(PyExc_ValueError,
                  "option 'partition': partition must be 'none' or 'components' here, got 'tiles'");
  return false;
}

}  // namespace strandify::binding
