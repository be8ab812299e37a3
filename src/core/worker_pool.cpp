#include "worker_pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace strandify {
namespace {

// One call of run(): jobs are claimed in index order by whichever worker is idle, so a worker
// that finishes early takes over pending jobs instead of waiting on a fixed share.
struct Run {
  std::size_t count = 0;
  std::size_t next = 0;
  std::size_t active = 0;
  bool stopped = false;
  const std::function<bool(std::size_t)>* job = nullptr;
  std::condition_variable finished;

  bool exhausted() const { return stopped || next >= count; }
};

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) return {};
  std::ostringstream os;
  os << in.rdbuf();
  return os.str();
}

// Quota / period of a cgroup v2 "cpu.max" file, rounded down and at least 1; 0 when unlimited.
std::size_t cgroup_v2_limit(const std::string& text) {
  std::istringstream in(text);
  std::string quota;
  double period = 0.0;
  if (!(in >> quota >> period) || quota == "max" || !(period > 0.0)) return 0;
  const double q = std::atof(quota.c_str());
  if (!(q > 0.0)) return 0;
  return std::max<std::size_t>(1, static_cast<std::size_t>(std::min(q / period, 1e6)));
}

std::size_t cgroup_v1_limit(const std::string& dir) {
  const double quota = std::atof(read_file(dir + "/cpu.cfs_quota_us").c_str());
  const double period = std::atof(read_file(dir + "/cpu.cfs_period_us").c_str());
  if (!(quota > 0.0) || !(period > 0.0)) return 0;
  return std::max<std::size_t>(1, static_cast<std::size_t>(std::min(quota / period, 1e6)));
}

// The tightest CPU quota on the way from this process's cgroup up to the root; 0 if none.
std::size_t cgroup_cpu_limit() {
  std::istringstream lines(read_file("/proc/self/cgroup"));
  std::string line;
  std::size_t limit = 0;
  auto tighten = [&limit](std::size_t l) {
    if (l > 0 && (limit == 0 || l < limit)) limit = l;
  };
  while (std::getline(lines, line)) {
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string path = line.substr(second + 1);
    const bool v2 = line.compare(0, first, "0") == 0 && controllers.empty();
    const bool v1_cpu = ("," + controllers + ",").find(",cpu,") != std::string::npos;
    if (!v2 && !v1_cpu) continue;
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/cpu";
    for (;;) {
      const std::string dir = root + (path == "/" ? "" : path);
      tighten(v2 ? cgroup_v2_limit(read_file(dir + "/cpu.max")) : cgroup_v1_limit(dir));
      if (path.empty() || path == "/") break;
      const auto slash = path.find_last_of('/');
      path = slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
    }
  }
  return limit;
}

std::mutex& creation_mutex() {
  static std::mutex m;
  return m;
}

WorkerPool* g_pool = nullptr;  // guarded by creation_mutex()

// A forked child has only the thread that forked: the parent's workers are gone, so the child
// must build a pool of its own on its next batch instead of waiting on threads that do not exist.
void before_fork() { creation_mutex().lock(); }
void after_fork_parent() { creation_mutex().unlock(); }
void after_fork_child() {
  g_pool = nullptr;  // the old pool is abandoned, not destroyed: its mutexes may be held
  creation_mutex().unlock();
}

}  // namespace

struct WorkerPool::State {
  std::mutex mutex;
  std::condition_variable work_available;
  std::deque<Run*> runs;
  std::size_t threads = 0;

  void work() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      work_available.wait(lock, [this] { return !runs.empty(); });
      Run* run = runs.front();
      if (run->exhausted()) {
        runs.pop_front();
        continue;
      }
      const std::size_t index = run->next++;
      if (run->exhausted()) runs.pop_front();
      ++run->active;
      lock.unlock();
      bool keep_going = false;
      try {
        keep_going = (*run->job)(index);
      } catch (...) {
        keep_going = false;  // jobs report failures themselves; never let one kill a worker
      }
      lock.lock();
      if (!keep_going && !run->stopped) {
        run->stopped = true;
        runs.erase(std::remove(runs.begin(), runs.end(), run), runs.end());
      }
      if (--run->active == 0 && run->exhausted()) run->finished.notify_all();
    }
  }
};

std::optional<std::size_t> parse_thread_count(const char* text) {
  if (!text) return std::nullopt;
  const char* p = text;
  if (*p == '+') ++p;
  if (*p == '\0') return std::nullopt;
  std::size_t value = 0;
  for (; *p; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    const std::size_t digit = static_cast<std::size_t>(*p - '0');
    if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::size_t available_cpus() {
  std::size_t cpus = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) cpus = static_cast<std::size_t>(CPU_COUNT(&set));
  if (cpus == 0) cpus = std::thread::hardware_concurrency();
  const std::size_t quota = cgroup_cpu_limit();
  if (quota > 0 && (cpus == 0 || quota < cpus)) cpus = quota;
  return cpus;
}

std::size_t configured_worker_count() {
  const auto threads = parse_thread_count(std::getenv("RAYON_NUM_THREADS"));
  if (threads && *threads > 0) return *threads;
  if (!threads) {
    const auto cpus = parse_thread_count(std::getenv("RAYON_RS_NUM_CPUS"));
    if (cpus && *cpus > 0) return *cpus;
  }
  const std::size_t available = available_cpus();
  return available > 0 ? available : 1;
}

// More threads than this only thrash; a mistyped environment value must not make the first
// batch spend minutes creating threads.
constexpr std::size_t kMaxWorkers = 1024;

WorkerPool::WorkerPool(std::size_t threads) : state_(new State) {
  threads = std::min(threads, kMaxWorkers);
  for (std::size_t i = 0; i < threads; ++i) {
    try {
      std::thread([s = state_] { s->work(); }).detach();
      ++state_->threads;
    } catch (...) {
      break;  // the system refused more threads: work with those we have
    }
  }
}

WorkerPool& WorkerPool::shared() {
  std::lock_guard<std::mutex> lock(creation_mutex());
  if (!g_pool) {
    static bool fork_handlers = [] {
      return pthread_atfork(before_fork, after_fork_parent, after_fork_child) == 0;
    }();
    (void)fork_handlers;
    g_pool = new WorkerPool(configured_worker_count());
  }
  return *g_pool;
}

std::size_t WorkerPool::size() const { return state_->threads; }

WorkerPool::RunStatus WorkerPool::run(std::size_t count,
                                      const std::function<bool(std::size_t)>& job,
                                      const std::function<bool()>& poll) {
  if (count == 0) return RunStatus::finished;
  if (state_->threads == 0) return RunStatus::no_workers;
  Run run;
  run.count = count;
  run.job = &job;
  const auto settled = [&run] { return run.active == 0 && run.exhausted(); };
  const auto interval = std::chrono::milliseconds(kPollIntervalMs);
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->runs.push_back(&run);
  state_->work_available.notify_all();
  bool polling = static_cast<bool>(poll);
  bool interrupted = false;
  std::exception_ptr poll_error;
  while (!settled()) {
    if (!polling) {
      run.finished.wait(lock, settled);
      break;
    }
    if (run.finished.wait_for(lock, interval, settled)) break;
    lock.unlock();
    bool keep_going = false;
    try {
      keep_going = poll();
    } catch (...) {
      poll_error = std::current_exception();
    }
    lock.lock();
    if (!keep_going) {
      // Same as a job that stops the run; the loop then waits for the running jobs to end.
      polling = false;
      interrupted = true;
      run.stopped = true;
    }
  }
  state_->runs.erase(std::remove(state_->runs.begin(), state_->runs.end(), &run),
                     state_->runs.end());
  lock.unlock();
  if (poll_error) std::rethrow_exception(poll_error);
  return interrupted ? RunStatus::interrupted : RunStatus::finished;
}

}  // namespace strandify
