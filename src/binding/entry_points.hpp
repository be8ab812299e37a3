// The module's builtin functions (fast-call with keywords).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace strandify::binding {

PyObject* strandify_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);
PyObject* inflate_curves_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);
PyObject* triangulate_curves_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames);
PyObject* strandify_polygons_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);
PyObject* strandify_batch_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames);
PyObject* strandify_polygons_batch_entry(PyObject* module, PyObject* const* args,
                                         Py_ssize_t nargs, PyObject* kwnames);
PyObject* plan_tiles_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* run_tile_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames);
PyObject* stitch_tiles_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames);

// Runs `work` with the interpreter lock released; a C++ exception (only memory exhaustion can
// occur) becomes MemoryError instead of unwinding through the interpreter. Returns false with
// the Python error set.
template <class F>
bool run_without_gil(F&& work) {
  bool out_of_memory = false;
  Py_BEGIN_ALLOW_THREADS
  try {
    work();
  } catch (...) {
    out_of_memory = true;
  }
  Py_END_ALLOW_THREADS
  if (out_of_memory) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

}  // namespace strandify::binding
