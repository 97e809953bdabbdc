// Node edits, reset and the set-up report of the coupled simulator, on the default 8 x 6 x 4 node box.
#include <functional>

#include "duriz/mlsolver/d3q27.h"
#include "simFixture.h"

namespace {

using namespace simtest;
using Nodes = std::vector<std::size_t>;

constexpr float kLow[3] = {-1, -0.75f, -0.5f}, kHigh[3] = {1, 0.75f, 0.5f};

class nodeEdits : public testing::Test {
 protected:
  // The nodes whose force is not zero.
  Nodes forced() const {
    Nodes nodes;
    for (std::size_t i = 0; i < l.count; ++i)
      if (l.forcex[i] != 0 || l.forcey[i] != 0 || l.forcez[i] != 0) nodes.push_back(i);
    return nodes;
  }
  long flagged(MLLATTICENODE_FLAG flag) const { return std::count(l.flag, l.flag + l.count, flag); }
  void expectEquilibrium(std::size_t i, float rho, float ux) const {
    for (int q = 0; q < 27; ++q) {
      EXPECT_EQ(l.f[q * l.count + i], d3q27::equilibrium(q, rho, ux, 0, 0)) << q;
      EXPECT_EQ(l.fPost[q * l.count + i], l.f[q * l.count + i]) << q;
    }
  }

  std::shared_ptr<skWorld> world = std::make_shared<skWorld>(Vector3d::Zero());
  std::unique_ptr<Sim> sim = committed(world);
  mlFlow& l = *sim->lattices[0];
};

// Forces are scaled by the node density (kept on the host here); a second force replaces the first.
TEST_F(nodeEdits, ForcesAtTheLowerCornerAndInsideScaleByDensity) {
  l.rou[0] = 2.0f;
  l.rou[node(4, 3, 2)] = 3.0f;
  sim->syncState = Sim::HOST_FRESH;
  sim->set_force(kLow[0], kLow[1], kLow[2], 1, 2, 3);
  sim->set_force(kLow[0], kLow[1], kLow[2], 0.5f, 0, -1);
  EXPECT_EQ(forced(), Nodes{0});
  EXPECT_EQ(Eigen::Vector3d(l.forcex[0], l.forcey[0], l.forcez[0]), Eigen::Vector3d(1, 0, -2));

  Eigen::MatrixXd positions(3, 3), values(3, 3);
  positions << 0, 0, 0, 5, 5, 5, kLow[0], kLow[1], kLow[2];
  values << 1, 2, 3, 4, 5, 6, 0.1, 0.2, 0.3;
  EXPECT_EQ(testsupport::captureStdout([&] { sim->set_force_all(positions, values); }), "-1 -0.75 -0.5\n");
  EXPECT_EQ(forced(), (Nodes{0, node(4, 3, 2)}));
  EXPECT_EQ(Eigen::Vector3d(l.forcex[node(4, 3, 2)], l.forcey[node(4, 3, 2)], l.forcez[node(4, 3, 2)]),
            Eigen::Vector3d(3, 6, 9));
  EXPECT_EQ(l.forcey[0], 0.2 * 2.0f);
  sim->set_velocity_all(positions, values * 0.01);
  EXPECT_EQ(l.flag[0], NODE_VELOCITY);
  EXPECT_EQ(l.uz[node(4, 3, 2)], 0.03f);
  EXPECT_EQ(flagged(NODE_VELOCITY), 2);
}

// Points 1e-3 outside any face change nothing, but still leave the host edited; points on an upper face
// (or a corner) go to the last node of that axis, never to another node or past the lattice.
TEST_F(nodeEdits, OutsidePointsAreSkippedAndUpperFacesTakeTheLastNode) {
  const struct {
    float x, y, z;
    Nodes expected;
  } cases[] = {{kLow[0] - 1e-3f, 0, 0, {}},
               {0, kLow[1] - 1e-3f, 0, {}},
               {0, 0, kLow[2] - 1e-3f, {}},
               {kHigh[0] + 1e-3f, 0, 0, {}},
               {0, kHigh[1] + 1e-3f, 0, {}},
               {0, 0, kHigh[2] + 1e-3f, {}},
               {kHigh[0], 0, 0, {node(7, 3, 2)}},
               {0, kHigh[1], 0, {node(4, 5, 2)}},
               {0, 0, kHigh[2], {node(4, 3, 3)}},
               {kHigh[0], kHigh[1], kHigh[2], {kCount - 1}},
               {kHigh[0] - 1e-4f, kHigh[1] - 1e-4f, kHigh[2] - 1e-4f, {kCount - 1}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " " << c.y << " " << c.z);
    sim->set_force(c.x, c.y, c.z, 1, 0, 0);
    sim->set_velocity(c.x, c.y, c.z, 0.01f, 0, 0);
    EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
    EXPECT_EQ(forced(), c.expected);
    EXPECT_EQ(flagged(NODE_VELOCITY), long(c.expected.size()));
    std::fill(l.forcex, l.forcex + l.count, 0.0);
    std::fill(l.flag, l.flag + l.count, NODE_FLUID);
  }
}

TEST_F(nodeEdits, BadScaleArraysOrValuesThrowBeforeAnyChange) {
  const Eigen::MatrixXd three = Eigen::MatrixXd::Zero(3, 3), two = Eigen::MatrixXd::Zero(2, 3),
                        flat = Eigen::MatrixXd::Zero(3, 2);
  for (int scale : {1, -1}) {
    EXPECT_THROW(sim->set_force(0, 0, 0, 1, 1, 1, scale), std::out_of_range);
    EXPECT_THROW(sim->set_velocity(0, 0, 0, 1, 1, 1, scale), std::out_of_range);
    EXPECT_THROW(sim->set_force_all(three, three, scale), std::out_of_range);
    EXPECT_THROW(sim->set_velocity_all(three, three, scale), std::out_of_range);
    EXPECT_THROW(sim->dismissinlet(scale), std::out_of_range);
  }
  EXPECT_THROW(sim->set_force_all(three, two), std::invalid_argument);
  EXPECT_THROW(sim->set_velocity_all(three, flat), std::invalid_argument);
  // A point or a value that is not finite, in any place.
  Eigen::MatrixXd bad = three;
  bad(2, 1) = NAN;
  const std::function<void()> nonFinite[] = {
      [&] { sim->set_force(NAN, 0, 0, 1, 1, 1); }, [&] { sim->set_velocity(0, 0, 0, 0, 0, -INFINITY); },
      [&] { sim->set_force_all(bad, three); },     [&] { sim->set_force_all(three, bad); },
      [&] { sim->set_velocity_all(bad, three); },  [&] { sim->set_velocity_all(three, bad); }};
  for (const auto& edit : nonFinite) EXPECT_THROW(edit(), std::invalid_argument);
  EXPECT_EQ(sim->syncState, Sim::DEVICE_NEWER);
}

TEST_F(nodeEdits, DismissinletKeepsThePrescribedState) {
  sim->dismissinlet();  // on the device's newer data
  EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
  sim->set_velocity(0, 0, 0, 0.05f, 0, 0);
  sim->dismissinlet();
  EXPECT_EQ(flagged(NODE_FLUID), long(l.count));
  EXPECT_EQ(l.ux[node(4, 3, 2)], 0.05f);
  expectEquilibrium(node(4, 3, 2), 1.0f, 0.05f);
}

TEST_F(nodeEdits, ResetReturnsEveryNodeButEmptyAndSolidToRest) {
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
  EXPECT_EQ(flagged(NODE_FLUID), long(kCount - 2));
  EXPECT_EQ(l.flag[node(1, 1, 1)], NODE_NONE);
  EXPECT_EQ(l.flag[node(2, 2, 2)], NODE_SOLID);
  EXPECT_EQ(l.ux[node(2, 2, 2)], 0.5f);
  EXPECT_EQ(l.ux[inlet], 0.0f);
  for (int q = 0; q < 27; ++q) EXPECT_EQ(l.f[q * l.count + inlet], d3q27::w[q] * 1.5f) << q;
  expectEquilibrium(face, 1.0f, 0.0f);
}

// The same before the commit, from the host lattice the constructor built.
TEST_F(nodeEdits, LogPrintsTheUnitsAndTheLattice) {
  EXPECT_EQ(testsupport::captureStdout([&] { sim->log(); }), testsupport::captureStdout([] { Sim(box(), 0).log(); }));
  EXPECT_EQ(testsupport::captureStdout([&] { sim->log(); }),
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
