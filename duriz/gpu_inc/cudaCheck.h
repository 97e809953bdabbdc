// The one check for CUDA runtime results: a failing call prints
//   CUDA error at <file>:<line> code=<n>(<name>) "<call text>"
// to standard error, resets the device and ends the process with status 1.
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

// Checks a kernel launch and its completion, each with its own call text and line.
#define checkCudaLaunch()                     \
  do {                                        \
    checkCudaErrors(cudaGetLastError());      \
    checkCudaErrors(cudaDeviceSynchronize()); \
  } while (0)
