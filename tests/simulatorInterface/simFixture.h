// Coupled simulators for the tests: a small box in fixed units, worlds without bodies or with a reference
// frame the test moves, the fish model as a body, and reads of the device lattice.
#pragma once

#include <gtest/gtest.h>

#include <dart/dynamics/SimpleFrame.hpp>

#include <memory>
#include <string>
#include <vector>

#include "SkeletonDynamics/skSystem.h"
#include "SkeletonDynamics/skWorld.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "simulatorInterface/coupledLBM_sim3D.h"
#include "skeleton/SkeletonSystem.h"

namespace simtest {

inline const std::string kModels = DZ_TEST_MODELS_DIR;

// width x height x depth metres centred on the origin, spacing 1 / N (l0p = 1 m), u0p = 1 m/s, u0k = 0.1:
// tp = 0.025 s for N = 4. The default box has 8 x 6 x 4 nodes.
inline std::shared_ptr<simParams> box(float width = 2, float height = 1.5f, float depth = 1, float N = 4) {
  auto p = std::make_shared<simParams>();
  p->setup_mode = simParams::MANUAL;
  p->width = width;
  p->height = height;
  p->depth = depth;
  p->N = N;
  p->l0p = 1;
  p->u0p = 1;
  p->visp = 0.01f;
  return p;
}

// A world whose fluid domain follows a frame the test places.
class FrameWorld : public skWorld {
 public:
  FrameWorld() : skWorld(Eigen::Vector3d::Zero()) {}
  dart::dynamics::Frame* getRefFrame() override { return &frame; }
  bool isInertialFrame() override { return false; }
  dart::dynamics::SimpleFrame frame{dart::dynamics::Frame::World(), "moving"};
};

inline std::unique_ptr<coupledLBM_sim3D> committed(std::shared_ptr<skWorld> world,
                                                   std::shared_ptr<simParams> params = box()) {
  auto sim = std::make_unique<coupledLBM_sim3D>(params, 0);
  sim->attachWorld(world ? world : std::make_shared<skWorld>(Eigen::Vector3d::Zero()));
  sim->commitInit();
  return sim;
}

// The fish model (two meshes) with the given root joint, markers at the snout and the fin tip.
inline std::shared_ptr<skSystem> fish(jointType root, int sampleNum = 300,
                                      const Eigen::Vector3d& translation = Eigen::Vector3d::Zero()) {
  auto d = std::make_shared<SkeletonSystem>(kModels + "/fish.fbx", 0);
  d->rootJoint->setJointType(root);
  d->markerPlacements = {Eigen::Vector3d(0.2, 0, 0), Eigen::Vector3d(-0.25, 0.06, 0.003)};
  return std::make_shared<skSystem>(d, sampleNum, 0, translation, Eigen::Vector3d::Zero(), Eigen::Vector3d::Ones());
}

// A device array of lattice 0, read without touching the host lattice.
template <class T>
std::vector<T> deviceArray(const T* dev, std::size_t n) {
  std::vector<T> out(n);
  EXPECT_EQ(cudaMemcpy(out.data(), dev, n * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
  return out;
}

inline Eigen::Vector3f deviceOrigin(const coupledLBM_sim3D& sim) {
  mlFlow record;
  EXPECT_EQ(cudaMemcpy(&record, sim.solver->lbm_dev_gpu[0], sizeof record, cudaMemcpyDeviceToHost), cudaSuccess);
  record.dropPointers();
  return Eigen::Vector3f(record.start[0], record.start[1], record.start[2]);
}

inline Eigen::Vector3f hostOrigin(const coupledLBM_sim3D& sim) {
  const float* s = sim.lattices[0]->start;
  return Eigen::Vector3f(s[0], s[1], s[2]);
}

}  // namespace simtest
