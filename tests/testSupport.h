// Helpers every test program may use: captured output, temporary files, limits on file sizes and address
// space.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// Runs f and returns what it printed on standard output; an exception from f ends the capture and passes on.
template <class F>
std::string captureStdout(F&& f) {
  testing::internal::CaptureStdout();
  try {
    f();
  } catch (...) {
    testing::internal::GetCapturedStdout();
    throw;
  }
  return testing::internal::GetCapturedStdout();
}

// What f throws as E; a test failure and "" when it throws nothing.
template <class E, class F>
std::string thrownWhat(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "no exception";
  return "";
}

// A path in the temporary folder that no other test process uses.
inline std::string tempPath(const std::string& name) {
  return testing::TempDir() + "/" + std::to_string(getpid()) + "_" + name;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool exists(const std::string& path) { return std::ifstream(path).good(); }

// Runs f while files may grow to `bytes` only: a write past that fails (EFBIG), as on a full disk.
template <class F>
void withFileSizeLimit(rlim_t bytes, F&& f) {
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit limited = old;
  limited.rlim_cur = bytes;
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limited);
  f();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, handler);
}

// Limits the address space to `room` bytes above what the process holds, its OpenMP threads started first
// (before any of them has an allocation arena of its own, whose reserve would give it room of its own).
inline void limitAddressSpace(rlim_t room) {
#ifdef _OPENMP
  int started = 0;  // a region with no work would not start the threads
#pragma omp parallel reduction(+ : started)
  started += 1;
#endif
  std::ifstream status("/proc/self/status");
  std::string key;
  rlim_t kilobytes = 0;
  while (status >> key && key != "VmSize:") status.ignore(256, '\n');
  status >> kilobytes;
  rlimit limit{};
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = kilobytes * 1024 + room;
  setrlimit(RLIMIT_AS, &limit);
}

}  // namespace testsupport
