// Native work that Ctrl-C can stop: the thread that released the interpreter lock takes it back
// now and then, only long enough to run pending signal handlers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <functional>

namespace strandify::binding {

// Like run_without_gil, but `work` receives a poll, `const std::function<bool()>&`, to be called
// from this same thread (never from a worker) while the work goes on. The poll runs the pending
// signal handlers and returns false once one has raised (Ctrl-C: KeyboardInterrupt), and must
// then not be called again: the work is expected to stop as soon as it safely can, and to return.
// Returns false with the Python error set: the handler's exception, or MemoryError for a C++
// exception out of `work`.
template <class F>
bool run_interruptible(F&& work) {
  PyThreadState* thread = PyEval_SaveThread();
  bool raised = false;
  bool out_of_memory = false;
  try {
    const std::function<bool()> poll = [&thread, &raised] {
      PyEval_RestoreThread(thread);
      raised = PyErr_CheckSignals() != 0;
      thread = PyEval_SaveThread();
      return !raised;
    };
    work(poll);
  } catch (...) {
    out_of_memory = true;
  }
  PyEval_RestoreThread(thread);
  if (raised) return false;  // the handler's exception stays the one raised
  if (out_of_memory) {
    PyErr_NoMemory();
    return false;
  }
  return true;
}

}  // namespace strandify::binding
