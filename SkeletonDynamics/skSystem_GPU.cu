#include "skSystem_GPU.h"

#include <thrust/device_ptr.h>
#include <thrust/device_vector.h>
#include <thrust/functional.h>
#include <thrust/reduce.h>
#include <thrust/sort.h>

#include <stdexcept>
#include <string>

#include "SkeletonDynamics/skLinkKinematics.cuh"
#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"

namespace {

constexpr int kPointThreads = 512;
constexpr int kLinkThreads = 32;

struct AddWrenches {
  __host__ __device__ SampleWrench operator()(SampleWrench a, const SampleWrench& b) const {
    skAddWrench(a, b);
    return a;
  }
};

void requireCounts(const char* function, int linkCount, int sampleCount) {
  if (linkCount < 0 || sampleCount < 0)
    throw std::invalid_argument(std::string(function) + ": negative count (links " + std::to_string(linkCount) +
                                ", points " + std::to_string(sampleCount) + ")");
}

}  // namespace

__global__ void updateSampleVelKernel(mlLagrangeBoundary* boundary, const int* sampleLinkIdx, const skLinkData* records,
                                      int refLink, int frameLink, int nLinks, int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= n) return;
  const int l = sampleLinkIdx[i];
  if (l < 0 || l >= nLinks) {
    printf("LinkIdx error!!\n");
    return;
  }
  const skLinkData& link = records[l];
  const double x[3] = {boundary->coordx[i], boundary->coordy[i], boundary->coordz[i]};
  double p[3], u[3];
  skTransformPoint(link.inverseTransform, x, p);
  skPointVelocity(link, p, records[refLink], records[frameLink], u);
  boundary->ux[i] = static_cast<float>(u[0]);
  boundary->uy[i] = static_cast<float>(u[1]);
  boundary->uz[i] = static_cast<float>(u[2]);
}

void updateSampleVelGPU(mlLagrangeBoundary* boundary, const int* sampleLinkIdx, const skLinkData* records, int refLink,
                        int frameLink, int linkCount, int sampleCount) {
  requireCounts("updateSampleVelGPU", linkCount, sampleCount);
  if (refLink < 0 || refLink >= linkCount || frameLink < 0 || frameLink >= linkCount)
    throw std::out_of_range("updateSampleVelGPU: reference link " + std::to_string(refLink) + " or frame link " +
                            std::to_string(frameLink) + " is not a link (0 to " + std::to_string(linkCount - 1) + ")");
  DZ_LAUNCH(updateSampleVelKernel, dim3(sampleCount / kPointThreads + 1), dim3(kPointThreads), boundary, sampleLinkIdx,
            records, refLink, frameLink, linkCount, sampleCount);
  checkCudaLaunch();
}

__global__ void calExtForcesKernel(const skLinkData* records, const mlLagrangeBoundary* boundary,
                                   const int* sampleLinkIdx, SampleWrench* out, int nLinks, int n, float scale) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= n) return;
  const int l = sampleLinkIdx[i];
  // Link 0, the world, has no body: its points still get a wrench, which the gathering drops.
  if (l <= 0 || l >= nLinks) printf("LinkIdx error!!\n");
  if (l < 0 || l >= nLinks) {
    out[i] = SampleWrench{};
    return;
  }
  const double s = static_cast<double>(scale) * static_cast<double>(boundary->area);
  const double x[3] = {boundary->coordx[i], boundary->coordy[i], boundary->coordz[i]};
  const double f[3] = {s * boundary->forcex[i], s * boundary->forcey[i], s * boundary->forcez[i]};
  out[i] = skPointWrench(records[l], x, f);
}

// Every record's wrench to zero, so that links without points do not keep an older one.
__global__ void clearExtForceKernel(skLinkData* records, int nLinks) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= nLinks) return;
  for (int k = 0; k < 3; ++k) records[i].torque[k] = records[i].force[k] = 0.0;
}

// Run i of the per-link sums goes to its link's record; runs of link 0 and of indices that name no record
// are dropped. The runs of ascending indices have distinct keys, so each record has at most one writer.
__global__ void assignExtForceKernel(skLinkData* records, int nLinks, const SampleWrench* values, const int* keys,
                                     int nRuns) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= nRuns) return;
  const int k = keys[i];
  if (k <= 0 || k >= nLinks) return;
  for (int c = 0; c < 3; ++c) {
    records[k].torque[c] = values[i].values[c];
    records[k].force[c] = values[i].values[3 + c];
  }
}

void calLinkExtForcesGPU(skLinkData* records, const mlLagrangeBoundary* boundary, const int* sampleLinkIdx,
                         SampleWrench* sampleWrenches, int linkCount, int sampleCount, float scale) {
  requireCounts("calLinkExtForcesGPU", linkCount, sampleCount);
  const thrust::device_ptr<const int> keys(sampleLinkIdx);
  const thrust::device_ptr<SampleWrench> wrenches(sampleWrenches);
  // The sum is taken over runs of equal adjacent indices: with the points out of order a link would get
  // several partial sums, written by racing threads.
  if (!thrust::is_sorted(keys, keys + sampleCount))
    throw std::invalid_argument("calLinkExtForcesGPU: the sample link indices are not in ascending order");

  DZ_LAUNCH(calExtForcesKernel, dim3(sampleCount / kPointThreads + 1), dim3(kPointThreads), records, boundary,
            sampleLinkIdx, sampleWrenches, linkCount, sampleCount, scale);
  checkCudaLaunch();

  // Indices outside the records may add runs of their own, so the outputs hold one run per point at most.
  thrust::device_vector<int> runKeys(sampleCount);
  thrust::device_vector<SampleWrench> runSums(sampleCount);
  const auto ends = thrust::reduce_by_key(keys, keys + sampleCount, wrenches, runKeys.begin(), runSums.begin(),
                                          thrust::equal_to<int>(), AddWrenches());
  const int runs = static_cast<int>(ends.first - runKeys.begin());

  DZ_LAUNCH(clearExtForceKernel, dim3(linkCount / kLinkThreads + 1), dim3(kLinkThreads), records, linkCount);
  checkCudaLaunch();
  DZ_LAUNCH(assignExtForceKernel, dim3(runs / kLinkThreads + 1), dim3(kLinkThreads), records, linkCount,
            thrust::raw_pointer_cast(runSums.data()), thrust::raw_pointer_cast(runKeys.data()), runs);
  checkCudaLaunch();
}
