// Coupled simulators for the tests: a small box in fixed units, a world whose reference frame the test
// moves, reads of the device lattice, and output folders of their own.
#pragma once

#include <filesystem>
#include <set>

#include "SkeletonDynamics/skFixture.h"
#include "SkeletonDynamics/skWorld.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "simulatorInterface/coupledLBM_sim3D.h"

namespace simtest {

using namespace sktest;
using Sim = coupledLBM_sim3D;
namespace fs = std::filesystem;

// width x height x depth metres centred on the origin, spacing 1 / N (l0p = 1 m), u0p = 1 m/s, u0k = 0.1:
// tp = 0.025 s for N = 4. The default box has 8 x 6 x 4 nodes of spacing 0.25 from (-1, -0.75, -0.5).
inline std::shared_ptr<simParams> box(float width = 2, float height = 1.5f, float depth = 1, float N = 4) {
  auto p = std::make_shared<simParams>();
  p->setup_mode = simParams::MANUAL;
  p->width = width, p->height = height, p->depth = depth;
  p->N = N, p->l0p = 1, p->u0p = 1, p->visp = 0.01f;
  return p;
}
constexpr std::size_t kCount = 8 * 6 * 4;
inline std::size_t node(int x, int y, int z) { return (z * 6 + y) * 8 + x; }

// A world whose fluid domain follows a frame the test places.
struct FrameWorld : skWorld {
  FrameWorld() : skWorld(Vector3d::Zero()) {}
  Frame* getRefFrame() override { return &frame; }
  bool isInertialFrame() override { return false; }
  SimpleFrame frame{Frame::World(), "moving"};
};

// Committed on the given world (or an empty one).
inline std::unique_ptr<Sim> committed(std::shared_ptr<skWorld> world = nullptr,
                                      std::shared_ptr<simParams> params = box()) {
  auto sim = std::make_unique<Sim>(params, 0);
  sim->attachWorld(world ? world : std::make_shared<skWorld>(Vector3d::Zero()));
  sim->commitInit();
  return sim;
}

inline Eigen::Vector3f deviceOrigin(const Sim& sim) {
  mlFlow record;
  EXPECT_EQ(cudaMemcpy(&record, sim.solver->lbm_dev_gpu[0], sizeof record, cudaMemcpyDeviceToHost), cudaSuccess);
  record.dropPointers();
  return Eigen::Vector3f(record.start[0], record.start[1], record.start[2]);
}

inline Eigen::Vector3f hostOrigin(const Sim& sim) { return Eigen::Map<const Eigen::Vector3f>(sim.lattices[0]->start); }

// An empty folder of this process, removed again by the caller.
inline fs::path freshFolder(const std::string& name) {
  const fs::path dir = testsupport::tempPath(name);
  fs::remove_all(dir);
  return dir;
}

inline std::set<std::string> filesUnder(const fs::path& dir) {
  std::set<std::string> files;
  if (fs::exists(dir))
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (e.is_regular_file()) files.insert(fs::relative(e.path(), dir).string());
  return files;
}

// Line n (from 1) of a text file.
inline std::string lineOf(const fs::path& path, int n) {
  std::ifstream in(path);
  std::string line;
  while (n-- > 0) std::getline(in, line);
  return line;
}

}  // namespace simtest
