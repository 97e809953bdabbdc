// The room a process has: the least of the memory available, the resource limits and the memory cgroups
// from its own up to the root, read from a /proc and /sys laid out under a folder of the test's.
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include "duriz/mlsolver/availableMemory.h"
#include "testSupport.h"

namespace {

namespace fs = std::filesystem;
constexpr std::uint64_t MB = 1 << 20;

// A root holding the given files (path relative to the root -> content).
fs::path fakeRoot(const std::string& name, const std::map<std::string, std::string>& files) {
  const fs::path root = testsupport::tempPath(name);
  fs::remove_all(root);
  for (const auto& [path, content] : files) {
    if (fs::path(path).is_absolute()) throw std::invalid_argument("fakeRoot: " + path + " is not relative");
    fs::create_directories((root / path).parent_path());
    std::ofstream(root / path) << content;
  }
  return root;
}

TEST(HostMemoryAvailable, TakesTheLeastOfMemAvailableAndEveryMemoryCgroupUpToTheRoot) {
  const std::string available = "MemTotal:       8000000 kB\nMemAvailable:    1000000 kB\n";
  const std::string v1Mount =
      "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
      "32 31 0:29 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n";
  const std::string v2Mount = "41 31 0:38 / /sys/fs/cgroup rw,relatime - cgroup2 cgroup2 rw\n";
  const std::string v1 = "sys/fs/cgroup/memory/job", v2 = "sys/fs/cgroup/job";
  const struct {
    const char* name;
    std::map<std::string, std::string> files;
    std::uint64_t bytes;
    std::string bound;
  } cases[] = {
      {"no cgroup", {{"proc/meminfo", available}}, 1000000 * 1024ull, "the memory this machine has available"},
      // The step's limit less its usage, the dropped page cache not counted; the job above has no limit.
      {"v1",
       {{"proc/meminfo", available},
        {"proc/self/cgroup", "5:cpu:/job\n4:memory:/job/step\n"},
        {"proc/self/mountinfo", v1Mount},
        {v1 + "/step/memory.limit_in_bytes", std::to_string(600 * MB)},
        {v1 + "/step/memory.usage_in_bytes", std::to_string(200 * MB)},
        {v1 + "/step/memory.stat", "inactive_file 1\ntotal_inactive_file " + std::to_string(50 * MB) + "\n"},
        {v1 + "/memory.limit_in_bytes", "9223372036854771712"},
        {v1 + "/memory.usage_in_bytes", std::to_string(300 * MB)}},
       450 * MB,
       "the memory cgroup limit of /" + v1 + "/step"},
      // The step sets no limit ("max"); the job's is the tighter.
      {"v2 nested",
       {{"proc/meminfo", available},
        {"proc/self/cgroup", "0::/job/step\n"},
        {"proc/self/mountinfo", v2Mount},
        {v2 + "/step/memory.max", "max\n"},
        {v2 + "/step/memory.current", std::to_string(100 * MB)},
        {v2 + "/memory.max", std::to_string(300 * MB)},
        {v2 + "/memory.current", std::to_string(250 * MB)},
        {v2 + "/memory.stat", "active_file 7\ninactive_file " + std::to_string(20 * MB) + "\n"}},
       70 * MB,
       "the memory cgroup limit of /" + v2},
      // A cgroup namespace mounts the job as the root of the hierarchy.
      {"v2 namespaced",
       {{"proc/meminfo", available},
        {"proc/self/cgroup", "0::/job/step\n"},
        {"proc/self/mountinfo", "41 31 0:38 /job /sys/fs/cgroup rw,relatime - cgroup2 cgroup2 rw\n"},
        {"sys/fs/cgroup/step/memory.max", std::to_string(900 * MB)},
        {"sys/fs/cgroup/step/memory.current", std::to_string(100 * MB)}},
       800 * MB,
       "the memory cgroup limit of /sys/fs/cgroup/step"},
      {"over its limit",
       {{"proc/meminfo", available},
        {"proc/self/cgroup", "0::/job\n"},
        {"proc/self/mountinfo", v2Mount},
        {v2 + "/memory.max", std::to_string(100 * MB)},
        {v2 + "/memory.current", std::to_string(101 * MB)}},
       0,
       "the memory cgroup limit of /" + v2},
  };
  for (const auto& c : cases) {
    const fs::path root = fakeRoot(std::string("room_") + c.name, c.files);
    const MemoryLimit room = hostMemoryAvailable(root.string());
    EXPECT_EQ(room.bytes, c.bytes) << c.name;
    EXPECT_EQ(room.bound, c.bound) << c.name;
    fs::remove_all(root);
  }
}

// Under RLIMIT_AS the room is the limit less VmSize (1 GB here) and the stacks of the OpenMP threads (two),
// each the size OMP_STACKSIZE names: kilobytes unless a unit follows, blanks allowed before it, and a size
// too large to hold (2^64 bytes) leaves no room rather than wrapping around to none. Each row runs in a
// child with its own limit.
TEST(HostMemoryAvailableDeathTest, TheAddressSpaceLimitLeavesRoomForTheThreadStacks) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr std::uint64_t GB = 1ull << 30, limit = 64 * GB, vmSize = 1 * GB;
  const struct {
    const char* stack;
    std::uint64_t bytes;
  } cases[] = {{"512", 512 << 10}, {"4M", 4 * MB}, {"4 M", 4 * MB}, {"2 g", 2 * GB}, {"17179869184G", UINT64_MAX}};
  const fs::path root = fakeRoot("room_stacks", {{"proc/meminfo", "MemAvailable: 1000000000000000 kB\n"},
                                                 {"proc/self/status", "VmSize: 1048576 kB\nVmData: 0 kB\n"}});
  // 0 when the room is the limit less VmSize and two stacks of `stack` bytes. The limit lies far above
  // what the child really holds, whatever its allocator reserves (terabytes under AddressSanitizer), and
  // far below the memory available.
  auto check = [&](const char* text, std::uint64_t stack) {
    omp_set_num_threads(2);
    setenv("OMP_STACKSIZE", text, 1);
    testsupport::limitAddressSpace(limit);
    rlimit r{};
    getrlimit(RLIMIT_AS, &r);
    const std::uint64_t taken = stack > (UINT64_MAX - vmSize) / 2 ? UINT64_MAX : vmSize + 2 * stack;
    return hostMemoryAvailable(root.string()).bytes == (r.rlim_cur > taken ? r.rlim_cur - taken : 0) ? 0 : 1;
  };
  for (const auto& c : cases)
    EXPECT_EXIT(std::exit(check(c.stack, c.bytes)), ::testing::ExitedWithCode(0), "") << c.stack;
  fs::remove_all(root);
}

}  // namespace
