#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "check.hpp"
#include "worker_pool.hpp"

using strandify::WorkerPool;
using Status = WorkerPool::RunStatus;

namespace {

// Jobs that hold their worker until `release` is set, then linger a little before leaving, so a
// run that returned while a job was still inside would be seen with `inside` above zero.
struct HeldJobs {
  std::atomic<bool> release{false};
  std::atomic<int> started{0};
  std::atomic<int> done{0};
  std::atomic<int> inside{0};

  std::function<bool(std::size_t)> job() {
    return [this](std::size_t) {
      ++inside;
      ++started;
      while (!release.load()) std::this_thread::yield();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ++done;
      --inside;
      return true;
    };
  }
};

std::size_t run_all_jobs(std::size_t count) {
  std::vector<std::atomic<int>> seen(count);
  const std::function<bool(std::size_t)> job = [&seen](std::size_t i) {
    ++seen[i];
    return true;
  };
  std::size_t once = 0;
  if (WorkerPool::shared().run(count, job) != Status::finished) return 0;
  for (const auto& s : seen) once += s.load() == 1;
  return once;
}

}  // namespace

TEST(pool_runs_every_job_once_without_a_poll) { CHECK_EQ(run_all_jobs(500), std::size_t{500}); }

TEST(pool_poll_that_keeps_going_changes_nothing) {
  std::atomic<int> ran{0};
  const std::function<bool(std::size_t)> job = [&ran](std::size_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++ran;
    return true;
  };
  const std::function<bool()> poll = [] { return true; };
  CHECK(WorkerPool::shared().run(300, job, poll) == Status::finished);
  CHECK_EQ(ran.load(), 300);
}

TEST(pool_poll_stops_at_the_next_job_and_waits_for_running_ones) {
  HeldJobs held;
  const auto job = held.job();
  int polls = 0;
  const std::function<bool()> poll = [&] {
    ++polls;
    held.release = true;  // the jobs now running may end, but only after run() was told to stop
    return false;
  };
  const std::size_t count = 1000;
  CHECK(WorkerPool::shared().run(count, job, poll) == Status::interrupted);
  CHECK_EQ(polls, 1);
  CHECK_EQ(held.inside.load(), 0);
  CHECK_EQ(held.done.load(), held.started.load());
  CHECK(held.started.load() >= 1);
  CHECK(static_cast<std::size_t>(held.started.load()) <= WorkerPool::shared().size());
  CHECK_EQ(run_all_jobs(200), std::size_t{200});
}

TEST(pool_rethrows_from_poll_after_the_running_jobs) {
  HeldJobs held;
  const auto job = held.job();
  const std::function<bool()> poll = [&]() -> bool {
    held.release = true;
    throw std::runtime_error("poll failed");
  };
  bool thrown = false;
  try {
    WorkerPool::shared().run(1000, job, poll);
  } catch (const std::runtime_error&) {
    thrown = true;
  }
  CHECK(thrown);
  CHECK_EQ(held.inside.load(), 0);
  CHECK(static_cast<std::size_t>(held.started.load()) <= WorkerPool::shared().size());
  CHECK_EQ(run_all_jobs(200), std::size_t{200});
}

TEST(pool_job_that_stops_ends_the_run_as_finished) {
  std::atomic<int> ran{0};
  const std::function<bool(std::size_t)> job = [&ran](std::size_t i) {
    ++ran;
    if (i == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  };
  const std::function<bool()> poll = [] { return true; };
  CHECK(WorkerPool::shared().run(10000, job, poll) == Status::finished);
  CHECK(ran.load() < 10000);
  CHECK_EQ(run_all_jobs(10), std::size_t{10});
}
