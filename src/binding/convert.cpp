#include "convert.hpp"

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

namespace strandify::binding {
namespace {

bool same_name(PyObject* key, const char* name) {
  return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0;
}

const char* type_name(PyObject* obj) { return Py_TYPE(obj)->tp_name; }

bool to_point(PyObject* obj, Point& out) {
  if (!PyTuple_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected a point as an (x, y) tuple, got %.200s",
                 type_name(obj));
    return false;
  }
  const Py_ssize_t n = PyTuple_GET_SIZE(obj);
  if (n != 2) {
    PyErr_Format(PyExc_TypeError, "expected a point tuple of length 2, got a tuple of length %zd", n);
    return false;
  }
  return to_double(PyTuple_GET_ITEM(obj, 0), out.x) && to_double(PyTuple_GET_ITEM(obj, 1), out.y);
}

bool to_curve(PyObject* obj, Curve& out) { return convert_sequence(obj, out, to_point); }

// A C-contiguous (n, 2) buffer of native doubles, as NumPy keeps a float64 ring array, is read
// in one copy and sets `read`. Any other object leaves `read` false, so that the caller reads
// it as a sequence of tuples instead (and reports what that finds wrong). Returns false only
// with an error set (out of memory).
bool ring_from_buffer(PyObject* obj, Curve& out, bool& read) {
  static_assert(sizeof(Point) == 2 * sizeof(double) && std::is_trivially_copyable_v<Point>,
                "a ring buffer is copied into points as it lies");
  read = false;
  if (!PyObject_CheckBuffer(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj)) return true;
  Py_buffer view;
  if (PyObject_GetBuffer(obj, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
    PyErr_Clear();
    return true;
  }
  const bool doubles = view.format != nullptr && view.itemsize == sizeof(double) &&
                       (std::strcmp(view.format, "d") == 0 || std::strcmp(view.format, "@d") == 0 ||
                        std::strcmp(view.format, "=d") == 0);
  const bool pairs = view.ndim == 2 && view.shape != nullptr && view.shape[1] == 2;
  if (doubles && pairs) {
    const auto count = static_cast<std::size_t>(view.shape[0]);
    try {
      out.resize(count);
    } catch (...) {
      PyBuffer_Release(&view);
      PyErr_NoMemory();
      return false;
    }
    if (count > 0) std::memcpy(out.data(), view.buf, count * 2 * sizeof(double));
    read = true;
  }
  PyBuffer_Release(&view);
  return true;
}

// A ring: a sequence of (x, y) tuples, or a float64 array of shape (n, 2).
bool to_ring(PyObject* obj, Curve& out) {
  bool read = false;
  if (!ring_from_buffer(obj, out, read)) return false;
  return read || to_curve(obj, out);
}

bool to_polygon(PyObject* obj, Polygon& out) {
  if (!PyTuple_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected a polygon as an (outer, holes) tuple, got %.200s",
                 type_name(obj));
    return false;
  }
  const Py_ssize_t n = PyTuple_GET_SIZE(obj);
  if (n != 2) {
    PyErr_Format(PyExc_TypeError,
                 "expected a polygon tuple (outer, holes) of length 2, got a tuple of length %zd", n);
    return false;
  }
  return to_ring(PyTuple_GET_ITEM(obj, 0), out.outer) &&
         convert_sequence(PyTuple_GET_ITEM(obj, 1), out.holes, to_ring);
}

bool to_width_list(PyObject* obj, WidthList& out) { return convert_sequence(obj, out, to_double); }

bool is_numpy_bool(PyObject* obj) {
  PyTypeObject* type = Py_TYPE(obj);
  Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0)
    return false;
  Ref name(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0;
}

PyObject* point_to_tuple(const Point& p) {
  Ref x(PyFloat_FromDouble(p.x));
  if (!x) return nullptr;
  Ref y(PyFloat_FromDouble(p.y));
  if (!y) return nullptr;
  PyObject* t = PyTuple_New(2);
  if (!t) return nullptr;
  PyTuple_SET_ITEM(t, 0, x.release());
  PyTuple_SET_ITEM(t, 1, y.release());
  return t;
}

// Builds a new list front to back from `items`, converting each with `make`.
template <class C, class F>
PyObject* make_list(const C& items, F make) {
  Ref list(PyList_New(static_cast<Py_ssize_t>(items.size())));
  if (!list) return nullptr;
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    PyObject* o = make(item);
    if (!o) return nullptr;
    PyList_SET_ITEM(list.get(), i++, o);
  }
  return list.release();
}

PyObject* pair_to_tuple(const std::pair<std::uint64_t, std::uint64_t>& ids) {
  return Py_BuildValue("(KK)", static_cast<unsigned long long>(ids.first),
                       static_cast<unsigned long long>(ids.second));
}

PyObject* doubles_to_list(const std::vector<double>& values) {
  return make_list(values, [](double v) { return PyFloat_FromDouble(v); });
}

}  // namespace

bool check_list_argument(PyObject* obj) {
  if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected a sequence, got %.200s", type_name(obj));
    return false;
  }
  return true;
}

bool bind_arguments(const char* function, const char* const* names, Py_ssize_t count,
                    Py_ssize_t required, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots) {
  for (Py_ssize_t i = 0; i < count; ++i) slots[i] = nullptr;
  if (nargs > count) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zd arguments (%zd given)", function, count,
                 nargs);
    return false;
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
  const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t k = 0; k < nkw; ++k) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t slot = -1;
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (same_name(key, names[i])) {
        slot = i;
        break;
      }
    }
    if (slot < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, key);
      return false;
    }
    if (slots[slot]) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                   names[slot]);
      return false;
    }
    slots[slot] = args[nargs + k];
  }
  for (Py_ssize_t i = 0; i < required; ++i) {
    if (!slots[i]) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zd)", function,
                   names[i], i + 1);
      return false;
    }
  }
  return true;
}

void prefix_error(const char* kind, const char* name, bool value_errors_too) {
  PyObject* cls = nullptr;
  if (PyErr_ExceptionMatches(PyExc_TypeError))
    cls = PyExc_TypeError;
  else if (value_errors_too && PyErr_ExceptionMatches(PyExc_ValueError))
    cls = PyExc_ValueError;
  else if (value_errors_too && PyErr_ExceptionMatches(PyExc_OverflowError))
    cls = PyExc_OverflowError;
  if (!cls) return;
  PyObject* raised = PyErr_GetRaisedException();
  Ref reason(PyObject_Str(raised));
  if (!reason) {
    // Could not even read the reason: keep the original exception.
    PyErr_Clear();
    PyErr_SetRaisedException(raised);
    return;
  }
  Py_DECREF(raised);
  PyErr_Format(cls, "%s '%s': %U", kind, name, reason.get());
}

void prefix_type_error(const char* name) { prefix_error("argument", name, false); }

bool to_double(PyObject* obj, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  out = PyFloat_AsDouble(obj);
  return !(out == -1.0 && PyErr_Occurred());
}

bool to_optional_double(PyObject* obj, std::optional<double>& out) {
  out.reset();
  if (!obj || obj == Py_None) return true;
  double v = 0.0;
  if (!to_double(obj, v)) return false;
  out = v;
  return true;
}

bool to_curves(PyObject* obj, std::vector<Curve>& out) {
  return convert_sequence(obj, out, to_curve);
}

bool to_strokes(PyObject* obj, std::vector<Curve>& out) {
  return convert_sequence(obj, out, to_ring);
}

bool to_polygons(PyObject* obj, std::vector<Polygon>& out) {
  return convert_sequence(obj, out, to_polygon);
}

bool to_optional_width_lists(PyObject* obj, std::optional<WidthLists>& out) {
  out.reset();
  if (!obj || obj == Py_None) return true;
  WidthLists lists;
  if (!convert_sequence(obj, lists, to_width_list)) return false;
  out = std::move(lists);
  return true;
}

// The finishing steps by name: None (or absent) for none, else any iterable of step names.
// A string is refused rather than read as the names of its characters.
bool to_refine_steps(PyObject* obj, RefineSteps& out) {
  out = RefineSteps{};
  if (!obj || obj == Py_None) return true;
  if (PyUnicode_Check(obj) || PyBytes_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected None or a collection of step names, got %.200s",
                 type_name(obj));
    return false;
  }
  Ref it(PyObject_GetIter(obj));
  if (!it) {
    PyErr_Clear();
    PyErr_Format(PyExc_TypeError, "expected None or a collection of step names, got %.200s",
                 type_name(obj));
    return false;
  }
  struct Name {
    const char* text;
    bool RefineSteps::*flag;
  };
  static const Name names[] = {{"finish_tips", &RefineSteps::finish_tips},
                               {"recover_corners", &RefineSteps::recover_corners},
                               {"keep_dots", &RefineSteps::keep_dots},
                               {"join_crossings", &RefineSteps::join_crossings},
                               {"radius_tips", &RefineSteps::radius_tips},
                               {"round_pens", &RefineSteps::round_pens},
                               {"real_ends", &RefineSteps::real_ends}};
  while (PyObject* raw = PyIter_Next(it.get())) {
    Ref item(raw);
    if (!PyUnicode_Check(item.get())) {
      PyErr_Format(PyExc_TypeError, "expected step names (str), got %.200s", type_name(item.get()));
      return false;
    }
    const char* text = PyUnicode_AsUTF8(item.get());
    if (!text) return false;
    bool known = false;
    for (const Name& n : names) {
      if (std::strcmp(text, n.text) == 0) {
        out.*(n.flag) = true;
        known = true;
      }
    }
    if (!known) {
      PyErr_Format(PyExc_ValueError,
                   "unknown step %R; expected finish_tips, recover_corners, "
                   "keep_dots, join_crossings, radius_tips, round_pens or real_ends",
                   item.get());
      return false;
    }
  }
  return !PyErr_Occurred();
}

bool to_flag(PyObject* obj, bool& out) {
  if (!obj || obj == Py_False) {
    out = false;
    return true;
  }
  if (obj == Py_True) {
    out = true;
    return true;
  }
  if (is_numpy_bool(obj)) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  PyErr_Format(PyExc_TypeError, "expected True or False, got %.200s", type_name(obj));
  return false;
}

bool to_optional_count(PyObject* obj, std::optional<std::uint64_t>& out) {
  out.reset();
  if (!obj || obj == Py_None) return true;
  Ref index(PyLong_Check(obj) ? Py_NewRef(obj) : PyNumber_Index(obj));
  if (!index) return false;
  const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = static_cast<std::uint64_t>(v);
  return true;
}

namespace {

bool partition_named(PyObject* obj, Partition& out, bool tiles_allowed) {
  out = Partition::none;
  if (!obj || obj == Py_None) return true;
  const char* expected = tiles_allowed ? "'none', 'components' or 'tiles'" : "'none' or 'components'";
  if (!PyUnicode_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected %s, got %.200s", expected, type_name(obj));
    return false;
  }
  if (PyUnicode_CompareWithASCIIString(obj, "none") == 0) return true;
  if (PyUnicode_CompareWithASCIIString(obj, "components") == 0) {
    out = Partition::components;
    return true;
  }
  if (tiles_allowed && PyUnicode_CompareWithASCIIString(obj, "tiles") == 0) {
    out = Partition::tiles;
    return true;
  }
  PyErr_Format(PyExc_ValueError, "partition must be %s, got %R", expected, obj);
  return false;
}

}  // namespace

bool to_partition(PyObject* obj, Partition& out) { return partition_named(obj, out, false); }

bool to_centerline_partition(PyObject* obj, Partition& out) {
  return partition_named(obj, out, true);
}

bool to_workers(PyObject* obj, std::size_t& out) {
  out = 1;
  std::optional<std::uint64_t> count;
  if (!to_optional_count(obj, count)) {
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {  // negative, or beyond 64 bits
      PyErr_Clear();
      PyErr_SetString(PyExc_ValueError, "workers must be a positive integer or None");
    }
    return false;
  }
  if (!count) return true;
  if (*count == 0) {
    PyErr_SetString(PyExc_ValueError, "workers must be a positive integer or None");
    return false;
  }
  out = static_cast<std::size_t>(std::min<std::uint64_t>(*count, kMaxWorkers));
  return true;
}

bool to_curve_points(PyObject* obj, std::vector<Point>& out) { return to_ring(obj, out); }

PyObject* points_to_list(const std::vector<Point>& points) {
  return make_list(points, point_to_tuple);
}

PyObject* curves_to_list(const std::vector<Curve>& curves) {
  return make_list(curves, points_to_list);
}

PyObject* centerline_to_tuple(const CenterlineResult& result, bool with_widths) {
  Ref chains(curves_to_list(result.chains));
  if (!chains) return nullptr;
  Ref nodes(points_to_list(result.nodes));
  if (!nodes) return nullptr;
  Ref ids(make_list(result.chain_node_ids, pair_to_tuple));
  if (!ids) return nullptr;
  if (!with_widths) return PyTuple_Pack(3, chains.get(), nodes.get(), ids.get());
  Ref widths(make_list(result.chain_widths, doubles_to_list));
  if (!widths) return nullptr;
  return PyTuple_Pack(4, chains.get(), nodes.get(), ids.get(), widths.get());
}

namespace {

// A new bytearray of `count` items of T, for the caller to fill: NumPy reads it in place
// (numpy.frombuffer), so the values cross the boundary in this one copy.
template <class T>
PyObject* new_buffer(std::size_t count, T*& data) {
  PyObject* out = PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T)));
  data = out ? reinterpret_cast<T*>(PyByteArray_AS_STRING(out)) : nullptr;
  return out;
}

PyObject* points_buffer(const std::vector<Curve>& curves, std::size_t total) {
  static_assert(sizeof(Point) == 2 * sizeof(double) && std::is_trivially_copyable_v<Point>,
                "points are copied as they lie");
  double* data = nullptr;
  PyObject* out = new_buffer(2 * total, data);
  if (!out) return nullptr;
  for (const Curve& c : curves) {
    if (!c.empty()) std::memcpy(data, c.data(), c.size() * sizeof(Point));
    data += 2 * c.size();
  }
  return out;
}

PyObject* nodes_buffer(const std::vector<Point>& nodes) {
  double* data = nullptr;
  PyObject* out = new_buffer(2 * nodes.size(), data);
  if (out && !nodes.empty()) std::memcpy(data, nodes.data(), nodes.size() * sizeof(Point));
  return out;
}

PyObject* offsets_buffer(const std::vector<Curve>& curves) {
  std::int64_t* data = nullptr;
  PyObject* out = new_buffer(curves.size() + 1, data);
  if (!out) return nullptr;
  data[0] = 0;
  for (std::size_t i = 0; i < curves.size(); ++i)
    data[i + 1] = data[i] + static_cast<std::int64_t>(curves[i].size());
  return out;
}

PyObject* ids_buffer(const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ids) {
  std::int64_t* data = nullptr;
  PyObject* out = new_buffer(2 * ids.size(), data);
  if (!out) return nullptr;
  for (const auto& [a, b] : ids) {
    *data++ = static_cast<std::int64_t>(a);
    *data++ = static_cast<std::int64_t>(b);
  }
  return out;
}

// The widths laid out as the chain points are; None when they were not asked for, or when a
// chain's widths do not match its points (no such result is built).
PyObject* widths_buffer(const CenterlineResult& result, std::size_t total, bool with_widths) {
  bool aligned = with_widths && result.chain_widths.size() == result.chains.size();
  for (std::size_t i = 0; aligned && i < result.chains.size(); ++i)
    aligned = result.chain_widths[i].size() == result.chains[i].size();
  if (!aligned) Py_RETURN_NONE;
  double* data = nullptr;
  PyObject* out = new_buffer(total, data);
  if (!out) return nullptr;
  for (const std::vector<double>& w : result.chain_widths) {
    if (!w.empty()) std::memcpy(data, w.data(), w.size() * sizeof(double));
    data += w.size();
  }
  return out;
}

PyObject* indices_buffer(const std::vector<std::size_t>& indices) {
  std::int64_t* data = nullptr;
  PyObject* out = new_buffer(indices.size(), data);
  if (!out) return nullptr;
  for (std::size_t i : indices) *data++ = static_cast<std::int64_t>(i);
  return out;
}

}  // namespace

PyObject* centerline_to_buffers(const CenterlineResult& result,
                                const std::vector<std::size_t>& lost, std::size_t parts,
                                bool with_widths) {
  std::size_t total = 0;
  for (const Curve& c : result.chains) total += c.size();
  Ref points(points_buffer(result.chains, total));
  if (!points) return nullptr;
  Ref offsets(offsets_buffer(result.chains));
  if (!offsets) return nullptr;
  Ref nodes(nodes_buffer(result.nodes));
  if (!nodes) return nullptr;
  Ref ids(ids_buffer(result.chain_node_ids));
  if (!ids) return nullptr;
  Ref widths(widths_buffer(result, total, with_widths));
  if (!widths) return nullptr;
  Ref firsts(indices_buffer(lost));
  if (!firsts) return nullptr;
  Ref groups(PyLong_FromSize_t(parts));
  if (!groups) return nullptr;
  return PyTuple_Pack(7, points.get(), offsets.get(), nodes.get(), ids.get(), widths.get(),
                      firsts.get(), groups.get());
}

namespace {

// A float or an int; anything else (whose conversion could run Python code) is left to the
// caller's reader.
bool plain_number(PyObject* obj, double& out) {
  if (PyFloat_CheckExact(obj)) {
    out = PyFloat_AS_DOUBLE(obj);
    return true;
  }
  if (!PyLong_CheckExact(obj)) return false;
  out = PyLong_AsDouble(obj);
  return !(out == -1.0 && PyErr_Occurred());
}

// A point as the drawing readers accept it: a tuple or a list of two numbers.
bool point_coordinates(PyObject* point, double* out) {
  if (!PyTuple_Check(point) && !PyList_Check(point)) return false;
  if (PySequence_Fast_GET_SIZE(point) != 2) return false;
  PyObject** xy = PySequence_Fast_ITEMS(point);
  return plain_number(xy[0], out[0]) && plain_number(xy[1], out[1]);
}

// The number of points of every curve, when every curve is a list or a tuple.
bool curve_sizes(PyObject* curves, std::vector<Py_ssize_t>& sizes) {
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(curves);
  sizes.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* curve = PySequence_Fast_GET_ITEM(curves, i);
    if (!PyTuple_Check(curve) && !PyList_Check(curve)) return false;
    sizes.push_back(PySequence_Fast_GET_SIZE(curve));
  }
  return true;
}

}  // namespace

PyObject* point_lists_to_buffers(PyObject* curves) {
  if (!PyTuple_Check(curves) && !PyList_Check(curves)) Py_RETURN_NONE;
  std::vector<Py_ssize_t> sizes;
  if (!curve_sizes(curves, sizes)) Py_RETURN_NONE;
  std::size_t total = 0;
  for (Py_ssize_t size : sizes) total += static_cast<std::size_t>(size);
  double* coords = nullptr;
  Ref points(new_buffer(2 * total, coords));
  if (!points) return nullptr;
  std::int64_t* counts = nullptr;
  Ref lengths(new_buffer(sizes.size(), counts));
  if (!lengths) return nullptr;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    // plain numbers run no Python code, so no curve can change while it is read
    PyObject* curve = PySequence_Fast_GET_ITEM(curves, static_cast<Py_ssize_t>(i));
    if (PySequence_Fast_GET_SIZE(curve) != sizes[i]) Py_RETURN_NONE;
    PyObject** items = PySequence_Fast_ITEMS(curve);
    for (Py_ssize_t k = 0; k < sizes[i]; ++k, coords += 2) {
      if (!point_coordinates(items[k], coords)) {
        PyErr_Clear();
        Py_RETURN_NONE;
      }
    }
    counts[i] = static_cast<std::int64_t>(sizes[i]);
  }
  return PyTuple_Pack(2, points.get(), lengths.get());
}

PyObject* polygons_to_list(const std::vector<Polygon>& polygons) {
  return make_list(polygons, [](const Polygon& polygon) -> PyObject* {
    Ref outer(points_to_list(polygon.outer));
    if (!outer) return nullptr;
    Ref holes(curves_to_list(polygon.holes));
    if (!holes) return nullptr;
    return PyTuple_Pack(2, outer.get(), holes.get());
  });
}

PyObject* triangles_to_list(const std::vector<Triangle>& triangles) {
  return make_list(triangles, [](const Triangle& t) -> PyObject* {
    Ref a(point_to_tuple(t.a));
    if (!a) return nullptr;
    Ref b(point_to_tuple(t.b));
    if (!b) return nullptr;
    Ref c(point_to_tuple(t.c));
    if (!c) return nullptr;
    return PyTuple_Pack(3, a.get(), b.get(), c.get());
  });
}

const char* failure_kind_name(FailureKind kind) {
  switch (kind) {
    case FailureKind::invalid_feature_size: return "invalid_feature_size";
    case FailureKind::width_lists: return "width_lists";
    case FailureKind::node_limit: return "node_limit";
    case FailureKind::boundary_points: return "boundary_points";
    case FailureKind::work_limit: return "work_limit";
    case FailureKind::interrupted: return "interrupted";
    case FailureKind::invalid_geometry: return "invalid_geometry";
  }
  return "unknown";
}

namespace {

PyObject* text(const std::string& s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

bool set_attribute(PyObject* obj, const char* name, PyObject* value) {
  Ref owned(value);
  return owned && PyObject_SetAttrString(obj, name, owned.get()) == 0;
}

}  // namespace

PyObject* raise_failure(const Failure& failure, bool typed, const char* batch) {
  const std::string message =
      failure.job_index ? std::string(batch) + " job " + std::to_string(*failure.job_index) +
                              " failed: " + failure.message
                        : failure.message;
  Ref args(text(message));
  if (!args) return nullptr;
  Ref error(PyObject_CallOneArg(PyExc_ValueError, args.get()));
  if (!error) return nullptr;
  if (typed &&
      !set_attribute(error.get(), "kind", PyUnicode_FromString(failure_kind_name(failure.kind))))
    return nullptr;
  if (failure.job_index &&
      (!set_attribute(error.get(), "job_index", PyLong_FromSize_t(*failure.job_index)) ||
       !set_attribute(error.get(), "reason", text(failure.message))))
    return nullptr;
  PyErr_SetRaisedException(error.release());
  return nullptr;
}

}  // namespace strandify::binding
