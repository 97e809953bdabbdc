#include "mlBndCondition.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlLatticeLaunch.cuh"
#include "mlNodeState.cuh"
#include "mlThreadIndex.cuh"
#include "mlWallNode.cuh"

namespace {

constexpr unsigned int kAllDirections = (1u << 27) - 1;

}  // namespace

__device__ __forceinline__ bool mlIsWall(MLLATTICENODE_FLAG flag) { return flag >= NODE_LEFT && flag <= NODE_SOLID; }

__device__ __forceinline__ bool mlHas(unsigned int directions, int q) { return (directions >> q) & 1u; }

// Regularised populations of a boundary node (Latt & Chopard, Math. Comput. Simul. 72 (2006) 165; Latt et
// al., Phys. Rev. E 77 (2008) 056703): with feq the polynomial equilibrium of (rho, u), each unknown
// direction takes the non-equilibrium part of its opposite, each known one keeps its own, any other has
// none; then all 27 populations are rebuilt from the second moment Pi of these parts:
//   f_q = feq_q + w_q / (2 cs^4) Q_q : Pi,   Q_q = c_q c_q - cs^2 I,   1 / (2 cs^4) = 4.5.
__device__ __forceinline__ void mlRegularise(float p[27], float rho, const float u[3], unsigned int unknown,
                                             unsigned int known) {
  float feq[27];
  mlPolynomialEquilibrium(rho, u, feq);
  float neq[27];
  for (int q = 0; q < 27; ++q) neq[q] = p[q] - feq[q];
  float xx = 0.0f, yy = 0.0f, zz = 0.0f, xy = 0.0f, xz = 0.0f, yz = 0.0f;
  for (int q = 0; q < 27; ++q) {
    const float n = mlHas(unknown, q) ? neq[index_inv_cas1[q]] : (mlHas(known, q) ? neq[q] : 0.0f);
    const float cx = ex_cas1[q], cy = ey_cas1[q], cz = ez_cas1[q];
    xx += cx * cx * n;
    yy += cy * cy * n;
    zz += cz * cz * n;
    xy += cx * cy * n;
    xz += cx * cz * n;
    yz += cy * cz * n;
  }
  const float trace = (xx + yy + zz) / 3.0f;
  for (int q = 0; q < 27; ++q) {
    const float cx = ex_cas1[q], cy = ey_cas1[q], cz = ez_cas1[q];
    const float QPi =
        cx * cx * xx + cy * cy * yy + cz * cz * zz + 2.0f * (cx * cy * xy + cx * cz * xz + cy * cz * yz) - trace;
    p[q] = feq[q] + 4.5f * w_cas1[q] * QPi;
  }
}

// Directions from node n into fluid nodes of the box, as bits.
__device__ __forceinline__ unsigned int mlFluidDirections(const mlFlow& flow, mlLatticeNode n, int nx, int ny, int nz) {
  unsigned int bits = 0;
  for (int q = 1; q < 27; ++q) {
    const int x = n.x + static_cast<int>(ex_cas1[q]), y = n.y + static_cast<int>(ey_cas1[q]),
              z = n.z + static_cast<int>(ez_cas1[q]);
    if (mlInBox(x, y, z, nx, ny, nz) && flow.flag[mlNodeAt(x, y, z, nx, ny).i] == NODE_FLUID) bits |= 1u << q;
  }
  return bits;
}

// Mass that arrived at a wall node from its fluid neighbours: the opposites of the directions into them.
__device__ __forceinline__ float mlArrivedMass(const float p[27], unsigned int toFluid) {
  float mass = 0.0f;
  for (int q = 0; q < 27; ++q)
    if (mlHas(toFluid, q)) mass += p[index_inv_cas1[q]];
  return mass;
}

// A wall neither creates nor destroys fluid mass beyond what its motion pushes: the populations it sends
// into its fluid neighbours carry what arrived from them plus 6 rho sum_q w_q c_q.u, as bounce-back from a
// moving wall does (Ladd, J. Fluid Mech. 271 (1994) 285). On a flat wall the regularised populations
// already do; elsewhere the difference is spread over the directions into the fluid by weight.
__device__ __forceinline__ void mlSendArrivedMass(float p[27], float arrived, float rho, const float u[3],
                                                  unsigned int toFluid) {
  float difference = arrived, weight = 0.0f;
  for (int q = 0; q < 27; ++q)
    if (mlHas(toFluid, q)) {
      difference += 6.0f * w_cas1[q] * rho * (ex_cas1[q] * u[0] + ey_cas1[q] * u[1] + ez_cas1[q] * u[2]) - p[q];
      weight += w_cas1[q];
    }
  for (int q = 0; q < 27; ++q)
    if (mlHas(toFluid, q)) p[q] += w_cas1[q] / weight * difference;
}

// A solid node, at its own density and velocity: what it sends into its fluid neighbours is unknown and
// rebuilt from what arrived from them; the directions it shares with no fluid node carry nothing of the
// fluid and no non-equilibrium part.
__device__ __forceinline__ void mlSolidNode(const mlFlow& flow, mlLatticeNode n, int nx, int ny, int nz, int count) {
  const unsigned int toFluid = mlFluidDirections(flow, n, nx, ny, nz);
  unsigned int fromFluid = 0;
  for (int q = 0; q < 27; ++q)
    if (mlHas(toFluid, q)) fromFluid |= 1u << index_inv_cas1[q];
  float p[27];
  for (int q = 0; q < 27; ++q) p[q] = mlDirection(flow.fPost, q, count)[n.i];
  const float arrived = mlArrivedMass(p, toFluid);
  const float rho = flow.rou[n.i];
  const float u[3] = {flow.ux[n.i], flow.uy[n.i], flow.uz[n.i]};
  mlRegularise(p, rho, u, toFluid, fromFluid);
  mlSendArrivedMass(p, arrived, rho, u, toFluid);
  for (int q = 0; q < 27; ++q) mlDirection(flow.fPost, q, count)[n.i] = p[q];
}

// A node of a face plane, at its velocity: the density from the populations it knows, stored; what it
// sends into the box is unknown.
__device__ __forceinline__ void mlFaceNode(const mlFlow& flow, mlLatticeNode n, mlFace face, int nx, int ny, int nz,
                                           int count) {
  const unsigned int toFluid = mlFluidDirections(flow, n, nx, ny, nz);
  float p[27];
  for (int q = 0; q < 27; ++q) p[q] = mlDirection(flow.fPost, q, count)[n.i];
  const float arrived = mlArrivedMass(p, toFluid);
  const float u[3] = {flow.ux[n.i], flow.uy[n.i], flow.uz[n.i]};
  const float rho = mlFaceDensity(p, face, u[face.axis]);
  flow.rou[n.i] = rho;
  const unsigned int inward = mlInwardDirections(face);
  mlRegularise(p, rho, u, inward, kAllDirections & ~inward);
  mlSendArrivedMass(p, arrived, rho, u, toFluid);
  for (int q = 0; q < 27; ++q) mlDirection(flow.fPost, q, count)[n.i] = p[q];
}

// Each population a fluid node sends into a wall or solid node x - c_q (direction -c_q) is handed over to
// that node in the same direction, as streaming would; the rebuild of the wall node then turns it around.
__global__ void mlBndConditionKernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlLatticeNode n;
  if (!mlFlatThreadNode(nx, ny, nz, n) || flow->flag[n.i] != NODE_FLUID) return;
  float* fPost = flow->fPost;
  for (int q = 1; q < 27; ++q) {
    const int x = n.x - static_cast<int>(ex_cas1[q]), y = n.y - static_cast<int>(ey_cas1[q]),
              z = n.z - static_cast<int>(ez_cas1[q]);
    if (!mlInBox(x, y, z, nx, ny, nz)) continue;
    const int source = mlNodeAt(x, y, z, nx, ny).i;
    if (!mlIsWall(flow->flag[source])) continue;
    const int back = index_inv_cas1[q];
    mlDirection(fPost, back, count)[source] = mlDirection(fPost, back, count)[n.i];
  }
}

__global__ void mlCuBoundaryCondition_Solid_Kernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlLatticeNode n;
  if (mlBoxThreadNode(nx, ny, nz, n) && flow->flag[n.i] == NODE_SOLID) mlSolidNode(*flow, n, nx, ny, nz, count);
}

// The nodes of one face plane that carry its flag.
__device__ __forceinline__ void mlFaceKernel(mlFlow* flow, MLLATTICENODE_FLAG wall, int nx, int ny, int nz, int count) {
  const mlFace face = mlFaceOf(wall);
  mlLatticeNode n;
  if (mlFaceThreadNode(face, nx, ny, nz, n) && flow->flag[n.i] == wall) mlFaceNode(*flow, n, face, nx, ny, nz, count);
}

__global__ void mlCuBoundaryCondition_Left_Kernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlFaceKernel(flow, NODE_LEFT, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Right_Kernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlFaceKernel(flow, NODE_RIGHT, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Forward_Kernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlFaceKernel(flow, NODE_FORWARD, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Back_Kernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlFaceKernel(flow, NODE_BACK, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Down_Kernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlFaceKernel(flow, NODE_DOWN, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Up_Kernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlFaceKernel(flow, NODE_UP, nx, ny, nz, count);
}

// The solid and face rebuilds in one pass over the box (8 x 8 x 8 blocks); a face-flagged node is rebuilt
// wherever it lies. No wrapper launches it.
__global__ void mlBndConditionOtherKernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlLatticeNode n;
  if (!mlBoxThreadNode(nx, ny, nz, n)) return;
  const MLLATTICENODE_FLAG flag = flow->flag[n.i];
  if (flag == NODE_SOLID)
    mlSolidNode(*flow, n, nx, ny, nz, count);
  else if (mlIsWall(flag))
    mlFaceNode(*flow, n, mlFaceOf(flag), nx, ny, nz, count);
}

void mlBndConditionGpu(mlFlow* flow, const MLFluidParam& param) {
  const int nx = param.samples[0], ny = param.samples[1], nz = param.samples[2];
  const int count = mlLatticeCount(param);
  // The face kernels' blocks are one thread thick along the face normal.
  const dim3 xFace(1, 8, 8), yFace(8, 1, 8), zFace(8, 8, 1);
  auto plane = [&](MLLATTICENODE_FLAG wall, dim3 block) { return mlFaceGrid(param, mlFaceOf(wall), block); };
  DZ_LAUNCH(mlBndConditionKernel, mlLatticeGrid(param, 32, 4), dim3(32, 4, 1), flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Solid_Kernel, mlCoverGrid(nx, ny, nz, dim3(8, 8, 8)), dim3(8, 8, 8), flow, nx, ny, nz,
            count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Left_Kernel, plane(NODE_LEFT, xFace), xFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Right_Kernel, plane(NODE_RIGHT, xFace), xFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Forward_Kernel, plane(NODE_FORWARD, zFace), zFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Back_Kernel, plane(NODE_BACK, zFace), zFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Up_Kernel, plane(NODE_UP, yFace), yFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
  DZ_LAUNCH(mlCuBoundaryCondition_Down_Kernel, plane(NODE_DOWN, yFace), yFace, flow, nx, ny, nz, count);
  checkCudaLaunch();
}
