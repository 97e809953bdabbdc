// The CUDA runtime calls the system makes, implemented on the host for one emulated device (id 0).
//
// Device memory is its own set of allocations: host code reaches it only through cudaMemcpy, kernels
// through the pointers they are given. Every call answers with the runtime's own error codes, and the
// layer counts what it copies and what it holds, so tests can see a missing copy or a leak.
#pragma once

#include <cstddef>
#include <vector>

#include "hostKernel.h"

enum cudaError_t : unsigned int {
  cudaSuccess = 0,
  cudaErrorInvalidValue = 1,
  cudaErrorMemoryAllocation = 2,
  cudaErrorInvalidConfiguration = 9,
  cudaErrorInvalidDevicePointer = 17,
  cudaErrorInvalidMemcpyDirection = 21,
  cudaErrorInvalidDevice = 101,
};

enum cudaMemcpyKind : int {
  cudaMemcpyHostToHost = 0,
  cudaMemcpyHostToDevice = 1,
  cudaMemcpyDeviceToHost = 2,
  cudaMemcpyDeviceToDevice = 3,
  cudaMemcpyDefault = 4,
};

cudaError_t cudaSetDevice(int device);
cudaError_t cudaGetDevice(int* device);
cudaError_t cudaGetDeviceCount(int* count);
cudaError_t cudaMalloc(void** devPtr, std::size_t size);
cudaError_t cudaFree(void* devPtr);
cudaError_t cudaMemcpy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind);
cudaError_t cudaGetLastError();
cudaError_t cudaDeviceSynchronize();
cudaError_t cudaDeviceReset();

template <class T>
cudaError_t cudaMalloc(T** devPtr, std::size_t size) {
  return cudaMalloc(reinterpret_cast<void**>(devPtr), size);
}

namespace dz::device {

// What the layer has done since the last resetCounters(); the live figures are never reset.
struct Counters {
  std::size_t bytesHostToDevice = 0;
  std::size_t bytesDeviceToHost = 0;
  std::size_t bytesDeviceToDevice = 0;
  std::size_t launches = 0;
  std::size_t liveAllocations = 0;
  std::size_t liveBytes = 0;
};

struct LaunchRecord {
  const char* kernel;
  dim3 grid;
  dim3 block;
};

Counters counters();
void resetCounters();

// The device's memory: an allocation that would take the live bytes past `bytes` fails as on a full
// device (cudaErrorMemoryAllocation). SIZE_MAX, the default, sets no limit beyond the host's.
void limitMemory(std::size_t bytes);

// Launch log for tests: off by default, so a long run keeps no history.
void recordLaunches(bool on);
const std::vector<LaunchRecord>& launchLog();
void clearLaunchLog();

// CPU threads that run kernels; 0 restores the default (OMP_NUM_THREADS, else all cores).
void setHostThreads(int n);
int hostThreads();

// Used by the launcher.
void setLastError(cudaError_t error);
void noteLaunch(const char* kernel, dim3 grid, dim3 block);

}  // namespace dz::device
