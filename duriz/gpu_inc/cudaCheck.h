// The one check for CUDA runtime results: a failing call prints
//   CUDA error at <file>:<line> code=<n>(<name>) "<call text>"
// to standard error, resets the device and ends the process with status 1. The file is named relative to
// the source root.
#pragma once

#include "device/device.h"

// Name of a runtime result code as the runtime's enumerator spells it, or "<unknown>".
const char* cudaResultName(unsigned int code);

[[noreturn]] void checkCudaResult(unsigned int result, const char* expression, const char* file, int line);

// Wraps a runtime call: its text, file and line go into the message when it fails.
#define checkCudaErrors(call)                                                          \
  do {                                                                                 \
    const unsigned int dzCudaResult_ = static_cast<unsigned int>(call);                \
    if (dzCudaResult_ != 0) checkCudaResult(dzCudaResult_, #call, __FILE__, __LINE__); \
  } while (0)

// Throws OutOfMemory naming the allocation, after clearing the runtime's error so that the next launch
// check does not report it again.
[[noreturn]] void throwCudaOutOfMemory(const char* expression, const char* file, int line);

// Wraps a device allocation of a script's own data (a lattice, a point set, a mesh): a device without room
// for it is the script's error, not the program's, and raises OutOfMemory (MemoryError in scripts); the
// caller releases what it allocated before. Any other failure ends the process as checkCudaErrors does.
#define checkCudaAllocation(call)                                                      \
  do {                                                                                 \
    const unsigned int dzCudaResult_ = static_cast<unsigned int>(call);                \
    if (dzCudaResult_ == static_cast<unsigned int>(cudaErrorMemoryAllocation))         \
      throwCudaOutOfMemory(#call, __FILE__, __LINE__);                                 \
    if (dzCudaResult_ != 0) checkCudaResult(dzCudaResult_, #call, __FILE__, __LINE__); \
  } while (0)

// Checks a kernel launch and its completion, each with its own call text and line: a launch the runtime
// refused is reported at the DZ_LAUNCH that made it, a failure while the kernel ran at this check.
#define checkCudaLaunch()                                                                                         \
  do {                                                                                                            \
    const ::dz::device::LaunchSite dzSite_ = ::dz::device::takeLaunchSite(__FILE__, __LINE__);                    \
    const unsigned int dzLaunchResult_ = static_cast<unsigned int>(cudaGetLastError());                           \
    if (dzLaunchResult_ != 0) checkCudaResult(dzLaunchResult_, "cudaGetLastError()", dzSite_.file, dzSite_.line); \
    checkCudaErrors(cudaDeviceSynchronize());                                                                     \
  } while (0)
