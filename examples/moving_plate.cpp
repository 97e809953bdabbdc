// A square plate of Lagrangian points towed through a fluid at rest: runs the fluid step with the
// immersed boundary for a few hundred steps and writes the fluid as VTK files.
//
//   moving_plate [output folder] [steps]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "duriz/mlsolver/couplingMode.h"
#include "duriz/mlsolver/mlBaseCouplingSolver.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "duriz/mlsolver/writeFluidVTK.h"
#include "simulatorInterface/FluidHelper.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

// The rigid-body side of this example: one plate moving at a constant velocity, no frame to follow.
class TowedPlate : public mlBaseCouplingSolver {
 public:
  TowedPlate(float side, float spacing, float speed) : speed_(speed) {
    const int n = static_cast<int>(side / spacing) + 1;
    points_ = std::make_unique<mlLagrangeBoundary>(n * n, spacing * spacing);
    for (int j = 0, k = 0; j < n; ++j)
      for (int i = 0; i < n; ++i, ++k) {
        points_->coordx[k] = -0.5f;
        points_->coordy[k] = -0.5f * side + i * spacing;
        points_->coordz[k] = -0.5f * side + j * spacing;
        points_->normalx[k] = 1.0f;
        points_->ux[k] = speed;
      }
    mirror_.attach(points_.get());
    mirror_.alloc();
    mirror_.upload();
  }

  // Reads the forces the fluid step just computed, then moves the plate by one time step; the new
  // positions reach the device for the next fluid step.
  void step(int, float dt, float forceScale) override {
    mirror_.download();
    double sum = 0;
    for (int k = 0; k < points_->count; ++k) sum += points_->forcex[k];
    // Force densities times the volume each point stands for (its area times one spacing); the fluid
    // pushes back on the plate with the opposite force.
    force_ = -sum * points_->area * forceScale;
    for (int k = 0; k < points_->count; ++k) points_->coordx[k] += speed_ * dt;
    mirror_.upload();
  }
  std::vector<IBBoundaryMemMgr*> getLagrangeBoundaries() override { return {&mirror_}; }
  void setGravity(const Eigen::Vector3d&) override {}
  void setTimestep(float) override {}
  void reset() override {}
  dart::dynamics::Frame* getRefFrame() override { return nullptr; }
  bool isInertialFrame() override { return true; }

  double force() const { return force_; }  // N, along x, on the plate in the last step

 private:
  float speed_;
  double force_ = 0;
  std::unique_ptr<mlLagrangeBoundary> points_;
  IBBoundaryMemMgr mirror_;
};

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "moving_plate_output";
  const int steps = argc > 2 ? std::atoi(argv[2]) : 300;
  std::filesystem::create_directories(folder);

  // A 2 m x 1 m x 1 m box, 1/32 m spacing; the 0.4 m plate at 0.5 m/s makes a Reynolds number of 20.
  auto params = std::make_shared<simParams>();
  params->setup_mode = simParams::MANUAL;
  params->width = 2.0f;
  params->height = 1.0f;
  params->depth = 1.0f;
  params->l0p = 1.0f;
  params->N = 32.0f;
  params->u0p = 1.0f;
  params->visp = 0.01f;

  auto lattice = initFlow(params);
  for (std::size_t i = 0; i < lattice->count; ++i) setNodeVelocity(*lattice, static_cast<std::int32_t>(i), 0, 0, 0);

  mlSinglePhaseSolverNew solver;
  solver.units = params->toLatticeUnits();
  solver.units.tp = solver.units.l0p * solver.units.u0k / (solver.units.N * solver.units.u0p[0]);
  solver.units_vec.push_back(solver.units);
  auto plate = std::make_shared<TowedPlate>(0.4f, 0.5f / 32.0f, 0.5f);
  solver.couplingSolver = plate;
  solver.ibBoundaries = plate->getLagrangeBoundaries();
  solver.addLattice(lattice.get());

  const MLFluidParam& p = *lattice->param;
  std::printf("lattice %d x %d x %d, lattice viscosity %g, tp %g s, plate of %d points at 0.5 m/s\n", p.samples[0],
              p.samples[1], p.samples[2], lattice->viscosity, solver.units.tp,
              solver.ibBoundaries[0]->mllaboundary->count);

  const int every = 50;
  double seconds = 0;
  for (int step = 1; step <= steps; ++step) {
    const auto t0 = std::chrono::steady_clock::now();
    solver.solverStep(TWO_WAY);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (step % every == 0 || step == steps) {
      FluidHelper::download(solver, 0);
      char name[64];
      std::snprintf(name, sizeof name, "/vis_fluid%05d.vtk", step);
      if (!writeFluidVTK(*lattice, solver.units, folder + name, nullptr)) return 1;
      std::printf("step %4d  %.2f ms/step  %.1f MLUPS  force on the plate %.4f N  wrote %s%s\n", step,
                  1e3 * seconds / step, lattice->count * step / seconds / 1e6, plate->force(), folder.c_str(), name);
    }
  }
  solver.freeGpu();
  return 0;
}
