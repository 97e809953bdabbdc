#include "mlZouHeBndCondition.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlLatticeLaunch.cuh"
#include "mlThreadIndex.cuh"
#include "mlWallNode.cuh"

namespace {

constexpr int kMargin = 10;             // in-plane coordinates of a set node lie in [kMargin, n - kMargin]
constexpr float kInletVelocity = 0.2f;  // along +x, at the plane x = 0

}  // namespace

// Zou & He, Phys. Fluids 9 (1997) 1591, written for D3Q27 the way Hecht & Harting, J. Stat. Mech. (2010)
// P01018, write it for D3Q19. A face node of prescribed velocity u takes its density from the populations it
// knows (mlFaceDensity); each population entering through the face is the bounce-back of its opposite plus
// the equilibrium difference, f_q = f_-q + 6 w_q rho c_q.u (6 w_q = 4/9, 1/9, 1/36), and those with a
// tangential component t share the tangential momentum still missing:
//   + 1/6 sum_t c_qt ((2/3) rho u_t - sum_{c_n = 0} c_t f).
// The populations then carry exactly the density rho and the momentum rho u.
__device__ __forceinline__ float mlZouHeNode(float p[27], mlFace face, const float u[3]) {
  const float rho = mlFaceDensity(p, face, u[face.axis]);
  float missing[3] = {0.0f, 0.0f, 0.0f};
  for (int q = 0; q < 27; ++q)
    if (mlDirectionComponent(q, face.axis) == 0) {
      missing[0] -= ex_cas1[q] * p[q];
      missing[1] -= ey_cas1[q] * p[q];
      missing[2] -= ez_cas1[q] * p[q];
    }
  for (int t = 0; t < 3; ++t) missing[t] = t == face.axis ? 0.0f : missing[t] + 2.0f / 3.0f * rho * u[t];
  for (int q = 0; q < 27; ++q) {
    if (mlDirectionComponent(q, face.axis) != -face.side) continue;
    const float cx = ex_cas1[q], cy = ey_cas1[q], cz = ez_cas1[q];
    const float cu = cx * u[0] + cy * u[1] + cz * u[2];
    p[q] = p[index_inv_cas1[q]] + 6.0f * w_cas1[q] * rho * cu +
           (cx * missing[0] + cy * missing[1] + cz * missing[2]) / 6.0f;
  }
  return rho;
}

// The nodes of one face plane with both in-plane coordinates in [kMargin, n - kMargin] get velocity u.
__device__ __forceinline__ void mlZouHeFace(mlFlow* flow, mlFace face, mlVelocity3D<float> velocity, int nx, int ny,
                                            int nz, int count) {
  mlLatticeNode n;
  if (!mlFaceThreadNode(face, nx, ny, nz, n)) return;
  const int pos[3] = {n.x, n.y, n.z}, size[3] = {nx, ny, nz};
  for (int a = 0; a < 3; ++a)
    if (a != face.axis && (pos[a] < kMargin || pos[a] > size[a] - kMargin)) return;
  float* f = flow->f;
  float p[27];
  for (int q = 0; q < 27; ++q) p[q] = mlDirection(f, q, count)[n.i];
  const float u[3] = {velocity.x, velocity.y, velocity.z};
  flow->rou[n.i] = mlZouHeNode(p, face, u);
  flow->ux[n.i] = u[0];
  flow->uy[n.i] = u[1];
  flow->uz[n.i] = u[2];
  for (int q = 0; q < 27; ++q) mlDirection(f, q, count)[n.i] = p[q];
}

__global__ void mlCuBoundaryCondition_Left_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlZouHeFace(flow, mlFaceOf(NODE_LEFT), {kInletVelocity, 0.0f, 0.0f}, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Right_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlZouHeFace(flow, mlFaceOf(NODE_RIGHT), {}, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Down_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlZouHeFace(flow, mlFaceOf(NODE_DOWN), {}, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Up_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlZouHeFace(flow, mlFaceOf(NODE_UP), {}, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Forward_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlZouHeFace(flow, mlFaceOf(NODE_FORWARD), {}, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Back_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlZouHeFace(flow, mlFaceOf(NODE_BACK), {}, nx, ny, nz, count);
}

// The planes y = 0 and y = ny - 1 have kernels of their own, which this wrapper does not launch.
void mlZouHeBndConditionGpu(mlFlow* flow, const MLFluidParam& param) {
  const int nx = param.samples[0], ny = param.samples[1], nz = param.samples[2];
  const int count = mlLatticeCount(param);
  const dim3 xFace(1, 8, 8), zFace(8, 8, 1);
  auto plane = [&](MLLATTICENODE_FLAG face, dim3 block) { return mlFaceGrid(param, mlFaceOf(face), block); };
  DZ_LAUNCH(mlCuBoundaryCondition_Left_KernelZouHe, plane(NODE_LEFT, xFace), xFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Right_KernelZouHe, plane(NODE_RIGHT, xFace), xFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Forward_KernelZouHe, plane(NODE_FORWARD, zFace), zFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Back_KernelZouHe, plane(NODE_BACK, zFace), zFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
}
