// strandify_batch, strandify_strokes_batch, strandify_strokes_arrays_batch and
// strandify_polygons_batch: many independent centerline jobs on the shared worker pool.
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "convert.hpp"
#include "entry_points.hpp"
#include "interrupt.hpp"
#include "drivers/entry.hpp"
#include "options.hpp"
#include "worker_pool.hpp"

namespace strandify::binding {
namespace {

constexpr Py_ssize_t kJobSize = 11;

// The elements of a job tuple of `size` elements, or null with TypeError set; `what` names the
// kind of job in the message.
PyObject* const* job_elements(PyObject* obj, Py_ssize_t size, const char* what) {
  if (!PyTuple_Check(obj)) {
    PyErr_Format(PyExc_TypeError, "expected a %s tuple of %zd elements, got %.200s", what, size,
                 Py_TYPE(obj)->tp_name);
    return nullptr;
  }
  const Py_ssize_t n = PyTuple_GET_SIZE(obj);
  if (n != size) {
    PyErr_Format(PyExc_TypeError, "expected a %s tuple of length %zd, got a tuple of length %zd",
                 what, size, n);
    return nullptr;
  }
  return &PyTuple_GET_ITEM(obj, 0);
}

struct Job {
  std::vector<Curve> curves;
  CenterlineOptions options;
};

// The exact batch's job: its elements in tuple order, where max_nodes sits before
// subdivision_ratio.
bool to_job(PyObject* obj, Job& job) {
  PyObject* const* e = job_elements(obj, kJobSize, "job");
  if (!e) return false;
  CenterlineOptions& o = job.options;
  TuningOptions& t = o.tuning;
  return to_curves(e[0], job.curves) && to_double(e[1], o.buffer_distance) &&
         to_double(e[2], o.feature_size) && to_optional_double(e[3], t.simplification) &&
         to_optional_double(e[4], t.min_tip_fraction) &&
         to_optional_double(e[5], t.junction_merge_fraction) &&
         to_optional_count(e[6], o.max_nodes) && to_optional_double(e[7], t.subdivision_ratio) &&
         to_optional_double(e[8], t.resample) &&
         to_optional_double(e[9], t.boundary_simplification) &&
         to_optional_double(e[10], t.merge_tolerance);
}

bool to_jobs(PyObject* obj, std::vector<Job>& jobs) { return convert_sequence(obj, jobs, to_job); }

// A job of the batches with an options value: a drawing and its scale, (data, buffer_distance,
// feature_size); the tuning is the call's. Filled shapes may leave buffer_distance None.
template <class J, class Data>
bool to_scaled_job(PyObject* obj, J& job, Data read_data, const char* what) {
  PyObject* const* e = job_elements(obj, 3, what);
  return e && read_data(e[0], job.data) && to_scale(e[1], job.options.buffer_distance) &&
         to_scale(e[2], job.options.feature_size);
}

struct StrokeJob {
  std::vector<Curve> data;
  CenterlineOptions options;
};

bool to_stroke_job(PyObject* obj, StrokeJob& job) {
  return to_scaled_job(obj, job, to_strokes, "(curves, buffer_distance, feature_size)");
}

struct PolygonJob {
  std::vector<Polygon> data;
  PolygonCenterlineOptions options;
};

bool to_polygon_job(PyObject* obj, PolygonJob& job) {
  return to_scaled_job(obj, job, to_polygons, "(polygons, buffer_distance, feature_size)");
}

// The first failure to arrive is kept; later ones, or ones that find the store busy, are
// dropped without waiting. Running out of memory in any job is remembered apart: it is raised
// as MemoryError, never as a job failure.
class FirstFailure {
 public:
  void offer(Failure failure) {
    if (!mutex_.try_lock()) return;
    if (!failure_) failure_ = std::move(failure);
    mutex_.unlock();
  }
  const std::optional<Failure>& failure() const { return failure_; }
  void out_of_memory() { out_of_memory_.store(true, std::memory_order_relaxed); }
  bool ran_out_of_memory() const { return out_of_memory_.load(std::memory_order_relaxed); }

 private:
  std::mutex mutex_;
  std::optional<Failure> failure_;
  std::atomic<bool> out_of_memory_{false};
};

// Checks every job's feature size, then runs every job on the shared pool with the interpreter
// lock released and stops at the first failure, which is raised with its job's index. Returns
// the list of every job's result as `to_python(result, job)` gives it, or null with the Python
// error set. With `workers`, at most that many jobs run at a time: as many lanes as workers
// each take the next job not yet taken, so the jobs still spread over the lanes as they finish.
template <class J, class RunOne, class ToPython>
PyObject* run_jobs(const char* name, std::vector<J>& jobs, const RunOne& run_one,
                   const ToPython& to_python, bool typed,
                   std::optional<std::size_t> workers = {}) {
  using Result = decltype(run_one(jobs.front(), KeepGoing{}).value);
  for (const J& job : jobs)
    if (auto failure = validate_given_feature_size(job.options.feature_size))
      return raise_failure(*failure, typed);
  std::vector<Result> results;
  FirstFailure failure;
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> completed{0};
  WorkerPool::RunStatus status = WorkerPool::RunStatus::finished;
  const bool finished = run_native(Gil::release, [&](const std::function<bool()>& poll) {
    results.resize(jobs.size());
    // Once the poll has raised, the running jobs learn it from `interrupted`: each asks it
    // between its stages and while a long stage runs on a thread of its own, and gives up, so
    // that the pool's run returns within a poll interval or so instead of after the longest job.
    std::atomic<bool> interrupted{false};
    const KeepGoing job_keeps_going = [&interrupted] {
      return !interrupted.load(std::memory_order_relaxed);
    };
    const std::function<bool()> watch = [&poll, &interrupted] {
      if (poll()) return true;
      interrupted.store(true, std::memory_order_relaxed);
      return false;
    };
    const std::function<bool(std::size_t)> work = [&](std::size_t i) {
      if (stop.load(std::memory_order_relaxed)) return false;
      Outcome<Result> r;
      try {
        r = run_one(jobs[i], poll ? job_keeps_going : KeepGoing{});
      } catch (...) {
        failure.out_of_memory();  // only allocation can throw in the pipeline
        stop.store(true, std::memory_order_relaxed);
        return false;
      }
      if (!r.ok()) {
        r.failure->job_index = i;
        failure.offer(std::move(*r.failure));
        stop.store(true, std::memory_order_relaxed);
        return false;
      }
      results[i] = std::move(r.value);
      completed.fetch_add(1, std::memory_order_relaxed);
      return true;
    };
    const std::function<bool()> poll_for_run = poll ? watch : std::function<bool()>{};
    if (!workers || *workers >= jobs.size()) {
      status = WorkerPool::shared().run(jobs.size(), work, poll_for_run);
      return;
    }
    std::atomic<std::size_t> next{0};
    const std::function<bool(std::size_t)> lane = [&](std::size_t) {
      for (std::size_t i = next.fetch_add(1); i < jobs.size(); i = next.fetch_add(1))
        if (!work(i)) return false;
      return true;
    };
    status = WorkerPool::shared().run(*workers, lane, poll_for_run);
  });
  if (!finished) return nullptr;
  if (status == WorkerPool::RunStatus::no_workers) {
    PyErr_Format(PyExc_RuntimeError, "%s could not start any worker thread", name);
    return nullptr;
  }
  if (failure.ran_out_of_memory()) return PyErr_NoMemory();
  if (failure.failure()) return raise_failure(*failure.failure(), typed, name);
  // A job that stopped without a failure ran out of memory while reporting it: never hand back
  // a list with jobs missing.
  if (completed.load() != jobs.size()) return PyErr_NoMemory();

  Ref list(PyList_New(static_cast<Py_ssize_t>(results.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < results.size(); ++i) {
    PyObject* item = to_python(results[i], jobs[i]);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

}  // namespace

PyObject* strandify_batch_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
  static const char* const names[] = {"jobs"};
  PyObject* slot = nullptr;
  if (!bind_arguments("strandify_batch", names, 1, 1, args, nargs, kwnames, &slot)) return nullptr;
  std::vector<Job> jobs;
  if (!convert_named(to_jobs, slot, jobs, "jobs")) return nullptr;
  const auto run_one = [](Job& job, const KeepGoing& keep_going) {
    return strandify_inner(job.curves, job.options, keep_going);
  };
  // three lists per job, as the exact single call returns them
  const auto to_python = [](const CenterlineResult& result, const Job&) {
    return centerline_to_tuple(result, false);
  };
  return run_jobs("strandify_batch", jobs, run_one, to_python, false);
}

namespace {

// Binds (jobs, options) and applies the options to every job. Each job runs on one thread, since
// the jobs already share the pool's; the options' `workers` (None: every thread of the pool)
// caps how many run at once.
template <class J>
bool bind_batch(const char* name, bool (*to_one)(PyObject*, J&), bool tiles_allowed,
                PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::vector<J>& jobs,
                std::optional<std::size_t>& workers) {
  static const char* const names[] = {"jobs", "options"};
  PyObject* slots[2];
  if (!bind_arguments(name, names, 2, 1, args, nargs, kwnames, slots)) return false;
  CallOptions options;
  const auto to_all = [to_one](PyObject* obj, std::vector<J>& out) {
    return convert_sequence(obj, out, to_one);
  };
  if (!convert_named(to_all, slots[0], jobs, "jobs") ||
      !convert_named(to_call_options, slots[1], options, "options"))
    return false;
  if (!tiles_allowed && !check_union_partition(options.tuning.partition)) return false;
  workers = options.workers;
  options.tuning.workers = 1;
  for (J& job : jobs) apply_call_options(options, job.options);
  return true;
}

// A batch with an options value: binds it, then runs `run_one` on every job and hands back
// what `to_python` makes of each result.
template <class J, class RunOne, class ToPython>
PyObject* options_batch(const char* name, bool (*to_one)(PyObject*, J&), bool tiles_allowed,
                        PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        const RunOne& run_one, const ToPython& to_python) {
  std::vector<J> jobs;
  std::optional<std::size_t> workers;
  if (!bind_batch(name, to_one, tiles_allowed, args, nargs, kwnames, jobs, workers)) return nullptr;
  return run_jobs(name, jobs, run_one, to_python, true, workers);
}

// The four lists of the single calls with an options value, widths included.
template <class J>
PyObject* result_tuple(const CenterlineResult& result, const J&) {
  return centerline_to_tuple(result, true);
}

}  // namespace

PyObject* strandify_strokes_batch_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
  return options_batch("strandify_strokes_batch", to_stroke_job, true, args, nargs, kwnames,
                       [](StrokeJob& job, const KeepGoing& keep_going) {
                         return strandify_inner(job.data, job.options, keep_going);
                       },
                       result_tuple<StrokeJob>);
}

// The strokes batch with every job's result as strandify_strokes_arrays returns it: flat
// buffers that NumPy reads in place, and the groups of strokes that gave no chain, found here
// on the worker that ran the job rather than again in Python.
PyObject* strandify_strokes_arrays_batch_entry(PyObject*, PyObject* const* args,
                                               Py_ssize_t nargs, PyObject* kwnames) {
  return options_batch(
      "strandify_strokes_arrays_batch", to_stroke_job, true, args, nargs, kwnames,
      [](StrokeJob& job, const KeepGoing& keep_going) {
        return centerlines_and_lost_groups(job.data, job.options, keep_going);
      },
      [](const CheckedCenterlines& checked, const StrokeJob& job) {
        return centerline_to_buffers(checked.result, checked.lost.firsts, checked.lost.groups,
                                     job.options.compute_widths);
      });
}

PyObject* strandify_polygons_batch_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
  return options_batch("strandify_polygons_batch", to_polygon_job, false, args, nargs, kwnames,
                       [](PolygonJob& job, const KeepGoing& keep_going) {
                         return polygon_centerlines_inner(std::move(job.data), job.options,
                                                          keep_going);
                       },
                       result_tuple<PolygonJob>);
}

}  // namespace strandify::binding
