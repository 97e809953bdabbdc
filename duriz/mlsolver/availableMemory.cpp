#include "availableMemory.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "OutOfMemory.h"

#ifdef _OPENMP
#include <omp.h>
#endif

#ifdef DUZAVOD_CUDA
#include "duriz/gpu_inc/cudaCheck.h"
#endif

namespace {

// The number after "key" on the line that starts with it ("MemAvailable:  123 kB", "inactive_file 123"),
// times `unit`.
std::optional<std::uint64_t> keyedValue(const std::string& file, const std::string& key, std::uint64_t unit) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) != 0 || line.size() == key.size() || !std::isspace(line[key.size()])) continue;
    std::istringstream rest(line.substr(key.size()));
    std::uint64_t value = 0;
    if (rest >> value) return value * unit;
  }
  return std::nullopt;
}

// The number a cgroup file holds; none for "max" (no limit) or a missing file.
std::optional<std::uint64_t> fileValue(const std::string& file) {
  std::ifstream in(file);
  std::uint64_t value = 0;
  if (in >> value) return value;
  return std::nullopt;
}

void lower(MemoryLimit& limit, std::uint64_t bytes, const std::string& bound) {
  if (bytes < limit.bytes) limit = MemoryLimit{bytes, bound};
}

// Address space the host threads' stacks take once a parallel region has started them all: OpenMP gives
// each the size OMP_STACKSIZE names (kilobytes unless a B, K, M or G follows), or the process's default
// thread stack size.
std::uint64_t threadStacks() {
  std::uint64_t stack = 0;
  if (const char* text = std::getenv("OMP_STACKSIZE")) {
    char* end = nullptr;
    const unsigned long long size = std::strtoull(text, &end, 10);
    while (std::isspace(static_cast<unsigned char>(*end))) ++end;
    const char unit = static_cast<char>(std::toupper(static_cast<unsigned char>(*end)));
    const int shift = unit == 'B' ? 0 : unit == 'M' ? 20 : unit == 'G' ? 30 : 10;
    stack = size > (UINT64_MAX >> shift) ? UINT64_MAX : size << shift;
  } else {
    pthread_attr_t attr;
    std::size_t size = 0;
    if (pthread_getattr_default_np(&attr) == 0) {
      pthread_attr_getstacksize(&attr, &size);
      pthread_attr_destroy(&attr);
    }
    stack = size;
  }
#ifdef _OPENMP
  const std::uint64_t threads = static_cast<std::uint64_t>(omp_get_max_threads());
#else
  const std::uint64_t threads = std::thread::hardware_concurrency();
#endif
  return threads > 0 && stack > UINT64_MAX / threads ? UINT64_MAX : threads * stack;
}

// Room under a resource limit that counts `used` (a /proc/self/status field) against it, less the thread
// stacks, which take their whole size of it whether touched or not: a thread that cannot be started ends
// the process.
void lowerByRlimit(MemoryLimit& limit, int resource, const std::string& root, const char* used,
                   const std::string& bound) {
  rlimit r{};
  if (getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return;
  const std::uint64_t held = keyedValue(root + "/proc/self/status", used, 1024).value_or(0), stacks = threadStacks();
  const std::uint64_t inUse = held > UINT64_MAX - stacks ? UINT64_MAX : held + stacks;
  lower(limit, r.rlim_cur > inUse ? r.rlim_cur - inUse : 0, bound);
}

struct CgroupFiles {
  const char* limit;
  const char* usage;
  const char* inactiveFile;  // key in memory.stat: page cache the kernel drops before it refuses memory
};

// Walks from the process's cgroup of a hierarchy up to the hierarchy's mount point.
void lowerByCgroup(MemoryLimit& limit, const std::string& root, const std::string& mountPoint,
                   const std::string& mountRoot, const std::string& path, const CgroupFiles& files) {
  std::string relative = path;
  if (mountRoot != "/") {
    if (relative.compare(0, mountRoot.size(), mountRoot) != 0) return;
    relative.erase(0, mountRoot.size());
  }
  const std::string top = root + mountPoint;
  std::string dir = top + relative;
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  for (;;) {
    const auto max = fileValue(dir + "/" + files.limit);
    const auto usage = fileValue(dir + "/" + files.usage);
    if (max && usage) {
      const std::uint64_t cache = keyedValue(dir + "/memory.stat", files.inactiveFile, 1).value_or(0);
      const std::uint64_t used = *usage > cache ? *usage - cache : 0;
      lower(limit, *max > used ? *max - used : 0, "the memory cgroup limit of " + dir.substr(root.size()));
    }
    if (dir.size() <= top.size()) return;
    const std::size_t slash = dir.rfind('/');
    if (slash == std::string::npos || slash < top.size()) {
      dir = top;
    } else {
      dir.erase(slash);
    }
  }
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

// Memory cgroups: the version 2 hierarchy, or the version 1 hierarchy with the memory controller.
void lowerByCgroups(MemoryLimit& limit, const std::string& root) {
  std::string v1Path, v2Path;
  bool inV1 = false, inV2 = false;
  std::ifstream groups(root + "/proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    const std::size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string id = line.substr(0, a), controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    if (id == "0" && controllers.empty()) {
      v2Path = path;
      inV2 = true;
    }
    for (const std::string& c : split(controllers, ','))
      if (c == "memory") {
        v1Path = path;
        inV1 = true;
      }
  }
  std::ifstream mounts(root + "/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    const std::size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    const std::vector<std::string> fields = split(line.substr(0, dash), ' ');
    const std::vector<std::string> fs = split(line.substr(dash + 3), ' ');
    if (fields.size() < 5 || fs.size() < 3) continue;
    const std::string &mountRoot = fields[3], &mountPoint = fields[4];
    if (fs[0] == "cgroup2" && inV2) {
      lowerByCgroup(limit, root, mountPoint, mountRoot, v2Path, {"memory.max", "memory.current", "inactive_file"});
    } else if (fs[0] == "cgroup" && inV1) {
      for (const std::string& option : split(fs[2], ','))
        if (option == "memory")
          lowerByCgroup(limit, root, mountPoint, mountRoot, v1Path,
                        {"memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file"});
    }
  }
}

}  // namespace

MemoryLimit hostMemoryAvailable(const std::string& root) {
  const auto available = keyedValue(root + "/proc/meminfo", "MemAvailable:", 1024);
  MemoryLimit limit{available ? *available
                              : static_cast<std::uint64_t>(sysconf(_SC_AVPHYS_PAGES)) *
                                    static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)),
                    "the memory this machine has available"};
  lowerByRlimit(limit, RLIMIT_AS, root, "VmSize:", "the address-space limit (RLIMIT_AS)");
  lowerByRlimit(limit, RLIMIT_DATA, root, "VmData:", "the data-segment limit (RLIMIT_DATA)");
  lowerByCgroups(limit, root);
  return limit;
}

MemoryLimit deviceMemoryAvailable() {
#ifdef DUZAVOD_CUDA
  std::size_t free = 0, total = 0;
  checkCudaErrors(cudaMemGetInfo(&free, &total));
  return MemoryLimit{free, "the device's free memory"};
#else
  return hostMemoryAvailable();
#endif
}

void requireMemory(const std::string& what, std::uint64_t bytes, const MemoryLimit& limit) {
  if (bytes <= limit.bytes) return;
  std::ostringstream msg;
  msg << what << " needs " << bytes << " bytes, more than the " << limit.bytes << " bytes that " << limit.bound
      << " leaves this process";
  throw OutOfMemory(msg.str());
}
