// Timing shared by the benchmarks: the median of three rounds, and the thread counts of the host device
// layer they run on.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

#include "device/device.h"

namespace bench {

// Median over three rounds of the seconds per call of `calls` calls (after one warm-up call); other work
// on the machine only ever slows a round, and the median ignores one bad round.
template <class F>
double secondsPerCall(int calls, F&& call) {
  call();
  std::vector<double> rounds;
  for (int r = 0; r < 3; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int c = 0; c < calls; ++c) call();
    rounds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / calls);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[1];
}

// Median of three calls without a warm-up, for calls of seconds that allocate what they use.
template <class F>
double medianSeconds(F&& call) {
  std::vector<double> rounds;
  for (int r = 0; r < 3; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    call();
    rounds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[1];
}

template <class F>
double msPerCall(int calls, F&& call) {
  return 1e3 * secondsPerCall(calls, call);
}

// The host device layer runs on one thread and on all of them (0); the CUDA build runs on the device.
#ifdef DUZAVOD_CUDA
inline const int kThreadCounts[] = {0};
inline void useThreads(int) {}
inline int threadsInUse() { return 0; }
#else
inline const int kThreadCounts[] = {1, 0};
inline void useThreads(int n) { dz::device::setHostThreads(n); }
inline int threadsInUse() { return dz::device::hostThreads(); }
#endif

}  // namespace bench
