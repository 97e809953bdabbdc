// Bodies for the articulated-dynamics tests: a moving chain built in DART directly and wrapped as an
// skSystem wraps its links; descriptions built by hand over the bar model; the fish model.
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
#include <vector>

#include "SkeletonDynamics/skJointMgr.h"
#include "SkeletonDynamics/skLinkMgr.h"
#include "SkeletonDynamics/skSystem.h"
#include "skeleton/skeletonTestUtil.h"

namespace sktest {

using namespace dart::dynamics;
using Eigen::Isometry3d;
using Eigen::Vector3d;

template <class A, class B>
void expectNear(const A& actual, const B& expected, double tolerance = 1e-12) {
  EXPECT_LE((actual - expected).norm(), tolerance) << actual.transpose() << "\n != " << expected.transpose();
}

enum LinkIndex { kWorld, kBase, kUpper, kLower, kReference, kLinkCount };
constexpr double kMass = 2.0, kInertia = 0.5;  // isotropic inertia, about the body origin

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
  body->createShapeNodeWith<VisualAspect, CollisionAspect, DynamicsAspect>(
          std::make_shared<EllipsoidShape>(Vector3d(length, 0.1, 0.1)))
      ->setRelativeTranslation(Vector3d(length / 2, 0, 0));
  return body;
}

// A free base that translates and turns, two links on revolute joints (about z, then y), all moving, and a
// translating frame "simple_frame". Link order as in a body: world, base, upper, lower, reference frame.
struct MovingChain {
  SkeletonPtr skeleton = Skeleton::create("chain");
  BodyNode* base = addBody<FreeJoint>(skeleton, nullptr, "base", Vector3d::Zero(), 1.0);
  BodyNode* upper = addBody<RevoluteJoint>(skeleton, base, "upper", Vector3d(1, 0, 0), 0.8);
  BodyNode* lower = addBody<RevoluteJoint>(skeleton, upper, "lower", Vector3d(0.8, 0, 0), 0.6, Vector3d::UnitY());
  std::shared_ptr<SimpleFrame> reference = std::make_shared<SimpleFrame>(Frame::World(), "simple_frame");
  skLinkMgr links{0};

  MovingChain() {
    base->getParentJoint()->setPositions((Eigen::Vector6d() << 0.3, -0.2, 0.5, 0.5, -1.0, 2.0).finished());
    base->getParentJoint()->setVelocities((Eigen::Vector6d() << 0.4, -0.3, 0.9, 1.0, 0.5, -0.25).finished());
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
  for (int k = 0; k < 3; ++k) r.torque[k] = salt + k, r.force[k] = -salt * (k + 1);
}

// World velocity of the material point of frame F at the world point x: v + w x r.
inline Vector3d pointVelocity(const Frame& F, const Vector3d& x) {
  return F.getLinearVelocity() + F.getAngularVelocity().cross(x - F.getWorldTransform().translation());
}

struct JointSpec {
  std::string name, parent;  // the first joint is the root
  Vector3d position;         // in the model's global frame
  jointType type = jointType::revolute;
};

// bone0 at the origin with two children, each with a leaf: bone1 (x = 1, leaf at x = 2), along the bar,
// and side (z = 1, leaf at z = 2). The bar's faces are weighted to the bones bone0 (x < 1) and bone1.
inline std::vector<JointSpec> twoBranches() {
  return {{"bone0", "", Vector3d(0, 0, 0)},
          {"bone1", "bone0", Vector3d(1, 0, 0)},
          {"bone1_end", "bone1", Vector3d(2, 0, 0)},
          {"side", "bone0", Vector3d(0, 0, 1)},
          {"side_end", "side", Vector3d(0, 0, 2)}};
}

// The bar model with its joints, links and root replaced by the given tree (whose nodes the mesh does not
// follow).
inline std::shared_ptr<SkeletonSystem> handBuilt(const std::vector<JointSpec>& specs = twoBranches()) {
  auto d = std::make_shared<SkeletonSystem>(kModels + "/bar.fbx", 0);
  d->joints.clear(), d->jointMap.clear(), d->jointLinkMap.clear(), d->links.clear(), d->linkMap.clear();
  for (const JointSpec& s : specs) {
    auto j = std::make_shared<SkeletonJoint>();
    j->name = s.name;
    j->setJointType(s.type);
    j->index = static_cast<int>(d->joints.size());
    Vector3d local = s.position;
    if (!s.parent.empty()) {
      const auto& parent = d->jointMap.at(s.parent);
      j->parent = parent;
      j->parentName = s.parent;
      parent->children.push_back(j);
      local -= parent->node->worldTrans.translation();
    }
    j->node = std::make_shared<hierachyNode>(s.name, Isometry3d(Eigen::Translation3d(local)));
    j->node->worldTrans = Eigen::Translation3d(s.position);
    d->joints.push_back(j);
    d->jointMap[s.name] = j;
  }
  d->rootJoint = d->joints.front();
  for (const auto& j : d->joints) {
    if (j->children.empty()) continue;
    auto link = std::make_shared<SkeletonLink>(j, j->children, "");
    d->links.push_back(link);
    d->linkMap[link->name] = link;
    d->jointLinkMap[j->name] = link;
  }
  return d;
}

inline std::shared_ptr<skSystem> build(const std::shared_ptr<SkeletonSystem>& d, int sampleNum = 200,
                                       const Vector3d& translation = Vector3d::Zero(),
                                       const Vector3d& rotation = Vector3d::Zero()) {
  return std::make_shared<skSystem>(d, sampleNum, 0, translation, rotation, Vector3d::Ones());
}

// The fish model (meshes "skin" and "fin") with the given root joint, markers at the snout and the fin tip.
inline std::shared_ptr<SkeletonSystem> fishDescription(jointType root) {
  auto d = std::make_shared<SkeletonSystem>(kModels + "/fish.fbx", 0);
  d->rootJoint->setJointType(root);
  d->markerPlacements = {Vector3d(0.2, 0, 0), Vector3d(-0.25, 0.06, 0.003)};
  return d;
}

inline std::shared_ptr<skSystem> fish(jointType root, int sampleNum = 300) {
  return build(fishDescription(root), sampleNum);
}

template <class T>
std::vector<T> deviceArray(const T* dev, std::size_t n) {
  std::vector<T> out(n);
  EXPECT_EQ(cudaMemcpy(out.data(), dev, n * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
  return out;
}

}  // namespace sktest
