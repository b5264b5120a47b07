// Work shared over a few threads of this process.
#pragma once

#include <exception>
#include <thread>
#include <vector>

// Calls work(t) for t = 0 .. threads - 1, each on a thread of its own (t = 0 on
// the caller's), and rethrows the first exception any of them threw once all
// have finished: no thread outlives the call.
template <class Work>
void run_parallel(int threads, const Work& work) {
  std::vector<std::exception_ptr> errors(threads > 1 ? threads : 1);
  const auto guarded = [&](int t) {
    try {
      work(t);
    } catch (...) {
      errors[t] = std::current_exception();
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(guarded, t);
  guarded(0);
  for (std::thread& th : pool) th.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}
