// Native work that Ctrl-C can stop: the thread that released the interpreter lock takes it back
// now and then, only long enough to run pending signal handlers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <functional>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace strandify::binding {

// Whether this thread is the one that runs the signal handlers: the main thread of the main
// interpreter, as `threading` tells it, which follows a fork to the thread that forked. 1 or 0;
// -1 with the Python error set when asking raised. Asking runs Python code, so a signal handler
// may run during it (a Ctrl-C just before the call): its exception must reach the caller, not
// be dropped with the answer.
// The names handles_signals asks by, made once and kept for the life of the process (under the
// interpreter lock): asked on every call, they would otherwise be made and hashed anew each time.
struct SignalNames {
  PyObject* threading = nullptr;
  PyObject* main_thread = nullptr;
  PyObject* ident = nullptr;
};

inline const SignalNames* signal_names() {
  static SignalNames names;
  if (!names.threading) names.threading = PyUnicode_InternFromString("threading");
  if (!names.main_thread) names.main_thread = PyUnicode_InternFromString("main_thread");
  if (!names.ident) names.ident = PyUnicode_InternFromString("ident");
  return names.threading && names.main_thread && names.ident ? &names : nullptr;
}

// The id of this process: the main thread can change only across a fork, in the child.
inline long process_id() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

inline int handles_signals() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) return 0;
  // The main thread's ident, asked of `threading` once per process instead of on every call
  // (calling into Python cost about a microsecond a call). Read and written under the
  // interpreter lock.
  static long asked_in = -1;
  static unsigned long main_ident = 0;
  if (asked_in != process_id()) {
    const SignalNames* names = signal_names();
    if (!names) return -1;
    // Looked up in sys.modules first: a full import goes through importlib.
    PyObject* threading = PyImport_GetModule(names->threading);
    if (!threading && !PyErr_Occurred()) threading = PyImport_Import(names->threading);
    PyObject* main = threading ? PyObject_CallMethodNoArgs(threading, names->main_thread) : nullptr;
    PyObject* ident = main ? PyObject_GetAttr(main, names->ident) : nullptr;
    bool known = false;
    if (ident) {
      const unsigned long value = PyLong_AsUnsignedLong(ident);
      if (!PyErr_Occurred()) {
        main_ident = value;
        known = true;
      }
    }
    Py_XDECREF(ident);
    Py_XDECREF(main);
    Py_XDECREF(threading);
    if (!known) return -1;
    asked_in = process_id();
  }
  return main_ident == PyThread_get_thread_ident() ? 1 : 0;
}

enum class Gil { release, keep };

// Runs native `work` and turns what C++ may throw into a Python error: the one way every entry
// point calls into the core. `work` receives a poll, `const std::function<bool()>&`, to be
// called from this same thread (never from a worker) while the work goes on. The poll runs the
// pending signal handlers and returns false once one has raised (Ctrl-C: KeyboardInterrupt),
// and must then not be called again: the work is expected to stop as soon as it safely can, and
// to return. With Gil::release the interpreter lock is released around `work` and the poll
// takes it back only long enough to run the handlers; with Gil::keep it is held throughout.
// Returns false with the Python error set: the handler's exception, or MemoryError for a C++
// exception out of `work` (only allocation throws in the core).
// Off the main thread the poll is empty: only the main thread of the main interpreter runs
// signal handlers, so there a poll could never see Ctrl-C and would only queue for the
// interpreter lock between stages, serialising calls made side by side from a thread pool.
template <class F>
bool run_native(Gil gil, F&& work) {
  const int signals_here = handles_signals();
  if (signals_here < 0) return false;
  PyThreadState* thread = gil == Gil::release ? PyEval_SaveThread() : nullptr;
  bool raised = false;
  bool out_of_memory = false;
  try {
    std::function<bool()> poll;
    if (signals_here == 1) {
      poll = [&thread, &raised] {
        if (thread) PyEval_RestoreThread(thread);
        raised = PyErr_CheckSignals() != 0;
        if (thread) thread = PyEval_SaveThread();
        return !raised;
      };
    }
    work(poll);
  } catch (...) {
    out_of_memory = true;
  }
  if (thread) PyEval_RestoreThread(thread);
  if (raised) return false;  // the handler's exception stays the one raised
  if (out_of_memory) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

}  // namespace strandify::binding
