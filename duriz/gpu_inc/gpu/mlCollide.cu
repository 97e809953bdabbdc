#include "mlCollide.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlCentralMoments.cuh"
#include "mlLatticeLaunch.cuh"

namespace {

constexpr float kCs = 0.57735026f;  // lattice sound speed, 1/sqrt(3)
constexpr float kWale = 0.325f;
constexpr float kWaleGuard = 1e-12f;

// Fit of the high-order viscosity to density, momentum magnitude and momentum-flux norm.
constexpr double kFitRho = 0.0003473824792054466;
constexpr double kFitMomentum = -0.024553263256967;
constexpr double kFitFlux = 0.0006978712121180968;
constexpr double kFitConstant = 0.008547381698844;

// Product-basis slot of the central moment (c_x - u_x)^a (c_y - u_y)^b (c_z - u_z)^c.
__host__ __device__ constexpr int K(int a, int b, int c) { return a * 9 + b * 3 + c; }

// Moments with no equilibrium part that relax with the high-order rate: the third order, and the
// fourth and fifth order off the product-equilibrium diagonal.
__constant__ const int kHighOrder[13] = {K(1, 2, 0), K(1, 0, 2), K(2, 1, 0), K(0, 1, 2), K(2, 0, 1),
                                         K(0, 2, 1), K(1, 1, 1), K(2, 1, 1), K(1, 2, 1), K(1, 1, 2),
                                         K(1, 2, 2), K(2, 1, 2), K(2, 2, 1)};

}  // namespace

// The invariants of the WALE model (Nicoud & Ducros 1999): SS = S0:S0 of the traceless strain rate,
// DD = Sd:Sd of the traceless symmetric part of G.G. The powers v^1.5, v^2.5, v^1.25 are written with
// square roots: exact for v >= 0 and 0 for v = 0.
__device__ __forceinline__ float mlWaleViscosity(const float G[3][3], float rho) {
  float g2[3][3];
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) g2[a][b] = G[a][0] * G[0][b] + G[a][1] * G[1][b] + G[a][2] * G[2][b];
  const float trS = (G[0][0] + G[1][1] + G[2][2]) / 3.0f;
  const float trG2 = (g2[0][0] + g2[1][1] + g2[2][2]) / 3.0f;
  float SS = 0.0f, DD = 0.0f;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      const float S0 = 0.5f * (G[a][b] + G[b][a]) - (a == b ? trS : 0.0f);
      const float Sd = 0.5f * (g2[a][b] + g2[b][a]) - (a == b ? trG2 : 0.0f);
      SS += S0 * S0;
      DD += Sd * Sd;
    }
  const float sqrtSS = sqrtf(SS), sqrtDD = sqrtf(DD);
  const float DD15 = DD * sqrtDD;
  const float SS25 = SS * SS * sqrtSS;
  const float DD125 = DD * sqrtf(sqrtDD);
  return kWale * kWale * rho * DD15 / (SS25 + DD125 + kWaleGuard);
}

__global__ void mlCollideAddForceHighorderFiitingKernel(mlFlow* flow, float, int nx, int ny, int nz, int count) {
  const float* f = flow->f;
  float* const fPost = flow->fPost;
  const mlDensity<float>* rou = flow->rou;
  const float* uxs = flow->ux;
  const float* uys = flow->uy;
  const float* uzs = flow->uz;
  const double* forcex = flow->forcex;
  const double* forcey = flow->forcey;
  const double* forcez = flow->forcez;
  float* Sopt = flow->Sopt;
  const float nu = flow->viscosity;
  const float* g = flow->param->bodyAccel;
  const float bodyAccel[3] = {g[0], g[1], g[2]};
  mlPrefetchDirections(f, count, false);
  mlForThreadNodeOut(nx, ny, nz, fPost, [=](mlLatticeNode n, mlNodeOut post) {
    const int i = n.i;
    const float rho = rou[i];
    const float u[3] = {uxs[i], uys[i], uzs[i]};

    // Velocity gradient G[a][b] = du_a/dx_b, central differences; a face node uses itself as the missing
    // neighbour but still divides by 2. Along x the neighbour is chosen by value rather than by index:
    // the host then loads a block row's x neighbours as masked vectors, not gathers (y and z are the
    // same for the whole row).
    const int step[3] = {1, nx, nx * ny};
    const int pos[3] = {n.x, n.y, n.z};
    const int size[3] = {nx, ny, nz};
    float G[3][3];
    const bool xp = n.x < nx - 1;
    const bool xm = n.x > 0;
    G[0][0] = ((xp ? uxs[i + 1] : u[0]) - (xm ? uxs[i - 1] : u[0])) / 2.0f;
    G[1][0] = ((xp ? uys[i + 1] : u[1]) - (xm ? uys[i - 1] : u[1])) / 2.0f;
    G[2][0] = ((xp ? uzs[i + 1] : u[2]) - (xm ? uzs[i - 1] : u[2])) / 2.0f;
    for (int b = 1; b < 3; ++b) {
      const int ip = i + (pos[b] < size[b] - 1 ? step[b] : 0);
      const int im = i - (pos[b] > 0 ? step[b] : 0);
      G[0][b] = (uxs[ip] - uxs[im]) / 2.0f;
      G[1][b] = (uys[ip] - uys[im]) / 2.0f;
      G[2][b] = (uzs[ip] - uzs[im]) / 2.0f;
    }

    const float nuT = mlWaleViscosity(G, rho);
    const float omega = static_cast<float>(1.0 / (3.0 * (static_cast<double>(nu) + nuT) + 0.5));

    // Fitted high-order viscosity; a non-positive (or NaN) fit keeps the previous value.
    const float trG = G[0][0] + G[1][1] + G[2][2];
    float PP = 0.0f;
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) {
        const float Pi = rho * u[a] * u[b] + (a == b ? rho / 3.0f : 0.0f) - rho * nu * (G[a][b] + G[b][a]) +
                         (a == b ? 2.0f / 3.0f * rho * nu * trG : 0.0f);
        PP += Pi * Pi;
      }
    const float m = sqrtf(rho * rho * (u[0] * u[0] + u[1] * u[1] + u[2] * u[2]));
    const float P = sqrtf(PP);
    const float cand = static_cast<float>(kFitRho * rho + kFitMomentum * m + kFitFlux * P + kFitConstant);
    float sopt;
    if (cand > 0.0f) {
      Sopt[i] = cand;
      sopt = cand;
    } else {
      sopt = Sopt[i];
    }
    const float omega2 = static_cast<float>(1.0 / (3.0 * sopt + 0.5));

    // The populations are loaded only now, so that the 27 moments are not held through the rates above.
    float k[27];
    for (int s = 0; s < 27; ++s) k[s] = mlDirection(f, mlProductSlotDirection[s], count)[i];
    mlCentralMoments(k, u[0], u[1], u[2]);

    // Relaxation. In the product basis the second-order shear moments (xy, xz, yz, xx - yy, xx - zz)
    // relax with omega; the trace and every higher moment relax with omega2 towards rho times the
    // product of (1, 0, 1/3) per axis.
    const float r1 = 1.0f - omega, r2 = 1.0f - omega2;
    k[K(0, 0, 0)] = rho;
    k[K(1, 1, 0)] *= r1;
    k[K(1, 0, 1)] *= r1;
    k[K(0, 1, 1)] *= r1;
    const float dxy = r1 * (k[K(2, 0, 0)] - k[K(0, 2, 0)]);
    const float dxz = r1 * (k[K(2, 0, 0)] - k[K(0, 0, 2)]);
    const float trace = r2 * (k[K(2, 0, 0)] + k[K(0, 2, 0)] + k[K(0, 0, 2)]) + omega2 * rho;
    k[K(2, 0, 0)] = (dxy + dxz + trace) / 3.0f;
    k[K(0, 2, 0)] = k[K(2, 0, 0)] - dxy;
    k[K(0, 0, 2)] = k[K(2, 0, 0)] - dxz;
    for (int s : kHighOrder) k[s] *= r2;
    const float rho9 = rho / 9.0f;
    k[K(2, 2, 0)] = r2 * k[K(2, 2, 0)] + omega2 * rho9;
    k[K(2, 0, 2)] = r2 * k[K(2, 0, 2)] + omega2 * rho9;
    k[K(0, 2, 2)] = r2 * k[K(0, 2, 2)] + omega2 * rho9;
    k[K(2, 2, 2)] = r2 * k[K(2, 2, 2)] + omega2 * (rho / 27.0f);

    // Forcing: the node force plus the body acceleration enters the first, third and fifth orders.
    const float Fx = static_cast<float>(forcex[i] + rho * bodyAccel[0]);
    const float Fy = static_cast<float>(forcey[i] + rho * bodyAccel[1]);
    const float Fz = static_cast<float>(forcez[i] + rho * bodyAccel[2]);
    const double h2 = 1.0 - omega2 / 2.0;
    const float cs4 = kCs * kCs * kCs * kCs;
    k[K(1, 0, 0)] = Fx / 2.0f;
    k[K(0, 1, 0)] = Fy / 2.0f;
    k[K(0, 0, 1)] = Fz / 2.0f;
    // xyy + xzz gains 2 cs^2 h2 F_x, shared equally by its two terms (xyy - xzz gains nothing); likewise
    // xxy + yzz and xxz + yyz. The fifth-order xyyzz, xxyzz, xxyyz gain cs^4 h2 F.
    k[K(1, 2, 0)] += static_cast<float>(h2 * kCs * kCs * Fx);
    k[K(1, 0, 2)] += static_cast<float>(h2 * kCs * kCs * Fx);
    k[K(2, 1, 0)] += static_cast<float>(h2 * kCs * kCs * Fy);
    k[K(0, 1, 2)] += static_cast<float>(h2 * kCs * kCs * Fy);
    k[K(2, 0, 1)] += static_cast<float>(h2 * kCs * kCs * Fz);
    k[K(0, 2, 1)] += static_cast<float>(h2 * kCs * kCs * Fz);
    k[K(1, 2, 2)] += static_cast<float>(h2 * cs4 * Fx);
    k[K(2, 1, 2)] += static_cast<float>(h2 * cs4 * Fy);
    k[K(2, 2, 1)] += static_cast<float>(h2 * cs4 * Fz);

    mlPopulations(k, u[0], u[1], u[2]);
    for (int s = 0; s < 27; ++s) post[mlProductSlotDirection[s]] = k[s];
  });
}

void mlCollideAddForceHighorderFiitingGpu(mlFlow* flow, const MLFluidParam& param) {
  DZ_LAUNCH(mlCollideAddForceHighorderFiitingKernel, mlLatticeGrid(param, 32, 4), dim3(32, 4, 1), flow,
            param.bodyAccel[1], param.samples[0], param.samples[1], param.samples[2], mlLatticeCount(param));
  checkCudaLaunch();
}
