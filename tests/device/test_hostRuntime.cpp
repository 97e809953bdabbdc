#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/device.h"

namespace {

TEST(HostRuntime, DeviceMemoryIsSeparateAndCounted) {
  const auto before = dz::device::counters();
  dz::device::resetCounters();

  std::vector<float> host(100, 1.5f);
  float* dev = nullptr;
  ASSERT_EQ(cudaMalloc(&dev, host.size() * sizeof(float)), cudaSuccess);
  ASSERT_NE(dev, nullptr);
  EXPECT_NE(dev, host.data());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(dev) % 256, 0u);
  EXPECT_EQ(dz::device::counters().liveAllocations, before.liveAllocations + 1);
  EXPECT_EQ(dz::device::counters().liveBytes, before.liveBytes + 400);

  ASSERT_EQ(cudaMemcpy(dev, host.data(), 400, cudaMemcpyHostToDevice), cudaSuccess);
  host.assign(100, -2.0f);  // a host edit after the upload does not reach the device
  std::vector<float> back(100, 0.0f);
  ASSERT_EQ(cudaMemcpy(back.data(), dev, 400, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(back, std::vector<float>(100, 1.5f));

  float* dev2 = nullptr;
  ASSERT_EQ(cudaMalloc(&dev2, 400), cudaSuccess);
  ASSERT_EQ(cudaMemcpy(dev2, dev, 400, cudaMemcpyDeviceToDevice), cudaSuccess);
  ASSERT_EQ(cudaMemcpy(dev2 + 10, host.data(), 8, cudaMemcpyDefault), cudaSuccess);  // inferred as an upload

  const auto c = dz::device::counters();
  EXPECT_EQ(c.bytesHostToDevice, 408u);
  EXPECT_EQ(c.bytesDeviceToHost, 400u);
  EXPECT_EQ(c.bytesDeviceToDevice, 400u);

  EXPECT_EQ(cudaFree(dev), cudaSuccess);
  EXPECT_EQ(cudaFree(dev2), cudaSuccess);
  EXPECT_EQ(dz::device::counters().liveAllocations, before.liveAllocations);
  EXPECT_EQ(dz::device::counters().liveBytes, before.liveBytes);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST(HostRuntime, ErrorCodesAreTheRuntimes) {
  std::vector<char> host(64);
  char* dev = nullptr;
  ASSERT_EQ(cudaMalloc(&dev, 64), cudaSuccess);

  void* huge = nullptr;
  EXPECT_EQ(cudaMalloc(&huge, SIZE_MAX / 2), cudaErrorMemoryAllocation);
  EXPECT_EQ(huge, nullptr);
  EXPECT_EQ(cudaGetLastError(), cudaErrorMemoryAllocation);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);  // reading the error clears it

  EXPECT_EQ(cudaFree(host.data()), cudaErrorInvalidDevicePointer);
  EXPECT_EQ(cudaFree(dev + 1), cudaErrorInvalidDevicePointer);  // not the start of an allocation
  EXPECT_EQ(cudaFree(nullptr), cudaSuccess);

  EXPECT_EQ(cudaMemcpy(host.data(), host.data(), 8, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemcpy(dev, host.data(), 65, cudaMemcpyHostToDevice), cudaErrorInvalidValue);  // runs past
  EXPECT_EQ(cudaMemcpy(host.data(), dev + 60, 8, cudaMemcpyDeviceToHost), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemcpy(dev, dev, 8, cudaMemcpyHostToDevice), cudaErrorInvalidValue);  // source is device memory
  EXPECT_EQ(cudaMemcpy(dev, host.data(), 8, static_cast<cudaMemcpyKind>(7)), cudaErrorInvalidMemcpyDirection);
  EXPECT_EQ(cudaMemcpy(dev + 56, host.data(), 8, cudaMemcpyHostToDevice), cudaSuccess);  // the last 8 bytes

  // Zero bytes, as for an empty array: the allocation is null, and copies need no valid pointer.
  void* none = host.data();
  EXPECT_EQ(cudaMalloc(&none, 0), cudaSuccess);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(cudaMemcpy(nullptr, nullptr, 0, cudaMemcpyHostToDevice), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(nullptr, nullptr, 0, cudaMemcpyDeviceToHost), cudaSuccess);

  EXPECT_EQ(cudaSetDevice(1), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaSetDevice(-1), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaSetDevice(0), cudaSuccess);
  int device = -1;
  EXPECT_EQ(cudaGetDevice(&device), cudaSuccess);
  EXPECT_EQ(device, 0);

  EXPECT_EQ(cudaFree(dev), cudaSuccess);
  EXPECT_EQ(cudaFree(dev), cudaErrorInvalidDevicePointer);  // a second free
  cudaGetLastError();
}

TEST(HostRuntime, DeviceResetReleasesEverything) {
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(cudaMalloc(&a, 10), cudaSuccess);
  ASSERT_EQ(cudaMalloc(&b, 20), cudaSuccess);
  cudaSetDevice(3);
  EXPECT_EQ(cudaDeviceReset(), cudaSuccess);
  EXPECT_EQ(dz::device::counters().liveAllocations, 0u);
  EXPECT_EQ(dz::device::counters().liveBytes, 0u);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
  EXPECT_EQ(cudaFree(a), cudaErrorInvalidDevicePointer);
  cudaGetLastError();
}

#ifdef __SANITIZE_ADDRESS__
// Allocations are rounded up to 256 bytes; an overrun into that padding must still be reported.
TEST(HostRuntimeDeathTest, OverrunIntoThePaddingIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int* dev = nullptr;
  ASSERT_EQ(cudaMalloc(&dev, 10 * sizeof(int)), cudaSuccess);
  EXPECT_DEATH(static_cast<volatile int*>(dev)[10] = 1, "use-after-poison");
  EXPECT_EQ(cudaFree(dev), cudaSuccess);
}
#endif

}  // namespace
