// How much more memory this process can have, asked before a large allocation so that one the machine
// cannot give is refused with a message instead of meeting a limit half-way or the kernel's out-of-memory
// killer.
#pragma once

#include <cstdint>
#include <string>

struct MemoryLimit {
  std::uint64_t bytes;  // what can still be allocated and used
  std::string bound;    // what sets it, for messages ("the address-space limit (RLIMIT_AS)")
};

// The least of: the memory the kernel reports available (MemAvailable, physical memory that can be had
// without swapping); the room left under the address-space and data limits (RLIMIT_AS less VmSize,
// RLIMIT_DATA less VmData); and the room left in each memory cgroup from the process's own up to the root
// (limit less usage, page cache that can be dropped not counted as usage). `root` prefixes /proc and /sys.
MemoryLimit hostMemoryAvailable(const std::string& root = "");

// Room for new device allocations: the device's free memory (cudaMemGetInfo) in the CUDA build; in the
// host build device memory is host memory, hostMemoryAvailable.
MemoryLimit deviceMemoryAvailable();

// True where device allocations take host memory (the host build), so the two must be counted together.
constexpr bool deviceMemoryIsHostMemory() {
#ifdef DUZAVOD_CUDA
  return false;
#else
  return true;
#endif
}

// Throws OutOfMemory "<what> needs <bytes> bytes..., more than the <n> bytes <bound> leaves" when `bytes`
// exceeds `limit`.
void requireMemory(const std::string& what, std::uint64_t bytes, const MemoryLimit& limit);
