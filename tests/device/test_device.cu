// The host device layer: memory apart from the host's, the runtime's error codes, and launches that run
// every thread of the grid once, on 1 or 8 CPU threads alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "device/device.h"

namespace {

template <class T>
T* upload(const std::vector<T>& host) {
  T* dev = nullptr;
  EXPECT_EQ(cudaMalloc(&dev, host.size() * sizeof(T)), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(dev, host.data(), host.size() * sizeof(T), cudaMemcpyHostToDevice), cudaSuccess);
  return dev;
}

template <class T>
std::vector<T> download(const T* dev, std::size_t n) {
  std::vector<T> host(n);
  EXPECT_EQ(cudaMemcpy(host.data(), dev, n * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
  return host;
}

TEST(HostRuntime, DeviceMemoryIsSeparateAndCounted) {
  const auto before = dz::device::counters();
  dz::device::resetCounters();
  std::vector<float> host(100, 1.5f);
  float* dev = upload(host);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(dev) % 256, 0u);
  EXPECT_EQ(dz::device::counters().liveBytes, before.liveBytes + 400);
  host.assign(100, -2.0f);  // a host edit after the upload does not reach the device
  EXPECT_EQ(download(dev, 100), std::vector<float>(100, 1.5f));
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
  const std::pair<cudaError_t, cudaError_t> calls[] = {
      {cudaFree(host.data()), cudaErrorInvalidDevicePointer},
      {cudaFree(dev + 1), cudaErrorInvalidDevicePointer},  // not the start of an allocation
      {cudaFree(nullptr), cudaSuccess},
      {cudaMemcpy(host.data(), host.data(), 8, cudaMemcpyHostToDevice), cudaErrorInvalidValue},
      {cudaMemcpy(dev, host.data(), 65, cudaMemcpyHostToDevice), cudaErrorInvalidValue},  // runs past
      {cudaMemcpy(host.data(), dev + 60, 8, cudaMemcpyDeviceToHost), cudaErrorInvalidValue},
      {cudaMemcpy(dev, dev, 8, cudaMemcpyHostToDevice), cudaErrorInvalidValue},  // the source is device memory
      {cudaMemcpy(dev, host.data(), 8, static_cast<cudaMemcpyKind>(7)), cudaErrorInvalidMemcpyDirection},
      {cudaMemcpy(dev + 56, host.data(), 8, cudaMemcpyHostToDevice), cudaSuccess},  // the last 8 bytes
      {cudaMemcpy(nullptr, nullptr, 0, cudaMemcpyHostToDevice), cudaSuccess},       // zero bytes need no pointer
      {cudaMemcpy(nullptr, nullptr, 0, cudaMemcpyDeviceToHost), cudaSuccess},
      {cudaSetDevice(1), cudaErrorInvalidDevice},
      {cudaSetDevice(-1), cudaErrorInvalidDevice},
      {cudaSetDevice(0), cudaSuccess},
      {cudaFree(dev), cudaSuccess},
      {cudaFree(dev), cudaErrorInvalidDevicePointer}};  // a second free
  for (std::size_t k = 0; k < std::size(calls); ++k) EXPECT_EQ(calls[k].first, calls[k].second) << "call " << k;
  void* none = host.data();  // zero bytes, as for an empty array: the allocation is null
  EXPECT_EQ(cudaMalloc(&none, 0), cudaSuccess);
  EXPECT_EQ(none, nullptr);
  int device = -1;
  EXPECT_EQ(cudaGetDevice(&device), cudaSuccess);
  EXPECT_EQ(device, 0);
  void* a = nullptr;
  ASSERT_EQ(cudaMalloc(&a, 10), cudaSuccess);
  EXPECT_EQ(cudaDeviceReset(), cudaSuccess);  // releases everything and clears the error
  EXPECT_EQ(dz::device::counters().liveAllocations, 0u);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
  EXPECT_EQ(cudaFree(a), cudaErrorInvalidDevicePointer);
  cudaGetLastError();
}

#ifdef __SANITIZE_ADDRESS__
// Allocations are rounded up to 256 bytes; an overrun into that padding must still be reported.
TEST(HostRuntimeDeathTest, OverrunIntoThePaddingIsReported) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  int* dev = upload(std::vector<int>(10));
  EXPECT_DEATH(static_cast<volatile int*>(dev)[10] = 1, "use-after-poison");
  EXPECT_EQ(cudaFree(dev), cudaSuccess);
}
#endif

// Lattice addressing: the flat thread number names the node; threads past the last node do nothing.
__global__ void countNodesKernel(int* hits, int nx, int ny, int nz) {
  const int i = ((blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x) * (blockDim.x * blockDim.y) +
                threadIdx.y * 32 + threadIdx.x;
  const int x = i % nx, y = (i % (nx * ny)) / nx, z = i / (nx * ny);
  if (z < nz) atomicAdd(&hits[x + nx * (y + ny * z)], 1);
}

__global__ void indexKernel(unsigned int* out) {
  const unsigned int block = (blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
  const unsigned int thread = (threadIdx.z * blockDim.y + threadIdx.y) * blockDim.x + threadIdx.x;
  out[block * blockDim.x * blockDim.y * blockDim.z + thread] = (blockIdx.x << 24) | (blockIdx.y << 16) |
                                                               (blockIdx.z << 12) | (threadIdx.x << 8) |
                                                               (threadIdx.y << 4) | threadIdx.z;
}

__global__ void sumKernel(double* total, int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i < n) atomicAdd(total, static_cast<double>(i));
}

// Even blocks are claimed by their thread (0, 0, 0), which does the work of all; a call for another thread
// of a claimed block counts as stray.
__global__ void claimEvenBlocksKernel(int* hits, int* stray) {
  const unsigned int block = (blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
  const unsigned int size = blockDim.x * blockDim.y * blockDim.z;
  const unsigned int t = (threadIdx.z * blockDim.y + threadIdx.y) * blockDim.x + threadIdx.x;
  if (block % 2 == 1) {
    atomicAdd(&hits[block * size + t], 1);
  } else if (t != 0) {
    atomicAdd(stray, 1);
  } else {
    dz::device::claimBlock();
    for (unsigned int k = 0; k < size; ++k) atomicAdd(&hits[block * size + k], 1);
  }
}

class HostLaunch : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { dz::device::setHostThreads(GetParam()); }
  void TearDown() override { dz::device::setHostThreads(0); }
};

TEST_P(HostLaunch, EveryThreadOfTheGridRunsOnceWithItsOwnIndices) {
  unsigned int* out = upload(std::vector<unsigned int>(288, ~0u));
  DZ_LAUNCH(indexKernel, dim3(3, 2, 2), dim3(4, 3, 2), out);
  const auto ids = download(out, 288);
  std::size_t i = 0;
  for (unsigned bz = 0; bz < 2; ++bz)
    for (unsigned by = 0; by < 2; ++by)
      for (unsigned bx = 0; bx < 3; ++bx)
        for (unsigned tz = 0; tz < 2; ++tz)
          for (unsigned ty = 0; ty < 3; ++ty)
            for (unsigned tx = 0; tx < 4; ++tx, ++i)
              ASSERT_EQ(ids[i], (bx << 24) | (by << 16) | (bz << 12) | (tx << 8) | (ty << 4) | tz) << i;

  int* claimed = upload(std::vector<int>(384, 0));
  int* stray = upload(std::vector<int>{0});
  DZ_LAUNCH(claimEvenBlocksKernel, dim3(3, 2, 2), dim3(8, 4, 1), claimed, stray);
  EXPECT_EQ(download(stray, 1)[0], 0);
  EXPECT_EQ(download(claimed, 384), std::vector<int>(384, 1));

  const int n = 200000;  // atomics lose nothing: the sum is exact in double
  double* total = upload(std::vector<double>{0.0});
  DZ_LAUNCH(sumKernel, dim3((n + 255) / 256), dim3(256), total, n);
  EXPECT_EQ(download(total, 1)[0], static_cast<double>(n) * (n - 1) / 2);
  for (void* p :
       {static_cast<void*>(out), static_cast<void*>(claimed), static_cast<void*>(stray), static_cast<void*>(total)})
    cudaFree(p);
}

INSTANTIATE_TEST_SUITE_P(Threads, HostLaunch, ::testing::Values(1, 8));

// Runs of whole rows where the grid has a row per thread; otherwise every thread can still get blocks.
TEST(HostLaunch, RunsAreWholeRowsWithoutStarvingThreads) {
  struct Case {
    dim3 grid;
    int threads;
    long long run;
  };
  const Case cases[] = {{dim3(5, 5, 7), 8, 5}, {dim3(5, 5, 1), 8, 1}, {dim3(4, 128, 128), 8, 512},
                        {dim3(3, 100), 8, 3},  {dim3(1000), 8, 7},    {dim3(40), 8, 1}};
  for (const Case& c : cases)
    EXPECT_EQ(dz::device::runLength(c.grid, c.threads), c.run) << c.grid.x << " x " << c.grid.y << " x " << c.grid.z;
}

TEST(HostLaunchConfiguration, ShapesTheRuntimeRefusesRunNothing) {
  int* hits = upload(std::vector<int>(4, 0));
  dz::device::recordLaunches(true);
  dz::device::clearLaunchLog();
  // Too many threads a block; an empty grid; grid y and z stop at 65535.
  for (const auto& [grid, block] : {std::pair{dim3(1), dim3(2048)}, std::pair{dim3(0), dim3(32)},
                                    std::pair{dim3(1, 65536), dim3(32)}, std::pair{dim3(1, 1, 65536), dim3(32)}}) {
    DZ_LAUNCH(countNodesKernel, grid, block, hits, 1, 1, 1);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
  }
  EXPECT_TRUE(dz::device::launchLog().empty());
  EXPECT_EQ(download(hits, 4), std::vector<int>(4, 0));
  DZ_LAUNCH(countNodesKernel, dim3(1, 1, 2), dim3(32, 4), hits, 2, 1, 2);
  ASSERT_EQ(dz::device::launchLog().size(), 1u);
  EXPECT_STREQ(dz::device::launchLog()[0].kernel, "countNodesKernel");
  EXPECT_EQ(dz::device::launchLog()[0].grid.z, 2u);
  EXPECT_EQ(download(hits, 4), std::vector<int>(4, 1));
  dz::device::recordLaunches(false);
  dz::device::clearLaunchLog();
  cudaFree(hits);
}

}  // namespace
