// Surface sampling of a body (IBSamplerMesh::sample) on the fish and on the bar, whose twelve large faces
// make candidates coincide, on one thread and on all, beside a yardstick: this machine's latency of a
// random read, which the weighted sample elimination, the sequential part of sampling, mostly waits on.
// Prints the median of three samplings and the peak resident memory of the process so far. The
// argument, if any, is the largest point count (default 1000000, on all threads only).
#include <omp.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "MeshLoad/SkeletalMesh.h"
#include "bench/benchTiming.h"
#include "testModels.h"

namespace {

volatile std::uint32_t chainEnd;  // keeps the chain of reads below

// Nanoseconds per read of one thread following a random cycle through `bytes` of memory.
double randomReadNs(std::size_t bytes) {
  std::vector<std::uint32_t> next(bytes / sizeof(std::uint32_t));
  std::iota(next.begin(), next.end(), 0u);
  std::mt19937 gen(1);
  for (std::size_t i = next.size() - 1; i > 0; --i) std::swap(next[i], next[gen() % i]);  // one cycle
  const int reads = 1 << 23;
  const double seconds = bench::medianSeconds([&] {
    std::uint32_t at = 0;
    for (int r = 0; r < reads; ++r) at = next[at];
    chainEnd = at;
  });
  return seconds / reads * 1e9;
}

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int largest = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const char* wait = std::getenv("OMP_WAIT_POLICY");
  const int all = omp_get_max_threads();
  std::printf("OMP_WAIT_POLICY %s, all threads: %d\n", wait ? wait : "unset", all);
  std::printf("%-6s %10s %8s %12s %14s %10s\n", "model", "points", "threads", "s/sampling", "us/point", "peak MB");

  const struct {
    const char* name;
    std::unique_ptr<aiScene> (*scene)();
    int upTo;
  } models[] = {{"fish", testmodels::makeFishScene, largest}, {"bar", testmodels::makeBarScene, 100000}};
  for (const auto& model : models) {
    const std::unique_ptr<aiScene> scene = model.scene();
    SkeletalMesh mesh;
    mesh.loadScene(scene.get());
    for (int points = 10000; points <= model.upTo; points *= 10) {
      for (int threads : {1, all}) {
        if (points >= 1000000 && threads == 1) continue;
        omp_set_num_threads(threads);
        IBSamplerMesh sampler(&mesh, 0);
        const double seconds = bench::medianSeconds([&] { sampler.sample(points); });
        std::printf("%-6s %10d %8d %12.3f %14.2f %10.0f\n", model.name, points, threads, seconds,
                    seconds / points * 1e6, peakMegabytes());
        std::fflush(stdout);
      }
    }
  }
  // Last, so that the peaks above are the sampler's.
  std::printf("yardstick: one thread follows a random chain through 256 MiB at %.0f ns per read\n",
              randomReadNs(std::size_t(1) << 28));
  return 0;
}
