#include "mlMovingFrame.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "mlLatticeLaunch.cuh"

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
