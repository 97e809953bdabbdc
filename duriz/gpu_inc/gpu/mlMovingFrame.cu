#include "mlMovingFrame.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlLatticeLaunch.cuh"
#include "mlNodeState.cuh"
#include "mlThreadIndex.cuh"

namespace {

// Flags of the two bands of nodes that the force-term scenario drives along y.
constexpr int kRisingBand = 12;
constexpr int kFallingBand = 13;
constexpr float kBandSpeed = 0.1f;
constexpr float kBandAcceleration = 0.05f;
constexpr double kPlaneForce = 0.05;

}  // namespace

__global__ void mlSetFlowCenterKernel(mlFlow* flow, float cx, float cy, float cz) {
  const MLFluidParam* param = flow->param;
  flow->start[0] = static_cast<float>(static_cast<double>(cx) - 0.5 * param->width);
  flow->start[1] = static_cast<float>(static_cast<double>(cy) - 0.5 * param->height);
  flow->start[2] = static_cast<float>(static_cast<double>(cz) - 0.5 * param->depth);
}

__global__ void mlAddForcetoUOptKernel(mlFlow* flow, int nx, int ny, int nz, int count, float s,
                                       mlVelocity3D<double> accelScale, mlVelocity3D<double> a,
                                       mlVelocity3D<double> omega, mlVelocity3D<double> alpha, mlTransform4d Tinv) {
  (void)count;
  const MLLATTICENODE_FLAG* flag = flow->flag;
  const float dx = flow->param->dx;
  const float start[3] = {flow->start[0], flow->start[1], flow->start[2]};
  float* ux = flow->ux;
  float* uy = flow->uy;
  float* uz = flow->uz;
  const mlDensity<float>* rou = flow->rou;
  double* forcex = flow->forcex;
  double* forcey = flow->forcey;
  double* forcez = flow->forcez;
  mlForThreadNode(nx, ny, nz, [=](mlLatticeNode n) {
    if (flag[n.i] == NODE_VELOCITY) return;

    // Node position in world coordinates, then in the frame's.
    const float px = start[0] + static_cast<float>(n.x) * dx;
    const float py = start[1] + static_cast<float>(n.y) * dx;
    const float pz = start[2] + static_cast<float>(n.z) * dx;
    const double* T = Tinv.m;
    const double rx = T[0] * px + T[4] * py + T[8] * pz + T[12];
    const double ry = T[1] * px + T[5] * py + T[9] * pz + T[13];
    const double rz = T[2] * px + T[6] * py + T[10] * pz + T[14];

    const float mx = ux[n.i], my = uy[n.i], mz = uz[n.i];
    const float rho = rou[n.i];
    const float vx = s * mx, vy = s * my, vz = s * mz;

    // -a - omega x (omega x r) - 2 omega x v - alpha x r
    const double wrx = omega.y * rz - omega.z * ry;
    const double wry = omega.z * rx - omega.x * rz;
    const double wrz = omega.x * ry - omega.y * rx;
    const double Ax =
        -a.x - (omega.y * wrz - omega.z * wry) - 2.0 * (omega.y * vz - omega.z * vy) - (alpha.y * rz - alpha.z * ry);
    const double Ay =
        -a.y - (omega.z * wrx - omega.x * wrz) - 2.0 * (omega.z * vx - omega.x * vz) - (alpha.z * rx - alpha.x * rz);
    const double Az =
        -a.z - (omega.x * wry - omega.y * wrx) - 2.0 * (omega.x * vy - omega.y * vx) - (alpha.x * ry - alpha.y * rx);

    const double Fx = forcex[n.i] + static_cast<float>(accelScale.x * Ax) * rho;
    const double Fy = forcey[n.i] + static_cast<float>(accelScale.y * Ay) * rho;
    const double Fz = forcez[n.i] + static_cast<float>(accelScale.z * Az) * rho;
    forcex[n.i] = Fx;
    forcey[n.i] = Fy;
    forcez[n.i] = Fz;

    ux[n.i] = static_cast<float>((mx + 0.5 * Fx) / rho);
    uy[n.i] = static_cast<float>((my + 0.5 * Fy) / rho);
    uz[n.i] = static_cast<float>((mz + 0.5 * Fz) / rho);
  });
}

// The half-force shift of mlAddForcetoUOptKernel without frame forces, with 64-bit sizes, for a launch of
// any shape that starts a thread for each node: u = (u + F/2) / rou on every node but prescribed-velocity
// ones (0 where rou is 0).
__global__ void mlAddForcetoUKernel(mlFlow* flow, float, std::int64_t nx, std::int64_t ny, std::int64_t nz) {
  const std::int64_t i = mlGridThread64();
  if (i >= nx * ny * nz || flow->flag[i] == NODE_VELOCITY) return;
  const double rho = flow->rou[i];
  flow->ux[i] = mlVelocityOf(flow->ux[i] + 0.5 * flow->forcex[i], rho);
  flow->uy[i] = mlVelocityOf(flow->uy[i] + 0.5 * flow->forcey[i], rho);
  flow->uz[i] = mlVelocityOf(flow->uz[i] + 0.5 * flow->forcez[i], rho);
}

// A driven test scenario, one thread per node of a box of blocks. With driveBands, the nodes flagged 12
// move along y at 0.1 + 0.05 t and those flagged 13 at 0.1 - 0.05 t. With forcePlanes, the planes
// y = ny / 4 and y = 3 ny / 4 are pushed along x in opposite directions, by a force of 0.05 per node.
__global__ void mlCalForceTermKernel(mlFlow* flow, bool forcePlanes, bool driveBands, float t) {
  const MLFluidParam* param = flow->param;
  const int ny = param->samples[1];
  mlLatticeNode n;
  if (!mlBoxThreadNode(param->samples[0], ny, param->samples[2], n)) return;
  if (driveBands) {
    const int flag = flow->flag[n.i];
    if (flag == kRisingBand) flow->uy[n.i] = kBandSpeed + kBandAcceleration * t;
    if (flag == kFallingBand) flow->uy[n.i] = kBandSpeed - kBandAcceleration * t;
  }
  if (forcePlanes && (n.y == ny / 4 || n.y == 3 * ny / 4)) {
    flow->forcex[n.i] = n.y == ny / 4 ? kPlaneForce : -kPlaneForce;
    flow->forcey[n.i] = 0.0;
    flow->forcez[n.i] = 0.0;
  }
}

void mlCalForceTermGpu(mlFlow* flow, const MLFluidParam& param, bool forcePlanes, bool driveBands, float t) {
  const dim3 block(8, 8, 8);
  DZ_LAUNCH(mlCalForceTermKernel, mlCoverGrid(param.samples[0], param.samples[1], param.samples[2], block), block, flow,
            forcePlanes, driveBands, t);
  checkCudaLaunch();
}

void mlSetFlowCenterGpu(mlFlow* flow, float cx, float cy, float cz) {
  DZ_LAUNCH(mlSetFlowCenterKernel, dim3(1, 1, 1), dim3(1, 1, 1), flow, cx, cy, cz);
  checkCudaLaunch();
}

void mlAddForcetoUOptGpu(mlFlow* flow, const MLFluidParam& param, mlVelocity3D<double> accelScale,
                         mlVelocity3D<double> a, mlVelocity3D<double> omega, mlVelocity3D<double> alpha,
                         const mlTransform4d& Tinv, float s) {
  const int nx = param.samples[0], ny = param.samples[1], nz = param.samples[2];
  DZ_LAUNCH(mlAddForcetoUOptKernel, mlLatticeGrid(param, 32, 4), dim3(32, 4, 1), flow, nx, ny, nz,
            mlLatticeCount(param), s, accelScale, a, omega, alpha, Tinv);
  checkCudaLaunch();
}
