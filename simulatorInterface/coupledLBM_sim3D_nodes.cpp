// Node edits, reset and the set-up report of the coupled simulator.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>

#include "SkeletonDynamics/requireFinite.h"
#include "SkeletonDynamics/skSystem.h"
#include "SkeletonDynamics/skWorld.h"
#include "coupledLBM_sim3D.h"
#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"

namespace {

// The node of a physical point in the box [start, start + extent] (both bounds inclusive), or -1 for a
// point outside it. A point on an upper face lies in cell n, one past the last node: it takes the last.
std::int64_t nodeAt(const mlFlow& l, float x, float y, float z) {
  const MLFluidParam& p = *l.param;
  const float d[3] = {x - l.start[0], y - l.start[1], z - l.start[2]};
  const float extent[3] = {p.width, p.height, p.depth};
  for (int a = 0; a < 3; ++a)
    if (!(d[a] >= 0.0f && d[a] <= extent[a]) || p.samples[a] <= 0) return -1;
  const mlLatticeIndex c = getLatticeIndex(l, x, y, z);
  const std::int64_t i = std::clamp(c.x, 0, p.samples[0] - 1);
  const std::int64_t j = std::clamp(c.y, 0, p.samples[1] - 1);
  const std::int64_t k = std::clamp(c.z, 0, p.samples[2] - 1);
  const std::int64_t node = (k * p.samples[1] + j) * p.samples[0] + i;
  return node < static_cast<std::int64_t>(l.count) ? node : -1;
}

// Point and value arrays pair up row by row.
void requireRowPairs(const Eigen::MatrixXd& positions, const Eigen::MatrixXd& values, const char* operation,
                     const char* valuesName) {
  if (positions.cols() != 3 || values.cols() != 3)
    throw std::invalid_argument(std::string(operation) + ": positions and " + valuesName +
                                " must be N x 3 arrays, got " + std::to_string(positions.rows()) + " x " +
                                std::to_string(positions.cols()) + " and " + std::to_string(values.rows()) + " x " +
                                std::to_string(values.cols()));
  if (positions.rows() != values.rows())
    throw std::invalid_argument(std::string(operation) + ": " + std::to_string(positions.rows()) + " positions but " +
                                std::to_string(values.rows()) + " " + valuesName);
}

// A point that is not a number lies in no box and would be skipped unseen; a value that is not finite would
// spread through the lattice and into its files.
void requireFiniteEdit(const char* operation, float x, float y, float z, float vx, float vy, float vz) {
  requireFinite(Eigen::Vector3d(x, y, z), std::string(operation) + ": the point");
  requireFinite(Eigen::Vector3d(vx, vy, vz), std::string(operation) + ": the value");
}

void requireFiniteRows(const Eigen::MatrixXd& rows, const char* operation, const char* name) {
  // One pass over the array; the row is looked for, and its message built, only for an array that fails.
  if (rows.allFinite()) return;
  for (Eigen::Index r = 0; r < rows.rows(); ++r)
    requireFinite(rows.row(r), std::string(operation) + ": " + name + " row " + std::to_string(r));
}

// Prescribed velocity (lattice units) at the equilibrium of the node's density.
void prescribeVelocity(mlFlow& l, std::int64_t node, float ux, float uy, float uz) {
  l.flag[node] = NODE_VELOCITY;
  setNodeVelocity(l, static_cast<std::int32_t>(node), ux, uy, uz);
}

}  // namespace

void coupledLBM_sim3D::set_force(float x, float y, float z, float fx, float fy, float fz, int scale) {
  requireCommitted("set_force");
  mlFlow& l = lattice(scale, "set_force");
  requireFiniteEdit("set_force", x, y, z, fx, fy, fz);
  prepareHostWrite();
  const std::int64_t node = nodeAt(l, x, y, z);
  if (node < 0) return;
  const float rho = l.rou[node];
  l.forcex[node] = static_cast<double>(fx * rho);
  l.forcey[node] = static_cast<double>(fy * rho);
  l.forcez[node] = static_cast<double>(fz * rho);
}

void coupledLBM_sim3D::set_force_all(const Eigen::MatrixXd& positions, const Eigen::MatrixXd& forces, int scale) {
  requireCommitted("set_force_all");
  mlFlow& l = lattice(scale, "set_force_all");
  requireRowPairs(positions, forces, "set_force_all", "forces");
  requireFiniteRows(positions, "set_force_all", "positions");
  requireFiniteRows(forces, "set_force_all", "forces");
  prepareHostWrite();
  std::cout << l.start[0] << " " << l.start[1] << " " << l.start[2] << std::endl;
  for (Eigen::Index r = 0; r < positions.rows(); ++r) {
    const std::int64_t node = nodeAt(l, static_cast<float>(positions(r, 0)), static_cast<float>(positions(r, 1)),
                                     static_cast<float>(positions(r, 2)));
    if (node < 0) continue;
    const float rho = l.rou[node];
    l.forcex[node] = forces(r, 0) * rho;
    l.forcey[node] = forces(r, 1) * rho;
    l.forcez[node] = forces(r, 2) * rho;
  }
}

void coupledLBM_sim3D::set_velocity(float x, float y, float z, float ux, float uy, float uz, int scale) {
  requireCommitted("set_velocity");
  mlFlow& l = lattice(scale, "set_velocity");
  requireFiniteEdit("set_velocity", x, y, z, ux, uy, uz);
  prepareHostWrite();
  const std::int64_t node = nodeAt(l, x, y, z);
  if (node >= 0) prescribeVelocity(l, node, ux, uy, uz);
}

void coupledLBM_sim3D::set_velocity_all(const Eigen::MatrixXd& positions, const Eigen::MatrixXd& velocities,
                                        int scale) {
  requireCommitted("set_velocity_all");
  mlFlow& l = lattice(scale, "set_velocity_all");
  requireRowPairs(positions, velocities, "set_velocity_all", "velocities");
  requireFiniteRows(positions, "set_velocity_all", "positions");
  requireFiniteRows(velocities, "set_velocity_all", "velocities");
  prepareHostWrite();
  for (Eigen::Index r = 0; r < positions.rows(); ++r) {
    const std::int64_t node = nodeAt(l, static_cast<float>(positions(r, 0)), static_cast<float>(positions(r, 1)),
                                     static_cast<float>(positions(r, 2)));
    if (node >= 0)
      prescribeVelocity(l, node, static_cast<float>(velocities(r, 0)), static_cast<float>(velocities(r, 1)),
                        static_cast<float>(velocities(r, 2)));
  }
}

void coupledLBM_sim3D::dismissinlet(int scale) {
  requireCommitted("dismissinlet");
  mlFlow& l = lattice(scale, "dismissinlet");
  prepareHostWrite();
  std::fill(l.flag, l.flag + l.count, NODE_FLUID);
}

void coupledLBM_sim3D::reset() {
  requireCommitted("reset");
  for (const auto& system : world->systems) system->requireNodes("reset");
  for (std::size_t i = 0; i < lattices.size(); ++i) {
    mlFlow& l = *lattices[i];
    // The time step tells the faces by position, not by flag: every node but empty and solid ones is fluid.
    for (std::size_t n = 0; n < l.count; ++n) {
      if (l.flag[n] == NODE_NONE || l.flag[n] == NODE_SOLID) continue;
      l.flag[n] = NODE_FLUID;
      l.ux[n] = l.uy[n] = l.uz[n] = 0.0f;
      const float rho = l.rou[n];
      for (int q = 0; q < d3q27::Q; ++q) l.f[q * l.count + n] = l.fPost[q * l.count + n] = d3q27::w[q] * rho;
    }
    if (!copiesEnabled()) continue;
    checkCudaErrors(cudaSetDevice(solver->gpuDeviceId));
    mlFlow* dev = solver->lbm_dev_gpu[i];
    checkCudaErrors(cudaMemcpy(solver->forcex_dev_vec[i], l.forcex, l.count * sizeof(double), cudaMemcpyHostToDevice));
    checkCudaErrors(cudaMemcpy(&(dev->forcex), &solver->forcex_dev_vec[i], sizeof(double*), cudaMemcpyHostToDevice));
    checkCudaErrors(cudaMemcpy(solver->forcey_dev_vec[i], l.forcey, l.count * sizeof(double), cudaMemcpyHostToDevice));
    checkCudaErrors(cudaMemcpy(&(dev->forcey), &solver->forcey_dev_vec[i], sizeof(double*), cudaMemcpyHostToDevice));
    checkCudaErrors(cudaMemcpy(solver->forcez_dev_vec[i], l.forcez, l.count * sizeof(double), cudaMemcpyHostToDevice));
    checkCudaErrors(cudaMemcpy(&(dev->forcez), &solver->forcez_dev_vec[i], sizeof(double*), cudaMemcpyHostToDevice));
    // The populations above are built on the host densities, which the next upload does not carry: the
    // first collision would read the last step's densities against them.
    checkCudaErrors(
        cudaMemcpy(solver->rou_dev_vec[i], l.rou, l.count * sizeof(mlDensity<float>), cudaMemcpyHostToDevice));
    // The collision's fitted rate is the one state it carries between steps; a node whose fit turns
    // non-positive keeps it, so a rerun starts from the commit's zero rates as a fresh run does.
    std::fill(l.Sopt, l.Sopt + l.count, 0.0f);
    checkCudaErrors(cudaMemcpy(solver->Sopt_dev_vec[i], l.Sopt, l.count * sizeof(float), cudaMemcpyHostToDevice));
  }
  world->reset();
  solver->farField = mlFarField{};  // a rerun chooses its outflow plane afresh, as a fresh run does
  centreOnReferenceFrame();
  iterNum = 0;
  syncState = HOST_EDITED;
}

void coupledLBM_sim3D::log() {
  std::cout << "##System Info##" << std::endl;
  for (std::size_t i = 0; i < lattices.size(); ++i) {
    simParams& p = *params[i];
    const mlFlow& l = *lattices[i];
    const float dx = p.dx;
    mlLatticeUnits u = p.toLatticeUnits();
    std::printf("time step: %fs   space resolution:%f m \n", u.l0p * u.u0k / (u.N * u.u0p[0]), dx);
    std::printf("PML Width: %d \n", p.pml_width);
    u = p.toLatticeUnits();
    std::printf("|  u0k:       %f    |  u0p:     %f m/s    |   l0p: %f m   | rou0p  %f |\n", u.u0k, u.u0p[0], u.l0p,
                u.rou0p);
    std::printf("|  v0k:       %f    |  v0p:     %f m/s    |\n", u.v0k, u.visp);
    std::printf("Reynolds number :  %f \n", u.Reynolds);
    std::cout << "##Fluid Info##" << std::endl;
    std::printf("start (%f,%f,%f)   width %.4f height %.4f depth %.4f \n", l.start[0], l.start[1], l.start[2],
                l.param->width, l.param->height, l.param->depth);
    std::printf("samples  %d %d %d \n", l.param->samples[0], l.param->samples[1], l.param->samples[2]);
  }
  std::fflush(stdout);
}
