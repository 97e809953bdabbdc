// One lattice: the D3Q27 node data of a fluid box, on the host or (with device pointers) on the device.
//
// Node (x, y, z) has index i = (z * ny + y) * nx + x and lies at start + (x, y, z) * dx. Per-node data
// are separate arrays; distributions are direction-major: f[q * count + i].
#pragma once

#include <cstdint>
#include <memory>

#include "mlTypes.h"
#include "simParams.h"

enum MLLATTICENODE_FLAG : std::int32_t {
  NODE_NONE = 0,
  NODE_FLUID = 1,
  NODE_LEFT = 4,     // x = low face
  NODE_RIGHT = 5,    // x = high face
  NODE_FORWARD = 6,  // z = low face
  NODE_BACK = 7,     // z = high face
  NODE_DOWN = 8,     // y = low face
  NODE_UP = 9,       // y = high face
  NODE_SOLID = 10,
  NODE_VELOCITY = 11,  // prescribed velocity: skipped by streaming, open boundary and frame forcing
};

// Parameter block of one lattice, a plain run of 4-byte words copied whole to the device.
struct MLFluidParam {
  float start[3];              // physical coordinates of node (0, 0, 0) (m)
  float end[3];                // coordinate of the last node on each axis (m)
  std::int32_t samples[3];     // nx, ny, nz
  float width, height, depth;  // physical extents (m)
  float dx;                    // lattice spacing (m)
  std::uint32_t count;         // nx * ny * nz
  std::int32_t pml_width;
  float slip_ratio;
  float bodyAccel[3];  // uniform body acceleration, lattice units
};

static_assert(sizeof(MLFluidParam) == 19 * 4, "the parameter block is a plain run of 4-byte words");

struct mlFlow {
  float* f = nullptr;       // distributions after streaming, [27 * count]
  float* fPost = nullptr;   // distributions after collision, [27 * count]
  float* fStore = nullptr;  // spare distribution array, [27 * count]
  MLLATTICENODE_FLAG* flag = nullptr;
  float* ux = nullptr;  // first moment after the moment step, velocity after the frame step
  float* uy = nullptr;
  float* uz = nullptr;
  mlDensity<float>* rou = nullptr;
  MLFluidParam* param = nullptr;
  double* forcex = nullptr;  // body-force density, lattice units
  double* forcey = nullptr;
  double* forcez = nullptr;
  float* Sopt = nullptr;  // fitted collision rate per node
  std::uint64_t count = 0;
  float start[3] = {0, 0, 0};  // physical coordinates of node (0, 0, 0) (m)
  float viscosity = 0;         // lattice kinematic viscosity
  float cs = 0.57735026f;      // lattice sound speed

  mlFlow() = default;
  mlFlow(const mlFlow&) = delete;
  mlFlow& operator=(const mlFlow&) = delete;
  ~mlFlow();

  // Forgets the array pointers without releasing them (for byte copies of a device record).
  void dropPointers();
};

// Bytes of one node's arrays, the same in a host lattice and in its device mirror: the three distribution
// arrays, flag, velocity, density, force and fitted collision rate.
constexpr std::uint64_t kLatticeBytesPerNode = 3 * 27 * sizeof(float) + sizeof(MLLATTICENODE_FLAG) + 3 * sizeof(float) +
                                               sizeof(mlDensity<float>) + 3 * sizeof(double) + sizeof(float);

// Builds a lattice at rest from the parameters, completing them first. Throws std::invalid_argument when
// an extent is not finite, the spacing cannot lay out the box (not positive, not finite, or too small for
// single precision), or the lattice is too large for the kernels' indices. Throws OutOfMemory, before it
// allocates, when the lattice and, where device memory is host memory, its device mirror need more than
// hostMemoryAvailable; and when an allocation fails all the same.
std::unique_ptr<mlFlow> initFlow(const std::shared_ptr<simParams>& params);

struct mlLatticeIndex {
  std::int32_t x, y, z;
};

// Node coordinates of a physical point; not range-checked.
mlLatticeIndex getLatticeIndex(const mlFlow& flow, float x, float y, float z);

// Sets the node's velocity (lattice units) and writes the equilibrium at its density into f and fPost.
// An index outside the lattice changes nothing.
void setNodeVelocity(mlFlow& flow, std::int32_t index, float ux, float uy, float uz);

// Releases the arrays and parameter block of the record, not the record.
void deleteHostFlow(mlFlow& flow);
