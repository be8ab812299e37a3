// Work spread over a few threads of one call, for the parts of a drawing that are independent
// (the unions of separate groups, the triangulation of separate polygons). Results are written
// by index, so they are the same whatever the thread count.
#pragma once

#include <cstddef>
#include <functional>

namespace strandify {

// Runs task(i) for every i in [0, count) on up to `threads` threads, the calling thread
// included, taking indices in ascending order as threads become free. The first exception a
// task throws (only allocation failure can) is rethrown here once every thread has stopped;
// no task starts after it. When no further thread can be started the calling thread does the
// rest alone.
//
// `keep_going`, when given, is asked on the calling thread before each task that thread takes;
// once it answers false no further task starts, and for_each_index returns false when every
// running task has finished.
bool for_each_index(std::size_t count, std::size_t threads,
                    const std::function<void(std::size_t)>& task,
                    const std::function<bool()>& keep_going = {});

// Starting and joining a thread costs tens of microseconds, the work of a few dozen boundary
// points, and the stages are started a few times per call: below this many points for each
// thread, extra threads only slow a call down (measured: the 177 country outlines of a small
// world map, about 100 points each, took twice as long on two threads as on one).
inline constexpr std::size_t kPointsPerThread = 4096;

// The threads worth starting, out of `threads`, for work over `points` points.
inline std::size_t threads_for_points(std::size_t threads, std::size_t points) {
  const std::size_t useful = points / kPointsPerThread;
  return useful < 1 ? 1 : (useful < threads ? useful : threads);
}

}  // namespace strandify
