// The fluid time step: which kernels run in which mode and frame, in which shapes, what the coupling
// solver is asked, what is refused, and the moving frame's forces seen through a whole step.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/mlsolver/couplingMode.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/writeFluidVTK.h"
#include "simulatorInterface/FluidHelper.h"
#include "stepFixture.h"

namespace {

using step_test::CommittedSolver;
using Names = std::vector<std::string>;

Names launchedKernels() {
  Names names;
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

const Names kLattice = {"mlAddForcetoUOptKernel", "mlCollideAddForceHighorderFiitingKernel", "mlCuStream3dOptKernel",
                        "mlBndCondNEE_Unified", "mlCalOneOrderMomentOptKernel"};
const Names kPointSet = {"mlInterpolateFluidForceKernel", "mlSpreadForceKernel"};

Names operator+(Names a, const Names& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Without a fluid mode only a moving frame's centre is launched (one thread); the box is centred on the
// frame. A world without a frame is fixed, whatever it claims. An empty lattice launches nothing. The
// coupling solver steps once per lattice, with dt = tp and forceScale = l0p / N.
TEST_F(SolverStep, LaunchesWhatTheModeAndTheFrameAsk) {
  const struct {
    const char* name;
    int mode;
    bool inertial, hasFrame;
    int lattices, pointSets;
    float height;
    Names kernels;
    float startX;  // of lattice 0 after the step (the frame sits at x = 1)
  } cases[] = {
      {"no_fluid", NO_FLUID, false, true, 2, 1, 1, Names(2, "mlSetFlowCenterKernel"), 0},
      {"empirical", EMPIRICAL, false, true, 2, 1, 1, Names(2, "mlSetFlowCenterKernel"), 0},
      {"two_way", TWO_WAY, true, true, 1, 2, 1, kLattice + kPointSet + kPointSet, -1},
      {"one_way_no_points", ONE_WAY, true, true, 1, 0, 1, kLattice, -1},
      {"no_frame", TWO_WAY, false, false, 1, 0, 1, kLattice, -1},
      {"empty_lattice", TWO_WAY, true, true, 1, 1, 0, {}, -1},
  };
  for (const auto& c : cases) {
    CommittedSolver s(c.lattices == 1 ? std::vector{latticeBox(2, c.height, 1, 0.25f)}
                                      : std::vector{latticeBox(2, c.height, 1, 0.25f), latticeBox(2, 1, 1, 0.5f)});
    s.coupling->inertial = c.inertial;
    s.coupling->hasFrame = c.hasFrame;
    s.coupling->frame.setTranslation(Eigen::Vector3d(1.0, 2.0, -3.0));
    for (int k = 0; k < c.pointSets; ++k) s.addPoints(std::make_unique<mlLagrangeBoundary>(3 + k, 0.01f));
    dz::device::clearLaunchLog();
    s.solver.solverStep(c.mode);
    EXPECT_EQ(launchedKernels(), c.kernels) << c.name;
    for (const auto& r : dz::device::launchLog())
      EXPECT_TRUE(std::string(r.kernel) != "mlSetFlowCenterKernel" || r.grid.x * r.block.x * r.block.y == 1u);
    ASSERT_EQ(s.coupling->calls.size(), static_cast<std::size_t>(c.lattices)) << c.name;
    for (const auto& call : s.coupling->calls) {
      EXPECT_EQ(call.mode, c.mode);
      EXPECT_FLOAT_EQ(call.dt, s.solver.units.l0p * s.solver.units.u0k / (s.solver.units.N * s.solver.units.u0p[0]));
      EXPECT_EQ(call.forceScale, s.solver.units.l0p / s.solver.units.N);
    }
    FluidHelper::download(s.solver, 0);
    EXPECT_FLOAT_EQ(s.lattices[0]->start[0], c.startX) << c.name;
    EXPECT_FLOAT_EQ(s.lattices[0]->start[2], c.startX == 0 ? -3.5f : -0.5f) << c.name;
  }
}

TEST_F(SolverStep, LaunchShapesFollowTheLatticeAndPointCounts) {
  // nx = 33, ny = 16, nz = 2: the 32 x 4 kernels launch 2 x 4 blocks a layer, the 32 x 16 ones 2 x 1.
  CommittedSolver c({latticeBox(33, 16, 2, 1.0f)});
  c.addPoints(std::make_unique<mlLagrangeBoundary>(401, 0.01f));
  c.addPoints(std::make_unique<mlLagrangeBoundary>(6401, 0.01f));
  c.solver.solverStep(TWO_WAY);
  using Shape = std::vector<unsigned>;  // grid x, y, z, block x, y, z
  const Shape narrow{2, 4, 2, 32, 4, 1}, deep{2, 1, 2, 32, 16, 1}, few{5, 5, 1, 4, 4, 4}, many{5, 5, 5, 4, 4, 4};
  const std::vector<Shape> expected = {narrow, narrow, deep, deep, narrow, few, few, many, many};
  const auto& log = dz::device::launchLog();
  ASSERT_EQ(log.size(), expected.size());
  for (std::size_t k = 0; k < log.size(); ++k)
    EXPECT_EQ(Shape({log[k].grid.x, log[k].grid.y, log[k].grid.z, log[k].block.x, log[k].block.y, log[k].block.z}),
              expected[k])
        << log[k].kernel;
}

// Nothing to step, or nothing to step with: nothing is launched and the world is not stepped. Released
// memory is refused before the first launch, so nothing reads a null record.
TEST_F(SolverStep, MissingOrReleasedPartsAreRefused) {
  mlSinglePhaseSolverNew none;
  none.couplingSolver = std::make_shared<step_test::RecordingCouplingSolver>();
  none.solverStep(TWO_WAY);  // no lattice: returns at once
  CommittedSolver freed({latticeBox(2, 1, 1, 0.25f)});
  freed.solver.freeGpu();
  EXPECT_THROW(freed.solver.solverStep(TWO_WAY), std::logic_error);
  EXPECT_THROW(FluidHelper::upload(freed.solver, 0), std::out_of_range);
  EXPECT_THROW(FluidHelper::download(freed.solver, 0), std::out_of_range);
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
  EXPECT_TRUE(freed.coupling->calls.empty() && c.coupling->calls.empty());
}

// The frame reaches the open boundary. A uniform flow of 0.25 along x enters a fixed box at x = 0 faster
// than the inflow limit, so the plane's first moment is cut to 0. A box whose frame moves at 0.05 m/s along
// -y (lattice 0.05: u0p = u0k) sees the water cross it at +0.05 along y: the low y plane takes it, the
// high y plane becomes the outflow plane and keeps its neighbour's velocity (0.25 along x, nothing along
// y) at density 1.
TEST_F(SolverStep, OpenBoundaryReceivesTheFrameAndItsVelocity) {
  auto p = std::make_shared<simParams>();
  p->setup_mode = simParams::MANUAL;
  p->width = 4;
  p->height = p->depth = 2;
  p->l0p = 1;
  p->N = 4;  // dx = 0.25 m
  p->u0k = p->u0p = 0.1f;
  for (bool inertial : {true, false}) {
    CommittedSolver c({p});
    c.coupling->inertial = inertial;
    c.coupling->frame.setClassicDerivatives(Eigen::Vector3d(0, -0.05, 0));
    mlFlow& l = *c.lattices[0];
    for (std::size_t i = 0; i < l.count; ++i) setNodeVelocity(l, static_cast<std::int32_t>(i), 0.25f, 0.0f, 0.0f);
    FluidHelper::upload(c.solver, 0);
    c.solver.solverStep(TWO_WAY);
    FluidHelper::download(c.solver, 0);
    const int nx = l.param->samples[0], ny = l.param->samples[1];
    auto moment = [&](int x, int y, int z) {
      const std::size_t i = (static_cast<std::size_t>(z) * ny + y) * nx + x;
      Eigen::Vector3d m = Eigen::Vector3d::Zero();
      for (int q = 0; q < 27; ++q)
        m += l.f[q * l.count + i] * Eigen::Vector3d(d3q27::ex[q], d3q27::ey[q], d3q27::ez[q]);
      return m;
    };
    if (inertial) {
      EXPECT_NEAR(moment(0, 3, 3).x(), 0.0, 0.01);
      EXPECT_NEAR(moment(0, 3, 3).y(), 0.0, 1e-6);
      continue;
    }
    EXPECT_EQ(c.solver.farField.outflowAxis, 1);
    EXPECT_EQ(c.solver.farField.outflowSide, 1);
    EXPECT_NEAR(moment(5, 0, 3).y(), 0.05, 1e-3);
    EXPECT_NEAR(moment(5, 0, 3).x(), 0.0, 1e-3);
    EXPECT_NEAR(moment(5, ny - 1, 3).y(), 0.0, 1e-3);
    EXPECT_NEAR(moment(5, ny - 1, 3).x(), 0.25, 1e-3);
  }
}

// One step of a fluid at rest (dx = l0p / N = 0.5 m, u0p = u0k, so a step lasts 0.5 s) in a frame turned a
// quarter about z (its x axis is the world's y axis): every node gains its acceleration times 0.5 s.
TEST_F(SolverStep, TheFramesForcesActInItsAxesAtTheNodesPositionInIt) {
  auto p = std::make_shared<simParams>();
  p->setup_mode = simParams::MANUAL;
  p->width = p->height = p->depth = p->l0p = 4;
  p->N = 8;
  p->u0k = p->u0p = 0.1f;
  const double A = 1e-4, w = 0.01;
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  T.translation() = Eigen::Vector3d(0.3, -0.2, 0.0);
  // Accelerating along world x, its own -y axis, pushes the fluid along +y. Spinning about z pushes node
  // (5, 6, 4), at R^T (0.5, 1, 0) m = (1, -0.5, 0) m in the frame, outwards by w^2 r.
  const struct {
    Eigen::Vector3d omega, acceleration, expected;
  } cases[] = {{{0, 0, 0}, {A, 0, 0}, {0, A / 2, 0}}, {{0, 0, w}, {0, 0, 0}, {w * w / 2, -w * w / 4, 0}}};
  for (const auto& c : cases) {
    CommittedSolver s({p});
    s.coupling->inertial = false;
    s.coupling->frame.setRelativeTransform(T);
    s.coupling->frame.setClassicDerivatives(Eigen::Vector3d::Zero(), c.omega, c.acceleration);
    s.solver.solverStep(TWO_WAY);
    FluidHelper::download(s.solver, 0);
    const mlFlow& l = *s.lattices[0];
    const std::size_t i = (4 * 8 + 6) * 8 + 5;
    // Summing 27 populations near 1/27 in float leaves rounding of about 1e-7.
    EXPECT_NEAR(l.ux[i], c.expected.x(), 2e-7);
    EXPECT_NEAR(l.uy[i], c.expected.y(), 2e-7);
    EXPECT_NEAR(l.uz[i], c.expected.z(), 2e-7);
    EXPECT_FLOAT_EQ(l.start[0], 0.3f - 2.0f);  // the box follows the frame
  }
}

}  // namespace
