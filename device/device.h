// The one include for code that runs kernels or touches device memory.
//
// The same sources build two ways: with nvcc against the CUDA runtime (DUZAVOD_CUDA), or by the host
// compiler against this folder's own stand-in, which keeps device memory apart from host memory and runs
// every kernel over its whole grid on CPU threads. Launch every kernel through DZ_LAUNCH so that both
// builds see the same call.
#pragma once

namespace dz::device {

// Source position of the calling thread's last DZ_LAUNCH, so that the launch check can report a failed
// launch at the launch itself.
struct LaunchSite {
  const char* file = nullptr;
  int line = 0;
};
inline thread_local LaunchSite lastLaunchSite;

// The last launch site, or (file, line) when there was none since the last call; forgets it.
inline LaunchSite takeLaunchSite(const char* file, int line) {
  LaunchSite site = lastLaunchSite.file != nullptr ? lastLaunchSite : LaunchSite{file, line};
  lastLaunchSite = LaunchSite{};
  return site;
}

}  // namespace dz::device

#ifdef DUZAVOD_CUDA

#include <cuda_runtime.h>

#define DZ_LAUNCH(kernel, grid, block, ...)              \
  do {                                                   \
    ::dz::device::lastLaunchSite = {__FILE__, __LINE__}; \
    kernel<<<(grid), (block)>>>(__VA_ARGS__);            \
  } while (0)

#else

#include "hostKernel.h"
#include "hostLaunch.h"
#include "hostRuntime.h"

#define DZ_LAUNCH(kernel, grid, block, ...)                              \
  do {                                                                   \
    ::dz::device::lastLaunchSite = {__FILE__, __LINE__};                 \
    ::dz::device::launch<kernel>(#kernel, (grid), (block), __VA_ARGS__); \
  } while (0)

#endif
