// A surface sampler: Lagrangian points spread over the surface of a Mesh and moved with it.
#pragma once

#include "MeshLoad/GpuCopyable.h"

template <class Mesh>
class IBSampler : public GpuCopyable {
 public:
  // Moves the points with the mesh's current host pose.
  virtual void updateSamplesCpu() = 0;
  // Moves the points on the device with the mesh's current device pose.
  virtual void updateSamplesGpu() = 0;
  // Allocates the device copies and the point set's device mirror.
  virtual void allocGpu() = 0;
  virtual void freeGpu() = 0;
  virtual void upload() = 0;
  virtual void download() = 0;
  // Spreads about sampleNum points over the surface, replacing any earlier points.
  virtual void sample(int sampleNum) = 0;
  // Moves the points after a pose change, on the device or the host.
  virtual void update(bool useGpu, bool download) = 0;

 protected:
  // Not virtual: instances are made with std::make_shared of the concrete class and die as that class.
  ~IBSampler() = default;
};
