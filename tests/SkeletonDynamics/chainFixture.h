// A small articulated body built in code, wrapped as an skSystem wraps its links: a free base that
// translates and turns, and two links on revolute joints (about z, then y), all moving. Link order as in
// a body: the world, base, upper, lower, then the translating reference frame "simple_frame".
#pragma once

#include <gtest/gtest.h>
#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/EllipsoidShape.hpp>
#include <dart/dynamics/FreeJoint.hpp>
#include <dart/dynamics/RevoluteJoint.hpp>
#include <dart/dynamics/ShapeNode.hpp>
#include <dart/dynamics/SimpleFrame.hpp>
#include <dart/dynamics/Skeleton.hpp>

#include <memory>
#include <string>
#include <type_traits>

#include "SkeletonDynamics/skLinkMgr.h"
#include "skeleton/SkeletonLink.h"

namespace chain_test {

using namespace dart::dynamics;
using Eigen::Isometry3d;
using Eigen::Vector3d;

enum LinkIndex { kWorld, kBase, kUpper, kLower, kReference, kLinkCount };

constexpr double kMass = 2.0;
constexpr double kInertia = 0.5;  // isotropic, about the body origin

// A body `length` long along its x axis below `parent`, its joint `offset` from the parent's origin, its
// ellipsoid centred half way along, its centre of mass at its origin.
template <class JointT>
BodyNode* addBody(const SkeletonPtr& skeleton, BodyNode* parent, const std::string& name, const Vector3d& offset,
                  double length, const Vector3d& axis = Vector3d::UnitZ()) {
  typename JointT::Properties joint;
  joint.mName = name + "_joint";
  joint.mT_ParentBodyToJoint.translation() = offset;
  BodyNode* body = skeleton->createJointAndBodyNodePair<JointT>(parent, joint, BodyNode::AspectProperties(name)).second;
  if constexpr (std::is_same_v<JointT, RevoluteJoint>)
    static_cast<RevoluteJoint*>(body->getParentJoint())->setAxis(axis);
  body->setInertia(Inertia(kMass, Vector3d::Zero(), kInertia * Eigen::Matrix3d::Identity()));
  auto shape = body->createShapeNodeWith<VisualAspect, CollisionAspect, DynamicsAspect>(
      std::make_shared<EllipsoidShape>(Vector3d(length, 0.1, 0.1)));
  shape->setRelativeTranslation(Vector3d(length / 2, 0, 0));
  return body;
}

struct MovingChain {
  SkeletonPtr skeleton = Skeleton::create("chain");
  BodyNode* base = addBody<FreeJoint>(skeleton, nullptr, "base", Vector3d::Zero(), 1.0);
  BodyNode* upper = addBody<RevoluteJoint>(skeleton, base, "upper", Vector3d(1, 0, 0), 0.8, Vector3d::UnitZ());
  BodyNode* lower = addBody<RevoluteJoint>(skeleton, upper, "lower", Vector3d(0.8, 0, 0), 0.6, Vector3d::UnitY());
  std::shared_ptr<SimpleFrame> reference = std::make_shared<SimpleFrame>(Frame::World(), "simple_frame");
  skLinkMgr links{0};

  MovingChain() {
    Eigen::Vector6d q, dq;
    q << 0.3, -0.2, 0.5, 0.5, -1.0, 2.0;  // rotation vector, then translation
    dq << 0.4, -0.3, 0.9, 1.0, 0.5, -0.25;
    base->getParentJoint()->setPositions(q);
    base->getParentJoint()->setVelocities(dq);
    upper->getParentJoint()->setPosition(0, 0.4);
    upper->getParentJoint()->setVelocity(0, 1.5);
    lower->getParentJoint()->setPosition(0, -0.6);
    lower->getParentJoint()->setVelocity(0, -0.7);
    reference->setTranslation(Vector3d(0.2, 0.1, -0.3));
    reference->setClassicDerivatives(Vector3d(0.3, -0.1, 0.2), Vector3d::Zero());

    links.addLink(std::make_shared<skLink>(Frame::WorldShared()));
    for (BodyNode* b : {base, upper, lower})
      links.addLink(std::make_shared<skLink>(BodyNodePtr(b), std::make_shared<SkeletonLink>()));
    links.addLink(std::make_shared<skLink>(reference));
    links.resizeLinkData();
    links.updateLinkData();
  }

  const Frame& frame(int link) const { return *links.links[link]->frame->frame; }
};

inline Eigen::Vector6d wrenchOf(const skLinkData& r) {
  return (Eigen::Vector6d() << r.torque[0], r.torque[1], r.torque[2], r.force[0], r.force[1], r.force[2]).finished();
}

// Torque (salt, salt + 1, salt + 2), force -salt (1, 2, 3).
inline void setWrench(skLinkData& r, double salt) {
  for (int k = 0; k < 3; ++k) {
    r.torque[k] = salt + k;
    r.force[k] = -salt * (k + 1);
  }
}

// World velocity of the material point of frame F at the world point x: v + w x r.
inline Vector3d pointVelocity(const Frame& F, const Vector3d& x) {
  return F.getLinearVelocity() + F.getAngularVelocity().cross(x - F.getWorldTransform().translation());
}

}  // namespace chain_test
