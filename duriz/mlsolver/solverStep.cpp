// The fluid time step of mlSinglePhaseSolverNew.
#include <dart/dynamics/Frame.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "couplingMode.h"
#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/mlimmersedbnd/mlImmersedSolver.h"
#include "mlBaseCouplingSolver.h"
#include "mlSinglePhaseSolverNew.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

using dart::dynamics::Frame;

// How far (in units of the lattice velocity scale u0k) another plane's outward far-field velocity must lead
// the outflow plane's before it takes over.
constexpr float kOutflowHysteresis = 0.05f;

mlVelocity3D<double> toVelocity3D(const Eigen::Vector3d& v) { return {v.x(), v.y(), v.z()}; }

// The reference frame's motion relative to and in the axes of the world. Without a frame the domain is
// fixed: identity transform, no motion.
Eigen::Isometry3d worldTransform(const Frame* frame) {
  return frame ? frame->getWorldTransform() : Eigen::Isometry3d::Identity();
}
Eigen::Vector3d linearAcceleration(const Frame* frame) {
  return frame ? frame->getLinearAcceleration(Frame::World(), Frame::World()) : Eigen::Vector3d::Zero();
}
Eigen::Vector3d angularVelocity(const Frame* frame) {
  return frame ? frame->getAngularVelocity(Frame::World(), Frame::World()) : Eigen::Vector3d::Zero();
}
Eigen::Vector3d angularAcceleration(const Frame* frame) {
  return frame ? frame->getAngularAcceleration(Frame::World(), Frame::World()) : Eigen::Vector3d::Zero();
}

}  // namespace

void mlSinglePhaseSolverNew::solverStep(int couple_mode) {
  checkCudaErrors(cudaSetDevice(gpuDeviceId));
  if (lbmvec.empty()) return;
  if (!couplingSolver) throw std::logic_error("solverStep: the solver has no coupling solver");
  if (lbm_dev_gpu.size() != lbmvec.size()) throw std::logic_error("solverStep: the lattices are not on the device");
  // Everything is checked before the first launch, so a refused step changes nothing.
  for (std::size_t i = 0; i < lbmvec.size(); ++i)
    if (lbmvec[i]->param == nullptr)
      throw std::logic_error("solverStep: lattice " + std::to_string(i) + " was released (deleteHostFlow)");
  for (const IBBoundaryMemMgr* b : ibBoundaries) b->requireAllocated("solverStep");

  for (std::size_t i = 0; i < lbmvec.size(); ++i) {
    mlFlow* dev = lbm_dev_gpu[i];
    const MLFluidParam& param = *lbmvec[i]->param;
    const Frame* frame = couplingSolver->getRefFrame();
    // A world without bodies has no frame: its domain stays fixed, as for an inertial frame.
    const bool inertial = frame == nullptr || couplingSolver->isInertialFrame();

    if (!inertial) {
      const Eigen::Vector3d centre = frame->getWorldTransform().translation();
      mlSetFlowCenterGpu(dev, static_cast<float>(centre.x()), static_cast<float>(centre.y()),
                         static_cast<float>(centre.z()));
    }

    const float s_x = units.u0k / units.u0p[0];
    const float s_y = units.u0k / units.u0p[1];
    const float s_z = units.u0k / units.u0p[2];
    const float s = units.u0k / std::max({units.u0p[0], units.u0p[1], units.u0p[2]});
    const Eigen::Isometry3d T = worldTransform(frame);
    if (!inertial) {
      // Water at rest in the world crosses the box at the frame's velocity reversed, in the box's axes.
      const Eigen::Vector3d v = T.rotation().transpose() * frame->getLinearVelocity(Frame::World(), Frame::World());
      farField.u[0] = static_cast<float>(-s_x * v.x());
      farField.u[1] = static_cast<float>(-s_y * v.y());
      farField.u[2] = static_cast<float>(-s_z * v.z());
      mlFollowOutflow(farField, kOutflowHysteresis * units.u0k);
    }

    // An empty lattice (an extent of 0) has nothing to launch over; its world still steps.
    if (isFluidMode(couple_mode) && lbmvec[i]->count > 0) {
      const Eigen::Isometry3d Tinv = T.inverse(Eigen::Isometry);
      mlTransform4d tinv;
      std::copy(Tinv.matrix().data(), Tinv.matrix().data() + 16, tinv.m);
      const Eigen::Vector3d alpha = angularAcceleration(frame);
      const Eigen::Vector3d omega = angularVelocity(frame);
      const Eigen::Vector3d a = linearAcceleration(frame);
      const Eigen::Vector3d a_f = T.rotation().transpose() * a;  // in the frame's axes
      const mlVelocity3D<double> accelScale{s_x * s_x * units.l0p / units.N, s_y * s_y * units.l0p / units.N,
                                            s_z * s_z * units.l0p / units.N};

      mlAddForcetoUOptGpu(dev, param, accelScale, toVelocity3D(a_f), toVelocity3D(omega), toVelocity3D(alpha), tinv, s);
      mlCollideAddForceHighorderFiitingGpu(dev, param);
      mlCuStream3dOptGpu(dev, param);
      mlBndCondNEEGpu(dev, param, inertial, farField);
      mlCalOneOrderMomentOptGpu(dev, param);

      mlImmersedSolver::step(*this, static_cast<int>(i));
    }

    couplingSolver->step(couple_mode, units.tp, units.l0p / units.N);
  }
}
