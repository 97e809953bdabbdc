// What a kernel source sees in the host build: the CUDA qualifiers, the per-thread index variables,
// the fast single-precision intrinsics and the atomics, all as plain C++.
#pragma once

#include <immintrin.h>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#define __global__
#define __device__
#define __host__
#define __constant__
#define __forceinline__ inline __attribute__((always_inline))

struct uint3 {
  unsigned int x, y, z;
};

struct dim3 {
  unsigned int x, y, z;
  constexpr dim3(unsigned int vx = 1, unsigned int vy = 1, unsigned int vz = 1) : x(vx), y(vy), z(vz) {}
};

// Each CPU thread that runs kernel threads has its own index variables, set by the launcher before it
// calls the kernel body. initial-exec keeps the access a single segment-relative load inside the module.
#define DZ_THREAD_INDEX_VAR inline thread_local __attribute__((tls_model("initial-exec")))
DZ_THREAD_INDEX_VAR uint3 threadIdx;
DZ_THREAD_INDEX_VAR uint3 blockIdx;
DZ_THREAD_INDEX_VAR dim3 blockDim;
DZ_THREAD_INDEX_VAR dim3 gridDim;

namespace dz::device {

// Block mode: the launcher calls a kernel for thread (0, 0, 0) of each block first. A kernel that runs
// the whole block itself (as loops the compiler can vectorise) claims the block, and the launcher then
// skips the block's other threads. Kernels that do not claim run thread by thread.
DZ_THREAD_INDEX_VAR bool blockClaimed;

// Called by a kernel at thread (0, 0, 0) of a block that it runs whole: it must then do the work of
// every thread of that block.
__forceinline__ void claimBlock() { blockClaimed = true; }

}  // namespace dz::device

#undef DZ_THREAD_INDEX_VAR

// Fast intrinsics: on the host they are the ordinary operations (at least as accurate as the device's).
__forceinline__ float __fdividef(float a, float b) { return a / b; }
__forceinline__ float __fsqrt_rn(float a) { return std::sqrt(a); }
__forceinline__ float __frsqrt_rn(float a) { return 1.0f / std::sqrt(a); }
__forceinline__ float __frcp_rn(float a) { return 1.0f / a; }
__forceinline__ float __expf(float a) { return std::exp(a); }
__forceinline__ float __logf(float a) { return std::log(a); }
__forceinline__ float __powf(float a, float b) { return std::pow(a, b); }
__forceinline__ float rsqrtf(float a) { return 1.0f / std::sqrt(a); }

// Atomics return the old value, as on the device. The floating-point forms retry a compare-and-swap
// (which compares bit patterns), so concurrent additions are never lost.
namespace dz::device {
template <class T>
__forceinline__ T atomicAddFloating(T* address, T val) {
  T old;
  __atomic_load(address, &old, __ATOMIC_RELAXED);
  for (;;) {
    T sum = old + val;
    if (__atomic_compare_exchange(address, &old, &sum, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) return old;
  }
}
}  // namespace dz::device

__forceinline__ double atomicAdd(double* address, double val) { return dz::device::atomicAddFloating(address, val); }

__forceinline__ float atomicAdd(float* address, float val) { return dz::device::atomicAddFloating(address, val); }

__forceinline__ int atomicAdd(int* address, int val) { return __atomic_fetch_add(address, val, __ATOMIC_RELAXED); }

__forceinline__ unsigned int atomicAdd(unsigned int* address, unsigned int val) {
  return __atomic_fetch_add(address, val, __ATOMIC_RELAXED);
}

// Streaming (non-temporal) stores write whole cache lines past the caches: the line is not read before
// it is written (no write-allocate), and nothing the next kernel needs is evicted for it. They pay off
// where a kernel writes an array far larger than the last-level cache, and lose where the next kernel
// would have found the array there. Kernels ask useStreamingStores with the size of the array they
// write; tests and benchmarks may force either way (the values stored are the same).
namespace dz::device {

enum class StreamingStores { automatic, always, never };
inline StreamingStores streamingStores = StreamingStores::automatic;
inline constexpr std::size_t kStreamingStoreMinBytes = std::size_t(32) << 20;  // this machine's L3

// True for an array far larger than the last-level cache.
__forceinline__ bool exceedsCache(std::size_t bytes) { return bytes >= kStreamingStoreMinBytes; }

__forceinline__ bool useStreamingStores(std::size_t bytes) {
  if (streamingStores == StreamingStores::automatic) return exceedsCache(bytes);
  return streamingStores == StreamingStores::always;
}

// True when p starts a cache line.
__forceinline__ bool lineAligned(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 63) == 0; }

// Stores the 64 bytes at v into the line at dst (which lineAligned) past the caches.
__forceinline__ void streamLine(void* dst, const void* v) {
#if defined(__AVX512F__)
  _mm512_stream_si512(static_cast<__m512i*>(dst), _mm512_loadu_si512(v));
#elif defined(__AVX__)
  auto* d = static_cast<__m256i*>(dst);
  const auto* s = static_cast<const __m256i*>(v);
  _mm256_stream_si256(d, _mm256_loadu_si256(s));
  _mm256_stream_si256(d + 1, _mm256_loadu_si256(s + 1));
#else
  auto* d = static_cast<__m128i*>(dst);
  const auto* s = static_cast<const __m128i*>(v);
  for (int k = 0; k < 4; ++k) _mm_stream_si128(d + k, _mm_loadu_si128(s + k));
#endif
}

// Streaming stores are weakly ordered: a block that made them ends with this, before other threads may
// read what it wrote.
__forceinline__ void streamFence() { _mm_sfence(); }

}  // namespace dz::device
