// The one include for code that runs kernels or touches device memory.
//
// The same sources build two ways: with nvcc against the CUDA runtime (DUZAVOD_CUDA), or by the host
// compiler against this folder's own stand-in, which keeps device memory apart from host memory and runs
// every kernel over its whole grid on CPU threads. Launch every kernel through DZ_LAUNCH so that both
// builds see the same call.
#pragma once

#ifdef DUZAVOD_CUDA

#include <cuda_runtime.h>

#define DZ_LAUNCH(kernel, grid, block, ...) kernel<<<(grid), (block)>>>(__VA_ARGS__)

#else

#include "hostKernel.h"
#include "hostLaunch.h"
#include "hostRuntime.h"

#define DZ_LAUNCH(kernel, grid, block, ...) ::dz::device::launch<kernel>(#kernel, (grid), (block), __VA_ARGS__)

#endif
