#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/mlsolver/couplingMode.h"
#include "duriz/mlsolver/writeFluidVTK.h"
#include "simulatorInterface/FluidHelper.h"
#include "stepFixture.h"

namespace {

using step_test::CommittedSolver;

std::vector<std::string> launchedKernels() {
  std::vector<std::string> names;
  for (const auto& r : dz::device::launchLog()) names.emplace_back(r.kernel);
  return names;
}

class SolverStep : public ::testing::Test {
 protected:
  void SetUp() override {
    dz::device::recordLaunches(true);
    dz::device::clearLaunchLog();
  }
  void TearDown() override {
    dz::device::recordLaunches(false);
    dz::device::clearLaunchLog();
  }
};

const std::vector<std::string> kLatticeKernels = {"mlAddForcetoUOptKernel", "mlCollideAddForceHighorderFiitingKernel",
                                                  "mlCuStream3dOptKernel", "mlBndCondNEE_Unified",
                                                  "mlCalOneOrderMomentOptKernel"};

TEST_F(SolverStep, NonFluidModesMoveTheOriginAndStepTheWorldOnly) {
  CommittedSolver c({latticeBox(2, 1, 1, 0.25f), latticeBox(2, 1, 1, 0.5f)});
  c.coupling->inertial = false;
  c.coupling->frame.setTranslation(Eigen::Vector3d(1.0, 2.0, -3.0));
  auto points = std::make_unique<mlLagrangeBoundary>(5, 0.01f);
  c.addPoints(std::move(points));

  for (int mode : {NO_FLUID, EMPIRICAL}) {
    dz::device::clearLaunchLog();
    c.coupling->calls.clear();
    c.solver.solverStep(mode);
    EXPECT_EQ(launchedKernels(), std::vector<std::string>(2, "mlSetFlowCenterKernel"));
    for (const auto& r : dz::device::launchLog()) {
      EXPECT_EQ(r.grid.x * r.grid.y * r.grid.z, 1u);
      EXPECT_EQ(r.block.x * r.block.y * r.block.z, 1u);
    }
    ASSERT_EQ(c.coupling->calls.size(), 2u);  // once per lattice
    for (const auto& call : c.coupling->calls) {
      EXPECT_EQ(call.mode, mode);
      EXPECT_FLOAT_EQ(call.dt, c.solver.units.l0p * c.solver.units.u0k / (c.solver.units.N * c.solver.units.u0p[0]));
      EXPECT_EQ(call.forceScale, c.solver.units.l0p / c.solver.units.N);
    }
  }
  // The device origin follows the frame: the box is centred on it.
  FluidHelper::download(c.solver, 0);
  EXPECT_FLOAT_EQ(c.lattices[0]->start[0], 1.0f - 1.0f);
  EXPECT_FLOAT_EQ(c.lattices[0]->start[1], 2.0f - 0.5f);
  EXPECT_FLOAT_EQ(c.lattices[0]->start[2], -3.0f - 0.5f);
}

TEST_F(SolverStep, InertialWorldRunsTheFiveKernelsThenTheImmersedBoundary) {
  CommittedSolver c({latticeBox(2, 1, 1, 0.25f)});
  c.addPoints(std::make_unique<mlLagrangeBoundary>(3, 0.01f));
  c.addPoints(std::make_unique<mlLagrangeBoundary>(4, 0.01f));
  c.solver.solverStep(TWO_WAY);
  std::vector<std::string> expected = kLatticeKernels;
  for (int b = 0; b < 2; ++b) {
    expected.push_back("mlInterpolateFluidForceKernel");
    expected.push_back("mlSpreadForceKernel");
  }
  EXPECT_EQ(launchedKernels(), expected);
  ASSERT_EQ(c.coupling->calls.size(), 1u);
  EXPECT_EQ(c.coupling->calls[0].mode, TWO_WAY);
}

TEST_F(SolverStep, EmptyBoundaryListRunsTheLatticeKernelsAndStepsTheWorld) {
  CommittedSolver c({latticeBox(2, 1, 1, 0.25f)});
  c.solver.solverStep(ONE_WAY);
  EXPECT_EQ(launchedKernels(), kLatticeKernels);
  ASSERT_EQ(c.coupling->calls.size(), 1u);
  EXPECT_EQ(c.coupling->calls[0].mode, ONE_WAY);
}

TEST_F(SolverStep, WorldWithoutFrameIsTreatedAsFixed) {
  CommittedSolver c({latticeBox(2, 1, 1, 0.25f)});
  c.coupling->hasFrame = false;
  c.coupling->inertial = false;  // claims to move, but has no frame to follow
  c.solver.solverStep(TWO_WAY);
  EXPECT_EQ(launchedKernels(), kLatticeKernels);
  FluidHelper::download(c.solver, 0);
  EXPECT_EQ(c.lattices[0]->start[0], -1.0f);
}

TEST_F(SolverStep, NoLatticeReturnsAtOnce) {
  mlSinglePhaseSolverNew solver;
  auto coupling = std::make_shared<step_test::RecordingCouplingSolver>();
  solver.couplingSolver = coupling;
  solver.solverStep(TWO_WAY);
  EXPECT_TRUE(coupling->calls.empty());
  EXPECT_TRUE(dz::device::launchLog().empty());
}

TEST_F(SolverStep, EmptyLatticeLaunchesNothingButStepsTheWorld) {
  CommittedSolver c({latticeBox(2, 0, 1, 0.25f)});
  ASSERT_EQ(c.lattices[0]->count, 0u);
  c.addPoints(std::make_unique<mlLagrangeBoundary>(3, 0.01f));
  c.solver.solverStep(TWO_WAY);
  EXPECT_TRUE(launchedKernels().empty());
  EXPECT_EQ(c.coupling->calls.size(), 1u);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST_F(SolverStep, FreedSolverRefusesToStepOrCopy) {
  CommittedSolver c({latticeBox(2, 1, 1, 0.25f)});
  c.solver.freeGpu();
  EXPECT_THROW(c.solver.solverStep(TWO_WAY), std::logic_error);
  EXPECT_THROW(FluidHelper::upload(c.solver, 0), std::out_of_range);
  EXPECT_THROW(FluidHelper::download(c.solver, 0), std::out_of_range);
  EXPECT_TRUE(c.coupling->calls.empty());
}

// Released memory is refused before the first launch, so nothing reads a null record.
TEST_F(SolverStep, ReleasedPointSetsAndLatticesAreRefused) {
  CommittedSolver c({latticeBox(2, 1, 1, 0.25f)});
  IBBoundaryMemMgr& points = c.addPoints(std::make_unique<mlLagrangeBoundary>(3, 0.01f));
  points.freeGpu();
  EXPECT_THROW(c.solver.solverStep(TWO_WAY), std::logic_error);
  points.alloc();
  points.upload();
  deleteHostFlow(*c.lattices[0]);
  EXPECT_THROW(c.solver.solverStep(TWO_WAY), std::logic_error);
  EXPECT_THROW(writeFluidVTK(*c.lattices[0], c.solver.units, ::testing::TempDir() + "released.vtk", nullptr),
               std::logic_error);
  EXPECT_TRUE(launchedKernels().empty());
  EXPECT_TRUE(c.coupling->calls.empty());
}

TEST_F(SolverStep, LaunchShapesFollowTheLatticeAndPointCounts) {
  // dx 1 over 33 x 16 x 2 gives nx = 33, ny = 16, nz = 2.
  CommittedSolver c({latticeBox(33, 16, 2, 1.0f)});
  ASSERT_EQ(c.lattices[0]->param->samples[0], 33);
  ASSERT_EQ(c.lattices[0]->param->samples[1], 16);
  c.addPoints(std::make_unique<mlLagrangeBoundary>(401, 0.01f));
  c.addPoints(std::make_unique<mlLagrangeBoundary>(6401, 0.01f));
  c.solver.solverStep(TWO_WAY);
  const auto& log = dz::device::launchLog();
  ASSERT_EQ(log.size(), 9u);
  for (int k = 0; k < 5; ++k) {
    const bool deep = log[k].block.y == 16;
    EXPECT_EQ(log[k].block.x, 32u);
    EXPECT_EQ(log[k].grid.x, 2u) << log[k].kernel;
    EXPECT_EQ(log[k].grid.y, deep ? 1u : 4u) << log[k].kernel;
    EXPECT_EQ(log[k].grid.z, 2u) << log[k].kernel;
  }
  EXPECT_EQ(log[2].block.y, 16u);  // streaming
  EXPECT_EQ(log[3].block.y, 16u);  // open boundary
  EXPECT_EQ(log[0].block.y, 4u);
  for (int k = 5; k < 9; ++k) {
    EXPECT_EQ(log[k].block.x * log[k].block.y * log[k].block.z, 64u);
    EXPECT_EQ(log[k].grid.x, 5u);
    EXPECT_EQ(log[k].grid.y, 5u);
    EXPECT_EQ(log[k].grid.z, k < 7 ? 1u : 5u) << k;
  }
}

// The inertial flag reaches the open boundary: with inflow on the x faces the step must match the
// kernel sequence run by hand with `true`, and differ from the one with `false`.
TEST_F(SolverStep, OpenBoundaryReceivesTheInertialFlag) {
  auto p = latticeBox(4, 2, 2, 0.25f);
  CommittedSolver stepped({p}), byHandTrue({p}), byHandFalse({p});
  for (CommittedSolver* c : {&stepped, &byHandTrue, &byHandFalse}) {
    mlFlow& l = *c->lattices[0];
    for (std::size_t i = 0; i < l.count; ++i) setNodeVelocity(l, static_cast<std::int32_t>(i), 0.25f, 0.0f, 0.01f);
    FluidHelper::upload(c->solver, 0);
  }
  stepped.solver.solverStep(TWO_WAY);
  for (auto [c, inertial] : {std::pair{&byHandTrue, true}, std::pair{&byHandFalse, false}}) {
    mlSinglePhaseSolverNew& s = c->solver;
    const MLFluidParam& param = *c->lattices[0]->param;
    mlFlow* dev = s.lbm_dev_gpu[0];
    const float sc = s.units.u0k / s.units.u0p[0];
    const double scale = sc * sc * s.units.l0p / s.units.N;
    mlTransform4d identity{};
    for (int d = 0; d < 4; ++d) identity.m[d * 5] = 1.0;
    mlAddForcetoUOptGpu(dev, param, {scale, scale, scale}, {}, {}, {}, identity, sc);
    mlCollideAddForceHighorderFiitingGpu(dev, param);
    mlCuStream3dOptGpu(dev, param);
    mlBndCondNEEGpu(dev, param, inertial);
    mlCalOneOrderMomentOptGpu(dev, param);
  }
  auto distributions = [](CommittedSolver& c) {
    FluidHelper::download(c.solver, 0);
    const mlFlow& l = *c.lattices[0];
    return std::vector<float>(l.f, l.f + 27 * l.count);
  };
  const auto a = distributions(stepped), t = distributions(byHandTrue), f = distributions(byHandFalse);
  EXPECT_EQ(a, t);
  EXPECT_NE(t, f);
}

// The fictitious forces of the moving frame, seen in one step of a fluid at rest: in lattice units
// (dx = 1 m, u0p = u0k, so accelScale = 1) every node gains the momentum of its force.
class MovingFrameStep : public SolverStep {
 protected:
  MovingFrameStep() {
    auto p = std::make_shared<simParams>();
    p->setup_mode = simParams::MANUAL;
    p->width = p->height = p->depth = 8;
    p->l0p = 8;
    p->N = 8;
    p->u0k = 0.1f;
    p->u0p = 0.1f;
    c = std::make_unique<CommittedSolver>(std::vector<std::shared_ptr<simParams>>{p});
    c->coupling->inertial = false;
    // The frame is turned a quarter about z: its x axis is the world's y axis.
    Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
    T.linear() = Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ()).toRotationMatrix();
    T.translation() = Eigen::Vector3d(0.3, -0.2, 0.0);
    c->coupling->frame.setRelativeTransform(T);
  }

  // Momentum of node (x, y, z) after one TWO_WAY step.
  Eigen::Vector3d momentumAfterStep(int x, int y, int z) {
    c->solver.solverStep(TWO_WAY);
    FluidHelper::download(c->solver, 0);
    const mlFlow& l = *c->lattices[0];
    const std::size_t i = (static_cast<std::size_t>(z) * 8 + y) * 8 + x;
    return Eigen::Vector3d(l.ux[i], l.uy[i], l.uz[i]);
  }

  std::unique_ptr<CommittedSolver> c;
};

TEST_F(MovingFrameStep, LinearAccelerationActsInTheFrameAxes) {
  // The frame accelerates along world x, which is its own -y axis: the fluid is pushed along +y.
  const double A = 1e-4;
  c->coupling->frame.setClassicDerivatives(Eigen::Vector3d::Zero(), Eigen::Vector3d::Zero(), Eigen::Vector3d(A, 0, 0));
  const Eigen::Vector3d m = momentumAfterStep(4, 4, 4);
  // Summing 27 populations near 1/27 in float leaves rounding of about 1e-7.
  EXPECT_NEAR(m.x(), 0.0, 2e-7);
  EXPECT_NEAR(m.y(), A, 2e-7);
  EXPECT_NEAR(m.z(), 0.0, 2e-7);
}

TEST_F(MovingFrameStep, CentrifugalForceUsesTheNodePositionInTheFrame) {
  // Spin about z: the centrifugal acceleration is omega^2 r, r the node's position in the frame. The
  // box is centred on the frame origin t, so node (x, y, z) lies at t + (x - 4, y - 4, z - 4) in the
  // world, and at R^T (x - 4, y - 4, z - 4) = (y - 4, -(x - 4), z - 4) in the frame.
  const double w = 0.01;
  c->coupling->frame.setClassicDerivatives(Eigen::Vector3d::Zero(), Eigen::Vector3d(0, 0, w));
  const Eigen::Vector3d m = momentumAfterStep(5, 6, 4);
  const Eigen::Vector3d r(6 - 4, -(5 - 4), 0);
  EXPECT_NEAR(m.x(), w * w * r.x(), 2e-7);
  EXPECT_NEAR(m.y(), w * w * r.y(), 2e-7);
  EXPECT_NEAR(m.z(), 0.0, 2e-7);
  FluidHelper::download(c->solver, 0);
  EXPECT_FLOAT_EQ(c->lattices[0]->start[0], 0.3f - 4.0f);  // the box follows the frame
}

}  // namespace
