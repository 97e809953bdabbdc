// The GPU mirror of one body's Lagrangian point set: device arrays for every array of the host record,
// and a device record that is a byte copy of the host record pointing at them.
#pragma once

#include <array>
#include <deque>
#include <memory>
#include <vector>

#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"

class IBBoundaryMemMgr {
 public:
  // A host record that holds a byte copy of a device record: its pointers are device addresses, so it
  // forgets them instead of releasing them.
  struct DeviceRecordCopyDeleter {
    void operator()(mlLagrangeBoundary* copy) const {
      copy->dropPointers();
      delete copy;
    }
  };

  int gpuId = 0;  // CUDA device of the mirror

  float* ux_dev = nullptr;
  float* uy_dev = nullptr;
  float* uz_dev = nullptr;
  mlDensity<float>* den_dev = nullptr;  // mirrors rou
  float* coordx_dev = nullptr;
  float* coordy_dev = nullptr;
  float* coordz_dev = nullptr;
  float* normalx_dev = nullptr;
  float* normaly_dev = nullptr;
  float* normalz_dev = nullptr;
  float* coordInitx_dev = nullptr;
  float* coordInity_dev = nullptr;
  float* coordInitz_dev = nullptr;
  double* forcex_dev = nullptr;
  double* forcey_dev = nullptr;
  double* forcez_dev = nullptr;

  mlLagrangeBoundary* mllaboundary = nullptr;      // host record, not owned
  mlLagrangeBoundary* mllaboundary_gpu = nullptr;  // device record, owned
  // Receives the byte copy of the device record on download; its pointers are device addresses.
  std::unique_ptr<mlLagrangeBoundary, DeviceRecordCopyDeleter> mllagbndHost;
  // One queue of three-component records per point of the attached record, sized by attach; nothing
  // records into it yet.
  std::vector<std::deque<std::array<double, 3>>> history;
  int historyDepth = 8;  // records a queue is meant to keep

  // Units handed over by the simulator (lattice spacings per l0p, reference length in m, reference
  // velocity in m/s and in lattice units); the kernels take their units as arguments.
  float N = 0;
  float l0p = 0;
  float u0p = 0;
  float u0k = 0;

  explicit IBBoundaryMemMgr(int gpuId = 0);
  IBBoundaryMemMgr(const IBBoundaryMemMgr&) = delete;
  IBBoundaryMemMgr& operator=(const IBBoundaryMemMgr&) = delete;
  // Frees the device memory it allocated.
  ~IBBoundaryMemMgr();

  // Mirrors this host record from now on (not owned), with one history queue per point: queues beyond its
  // count go, new ones start empty. A negative count throws std::invalid_argument and changes nothing.
  void attach(mlLagrangeBoundary* boundary);
  // Allocates the device record and arrays for the attached record's count, freeing earlier ones first.
  // upload and download then need the attached record to keep that count (std::logic_error otherwise).
  void alloc();
  // Copies every host array, then the record, then points the device record at the device arrays.
  void upload();
  // Copies the device record into mllagbndHost, then positions, normals, velocities and forces into the
  // host arrays; initial positions, densities and the host record's scalars stay as they are.
  void download();
  // Frees the device record and arrays; nothing when none are allocated.
  void freeGpu();
  // Stores the units and uploads.
  void setUnitParams(float N, float l0p, float u0p, float u0k);

  // Throws std::logic_error, naming the operation, unless the device arrays hold the attached record's
  // points (kernels may then run on the device record).
  void requireAllocated(const char* operation) const;

 private:
  void requireAttached(const char* operation) const;

  std::int32_t allocatedCount_ = 0;  // points the device arrays hold
};
