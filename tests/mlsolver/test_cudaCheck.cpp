#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "duriz/gpu_inc/cudaCheck.h"

namespace {

TEST(CudaResultName, NamesTheListedCodesOnly) {
  int named = 0;
  for (unsigned int code = 0; code <= 10000; ++code)
    if (std::string(cudaResultName(code)) != "<unknown>") ++named;
  EXPECT_EQ(named, 81);
  EXPECT_STREQ(cudaResultName(0), "cudaSuccess");
  EXPECT_STREQ(cudaResultName(2), "cudaErrorMemoryAllocation");
  EXPECT_STREQ(cudaResultName(35), "cudaErrorInsufficientDriver");
  EXPECT_STREQ(cudaResultName(101), "cudaErrorInvalidDevice");
  EXPECT_STREQ(cudaResultName(719), "cudaErrorLaunchFailure");
  EXPECT_STREQ(cudaResultName(10000), "cudaErrorApiFailureBase");
  for (unsigned int code : {10u, 11u, 14u, 29u, 34u, 221u, 401u, 500u, 720u, 900u, 10001u})
    EXPECT_STREQ(cudaResultName(code), "<unknown>") << code;
}

TEST(CudaCheckDeathTest, ListedCodePrintsItsNameAndExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        void* p = nullptr;
        checkCudaErrors(cudaMalloc(&p, SIZE_MAX / 2));
      },
      ::testing::ExitedWithCode(1),
      "^CUDA error at tests/mlsolver/test_cudaCheck\\.cpp:[0-9]+ code=2\\(cudaErrorMemoryAllocation\\) "
      "\"cudaMalloc\\(&p, SIZE_MAX / 2\\)\" \n$");
}

TEST(CudaCheckDeathTest, UnlistedCodePrintsUnknown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(checkCudaResult(34, "cudaDeviceSynchronize()", "some/file.cu", 123), ::testing::ExitedWithCode(1),
              "^CUDA error at some/file.cu:123 code=34\\(<unknown>\\) \"cudaDeviceSynchronize\\(\\)\" \n$");
}

TEST(CudaCheckDeathTest, ReportsTheCallSiteLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int line = __LINE__ + 1;
  EXPECT_EXIT(checkCudaErrors(cudaSetDevice(1)), ::testing::ExitedWithCode(1),
              "test_cudaCheck\\.cpp:" + std::to_string(line) + " code=101\\(cudaErrorInvalidDevice\\)");
}

__global__ void noopKernel(int) {}

// A refused launch is reported at the launch; an error left by an earlier call at the check itself.
TEST(CudaCheckDeathTest, EachLaunchCheckCarriesItsOwnLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int launchLine = __LINE__ + 2;
  auto refused = [] {
    DZ_LAUNCH(noopKernel, dim3(0), dim3(32), 0);
    checkCudaLaunch();
  };
  EXPECT_EXIT(refused(), ::testing::ExitedWithCode(1),
              "^CUDA error at tests/mlsolver/test_cudaCheck\\.cpp:" + std::to_string(launchLine) +
                  " code=9\\(cudaErrorInvalidConfiguration\\) \"cudaGetLastError\\(\\)\" \n$");
  const int checkLine = __LINE__ + 3;
  auto leftOver = [] {
    cudaSetDevice(7);
    checkCudaLaunch();
  };
  EXPECT_EXIT(leftOver(), ::testing::ExitedWithCode(1),
              "test_cudaCheck\\.cpp:" + std::to_string(checkLine) + " code=101\\(cudaErrorInvalidDevice\\)");
}

TEST(CudaCheck, SuccessPassesSilently) {
  testing::internal::CaptureStderr();
  checkCudaErrors(cudaSetDevice(0));
  checkCudaLaunch();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
