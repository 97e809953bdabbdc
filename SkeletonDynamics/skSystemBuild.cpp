// Construction of an articulated body: the DART skeleton from the description's joint tree, the
// wrappers, the reference frame, the surface samples, the root placement and the initial state.
#include <dart/common/Console.hpp>
#include <dart/dynamics/EllipsoidShape.hpp>
#include <dart/dynamics/ShapeNode.hpp>
#include <dart/dynamics/Skeleton.hpp>
#include <dart/dynamics/SphereShape.hpp>
#include <dart/dynamics/WeldJoint.hpp>

#include <cmath>
#include <stdexcept>
#include <string>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "SkeletonDynamics/requireFinite.h"
#include "SkeletonDynamics/skJointMgr.h"
#include "SkeletonDynamics/skJointProperties.h"
#include "SkeletonDynamics/skLinkMgr.h"
#include "SkeletonDynamics/skSystem.h"
#include "skeleton/SkeletonSystem.h"

using namespace dart::dynamics;

namespace {

// Diameters below this (metres) are raised to it, so that a link whose joint sits on its children still
// has a shape that collision detection and the inertia formula accept, and each principal moment of a
// link's inertia, m (a^2 + b^2) / 20 for diameters a and b, is at least 1e-9 times its mass.
constexpr double kMinEllipsoidDiameter = 1e-4;

// What a link gives its body: a mass within the bounds and a size within the bound, not negative.
void requireLinkMassAndSize(const SkeletonLink& link) {
  const std::string what = "skSystem: link \"" + link.name + "\": ";
  requireLinkMass(link.mass, what + "mass");
  if (!(requireBounded(link.size, what + "size").array() >= 0).all())
    throw std::invalid_argument(what + "size = (" + valueText(link.size.x()) + ", " + valueText(link.size.y()) + ", " +
                                valueText(link.size.z()) + "), a negative size");
}

Eigen::Isometry3d rigidInverse(const Eigen::Isometry3d& T) {
  Eigen::Isometry3d inverse = Eigen::Isometry3d::Identity();
  inverse.linear() = T.linear().transpose();
  inverse.translation() = -(inverse.linear() * T.translation());
  return inverse;
}

std::string jointKindName(jointType type) {
  return type >= jointType::invalid && type <= jointType::universal ? jointTypeNames()[type]
                                                                    : std::to_string(static_cast<int>(type));
}

}  // namespace

skSystem::skSystem(std::shared_ptr<SkeletonSystem> d, int sampleNum, int id, const Eigen::Vector3d& translation,
                   const Eigen::Vector3d& rotation, const Eigen::Vector3d& scaling)
    : description(std::move(d)) {
  // Accepted, not used; refused as the placement is, so that no script relies on a huge one.
  requireBounded(scaling, "skSystem: the scaling");
  if (!description) throw std::invalid_argument("skSystem: no skeleton description given");
  if (!description->mesh) throw std::invalid_argument("skSystem: the skeleton description has no model");
  const std::shared_ptr<SkeletonJoint> root = description->rootJoint;
  if (!root) throw std::invalid_argument("skSystem: the skeleton description has no root joint");
  if (description->usedByBody)
    throw std::invalid_argument(
        "skSystem: the skeleton description is used by a living body, which poses its nodes and mesh; load the "
        "description again (skeletonFromFBX or skeletonFromJson) for another body");
  for (const auto& entry : description->jointLinkMap)
    if (entry.second) requireLinkMassAndSize(*entry.second);
  requireGpuDevice(id, "skSystem");
  gpuId = id;

  description->createMarkers();
  markers = description->markers;
  skeleton = Skeleton::create(description->mesh->path);
  linkMgr = std::make_shared<skLinkMgr>(gpuId);
  jointMgr = std::make_shared<skJointMgr>();
  sampler = std::make_shared<IBSamplerMesh>(description->mesh.get(), gpuId);
  baseFrameName = description->baseFrameName;
  baseLinkName = description->baseLinkName;

  buildSkeletonTree(root, nullptr, 0);
  if (!jointMgr->getJoint(root->name))
    throw std::invalid_argument("skSystem: the root joint \"" + root->name +
                                "\" makes no DART joint (it has no children or an unsupported kind)");
  for (const auto& joint : jointMgr->joints) {
    const SkeletonJoint& desc = *joint->description;
    if (desc.mimicJoint.empty()) continue;
    if (const auto followed = jointMgr->getJoint(desc.mimicJoint))
      joint->joint->setMimicJoint(
          followed->joint.get(),
          requireBounded(desc.mimicMultiplier, "skSystem: joint \"" + desc.name + "\": the mimic multiplier"),
          requireBounded(desc.mimicOffset, "skSystem: joint \"" + desc.name + "\": the mimic offset"));
  }

  createRefFrame();
  if (!baseLinkName.empty() && !linkMgr->getLink(baseLinkName))
    throw std::invalid_argument("skSystem: the base link name \"" + baseLinkName + "\" names no link");
  linkMgr->resizeLinkData();
  assignFacesToLinks();
  sampler->sample(sampleNum);
  placeRoot(translation, rotation);
  if (useGpu)
    updateGPU(download);
  else
    updateCPU();
  findActuatedDofs();
  initialPositions = getPositions(true);
  initialVelocities = getVelocities(true);
  skeleton->setSelfCollisionCheck(false);
  description->usedByBody = true;
}

skSystem::~skSystem() { description->usedByBody = false; }

void skSystem::buildSkeletonTree(const std::shared_ptr<SkeletonJoint>& joint,
                                 const std::shared_ptr<SkeletonLink>& parentLink, int depth) {
  if (depth == 0) linkMgr->addLink(std::make_shared<skLink>(Frame::WorldShared()));
  if (joint->children.empty()) return;
  const auto entry = description->jointLinkMap.find(joint->name);
  if (entry == description->jointLinkMap.end() || !entry->second)
    throw std::invalid_argument("skSystem: joint \"" + joint->name + "\" has children but no link");
  const std::shared_ptr<SkeletonLink>& link = entry->second;
  createDartJointAndNode(joint, parentLink, link);
  for (const auto& child : joint->children) buildSkeletonTree(child, link, depth + 1);
}

void skSystem::createDartJointAndNode(const std::shared_ptr<SkeletonJoint>& joint,
                                      const std::shared_ptr<SkeletonLink>& parentLink,
                                      const std::shared_ptr<SkeletonLink>& link) {
  const BodyNode::Properties bodyProperties(makeBodyNodeProperties(*link));
  BodyNode* parentBody = joint->parent.lock() && parentLink ? skeleton->getBodyNode(parentLink->name) : nullptr;

  std::pair<Joint*, BodyNode*> created;
  switch (joint->type) {
    case jointType::revolute:
      created = skeleton->createJointAndBodyNodePair<RevoluteJoint>(parentBody, makeRevoluteJointProperties(*joint),
                                                                    bodyProperties);
      break;
    case jointType::continuous:
      created = skeleton->createJointAndBodyNodePair<RevoluteJoint>(parentBody, makeContinuousJointProperties(*joint),
                                                                    bodyProperties);
      break;
    case jointType::prismatic:
      created = skeleton->createJointAndBodyNodePair<PrismaticJoint>(parentBody, makePrismaticJointProperties(*joint),
                                                                     bodyProperties);
      break;
    case jointType::fixed:
      created = skeleton->createJointAndBodyNodePair<WeldJoint>(
          parentBody, WeldJoint::Properties(makeJointProperties(*joint)), bodyProperties);
      break;
    case jointType::floating:
      created =
          skeleton->createJointAndBodyNodePair<FreeJoint>(parentBody, makeFreeJointProperties(*joint), bodyProperties);
      break;
    case jointType::planar:
      created = skeleton->createJointAndBodyNodePair<PlanarJoint>(parentBody, makePlanarJointProperties(*joint),
                                                                  bodyProperties);
      break;
    case jointType::ball:
      created =
          skeleton->createJointAndBodyNodePair<BallJoint>(parentBody, makeBallJointProperties(*joint), bodyProperties);
      break;
    case jointType::universal:
      created = skeleton->createJointAndBodyNodePair<UniversalJoint>(parentBody, makeUniversalJointProperties(*joint),
                                                                     bodyProperties);
      break;
    default:
      // Nothing is made: the joint's children find no parent body and become roots.
      dterr << "[DartLoader::createDartJoint] Unsupported joint type (" << jointKindName(joint->type) << ")\n";
      dterr << "Conver to default joint Type" << joint->name << "\n";
      return;
  }
  Joint* dartJoint = created.first;
  BodyNode* body = created.second;
  setJointActuator(*dartJoint, joint->actuator);
  dartJoint->setLimitEnforcement(joint->useLimits);

  const auto ellipsoid = std::make_shared<EllipsoidShape>(link->size.cwiseMax(kMinEllipsoidDiameter));
  auto* shapeNode = body->createShapeNodeWith<VisualAspect, CollisionAspect, DynamicsAspect>(ellipsoid);
  shapeNode->getVisualAspect()->setColor(Eigen::Vector3d(0.1, 0.1, 0.9));
  const Eigen::Isometry3d rel = rigidInverse(joint->node->worldTrans) * link->worldTransform;
  shapeNode->setRelativeTransform(rel);

  auto* jointMarker = body->createShapeNodeWith<VisualAspect, DynamicsAspect>(std::make_shared<SphereShape>(0.02));
  jointMarker->getVisualAspect()->setColor(Eigen::Vector3d(0.9, 0.1, 0.1));

  Inertia inertia(1.0, Eigen::Vector3d::Zero(), Eigen::Matrix3d::Identity());
  inertia.setMass(link->mass);
  inertia.setLocalCOM(rel.translation());
  const Eigen::Matrix3d R = rel.rotation();
  const Eigen::Matrix3d I = R * ellipsoid->computeInertia(link->mass) * R.transpose();
  inertia.setMoment(I(0, 0), I(1, 1), I(2, 2), I(0, 1), I(0, 2), I(1, 2));
  body->setInertia(inertia);

  linkMgr->addLink(std::make_shared<skLink>(body, link));
  jointMgr->addJoint(std::make_shared<skJoint>(dartJoint, joint));
}

// Root placement: angles in degrees converted with 3.1415 (not pi), rotations about x, then y, then z.
void skSystem::placeRoot(const Eigen::Vector3d& translation, const Eigen::Vector3d& rotation) {
  const std::shared_ptr<SkeletonJoint>& root = description->rootJoint;
  requireBounded(translation, "skSystem: the translation");
  requireBounded(rotation, "skSystem: the rotation");
  requireBounded(root->node->position, "skSystem: the position of the root joint \"" + root->name + "\"");
  requireBounded(root->node->rotation, "skSystem: the rotation of the root joint \"" + root->name + "\"");
  const Eigen::Vector3d a = (root->node->rotation + rotation) / 180 * 3.1415;
  const Eigen::Quaterniond q = Eigen::AngleAxisd(a.x(), Eigen::Vector3d::UnitX()) *
                               Eigen::AngleAxisd(a.y(), Eigen::Vector3d::UnitY()) *
                               Eigen::AngleAxisd(a.z(), Eigen::Vector3d::UnitZ());
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = q.toRotationMatrix();
  T.translation() = root->node->position + translation;
  jointMgr->getJoint(root->name)->joint->setTransformFromParentBodyNode(T);
}

void skSystem::findActuatedDofs() {
  actuatedDofs.clear();
  for (std::size_t i = 0; i < skeleton->getNumJoints(); ++i) {
    const Joint* joint = skeleton->getJoint(i);
    if (joint->getActuatorType() == Joint::PASSIVE || joint->getActuatorType() == Joint::MIMIC) continue;
    for (std::size_t d = 0; d < joint->getNumDofs(); ++d)
      actuatedDofs.push_back(joint->getDof(d)->getIndexInSkeleton());
  }
}
