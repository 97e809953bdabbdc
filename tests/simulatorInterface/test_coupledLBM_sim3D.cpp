// Lifecycle, step modes and the host/device sync state of the coupled simulator.
#include <functional>
#include <limits>
#include <numeric>

#include "duriz/mlsolver/d3q27.h"
#include "gpu/launchLog.h"
#include "simFixture.h"

namespace {

using namespace simtest;
using Eigen::Vector3f;

// A second commit frees the replaced solver's device memory, device lattice records included.
TEST(coupledLBM_sim3D, CommitPutsEveryNodeAtRestOnBothSides) {
  const auto before = dz::device::counters();
  {
    auto world = std::make_shared<skWorld>(Vector3d::Zero());
    const auto sim = committed(world);
    EXPECT_EQ(sim->iterNum, 0);
    EXPECT_EQ(sim->syncState, Sim::DEVICE_NEWER);
    EXPECT_FLOAT_EQ(world->getTimestep(), 0.025f);  // l0p u0k / (N u0p)
    EXPECT_FLOAT_EQ(sim->solver->units.tp, 0.025f);
    const mlFlow& l = *sim->lattices[0];
    const mlSinglePhaseSolverNew& s = *sim->solver;
    ASSERT_EQ(l.count, kCount);
    std::vector<float> weights;
    for (int q = 0; q < 27; ++q) weights.insert(weights.end(), kCount, d3q27::w[q]);
    EXPECT_EQ(std::vector<float>(l.f, l.f + 27 * kCount), weights);
    EXPECT_EQ(std::vector<float>(l.fPost, l.fPost + 27 * kCount), weights);
    EXPECT_EQ(deviceArray(s.f_dev_vec[0], 27 * kCount), weights);
    EXPECT_EQ(deviceArray(s.fPost_dev_vec[0], 27 * kCount), weights);
    EXPECT_EQ(deviceArray(s.ux_dev_vec[0], kCount), std::vector<float>(kCount, 0.0f));
    const auto rou = deviceArray(s.rou_dev_vec[0], kCount);
    for (std::size_t i = 0; i < kCount; ++i) ASSERT_TRUE(l.rou[i] == 1.0f && rou[i] == 1.0f) << i;

    const auto once = dz::device::counters();
    EXPECT_EQ(once.liveAllocations, before.liveAllocations + 14);  // 13 arrays and the record
    sim->commitInit();
    EXPECT_EQ(dz::device::counters().liveAllocations, once.liveAllocations);
    EXPECT_EQ(dz::device::counters().liveBytes, once.liveBytes);
  }
  EXPECT_EQ(dz::device::counters().liveAllocations, before.liveAllocations);
  EXPECT_EQ(dz::device::counters().liveBytes, before.liveBytes);
}

// Without a world only commitInit is named; with one, every call that needs the commit.
TEST(coupledLBM_sim3D, CallsOutOfOrderThrowNamingTheCall) {
  Sim sim(box(), 0);
  const Eigen::MatrixXd rows = Eigen::MatrixXd::Zero(1, 3);
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"commitInit", [&] { sim.commitInit(); }},
      {"step", [&] { sim.step(TWO_WAY); }},
      {"reset", [&] { sim.reset(); }},
      {"set_force", [&] { sim.set_force(0, 0, 0, 1, 1, 1); }},
      {"set_force_all", [&] { sim.set_force_all(rows, rows); }},
      {"set_velocity", [&] { sim.set_velocity(0, 0, 0, 1, 1, 1); }},
      {"set_velocity_all", [&] { sim.set_velocity_all(rows, rows); }},
      {"dismissinlet", [&] { sim.dismissinlet(); }},
      {"saveScene", [&] { sim.saveScene(0, BODY | FLUID); }},
      {"saveObjectsData", [&] { sim.saveObjectsData("x"); }},
      {"saveFluidData", [&] { sim.saveFluidData("x"); }},
  };
  for (const auto& [name, call] : calls) {
    EXPECT_EQ(testsupport::thrownWhat<std::logic_error>(call).rfind(name + ":", 0), 0u) << name;
    if (name == "commitInit") sim.attachWorld(std::make_shared<skWorld>(Vector3d::Zero()));
  }
  EXPECT_EQ(sim.syncState, Sim::DEVICE_NEWER);
}

// An empty world: the fluid steps alone. A force set on the host waits through a NO_FLUID step and goes
// up with the next TWO_WAY step, whose collision turns it into momentum; a save brings that back, and a
// host edit after a further fluid step starts from the device's data.
TEST(coupledLBM_sim3D, HostEditsReachTheDeviceWithTheNextFluidStep) {
  const auto sim = committed(nullptr, box(2, 2, 2));
  const mlFlow& l = *sim->lattices[0];
  const std::size_t centre = (4 * 8 + 4) * 8 + 4;
  const float fx = 1e-3f;
  sim->set_force(0, 0, 0, fx, 0, 0);
  EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
  EXPECT_EQ(l.forcex[centre], fx);
  sim->step(NO_FLUID);
  EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
  EXPECT_EQ(deviceArray(sim->solver->forcex_dev_vec[0], l.count)[centre], 0.0);

  sim->step(TWO_WAY);
  EXPECT_EQ(sim->syncState, Sim::DEVICE_NEWER);
  EXPECT_EQ(sim->iterNum, 2);
  const fs::path dir = freshFolder("sync");
  sim->mainDataFolderPath = dir.string() + "/";
  sim->saveScene(1, FLUID);
  EXPECT_EQ(sim->syncState, Sim::HOST_FRESH);
  EXPECT_TRUE(fs::exists(dir / "Fluid/0_vis_fluid00001.vtk"));
  // Streaming only moves momentum: the lattice holds the one step's impulse of the force.
  EXPECT_NEAR(std::accumulate(l.ux, l.ux + l.count, 0.0), fx, 1e-6);
  EXPECT_NEAR(std::accumulate(l.uy, l.uy + l.count, 0.0), 0.0, 1e-6);

  sim->step(TWO_WAY);
  sim->set_force(0, 0, 0, 0, 0, 0);
  EXPECT_EQ(std::vector<float>(l.ux, l.ux + l.count), deviceArray(sim->solver->ux_dev_vec[0], l.count));
  EXPECT_EQ(l.forcex[centre], 0.0);
  fs::remove_all(dir);
}

// The box follows a frame the test moves: centred on it at commit, then moved on the device by every
// step, on the host by the next download. A step without fluid kernels makes a fresh host copy stale;
// pending host edits keep their data and take the moved origin, and reset its start and the outflow
// plane that the frame's travel chose.
TEST(coupledLBM_sim3D, BoxFollowsANonInertialFrameOnDeviceThenHost) {
  auto world = std::make_shared<FrameWorld>();
  world->frame.setTranslation(Vector3d(1, 2, 3));
  const auto sim = committed(world);
  EXPECT_EQ(hostOrigin(*sim), Vector3f(0, 1.25f, 2.5f));
  EXPECT_EQ(deviceOrigin(*sim), Vector3f(0, 1.25f, 2.5f));

  const fs::path dir = freshFolder("frame");
  sim->mainDataFolderPath = dir.string() + "/";
  sim->saveScene(0, 0);
  EXPECT_EQ(sim->syncState, Sim::HOST_FRESH);
  world->frame.setTranslation(Vector3d(1.5, 2, 3));
  sim->step(NO_FLUID);
  EXPECT_EQ(deviceOrigin(*sim), Vector3f(0.5f, 1.25f, 2.5f));
  EXPECT_EQ(hostOrigin(*sim), Vector3f(0, 1.25f, 2.5f));
  EXPECT_EQ(sim->syncState, Sim::DEVICE_NEWER);
  sim->saveScene(1, FLUID);
  EXPECT_EQ(hostOrigin(*sim), Vector3f(0.5f, 1.25f, 2.5f));
  EXPECT_EQ(lineOf(dir / "Fluid/0_vis_fluid00001.vtk", 6), "ORIGIN 0.5 1.25 2.5");
  fs::remove_all(dir);

  sim->set_force(1.5f, 2, 3, 1e-3f, 0, 0);
  world->frame.setTranslation(Vector3d(2, 2, 3));
  world->frame.setClassicDerivatives(Vector3d(0, 0, -1));  // the water leaves by the high z face
  sim->step(EMPIRICAL);
  EXPECT_EQ(sim->solver->farField.outflowAxis, 2);
  EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
  EXPECT_EQ(hostOrigin(*sim), Vector3f(1, 1.25f, 2.5f));
  EXPECT_EQ(sim->lattices[0]->forcex[node(4, 3, 2)], 1e-3f);

  // Reset brings the bodies, and with them the frame, back: the host box follows at once.
  world->frame.setTranslation(Vector3d(1, 2, 3));
  sim->reset();
  EXPECT_EQ(hostOrigin(*sim), Vector3f(0, 1.25f, 2.5f));
  EXPECT_EQ(sim->solver->farField.outflowAxis, 0);
  EXPECT_EQ(sim->solver->farField.outflowSide, -1);
}

long launchCount(const std::vector<std::string>& launches, const std::string& kernel) {
  return std::count_if(launches.begin(), launches.end(), [&](const auto& l) { return l.rfind(kernel + " ", 0) == 0; });
}

// Every mode counts the step and samples the markers; only the fluid modes run the lattice and
// immersed-boundary kernels and take pending host edits up.
TEST(coupledLBM_sim3D, EachModeRunsItsStages) {
  auto world = std::make_shared<skWorld>(Vector3d::Zero());
  world->addSkeleton(fish(jointType::fixed, 200));
  const auto sim = committed(world, box(0.8f, 0.4f, 0.4f, 20));
  const auto count = launchCount;
  for (couplingMode mode : {TWO_WAY, ONE_WAY, NO_FLUID, EMPIRICAL}) {
    SCOPED_TRACE(mode);
    const bool fluid = mode == TWO_WAY || mode == ONE_WAY;
    sim->set_force(0, 0, 0, 1e-4f, 0, 0);
    const int before = sim->iterNum;
    const auto launches = gputest::launchesOf([&] { sim->step(mode); });
    EXPECT_EQ(sim->iterNum, before + 1);
    EXPECT_EQ(count(launches, "mlCollideAddForceHighorderFiitingKernel"), fluid ? 1 : 0);
    EXPECT_EQ(count(launches, "mlInterpolateFluidForceKernel"), fluid ? 1 : 0);
    EXPECT_EQ(count(launches, "getMarkersPropertiesGPUKernel"), 1);
    EXPECT_EQ(sim->syncState, fluid ? Sim::DEVICE_NEWER : Sim::HOST_EDITED);
  }
}

// A step the world would refuse before it begins (a joint whose node a script removed) is refused before
// anything runs, in every mode: no launch, the step not counted; a reset is refused before it clears the
// fluid's fitted rates.
TEST(coupledLBM_sim3D, AStepTheWorldRefusesLaunchesNothing) {
  auto world = std::make_shared<skWorld>(Vector3d::Zero());
  const auto body = fish(jointType::fixed, 200);
  world->addSkeleton(body);
  const auto sim = committed(world, box(0.8f, 0.4f, 0.4f, 20));
  sim->step(TWO_WAY);
  body->description->joints[1]->node = nullptr;
  for (couplingMode mode : {TWO_WAY, ONE_WAY, NO_FLUID, EMPIRICAL}) {
    SCOPED_TRACE(mode);
    const auto launches = gputest::launchesOf([&] { EXPECT_THROW(sim->step(mode), std::logic_error); });
    EXPECT_TRUE(launches.empty());
    EXPECT_EQ(sim->iterNum, 1);
    EXPECT_EQ(world->time, sim->solver->units.tp);
  }
  const std::size_t n = sim->lattices[0]->count;
  const auto rates = deviceArray(sim->solver->Sopt_dev_vec[0], n);
  ASSERT_NE(rates, std::vector<float>(n, 0.0f));
  EXPECT_THROW(sim->reset(), std::logic_error);
  EXPECT_EQ(deviceArray(sim->solver->Sopt_dev_vec[0], n), rates);
}

// A free fish falling through the fluid: reset with the host copy untouched since the commit, and the same
// steps repeat a fresh simulator's bit for bit, fluid and body alike, in both fluid modes.
TEST(coupledLBM_sim3D, ResetThenTheSameStepsRepeatAFreshRun) {
  for (couplingMode mode : {TWO_WAY, ONE_WAY}) {
    SCOPED_TRACE(mode);
    std::vector<double> state[2];  // after a reset, and fresh: the populations and the body's state
    for (int run = 0; run < 2; ++run) {
      const auto body = fish(jointType::floating, 200);
      const auto world = std::make_shared<skWorld>(Vector3d(0, -9.8, 0));
      world->addSkeleton(body);
      const auto sim = committed(world, box(0.8f, 0.4f, 0.4f, 20));
      const std::size_t n = sim->lattices[0]->count;
      for (int i = 0; i < (run == 0 ? 6 : 3); ++i) {
        if (i == 3) {
          sim->reset();
          // The fitted rates restart from zero too: a node whose fit turns non-positive would keep a stale one.
          EXPECT_EQ(deviceArray(sim->solver->Sopt_dev_vec[0], n), std::vector<float>(n, 0.0f));
        }
        sim->step(mode);
      }
      const auto f = deviceArray(sim->solver->f_dev_vec[0], 27 * n);
      state[run].assign(f.begin(), f.end());
      for (const Eigen::VectorXd& q : {body->getPositions(), body->getVelocities()})
        state[run].insert(state[run].end(), q.data(), q.data() + q.size());
    }
    EXPECT_TRUE(state[0] == state[1]);
  }
}

// A default simulator has no record, so nothing to commit. One built from another takes its device id and
// records but lays out lattices of its own at rest; lattices are rebuilt only before the commit.
TEST(coupledLBM_sim3D, DefaultAndCopiedSimulatorsBuildTheirOwnLattices) {
  Sim empty;
  EXPECT_TRUE(empty.params.empty() && empty.lattices.empty() && !empty.getParams() && !empty.solver);
  empty.attachWorld(std::make_shared<skWorld>(Vector3d::Zero()));
  EXPECT_NE(testsupport::thrownWhat<std::logic_error>([&] { empty.commitInit(); }).find("no parameter record"),
            std::string::npos);
  EXPECT_THROW(empty.getIterPerSave(30), std::logic_error);
  EXPECT_TRUE(Sim(empty).lattices.empty());
  EXPECT_EQ(testsupport::captureStdout([&] { empty.log(); }), "##System Info##\n");

  Sim source(box(), 0);
  source.gpuId = 3;
  source.mainDataFolderPath = "elsewhere/";
  source.lattices[0]->rou[5] = 2.0f;
  source.prepareHostAccess(false);  // nothing to download before the commit; the host is edited
  Sim copy(source);
  EXPECT_EQ(copy.getParams(), source.getParams());
  EXPECT_EQ(copy.gpuId, 3);
  EXPECT_EQ(copy.mainDataFolderPath, "./data/vis_data/");
  EXPECT_EQ(copy.syncState, Sim::DEVICE_NEWER);
  ASSERT_EQ(copy.lattices.size(), 1u);
  const mlFlow& l = *copy.lattices[0];
  EXPECT_EQ(std::vector<int>(l.param->samples, l.param->samples + 3), (std::vector<int>{8, 6, 4}));
  EXPECT_TRUE(l.f != source.lattices[0]->f && l.param != source.lattices[0]->param);
  EXPECT_EQ(l.rou[5], 1.0f);

  copy.lattices[0]->rou[5] = 3.0f;
  copy.buildLattices();
  ASSERT_EQ(copy.lattices.size(), 1u);
  EXPECT_EQ(copy.lattices[0]->rou[5], 1.0f);
  const auto sim = committed();
  EXPECT_THROW(sim->buildLattices(), std::logic_error);
  EXPECT_EQ(sim->solver->lbmvec[0], sim->lattices[0].get());
}

// The record edited after the lattice was built: a field that shapes the lattice is refused by the next
// commit, which names it and leaves the committed simulator as it was; the fields that set units, the slip
// ratio and the open-boundary planes reach the lattice on both sides.
TEST(coupledLBM_sim3D, ACommitRefusesAReshapedRecordAndTakesTheOtherEdits) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    std::function<void(simParams&)> edit;
    std::string refusal;
  } shapes[] = {
      {[](simParams& p) { p.x0 = 0.125f; },
       "commitInit: simParam.x0 = 0.125 differs from 0, the value the lattice was built"},
      {[](simParams& p) { p.y0 = -1e-30f; }, "commitInit: simParam.y0 = -1e-30 differs from 0,"},
      {[&](simParams& p) { p.z0 = nan; }, "commitInit: simParam.z0 = nan differs from 0,"},
      {[](simParams& p) { p.width = 2.25f; }, "commitInit: simParam.width = 2.25 differs from 2,"},
      {[](simParams& p) { p.height = 1.0f; }, "commitInit: simParam.height = 1 differs from 1.5,"},
      {[](simParams& p) { p.depth = 4.0f; }, "commitInit: simParam.depth = 4 differs from 1,"},
      {[](simParams& p) { p.dx = 0.125f; }, "commitInit: simParam.dx = 0.125 differs from 0.25,"},
      {[](simParams& p) { p.N = 8.0f; }, "commitInit: simParam.N = 8 differs from 4,"},
      {[](simParams& p) { p.l0p = 2.0f; }, "commitInit: simParam.l0p = 2 differs from 1,"},
      {[](simParams& p) { p.pml_width = 2; }, "simParam: pml_width = 2 is wider than half the lattice"},
  };
  for (const auto& c : shapes) {
    const auto sim = committed();
    const mlSinglePhaseSolverNew* mirror = sim->solver.get();
    c.edit(*sim->params.front());
    const std::string what = testsupport::thrownWhat<std::invalid_argument>([&] { sim->commitInit(); });
    EXPECT_EQ(what.rfind(c.refusal, 0), 0u) << what;
    EXPECT_EQ(sim->solver.get(), mirror);
    sim->step(TWO_WAY);
  }

  const auto sim = committed();
  simParams& p = *sim->params.front();
  p.u0p = 2, p.visp = 0.03f, p.slip_ratio = 0.5f, p.pml_width = 1;
  sim->commitInit();
  EXPECT_FLOAT_EQ(sim->world->getTimestep(), 1 * 0.1f / (4 * 2.0f));  // l0p u0k / (N u0p)
  mlFlow record;
  MLFluidParam param{};
  ASSERT_EQ(cudaMemcpy(&record, sim->solver->lbm_dev_gpu[0], sizeof record, cudaMemcpyDeviceToHost), cudaSuccess);
  record.dropPointers();
  ASSERT_EQ(cudaMemcpy(&param, sim->solver->param_dev_vec[0], sizeof param, cudaMemcpyDeviceToHost), cudaSuccess);
  for (const auto& [viscosity, layout] :
       {std::pair{sim->lattices[0]->viscosity, *sim->lattices[0]->param}, std::pair{record.viscosity, param}}) {
    EXPECT_FLOAT_EQ(viscosity, 4 * 0.1f * 0.03f / (2 * 1.0f));  // N u0k visp / (u0p l0p)
    EXPECT_EQ(layout.slip_ratio, 0.5f);
    EXPECT_EQ(layout.pml_width, 1);
  }
}

// Host access downloads what the device made newer; kept fresh, the next fluid step uploads nothing.
TEST(coupledLBM_sim3D, PrepareHostAccessKeepsTheHostFreshOrMarksItEdited) {
  const auto sim = committed(nullptr, box(2, 2, 2));
  const mlFlow& l = *sim->lattices[0];
  sim->set_force(0, 0, 0, 1e-3f, 0, 0);
  for (bool keepFresh : {true, false}) {
    SCOPED_TRACE(keepFresh);
    sim->step(TWO_WAY);
    const auto ux = deviceArray(sim->solver->ux_dev_vec[0], l.count);
    ASSERT_NE(std::vector<float>(l.ux, l.ux + l.count), ux);
    sim->prepareHostAccess(keepFresh);
    EXPECT_EQ(std::vector<float>(l.ux, l.ux + l.count), ux);
    EXPECT_EQ(sim->syncState, keepFresh ? Sim::HOST_FRESH : Sim::HOST_EDITED);
  }
  sim->prepareHostAccess(true);  // an edited host stays edited
  EXPECT_EQ(sim->syncState, Sim::HOST_EDITED);
}

// A body added after the commit is coupled from the next step on, and so is a world attached after it,
// which alone is stepped from then on.
TEST(coupledLBM_sim3D, BodiesAndWorldsAfterTheCommitTakePartFromTheNextStep) {
  auto world = std::make_shared<skWorld>(Vector3d::Zero()), other = std::make_shared<skWorld>(Vector3d::Zero());
  const auto sim = committed(world, box(0.8f, 0.4f, 0.4f, 20));
  const auto interpolations = [&] {
    return launchCount(gputest::launchesOf([&] { sim->step(TWO_WAY); }), "mlInterpolateFluidForceKernel");
  };
  world->addSkeleton(fish(jointType::fixed, 100));
  EXPECT_EQ(interpolations(), 1);
  for (int i = 0; i < 2; ++i) other->addSkeleton(fish(jointType::fixed, 100));
  sim->attachWorld(other);
  EXPECT_EQ(interpolations(), 2);
  EXPECT_EQ(world->time, 0.005f);
  EXPECT_EQ(other->time, 0.005f);
}

TEST(coupledLBM_sim3D, IterationsPerSave) {
  Sim sim(box(), 0);
  simParams& p = *sim.params[0];
  p.N = 256, p.l0p = 4, p.u0p = 2, p.u0k = 0.1f;
  EXPECT_EQ(sim.getIterPerSave(30), 42);     // 256 * 2 / (30 * 4 * 0.1) = 42.7
  EXPECT_EQ(sim.getIterPerSave(100000), 1);  // a frame shorter than one step
  EXPECT_THROW(sim.getIterPerSave(0), std::invalid_argument);
}

}  // namespace
