// The two per-point jobs of an articulated body, for 10 000 points on 20 links: the force job (point
// wrenches, per-link sums, assignment; the download and the DART side are not included) and the velocity
// job, on the device road (one host thread and all of them) and on the host twins. Each figure is the
// median of three rounds. Compare them with the fluid step: bench_solverStep.
#include <Eigen/Geometry>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "SkeletonDynamics/skSystem_CPU.h"
#include "SkeletonDynamics/skSystem_GPU.h"
#include "bench/benchTiming.h"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

constexpr int kPoints = 10000;
constexpr int kLinks = 20;  // the world, 18 bodies, the reference frame

// Link i turned about an axis of its own and moved along it, with a velocity of its own; link 0 is the
// world and the last the translating reference frame.
std::vector<skLinkData> makeRecords() {
  std::vector<skLinkData> records(kLinks);
  for (int i = 0; i < kLinks; ++i) {
    Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
    if (i > 0 && i + 1 < kLinks) {
      T.linear() = Eigen::AngleAxisd(0.3 * i, Eigen::Vector3d(1, 0.1 * i, -0.5).normalized()).toRotationMatrix();
      T.translation() = Eigen::Vector3d(0.05 * i, -0.02 * i, 0.1);
    }
    const Eigen::Isometry3d inverse = T.inverse(Eigen::Isometry);
    std::memcpy(records[i].worldTransform, T.matrix().data(), sizeof(records[i].worldTransform));
    std::memcpy(records[i].inverseTransform, inverse.matrix().data(), sizeof(records[i].inverseTransform));
    for (int k = 0; k < 6; ++k) records[i].spatialVelocity[k] = i == 0 ? 0.0 : 0.1 * (k + 1) - 0.02 * i;
    records[i].isWorld = i == 0 ? 1.0 : 0.0;
  }
  return records;
}

}  // namespace

int main() {
  std::vector<skLinkData> records = makeRecords();
  // Points spread over the body links in link order, as the sampler stores them.
  mlLagrangeBoundary points(kPoints, 1e-4f);
  std::vector<int> linkIdx(kPoints);
  for (int t = 0; t < kPoints; ++t) {
    linkIdx[t] = 1 + t * (kLinks - 2) / kPoints;
    points.coordx[t] = 0.001f * (t % 97);
    points.coordy[t] = 0.002f * (t % 89);
    points.coordz[t] = 0.003f * (t % 83);
    points.forcex[t] = 1.0 + 0.001 * t;
    points.forcey[t] = -0.5;
    points.forcez[t] = 0.25 * (t % 7);
  }
  IBBoundaryMemMgr mirror;
  mirror.attach(&points);
  mirror.alloc();
  mirror.upload();
  skLinkData* recordsDev = nullptr;
  int* linkIdxDev = nullptr;
  SampleWrench* wrenchesDev = nullptr;
  cudaMalloc(&recordsDev, sizeof(skLinkData) * kLinks);
  cudaMalloc(&linkIdxDev, sizeof(int) * kPoints);
  cudaMalloc(&wrenchesDev, sizeof(SampleWrench) * kPoints);
  cudaMemcpy(recordsDev, records.data(), sizeof(skLinkData) * kLinks, cudaMemcpyHostToDevice);
  cudaMemcpy(linkIdxDev, linkIdx.data(), sizeof(int) * kPoints, cudaMemcpyHostToDevice);

  std::printf("%d points on %d links, medians of 3 rounds\n", kPoints, kLinks);
  for (int threads : bench::kThreadCounts) {
    bench::useThreads(threads);
    const double forces = bench::msPerCall(50, [&] {
      calLinkExtForcesGPU(recordsDev, mirror.mllaboundary_gpu, linkIdxDev, wrenchesDev, kLinks, kPoints, 1.0f);
    });
    const double velocities = bench::msPerCall(50, [&] {
      updateSampleVelGPU(mirror.mllaboundary_gpu, linkIdxDev, recordsDev, kLinks - 1, 0, kLinks, kPoints);
    });
    std::printf("device road, %d threads: force job %7.3f ms, velocity job %7.3f ms\n", bench::threadsInUse(), forces,
                velocities);
  }
  bench::useThreads(0);
  const double forces = bench::msPerCall(50, [&] { calLinkExtForcesCPU(records, points, linkIdx.data(), 1.0f); });
  const double velocities =
      bench::msPerCall(50, [&] { updateSampleVelCPU(points, linkIdx.data(), records, kLinks - 1, 0); });
  std::printf("host twins:              force job %7.3f ms, velocity job %7.3f ms\n", forces, velocities);

  cudaFree(recordsDev);
  cudaFree(linkIdxDev);
  cudaFree(wrenchesDev);
  return 0;
}
