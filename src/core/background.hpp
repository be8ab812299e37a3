// Long work moved off the calling thread, so that the caller stays free to notice that it should
// stop (Ctrl-C) while a library call that cannot be interrupted (the union, one triangulation)
// runs for seconds. The caller then returns at once; the work finishes on its own thread,
// touching only what it owns, and its result is dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace strandify {

// Asked between the steps of a long call whether to go on; an empty function never stops it.
using KeepGoing = std::function<bool()>;

// How often a caller waiting for background work asks whether to go on.
inline constexpr std::chrono::milliseconds kBackgroundPollInterval{50};

// Work worth a thread of its own when the call can be stopped: starting one costs some tens of
// microseconds, these take some tens of milliseconds and more.
inline constexpr double kBackgroundUnionWork = 1.0e7;  // union sweep steps (work_estimate.hpp)
inline constexpr double kBackgroundPoints = 20000.0;   // boundary or input ring points

// Whether a long loop that asks keep_going once every `every` items should stop before item
// `index` (it asks before items every - 1, 2 x every - 1, ...). An empty keep_going is never
// asked.
inline bool stop_before(const KeepGoing& keep_going, std::size_t index, std::size_t every) {
  return keep_going && index % every == every - 1 && !keep_going();
}

// Asks keep_going until it first answers stop and from then on only remembers that answer, so
// that several places may check one call's stop without asking a poll (which may raise) twice.
class StopLatch {
 public:
  explicit StopLatch(const KeepGoing& keep_going) : keep_going_(keep_going) {}
  bool stopped() {
    if (!stopped_ && keep_going_ && !keep_going_()) stopped_ = true;
    return stopped_;
  }
  bool can_stop() const { return static_cast<bool>(keep_going_); }
  // Whether it has answered stop, without asking again.
  bool has_stopped() const { return stopped_; }
  // A KeepGoing that asks this latch; empty when the latch can never stop.
  KeepGoing keep_going() {
    if (!keep_going_) return {};
    return [this] { return !stopped(); };
  }

 private:
  const KeepGoing& keep_going_;
  bool stopped_ = false;
};

namespace detail {

template <class R>
struct BackgroundState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::optional<R> result;
  std::exception_ptr error;
  std::atomic<bool> stop{false};
};

}  // namespace detail

// Runs work(stop) on a thread of its own while this thread waits, asking keep_going() every
// kBackgroundPollInterval, and returns the work's result. Once keep_going() answers stop, this
// returns nothing at once: `stop` (a KeepGoing of the work's own thread) answers stop from then
// on, so the work can give up at its next check, and the thread finishes in the background and
// drops its result. `work` must therefore own everything it reads: it is moved into state shared
// only with that thread. An exception of the work (running out of memory) is rethrown here.
// Without keep_going, or when no thread can be started, the work runs on this thread with
// keep_going itself as its stop.
template <class R, class Work>
std::optional<R> run_in_background(Work work, const KeepGoing& keep_going) {
  if (!keep_going) return work(keep_going);
  auto state = std::make_shared<detail::BackgroundState<R>>();
  auto task = std::make_shared<Work>(std::move(work));
  std::thread thread;
  try {
    thread = std::thread([state, task] {
      const KeepGoing stop = [raw = state.get()] {
        return !raw->stop.load(std::memory_order_relaxed);
      };
      std::optional<R> result;
      std::exception_ptr error;
      try {
        result.emplace((*task)(stop));
      } catch (...) {
        error = std::current_exception();
      }
      const std::lock_guard<std::mutex> lock(state->mutex);
      state->result = std::move(result);
      state->error = error;
      state->done = true;
      state->finished.notify_all();
    });
  } catch (const std::system_error&) {
    return (*task)(keep_going);
  } catch (const std::bad_alloc&) {
    return (*task)(keep_going);
  }
  for (;;) {
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->finished.wait_for(lock, kBackgroundPollInterval, [&] { return state->done; })) break;
    lock.unlock();
    bool go = false;
    try {
      go = keep_going();
    } catch (...) {
      state->stop.store(true, std::memory_order_relaxed);
      thread.detach();
      throw;
    }
    if (!go) {
      state->stop.store(true, std::memory_order_relaxed);
      thread.detach();
      return std::nullopt;
    }
  }
  thread.join();
  if (state->error) std::rethrow_exception(state->error);
  return std::move(state->result);
}

}  // namespace strandify
