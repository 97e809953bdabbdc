#include "copyBandwidth.h"

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "device/hostKernel.h"

namespace {

// Copies one cache line with the widest plain stores there are (a loop the compiler could turn into a
// call of memcpy, which switches to streaming stores for large copies).
inline void copyLine(float* dst, const float* src) {
#if defined(__AVX512F__)
  _mm512_store_ps(dst, _mm512_load_ps(src));
#elif defined(__AVX__)
  _mm256_store_ps(dst, _mm256_load_ps(src));
  _mm256_store_ps(dst + 8, _mm256_load_ps(src + 8));
#else
  for (int k = 0; k < 16; k += 4) _mm_store_ps(dst + k, _mm_load_ps(src + k));
#endif
}

// One copy of n floats, each thread its own slice of whole cache lines; seconds.
double copyOnce(float* dst, const float* src, std::size_t n, int threads, bool streaming) {
  const std::size_t lines = n / 16;
  const auto t0 = std::chrono::steady_clock::now();
#pragma omp parallel num_threads(threads)
  {
    const std::size_t t = omp_get_thread_num(), team = omp_get_num_threads();
    const std::size_t begin = lines * t / team * 16, end = lines * (t + 1) / team * 16;
    if (streaming) {
      for (std::size_t i = begin; i < end; i += 16) dz::device::streamLine(dst + i, src + i);
      dz::device::streamFence();
    } else {
      for (std::size_t i = begin; i < end; i += 16) copyLine(dst + i, src + i);
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

CopyBandwidth copyBandwidth(int threads, std::size_t bytes) {
  const std::size_t n = bytes / sizeof(float) / 16 * 16;
  auto* src = static_cast<float*>(std::aligned_alloc(64, n * sizeof(float)));
  auto* dst = static_cast<float*>(std::aligned_alloc(64, n * sizeof(float)));
  // Each thread first touches the pages it copies.
#pragma omp parallel for num_threads(threads) schedule(static)
  for (std::size_t i = 0; i < n; ++i) {
    src[i] = 1.0f;
    dst[i] = 0.0f;
  }
  auto median = [&](bool streaming) {
    std::vector<double> s;
    copyOnce(dst, src, n, threads, streaming);  // warm-up
    for (int r = 0; r < 5; ++r) s.push_back(copyOnce(dst, src, n, threads, streaming));
    std::sort(s.begin(), s.end());
    return s[2];
  };
  const double bytesCopied = static_cast<double>(n) * sizeof(float);
  CopyBandwidth bw{3 * bytesCopied / median(false), 2 * bytesCopied / median(true)};
  std::free(src);
  std::free(dst);
  return bw;
}
