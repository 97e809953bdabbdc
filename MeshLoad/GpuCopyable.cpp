#include "GpuCopyable.h"

#include <stdexcept>
#include <string>

#include "device/device.h"

void requireGpuDevice(int gpuId, const char* who) {
  int count = 0;
  if (const auto result = cudaGetDeviceCount(&count); result != cudaSuccess)
    throw std::runtime_error(std::string(who) + ": cannot count the CUDA devices (error " +
                             std::to_string(static_cast<int>(result)) + ")");
  if (gpuId < 0 || gpuId >= count)
    throw std::invalid_argument(std::string(who) + ": gpuId " + std::to_string(gpuId) +
                                " names no device; this machine has " + std::to_string(count) + " (ids 0 to " +
                                std::to_string(count - 1) + ")");
}
