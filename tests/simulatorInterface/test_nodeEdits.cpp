// Node edits, reset and the set-up report of the coupled simulator, on the 8 x 6 x 4 node box of
// spacing 0.25 m from (-1, -0.75, -0.5) to (1, 0.75, 0.5).
#include <cmath>

#include "duriz/mlsolver/d3q27.h"
#include "simFixture.h"

namespace {

using namespace simtest;
using Eigen::Vector3d;
using Sim = coupledLBM_sim3D;

constexpr float kLow[3] = {-1, -0.75f, -0.5f};
constexpr float kHigh[3] = {1, 0.75f, 0.5f};
constexpr std::size_t kCount = 8 * 6 * 4;

std::size_t node(int x, int y, int z) { return (z * 6 + y) * 8 + x; }

// The nodes whose force is not zero.
std::vector<std::size_t> forcedNodes(const mlFlow& l) {
  std::vector<std::size_t> nodes;
  for (std::size_t i = 0; i < l.count; ++i)
    if (l.forcex[i] != 0 || l.forcey[i] != 0 || l.forcez[i] != 0) nodes.push_back(i);
  return nodes;
}

TEST(nodeEdits, LowerCornerIsNodeZeroAndASecondForceReplacesTheFirst) {
  const auto sim = committed(nullptr);
  mlFlow& l = *sim->lattices[0];
  l.rou[0] = 2.0f;
  sim->syncState = Sim::HOST_FRESH;  // keep the host density
  sim->set_force(kLow[0], kLow[1], kLow[2], 1, 2, 3);
  sim->set_force(kLow[0], kLow[1], kLow[2], 0.5f, 0, -1);
  EXPECT_EQ(forcedNodes(l), std::vector<std::size_t>{0});
  EXPECT_EQ(l.forcex[0], 1.0);  // times the density
  EXPECT_EQ(l.forcey[0], 0.0);
  EXPECT_EQ(l.forcez[0], -2.0);
}

// Points 1e-3 outside any face change nothing, but still leave the host edited; points on an upper face
// (or a corner) go to the last node of that axis, never to another node or past the lattice.
TEST(nodeEdits, OutsidePointsAreSkippedAndUpperFacesTakeTheLastNode) {
  const struct {
    float x, y, z;
    long expected;  // -1: nothing written
  } cases[] = {
      {kLow[0] - 1e-3f, 0, 0, -1},
      {0, kLow[1] - 1e-3f, 0, -1},
      {0, 0, kLow[2] - 1e-3f, -1},
      {kHigh[0] + 1e-3f, 0, 0, -1},
      {0, kHigh[1] + 1e-3f, 0, -1},
      {0, 0, kHigh[2] + 1e-3f, -1},
      {kHigh[0], 0, 0, long(node(7, 3, 2))},
      {0, kHigh[1], 0, long(node(4, 5, 2))},
      {0, 0, kHigh[2], long(node(4, 3, 3))},
      {kHigh[0], kHigh[1], kHigh[2], long(kCount - 1)},
      {kHigh[0] - 1e-4f, kHigh[1] - 1e-4f, kHigh[2] - 1e-4f, long(kCount - 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " " << c.y << " " << c.z);
    const auto sim = committed(nullptr);
    const mlFlow& l = *sim->lattices[0];
    sim->set_force(c.x, c.y, c.z, 1, 0, 0);
    sim->set_velocity(c.x, c.y, c.z, 0.01f, 0, 0);
    EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
    const std::vector<std::size_t> expected =
        c.expected < 0 ? std::vector<std::size_t>{} : std::vector<std::size_t>{std::size_t(c.expected)};
    EXPECT_EQ(forcedNodes(l), expected);
    EXPECT_EQ(std::count(l.flag, l.flag + l.count, NODE_VELOCITY), long(expected.size()));
  }
}

TEST(nodeEdits, ListFormsScaleByDensityAndPrintTheOrigin) {
  const auto sim = committed(nullptr);
  mlFlow& l = *sim->lattices[0];
  Eigen::MatrixXd positions(3, 3), values(3, 3);
  positions << 0, 0, 0, 5, 5, 5, kLow[0], kLow[1], kLow[2];
  values << 1, 2, 3, 4, 5, 6, 0.1, 0.2, 0.3;
  l.rou[node(4, 3, 2)] = 3.0f;
  sim->syncState = Sim::HOST_FRESH;
  testing::internal::CaptureStdout();
  sim->set_force_all(positions, values);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-1 -0.75 -0.5\n");
  EXPECT_EQ((std::vector<std::size_t>{0, node(4, 3, 2)}), forcedNodes(l));
  EXPECT_EQ(l.forcez[node(4, 3, 2)], 9.0);
  EXPECT_EQ(l.forcey[0], 0.2);

  sim->set_velocity_all(positions, values * 0.01);
  EXPECT_EQ(l.flag[0], NODE_VELOCITY);
  EXPECT_EQ(l.uz[node(4, 3, 2)], 0.03f);
  EXPECT_EQ(std::count(l.flag, l.flag + l.count, NODE_VELOCITY), 2);
}

TEST(nodeEdits, BadScaleOrArraysThrowBeforeAnyChange) {
  const auto sim = committed(nullptr);
  const Eigen::MatrixXd three = Eigen::MatrixXd::Zero(3, 3), two = Eigen::MatrixXd::Zero(2, 3);
  const Eigen::MatrixXd flat = Eigen::MatrixXd::Zero(3, 2);
  for (int scale : {1, -1}) {
    EXPECT_THROW(sim->set_force(0, 0, 0, 1, 1, 1, scale), std::out_of_range);
    EXPECT_THROW(sim->set_velocity(0, 0, 0, 1, 1, 1, scale), std::out_of_range);
    EXPECT_THROW(sim->set_force_all(three, three, scale), std::out_of_range);
    EXPECT_THROW(sim->set_velocity_all(three, three, scale), std::out_of_range);
    EXPECT_THROW(sim->dismissinlet(scale), std::out_of_range);
  }
  EXPECT_THROW(sim->set_force_all(three, two), std::invalid_argument);
  EXPECT_THROW(sim->set_velocity_all(two, three), std::invalid_argument);
  EXPECT_THROW(sim->set_force_all(flat, flat), std::invalid_argument);
  EXPECT_THROW(sim->set_velocity_all(three, flat), std::invalid_argument);
  EXPECT_EQ(sim->syncState, Sim::DEVICE_NEWER);
}

void expectEquilibrium(const mlFlow& l, std::size_t i, float rho, float ux) {
  for (int q = 0; q < 27; ++q) {
    EXPECT_EQ(l.f[q * l.count + i], d3q27::equilibrium(q, rho, ux, 0, 0)) << q;
    EXPECT_EQ(l.fPost[q * l.count + i], l.f[q * l.count + i]) << q;
  }
}

TEST(nodeEdits, DismissinletKeepsThePrescribedState) {
  const auto sim = committed(nullptr);
  mlFlow& l = *sim->lattices[0];
  sim->set_velocity(0, 0, 0, 0.05f, 0, 0);
  sim->dismissinlet();
  EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
  EXPECT_EQ(std::count(l.flag, l.flag + l.count, NODE_FLUID), long(l.count));
  EXPECT_EQ(l.ux[node(4, 3, 2)], 0.05f);
  expectEquilibrium(l, node(4, 3, 2), 1.0f, 0.05f);
}

TEST(nodeEdits, ResetReturnsEveryNodeButEmptyAndSolidToRest) {
  auto world = std::make_shared<skWorld>(Vector3d::Zero());
  const auto sim = committed(world);
  mlFlow& l = *sim->lattices[0];
  sim->step(NO_FLUID);
  sim->set_velocity(0, 0, 0, 0.05f, 0, 0);
  const std::size_t inlet = node(4, 3, 2), face = node(0, 0, 0);
  l.rou[inlet] = 1.5f;
  l.flag[node(1, 1, 1)] = NODE_NONE;
  l.flag[node(2, 2, 2)] = NODE_SOLID;
  l.ux[node(2, 2, 2)] = 0.5f;
  sim->reset();
  EXPECT_EQ(sim->iterNum, 0);
  EXPECT_EQ(world->time, 0.0f);
  EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
  EXPECT_EQ(l.flag[inlet], NODE_FLUID);
  EXPECT_EQ(l.flag[face], NODE_FLUID);
  EXPECT_EQ(std::count(l.flag, l.flag + l.count, NODE_FLUID), long(kCount - 2));
  EXPECT_EQ(l.flag[node(1, 1, 1)], NODE_NONE);
  EXPECT_EQ(l.flag[node(2, 2, 2)], NODE_SOLID);
  EXPECT_EQ(l.ux[node(2, 2, 2)], 0.5f);
  EXPECT_EQ(l.ux[inlet], 0.0f);
  for (int q = 0; q < 27; ++q) EXPECT_EQ(l.f[q * l.count + inlet], d3q27::w[q] * 1.5f) << q;
  expectEquilibrium(l, face, 1.0f, 0.0f);
}

TEST(nodeEdits, LogPrintsTheUnitsAndTheLattice) {
  const auto sim = committed(nullptr);
  testing::internal::CaptureStdout();
  sim->log();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "##System Info##\n"
            "time step: 0.025000s   space resolution:0.250000 m \n"
            "PML Width: 0 \n"
            "|  u0k:       0.100000    |  u0p:     1.000000 m/s    |   l0p: 1.000000 m   | rou0p  1.250000 |\n"
            "|  v0k:       0.004000    |  v0p:     0.010000 m/s    |\n"
            "Reynolds number :  100.000000 \n"
            "##Fluid Info##\n"
            "start (-1.000000,-0.750000,-0.500000)   width 2.0000 height 1.5000 depth 1.0000 \n"
            "samples  8 6 4 \n");
}

}  // namespace
