// Immersed-boundary coupling of one Lagrangian point set with one lattice, once per lattice step:
// interpolation of the fluid velocity to the points (direct forcing, giving physical force densities
// at the points), then spreading of those forces onto the lattice nodes (lattice units).
//
// Both take the device point set and its point count, the device lattice and its host parameter block
// (node counts; the interpolation also reads slip_ratio), the reference velocity per axis (m/s), the
// delta width (2, 3 or 4; any other width gives zero weights) and the units N, l0p (m), rou0p (kg/m^3),
// u0k. On return the kernel has finished; a failed launch ends the process through the CUDA check.
#pragma once

#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "duriz/mlsolver/mlFlow.h"
#include "duriz/mlsolver/mlTypes.h"

void mlInterpolateFluidForceGpu(mlLagrangeBoundary* boundary, int count, mlFlow* flow, const MLFluidParam& param,
                                mlVelocity3D<float> u0p, int width, float N, float l0p, float rou0p, float u0k);

void mlSpreadForceGpu(mlLagrangeBoundary* boundary, int count, mlFlow* flow, const MLFluidParam& param,
                      mlVelocity3D<float> u0p, int width, float N, float l0p, float rou0p, float u0k);

// The spreading of all the point sets of a stage, set by set with spread(), same arguments as above.
// On the device each launch adds its forces at once. The host records each set's points at its launch
// and adds all of them into the node forces at finish(), set after set and point after point: the same
// sums as set by set, with one fork and join for the stage and the work of all its points shared out
// evenly. Records of a stage that ends without finish() (an error on the way) are dropped. One stage at
// a time per thread.
class mlSpreadStage {
 public:
  mlSpreadStage();
  ~mlSpreadStage();
  mlSpreadStage(const mlSpreadStage&) = delete;
  mlSpreadStage& operator=(const mlSpreadStage&) = delete;
  void spread(mlLagrangeBoundary* boundary, int count, mlFlow* flow, const MLFluidParam& param, mlVelocity3D<float> u0p,
              int width, float N, float l0p, float rou0p, float u0k);
  void finish();
};
