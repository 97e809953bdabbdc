// A committed fluid solver on the device layer, driven by a small coupling solver of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <dart/dynamics/SimpleFrame.hpp>

#include <memory>
#include <vector>

#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "duriz/mlsolver/mlBaseCouplingSolver.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "mlsolver/latticeBox.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace step_test {

// Records what the fluid step asks of the rigid-body side; its frame is a SimpleFrame the test moves.
class RecordingCouplingSolver : public mlBaseCouplingSolver {
 public:
  struct Call {
    int mode;
    float dt;
    float forceScale;
  };

  dart::dynamics::SimpleFrame frame{dart::dynamics::Frame::World(), "reference"};
  bool inertial = true;
  bool hasFrame = true;
  std::vector<IBBoundaryMemMgr*> boundaries;
  std::vector<Call> calls;

  void step(int mode, float dt, float forceScale) override { calls.push_back({mode, dt, forceScale}); }
  std::vector<IBBoundaryMemMgr*> getLagrangeBoundaries() override { return boundaries; }
  void setGravity(const Eigen::Vector3d&) override {}
  void setTimestep(float) override {}
  void reset() override {}
  dart::dynamics::Frame* getRefFrame() override {
    if (!hasFrame) return nullptr;
    return &frame;
  }
  bool isInertialFrame() override { return inertial; }
};

// Lattices at rest in equilibrium, mirrored on the device, with lattice 0's units (tp set as the
// simulator sets it).
class CommittedSolver {
 public:
  explicit CommittedSolver(std::vector<std::shared_ptr<simParams>> params)
      : coupling(std::make_shared<RecordingCouplingSolver>()) {
    solver.couplingSolver = coupling;
    for (auto& p : params) {
      lattices.push_back(initFlow(p));
      mlFlow& l = *lattices.back();
      for (std::size_t i = 0; i < l.count; ++i) setNodeVelocity(l, static_cast<std::int32_t>(i), 0, 0, 0);
      solver.units_vec.push_back(p->toLatticeUnits());
    }
    solver.units = solver.units_vec[0];
    solver.units.tp = solver.units.l0p * solver.units.u0k / (solver.units.N * solver.units.u0p[0]);
    for (auto& lattice : lattices) solver.addLattice(lattice.get());
  }
  ~CommittedSolver() { solver.freeGpu(); }

  // Adds a point set (already filled) and hands it to the solver as the world would.
  IBBoundaryMemMgr& addPoints(std::unique_ptr<mlLagrangeBoundary> points) {
    mirrors.push_back(std::make_unique<IBBoundaryMemMgr>());
    IBBoundaryMemMgr& m = *mirrors.back();
    m.attach(points.get());
    m.alloc();
    m.upload();
    pointSets.push_back(std::move(points));
    coupling->boundaries.push_back(&m);
    solver.ibBoundaries = coupling->boundaries;
    return m;
  }

  std::vector<std::unique_ptr<mlFlow>> lattices;
  std::vector<std::unique_ptr<mlLagrangeBoundary>> pointSets;
  std::vector<std::unique_ptr<IBBoundaryMemMgr>> mirrors;
  std::shared_ptr<RecordingCouplingSolver> coupling;
  mlSinglePhaseSolverNew solver;
};

}  // namespace step_test
