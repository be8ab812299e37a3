// The process-wide pool of worker threads that runs batch jobs. Created on first use, sized once
// from the environment, and kept for the life of the process; a forked child starts afresh.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace strandify {

// The worker count rule: RAYON_NUM_THREADS (> 0), else RAYON_RS_NUM_CPUS (> 0), else the CPUs
// available to the process (affinity mask, reduced by a cgroup CPU quota), else 1.
std::size_t configured_worker_count();

// Parses an unsigned decimal with an optional leading '+', digits only, without overflow.
std::optional<std::size_t> parse_thread_count(const char* text);

// CPUs this process may run on, after the affinity mask and a cgroup CPU quota; 0 if unknown.
std::size_t available_cpus();

class WorkerPool {
 public:
  // The shared pool, created (with its threads) by the first call.
  static WorkerPool& shared();

  enum class RunStatus {
    finished,     // every job ran, or a job stopped the run by returning false
    interrupted,  // poll asked to stop
    no_workers,   // the pool has no worker thread at all; nothing ran
  };

  // How often a waiting run() calls its poll.
  static constexpr int kPollIntervalMs = 50;

  // Runs job(i) for every i in [0, count) on the workers, never on the calling thread, and
  // returns when every job has finished or been abandoned. A job that returns false stops the
  // run: no further job of this run starts; jobs already running finish.
  //
  // While it waits, run() calls poll() on the calling thread every kPollIntervalMs (never
  // while holding the pool's lock). A poll that returns false (or throws) stops the run the
  // same way; it is not called again. Whatever happens, run() returns (or rethrows what poll
  // threw) only once no worker is inside job any more, so `job` and whatever it refers to may
  // live on the caller's stack.
  RunStatus run(std::size_t count, const std::function<bool(std::size_t)>& job,
                const std::function<bool()>& poll = {});

  std::size_t size() const;

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

 private:
  struct State;
  explicit WorkerPool(std::size_t threads);
  ~WorkerPool() = delete;  // lives as long as the process; its threads are never joined
  State* state_;
};

}  // namespace strandify
