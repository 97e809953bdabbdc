// The surface sampler of a skinned model: a Poisson-disk set of points over all triangles of its meshes,
// each bound to a face by barycentric weights, kept as the body's Lagrangian point set and moved with
// the skinned surface on the host or the device.
#pragma once

#include <memory>
#include <vector>

#include "IBSampler.h"
#include "MeshSample.h"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "supplement/IBBoundaryMemMgr.h"

class SkeletalMesh;

class IBSamplerMesh : public IBSampler<SkeletalMesh> {
 public:
  // Candidates are ten per point and the elimination handles at most 2^30 of them.
  static constexpr int kMaxSampleNum = 100000000;

  IBSamplerMesh() = default;
  IBSamplerMesh(SkeletalMesh* mesh, int gpuId);
  IBSamplerMesh(const IBSamplerMesh&) = delete;
  IBSamplerMesh& operator=(const IBSamplerMesh&) = delete;
  // Frees the device copies and the point set on both sides.
  ~IBSamplerMesh();

  // Without a point set prints " Error boundary host data not setted" and changes nothing.
  void updateSamplesCpu() override;
  // One launch per mesh over all samples. Throws std::logic_error when points exist but the device
  // copies do not (after freeGpu).
  void updateSamplesGpu() override;
  // Throws std::logic_error before the first sampling.
  void allocGpu() override;
  void freeGpu() override;
  // Sends the samples and the point set; clears hostDirty. Throws std::logic_error as updateSamplesGpu.
  void upload() override;
  // Brings back the samples and the point set; clears deviceDirty. Throws std::logic_error as upload.
  void download() override;
  // Candidates on every face, thinned per mesh by weighted sample elimination to the mesh's share of
  // sampleNum points, one record per point, sorted by link, then placed on the current host pose and
  // mirrored on the device. The meshes with area get sampleNum points in all; a model without area gets
  // none. Nothing without a model. Throws std::invalid_argument, keeping the points it had, for sampleNum
  // outside [0, kMaxSampleNum] and for a count whose sampling would take more than the machine's memory.
  void sample(int sampleNum) override;
  void update(bool useGpu, bool download) override;

  // Every point at the barycentric blend of its face's current host positions (also its initial
  // position) with the same blend of the vertex normals, not normalised.
  void writeSamplesToBoundary();

  SkeletalMesh* skeletalMesh = nullptr;          // not owned
  IBBoundaryMemMgr memMgr;                       // the point set's device mirror, handed to the fluid solver
  std::unique_ptr<mlLagrangeBoundary> boundary;  // host point set, null until the first sampling
  bool hostDirty = false;                        // host points newer than the device's
  bool deviceDirty = false;                      // device points newer than the host's
  float totalArea = 0;                           // of all meshes, bind pose
  std::vector<MeshSample> samples;               // one per point, in point order (sorted by link)
  std::vector<int> sampleLinkIdx;                // link of every point
  std::vector<SampleWrench> sampleWrenches;      // one per point; only the device copy is used
  // Device copies, null until allocGpu. The wrenches are written there by the per-point wrench kernel.
  MeshSample* samples_gpu = nullptr;
  SampleWrench* sampleWrenches_gpu = nullptr;
  int* sampleLinkIdx_gpu = nullptr;

 private:
  void requireDeviceCopies(const char* operation) const;
};
