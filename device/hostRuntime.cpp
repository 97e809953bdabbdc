#include "hostRuntime.h"

#include <omp.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#define DZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DZ_ASAN 1
#endif
#endif
#ifdef DZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr std::size_t kAlignment = 256;  // what cudaMalloc guarantees

struct DeviceState {
  std::mutex mutex;
  std::map<std::uintptr_t, std::size_t> allocations;  // base address -> size in bytes
  dz::device::Counters counters;
  cudaError_t lastError = cudaSuccess;
  std::size_t memoryLimit = SIZE_MAX;  // bytes the device holds at once
  int currentDevice = 0;
  std::atomic<int> hostThreads{0};
  bool recordLaunches = false;
  std::vector<dz::device::LaunchRecord> launchLog;
};

DeviceState& state() {
  static DeviceState s;
  return s;
}

// Records a failure the way the runtime does: the call returns it and cudaGetLastError reports it once.
cudaError_t fail(DeviceState& s, cudaError_t error) {
  s.lastError = error;
  return error;
}

// True when [p, p + n) lies inside one live allocation; the caller holds the lock.
bool insideAllocation(const DeviceState& s, const void* p, std::size_t n) {
  const auto addr = reinterpret_cast<std::uintptr_t>(p);
  auto it = s.allocations.upper_bound(addr);
  if (it == s.allocations.begin()) return false;
  it = std::prev(it);
  const std::size_t offset = addr - it->first;
  return offset < it->second && n <= it->second - offset;
}

bool touchesDevice(const DeviceState& s, const void* p) { return insideAllocation(s, p, 1); }

// cudaMalloc rounds every allocation up to the alignment.
std::size_t roundedSize(std::size_t size) { return (size + kAlignment - 1) / kAlignment * kAlignment; }

// Under AddressSanitizer the tail past the requested size is poisoned, so that a kernel overrunning a
// small array is reported instead of landing in the padding; it is unpoisoned again before the free.
void poisonTail(void* base, std::size_t size) {
#ifdef DZ_ASAN
  ASAN_POISON_MEMORY_REGION(static_cast<char*>(base) + size, roundedSize(size) - size);
#else
  (void)base;
  (void)size;
#endif
}

void release(void* base, std::size_t size) {
#ifdef DZ_ASAN
  ASAN_UNPOISON_MEMORY_REGION(base, roundedSize(size));
#else
  (void)size;
#endif
  std::free(base);
}

}  // namespace

cudaError_t cudaSetDevice(int device) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (device != 0) return fail(s, cudaErrorInvalidDevice);
  s.currentDevice = device;
  return cudaSuccess;
}

cudaError_t cudaGetDevice(int* device) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (device == nullptr) return fail(s, cudaErrorInvalidValue);
  *device = s.currentDevice;
  return cudaSuccess;
}

cudaError_t cudaGetDeviceCount(int* count) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (count == nullptr) return fail(s, cudaErrorInvalidValue);
  *count = 1;
  return cudaSuccess;
}

cudaError_t cudaMalloc(void** devPtr, std::size_t size) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (devPtr == nullptr) return fail(s, cudaErrorInvalidValue);
  *devPtr = nullptr;
  if (size == 0) return cudaSuccess;
  const bool full = s.counters.liveBytes > s.memoryLimit || size > s.memoryLimit - s.counters.liveBytes;
  if (size > SIZE_MAX - kAlignment || full) return fail(s, cudaErrorMemoryAllocation);
  void* p = std::aligned_alloc(kAlignment, roundedSize(size));
  if (p == nullptr) return fail(s, cudaErrorMemoryAllocation);
  poisonTail(p, size);
  s.allocations.emplace(reinterpret_cast<std::uintptr_t>(p), size);
  ++s.counters.liveAllocations;
  s.counters.liveBytes += size;
  *devPtr = p;
  return cudaSuccess;
}

cudaError_t cudaFree(void* devPtr) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (devPtr == nullptr) return cudaSuccess;
  auto it = s.allocations.find(reinterpret_cast<std::uintptr_t>(devPtr));
  if (it == s.allocations.end()) return fail(s, cudaErrorInvalidDevicePointer);
  --s.counters.liveAllocations;
  s.counters.liveBytes -= it->second;
  release(devPtr, it->second);
  s.allocations.erase(it);
  return cudaSuccess;
}

cudaError_t cudaMemcpy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (kind < cudaMemcpyHostToHost || kind > cudaMemcpyDefault) return fail(s, cudaErrorInvalidMemcpyDirection);
  if (count == 0) return cudaSuccess;
  if (dst == nullptr || src == nullptr) return fail(s, cudaErrorInvalidValue);

  const bool dstDevice = touchesDevice(s, dst);
  const bool srcDevice = touchesDevice(s, src);
  if (kind == cudaMemcpyDefault)
    kind = srcDevice ? (dstDevice ? cudaMemcpyDeviceToDevice : cudaMemcpyDeviceToHost)
                     : (dstDevice ? cudaMemcpyHostToDevice : cudaMemcpyHostToHost);

  // Each side must be what the kind says, and a device side must hold the whole range.
  const bool wantDstDevice = kind == cudaMemcpyHostToDevice || kind == cudaMemcpyDeviceToDevice;
  const bool wantSrcDevice = kind == cudaMemcpyDeviceToHost || kind == cudaMemcpyDeviceToDevice;
  if (dstDevice != wantDstDevice || srcDevice != wantSrcDevice) return fail(s, cudaErrorInvalidValue);
  if (wantDstDevice && !insideAllocation(s, dst, count)) return fail(s, cudaErrorInvalidValue);
  if (wantSrcDevice && !insideAllocation(s, src, count)) return fail(s, cudaErrorInvalidValue);

  std::memmove(dst, src, count);
  switch (kind) {
    case cudaMemcpyHostToDevice:
      s.counters.bytesHostToDevice += count;
      break;
    case cudaMemcpyDeviceToHost:
      s.counters.bytesDeviceToHost += count;
      break;
    case cudaMemcpyDeviceToDevice:
      s.counters.bytesDeviceToDevice += count;
      break;
    default:
      break;
  }
  return cudaSuccess;
}

cudaError_t cudaGetLastError() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  const cudaError_t e = s.lastError;
  s.lastError = cudaSuccess;
  return e;
}

// Kernels have finished when the launcher returns, so there is never anything to wait for.
cudaError_t cudaDeviceSynchronize() { return cudaSuccess; }

cudaError_t cudaDeviceReset() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const auto& [base, size] : s.allocations) release(reinterpret_cast<void*>(base), size);
  s.allocations.clear();
  s.counters.liveAllocations = 0;
  s.counters.liveBytes = 0;
  s.lastError = cudaSuccess;
  s.currentDevice = 0;
  return cudaSuccess;
}

namespace dz::device {

Counters counters() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.counters;
}

void resetCounters() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.counters.bytesHostToDevice = 0;
  s.counters.bytesDeviceToHost = 0;
  s.counters.bytesDeviceToDevice = 0;
  s.counters.launches = 0;
}

void limitMemory(std::size_t bytes) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.memoryLimit = bytes;
}

void recordLaunches(bool on) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.recordLaunches = on;
}

const std::vector<LaunchRecord>& launchLog() { return state().launchLog; }

void clearLaunchLog() {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.launchLog.clear();
}

void setHostThreads(int n) { state().hostThreads = n > 0 ? n : 0; }

int hostThreads() {
  const int n = state().hostThreads;
  return n > 0 ? n : omp_get_max_threads();
}

void setLastError(cudaError_t error) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.lastError = error;
}

void noteLaunch(const char* kernel, dim3 grid, dim3 block) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.counters.launches;
  if (s.recordLaunches) s.launchLog.push_back(LaunchRecord{kernel, grid, block});
}

}  // namespace dz::device
