// The CUDA check: its names, its message (with the file named from the source root) and exit status 1.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "duriz/gpu_inc/cudaCheck.h"

namespace {

const std::string kHere = "^CUDA error at tests/mlsolver/test_cudaCheck\\.cpp:";

TEST(CudaResultName, NamesTheListedCodesOnly) {
  int named = 0;
  for (unsigned int code = 0; code <= 10000; ++code) named += std::string(cudaResultName(code)) != "<unknown>";
  EXPECT_EQ(named, 81);
  for (const auto& [code, name] : {std::pair{0u, "cudaSuccess"},
                                   {2u, "cudaErrorMemoryAllocation"},
                                   {101u, "cudaErrorInvalidDevice"},
                                   {719u, "cudaErrorLaunchFailure"},
                                   {10000u, "cudaErrorApiFailureBase"},
                                   {34u, "<unknown>"},
                                   {720u, "<unknown>"}})
    EXPECT_STREQ(cudaResultName(code), name) << code;
}

__global__ void noopKernel(int) {}

// The message of each failing call, with its own line: a refused launch at the launch, an error left by
// an earlier call at the launch check.
TEST(CudaCheckDeathTest, PrintsTheFailingCallAndExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int line = __LINE__ + 1;
  EXPECT_EXIT(checkCudaErrors(cudaSetDevice(1)), ::testing::ExitedWithCode(1),
              kHere + std::to_string(line) + " code=101\\(cudaErrorInvalidDevice\\) \"cudaSetDevice\\(1\\)\" \n$");
  EXPECT_EXIT(checkCudaResult(34, "cudaDeviceSynchronize()", "some/file.cu", 123), ::testing::ExitedWithCode(1),
              "^CUDA error at some/file.cu:123 code=34\\(<unknown>\\) \"cudaDeviceSynchronize\\(\\)\" \n$");
  const int launchLine = __LINE__ + 2;
  auto refused = [] {
    DZ_LAUNCH(noopKernel, dim3(0), dim3(32), 0);
    checkCudaLaunch();
  };
  EXPECT_EXIT(
      refused(), ::testing::ExitedWithCode(1),
      kHere + std::to_string(launchLine) + " code=9\\(cudaErrorInvalidConfiguration\\) \"cudaGetLastError\\(\\)\" \n$");
  const int checkLine = __LINE__ + 3;
  auto leftOver = [] {
    cudaSetDevice(7);
    checkCudaLaunch();
  };
  EXPECT_EXIT(leftOver(), ::testing::ExitedWithCode(1), kHere + std::to_string(checkLine) + " code=101");
}

// A listed code (2) through a real allocation failure: asks for 2^63 bytes, so the sanitizer run leaves it out.
TEST(CudaCheckDeathTest, ListedCodePrintsItsNameAndExits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        void* p = nullptr;
        checkCudaErrors(cudaMalloc(&p, SIZE_MAX / 2));
      },
      ::testing::ExitedWithCode(1),
      kHere + "[0-9]+ code=2\\(cudaErrorMemoryAllocation\\) \"cudaMalloc\\(&p, SIZE_MAX / 2\\)\" \n$");
}

TEST(CudaCheck, SuccessPassesSilently) {
  testing::internal::CaptureStderr();
  checkCudaErrors(cudaSetDevice(0));
  checkCudaLaunch();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
