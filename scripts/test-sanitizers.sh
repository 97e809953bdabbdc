#!/usr/bin/env bash
# Builds the C++ tests with AddressSanitizer and UndefinedBehaviorSanitizer into ./build-asan (baseline
# instruction set, optimised with debug information, no Python module or benchmarks) and runs them. Any
# report fails the run, except those scripts/ubsan.supp names in third-party headers.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
sanitize="-fsanitize=address,undefined -fno-omit-frame-pointer"
# Eigen would switch to its own aligned allocator under the sanitizer, while DART's library (built
# without it) allocates with malloc: an Eigen object made there and freed here must use the same scheme.
eigen="-DEIGEN_MALLOC_ALREADY_ALIGNED=1"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUZAVOD_NATIVE_KERNELS=OFF -DDUZAVOD_BUILD_PYTHON=OFF \
  -DDUZAVOD_BUILD_BENCH=OFF -DPython_EXECUTABLE=/usr/bin/python3 -DCMAKE_CXX_FLAGS="$sanitize $eigen" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize"
cmake --build build-asan -j "$jobs"
# Two tests ask the device layer for a 2^63-byte allocation, and two run allocations into an address-space
# limit: the sanitizer's allocator reports such failures as errors of its own (and may hang a parallel
# region doing so) instead of answering with a null pointer or std::bad_alloc.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$PWD/scripts/ubsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" \
  -E '^(HostRuntime\.ErrorCodesAreTheRuntimes|CudaCheckDeathTest\.ListedCodePrintsItsNameAndExits|DeviceAllocationDeathTest\.ADeviceWithoutRoomKeepsNoneOfTheData|ParallelRegionDeathTest\.ExceptionsReachTheCallerInsteadOfEndingTheProcess)$'
