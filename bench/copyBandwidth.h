// The memory bandwidth of a plain parallel copy, the yardstick the benchmarks print beside their figures.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

// Best of five copies of `floats` values between two arrays, in bytes per second (read + written).
inline double copyBandwidth(std::size_t floats, int threads) {
  std::vector<float> a(floats, 1.0f), b(floats, 0.0f);
  double best = 0;
  for (int rep = 0; rep < 5; ++rep) {
    const auto t0 = std::chrono::steady_clock::now();
#pragma omp parallel for num_threads(threads) schedule(static)
    for (std::ptrdiff_t i = 0; i < static_cast<std::ptrdiff_t>(floats); ++i) b[i] = a[i];
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::max(best, 2.0 * floats * sizeof(float) / s);
  }
  return best;
}
