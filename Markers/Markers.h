// Probe points fixed to vertices of a body's skinned surface. Each carries the position and normal of
// its vertex and the fluid velocity and density (reported as pressure) sampled there, in lattice units.
#pragma once

#include <Eigen/Core>

#include <cstddef>
#include <vector>

#include "MeshLoad/twoSideDataWrapper.h"

// One element per marker in every vector, in order of addition.
struct Markers_CPU {
  std::vector<int> vId;      // followed vertex in its mesh
  std::vector<int> meshIdx;  // mesh in the body's model (host only)
  std::vector<Eigen::Vector3d> pos;
  std::vector<Eigen::Vector3d> normal;
  std::vector<Eigen::Vector3d> velocity;  // sampled fluid velocity
  std::vector<float> pressure;            // sampled lattice density
};

// Device arrays, null until allocated. Vectors are 3 doubles each, laid out as the host Vector3d.
struct Markers_GPU {
  int* vId = nullptr;
  double* pos = nullptr;
  double* normal = nullptr;
  double* velocity = nullptr;
  float* pressure = nullptr;
};

class Markers : public twoSideDataWrapper<Markers_CPU, Markers_GPU> {
 public:
  explicit Markers(int gpuId);
  ~Markers();
  Markers(const Markers&) = delete;
  Markers& operator=(const Markers&) = delete;

  // Allocates the device arrays at the host sizes (releasing earlier ones) and copies the host data.
  void allocAndUpload() override;
  // upload and download throw std::logic_error when the marker count differs from the one allocated.
  void upload() override;
  // Brings back positions, velocities, normals and pressures.
  void download() override;
  void freeGpu() override;

  // Appends a marker at rest in fluid of density 1. The device arrays are not touched: allocate and
  // upload after adding.
  void addMarker(int meshIdx, int vId, const Eigen::Vector3d& pos, const Eigen::Vector3d& normal);

  // Copies of the host values, as of the last download.
  std::vector<Eigen::Vector3d> getMarkersPos() const { return data_cpu.pos; }
  std::vector<Eigen::Vector3d> getMarkersNormal() const { return data_cpu.normal; }
  std::vector<float> getMarkersPressure() const { return data_cpu.pressure; }
  std::vector<Eigen::Vector3d> getMarkersVel() const { return data_cpu.velocity; }

 private:
  void requireAllocated(const char* operation) const;
  void releaseDevice();

  std::size_t allocatedCount_ = 0;
};
