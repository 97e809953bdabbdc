// Host side of the GPU fluid solver: the lattices, their device records and arrays, the units, the
// immersed-boundary set-up and the coupling solver that the time step drives.
#pragma once

#include <memory>
#include <vector>

#include "mlFarField.h"
#include "mlFlow.h"
#include "simParams.h"

class IBBoundaryMemMgr;
class mlBaseCouplingSolver;

class mlSinglePhaseSolverNew {
 public:
  int gpuDeviceId = 0;
  std::vector<mlFlow*> lbmvec;       // host lattices, owned by the simulator
  std::vector<mlFlow*> lbm_dev_gpu;  // device lattice records, one mlFlow each
  std::vector<mlLatticeUnits> units_vec;
  int ibDeviceId = 0;
  std::vector<IBBoundaryMemMgr*> ibBoundaries;  // Lagrangian point sets of the coupling solver
  mlLatticeUnits units;                         // units of lattice 0; tp = l0p * u0k / (N * u0p)
  int ibDeltaWidth = 4;
  std::shared_ptr<mlBaseCouplingSolver> couplingSolver;
  // The water around a box that follows a moving frame, as the last step saw it; its outflow plane
  // carries over from step to step.
  mlFarField farField;

  // Device addresses of each lattice's arrays; entry i belongs to lattice i.
  std::vector<float*> f_dev_vec;
  std::vector<float*> fPost_dev_vec;
  std::vector<float*> fStore_dev_vec;
  std::vector<mlDensity<float>*> rou_dev_vec;
  std::vector<float*> ux_dev_vec;
  std::vector<float*> uy_dev_vec;
  std::vector<float*> uz_dev_vec;
  std::vector<MLLATTICENODE_FLAG*> flag_dev_vec;
  std::vector<MLFluidParam*> param_dev_vec;
  std::vector<double*> forcex_dev_vec;
  std::vector<double*> forcey_dev_vec;
  std::vector<double*> forcez_dev_vec;
  std::vector<float*> Sopt_dev_vec;

  // Allocates the device arrays of a lattice, uploads the host arrays and the record, and points the
  // device record (already allocated) at the device arrays. Call once per lattice, in index order.
  void allocAndUpload(mlFlow* mllbm_host, mlFlow* mllbm_dev, int i);

  // Mirrors one more host lattice (not owned) on the device: allocates its device record, appends both
  // to lbmvec and lbm_dev_gpu and allocates and uploads its arrays.
  void addLattice(mlFlow* mllbm_host);

  // Frees the device arrays and records of every lattice and empties the lists.
  void freeGpu();

  // One lattice step per lattice: the frame-following origin, then in the fluid modes (TWO_WAY, ONE_WAY)
  // frame forcing, collision, streaming, open boundary, moments and the immersed-boundary stage; then,
  // in every mode, one step of the coupling solver. Throws std::logic_error, before launching anything,
  // without a coupling solver, for lattices not on the device or released on the host, and for point sets
  // without device memory.
  void solverStep(int couple_mode);
};
