// Moving reference frame: the lattice origin follows the frame, and the frame's fictitious forces join
// the node forces before the collision.
#pragma once

#include "duriz/mlsolver/mlFlow.h"
#include "duriz/mlsolver/mlTypes.h"

// A 4 x 4 affine transform in double, column-major (as Eigen stores one): m[col * 4 + row].
struct mlTransform4d {
  double m[16];
};

// Sets the device lattice origin so that the box is centred on (cx, cy, cz) (world coordinates, m).
void mlSetFlowCenterGpu(mlFlow* flow, float cx, float cy, float cz);

// Adds the fictitious forces of the moving frame to the node forces and turns the stored first moment
// into the velocity (momentum + F/2) / rho, on every node but prescribed-velocity ones.
//   accelScale: physical acceleration to lattice units, per axis;
//   a: linear acceleration of the frame (frame axes); omega, alpha: its angular velocity and
//   acceleration (world axes); Tinv: world to frame coordinates; s: first moment to physical velocity.
void mlAddForcetoUOptGpu(mlFlow* flow, const MLFluidParam& param, mlVelocity3D<double> accelScale,
                         mlVelocity3D<double> a, mlVelocity3D<double> omega, mlVelocity3D<double> alpha,
                         const mlTransform4d& Tinv, float s);

// A driven test scenario at time t: with driveBands, nodes flagged 12 and 13 get uy = 0.1 + 0.05 t and
// 0.1 - 0.05 t; with forcePlanes, the nodes of the planes y = ny / 4 and y = 3 ny / 4 get the force
// (0.05, 0, 0) and (-0.05, 0, 0).
void mlCalForceTermGpu(mlFlow* flow, const MLFluidParam& param, bool forcePlanes, bool driveBands, float t);
