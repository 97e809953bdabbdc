// Carries an exception out of an OpenMP parallel region. One that leaves the region (or a thread of it)
// ends the process, so each thread catches what its work throws; the first is kept, the threads skip the
// work left, and the thread that started the region rethrows it once the region has ended.
#pragma once

#include <atomic>
#include <exception>
#include <mutex>

namespace dz::device {

class FirstException {
 public:
  // Runs work, keeping what it throws when it is the first.
  template <class Work>
  void run(Work&& work) noexcept {
    try {
      work();
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!first_) first_ = std::current_exception();
      failed_.store(true, std::memory_order_relaxed);
    }
  }

  // True once some work has thrown: the rest of the region's work may be skipped.
  bool failed() const noexcept { return failed_.load(std::memory_order_relaxed); }

  // After the region: throws the first exception, if any.
  void rethrow() const {
    if (first_) std::rethrow_exception(first_);
  }

 private:
  std::mutex mutex_;
  std::exception_ptr first_;
  std::atomic<bool> failed_{false};
};

}  // namespace dz::device
