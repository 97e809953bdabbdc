// Kernels launched through the device layer, as the lattice kernels are.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "device/device.h"

namespace {

__global__ void countNodesKernel(int* hits, int nx, int ny, int nz) {
  const int i = ((blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x) * (blockDim.x * blockDim.y) +
                threadIdx.y * 32 + threadIdx.x;
  const int z = i / (nx * ny);
  const int y = (i % (nx * ny)) / nx;
  const int x = i % nx;
  if (x < 0 || x >= nx || y < 0 || y >= ny || z < 0 || z >= nz) return;
  atomicAdd(&hits[x + nx * (y + ny * z)], 1);
}

__global__ void indexKernel(unsigned int* out) {
  const unsigned int block = (blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
  const unsigned int thread = (threadIdx.z * blockDim.y + threadIdx.y) * blockDim.x + threadIdx.x;
  const unsigned int i = block * blockDim.x * blockDim.y * blockDim.z + thread;
  out[i] = (blockIdx.x << 24) | (blockIdx.y << 16) | (blockIdx.z << 12) | (threadIdx.x << 8) | (threadIdx.y << 4) |
           threadIdx.z;
}

__global__ void sumKernel(double* total, int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i < n) atomicAdd(total, static_cast<double>(i));
}

__global__ void floatSumKernel(float* total, int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i < n) atomicAdd(total, 1.0f);
}

__global__ void smoothKernel(const float* in, float* out, int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i <= 0 || i >= n - 1) return;
  out[i] = __fdividef(in[i - 1] + 2.0f * in[i] + in[i + 1], 4.0f) + __fsqrt_rn(static_cast<float>(i));
}

// Thread (0, 0, 0) of an even block claims it and does the work of all its threads; odd blocks run thread
// by thread. Any call the launcher makes for another thread of a claimed block counts as stray.
__global__ void claimEvenBlocksKernel(int* hits, int* stray) {
  const unsigned int block = (blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
  const unsigned int size = blockDim.x * blockDim.y * blockDim.z;
  const bool first = threadIdx.x == 0 && threadIdx.y == 0 && threadIdx.z == 0;
  if (block % 2 == 0) {
    if (!first) {
      atomicAdd(stray, 1);
      return;
    }
    dz::device::claimBlock();
    for (unsigned int t = 0; t < size; ++t) atomicAdd(&hits[block * size + t], 1);
    return;
  }
  const unsigned int t = (threadIdx.z * blockDim.y + threadIdx.y) * blockDim.x + threadIdx.x;
  atomicAdd(&hits[block * size + t], 1);
}

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

class HostLaunch : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { dz::device::setHostThreads(GetParam()); }
  void TearDown() override { dz::device::setHostThreads(0); }
};

TEST_P(HostLaunch, GridLargerThanLatticeRunsEveryNodeOnce) {
  const int nx = 33, ny = 5, nz = 3;
  const int count = nx * ny * nz;
  std::vector<int> zeros(count + 64, 0);  // a guard beyond the lattice catches stray writes
  int* hits = upload(zeros);
  const dim3 block(32, 4, 1);
  const dim3 grid(static_cast<unsigned>(std::ceil(nx * (1.0f / 32))), static_cast<unsigned>(std::ceil(ny * (1.0f / 4))),
                  nz);
  EXPECT_EQ(grid.x, 2u);
  DZ_LAUNCH(countNodesKernel, grid, block, hits, nx, ny, nz);
  ASSERT_EQ(cudaGetLastError(), cudaSuccess);
  const auto result = download(hits, zeros.size());
  for (int i = 0; i < count; ++i) ASSERT_EQ(result[i], 1) << "node " << i;
  for (std::size_t i = count; i < result.size(); ++i) ASSERT_EQ(result[i], 0) << "guard " << i;
  cudaFree(hits);
}

TEST_P(HostLaunch, EachThreadSeesItsOwnIndices) {
  const dim3 grid(3, 2, 2), block(4, 3, 2);
  const std::size_t n = 3 * 2 * 2 * 4 * 3 * 2;
  unsigned int* out = upload(std::vector<unsigned int>(n, 0xFFFFFFFFu));
  DZ_LAUNCH(indexKernel, grid, block, out);
  const auto result = download(out, n);
  std::size_t i = 0;
  for (unsigned bz = 0; bz < 2; ++bz)
    for (unsigned by = 0; by < 2; ++by)
      for (unsigned bx = 0; bx < 3; ++bx)
        for (unsigned tz = 0; tz < 2; ++tz)
          for (unsigned ty = 0; ty < 3; ++ty)
            for (unsigned tx = 0; tx < 4; ++tx, ++i)
              ASSERT_EQ(result[i], (bx << 24) | (by << 16) | (bz << 12) | (tx << 8) | (ty << 4) | tz) << i;
  cudaFree(out);
}

TEST_P(HostLaunch, DoubleAtomicAddLosesNothing) {
  const int n = 200000;
  double* total = upload(std::vector<double>{0.0});
  float* ftotal = upload(std::vector<float>{0.0f});
  DZ_LAUNCH(sumKernel, dim3((n + 255) / 256), dim3(256), total, n);
  DZ_LAUNCH(floatSumKernel, dim3((n + 255) / 256), dim3(256), ftotal, 1 << 16);
  const double expected = static_cast<double>(n) * (n - 1) / 2;  // exact in double
  EXPECT_EQ(download(total, 1)[0], expected);
  EXPECT_EQ(download(ftotal, 1)[0], 65536.0f);
  cudaFree(total);
  cudaFree(ftotal);
}

TEST_P(HostLaunch, AClaimedBlockRunsOnceAndTheOthersThreadByThread) {
  const dim3 grid(3, 2, 2), block(8, 4, 2);
  const std::size_t n = 3 * 2 * 2 * 8 * 4 * 2;
  int* hits = upload(std::vector<int>(n, 0));
  int* stray = upload(std::vector<int>{0});
  DZ_LAUNCH(claimEvenBlocksKernel, grid, block, hits, stray);
  EXPECT_EQ(download(stray, 1)[0], 0);
  EXPECT_EQ(download(hits, n), std::vector<int>(n, 1));
  cudaFree(hits);
  cudaFree(stray);
}

INSTANTIATE_TEST_SUITE_P(Threads, HostLaunch, ::testing::Values(1, 8));

TEST(HostLaunchDeterminism, OneAndEightThreadsGiveIdenticalResults) {
  const int n = 100003;
  std::vector<float> in(n);
  std::iota(in.begin(), in.end(), 0.25f);
  const float* dIn = upload(in);
  std::vector<std::vector<float>> results;
  for (int threads : {1, 8}) {
    dz::device::setHostThreads(threads);
    float* dOut = upload(std::vector<float>(n, 0.0f));
    DZ_LAUNCH(smoothKernel, dim3((n + 127) / 128), dim3(128), dIn, dOut, n);
    results.push_back(download(dOut, n));
    cudaFree(dOut);
  }
  dz::device::setHostThreads(0);
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0][1], (0.25f + 2.0f * 1.25f + 2.25f) / 4.0f + 1.0f);
  cudaFree(const_cast<float*>(dIn));
}

TEST(HostLaunchConfiguration, BadShapesAreRefusedAndRunNothing) {
  int* hits = upload(std::vector<int>(4, 0));
  dz::device::recordLaunches(true);
  dz::device::clearLaunchLog();
  DZ_LAUNCH(countNodesKernel, dim3(1), dim3(2048), hits, 1, 1, 1);
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
  DZ_LAUNCH(countNodesKernel, dim3(0), dim3(32), hits, 1, 1, 1);
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
  DZ_LAUNCH(countNodesKernel, dim3(1, 65536), dim3(32), hits, 1, 1, 1);  // grid y and z stop at 65535
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
  DZ_LAUNCH(countNodesKernel, dim3(1, 1, 65536), dim3(32), hits, 1, 1, 1);
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration);
  EXPECT_TRUE(dz::device::launchLog().empty());
  EXPECT_EQ(download(hits, 4), std::vector<int>(4, 0));

  DZ_LAUNCH(countNodesKernel, dim3(1, 1, 2), dim3(32, 4), hits, 2, 1, 2);
  ASSERT_EQ(dz::device::launchLog().size(), 1u);
  EXPECT_STREQ(dz::device::launchLog()[0].kernel, "countNodesKernel");
  EXPECT_EQ(dz::device::launchLog()[0].grid.z, 2u);
  EXPECT_EQ(dz::device::launchLog()[0].block.y, 4u);
  EXPECT_EQ(download(hits, 4), (std::vector<int>{1, 1, 1, 1}));
  dz::device::recordLaunches(false);
  dz::device::clearLaunchLog();
  cudaFree(hits);
}

}  // namespace
