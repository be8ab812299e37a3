#include "parallel.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace strandify {

bool for_each_index(std::size_t count, std::size_t threads,
                    const std::function<void(std::size_t)>& task,
                    const std::function<bool()>& keep_going) {
  const std::size_t helpers = std::min(threads, count) > 1 ? std::min(threads, count) - 1 : 0;
  if (helpers == 0) {
    for (std::size_t i = 0; i < count; ++i) {
      if (keep_going && !keep_going()) return false;
      task(i);
    }
    return true;
  }
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::atomic<bool> stopped{false};
  std::exception_ptr first_error;
  std::mutex error_mutex;
  auto drain = [&](bool caller) {
    for (;;) {
      if (failed.load(std::memory_order_relaxed)) return;
      if (caller && keep_going && !keep_going()) {
        stopped.store(true, std::memory_order_relaxed);
        failed.store(true, std::memory_order_relaxed);
        return;
      }
      const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
      if (i >= count) return;
      try {
        task(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (!first_error) first_error = std::current_exception();
        failed.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };
  std::vector<std::thread> pool;
  try {
    pool.reserve(helpers);
    for (std::size_t k = 0; k < helpers; ++k) pool.emplace_back(drain, false);
  } catch (const std::system_error&) {
    // No more threads to be had: those started and this one share the work.
  } catch (const std::bad_alloc&) {
  }
  drain(true);
  for (std::thread& t : pool) t.join();
  if (first_error) std::rethrow_exception(first_error);
  return !stopped.load();
}

}  // namespace strandify
