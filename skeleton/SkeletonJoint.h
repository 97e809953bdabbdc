// One joint of a skeleton description: the model node it sits on, its place in the joint tree, and the
// settings its physics joint is built with. Joints are held by std::shared_ptr.
#pragma once

#include <Eigen/Geometry>

#include <memory>
#include <string>
#include <vector>

#include "Limit.h"
#include "MeshLoad/hierachyNode.h"
#include "jointType.h"

class SkeletonJoint {
 public:
  // A revolute joint driven by force, with the default axis and one zero limit per vector.
  SkeletonJoint();

  // Sets the kind, resets the axes to the kind's defaults (even for the same kind) and resizes the limit
  // vectors to its degree-of-freedom count, keeping leading entries and filling new ones with 0.
  // A value outside the enumeration throws std::invalid_argument and changes nothing.
  void setJointType(jointType t);
  // The local transform of the joint's node; std::logic_error without a node.
  Eigen::Isometry3d getLocalTrans() const;

  int index = -1;  // position in the owning system's joint list
  actuatorType actuator = actuatorType::force;
  std::shared_ptr<hierachyNode> node;  // shared with the node hierarchy
  std::string name;
  std::string parentName;  // the node's parent in the hierarchy; empty for a root
  jointType type = jointType::revolute;
  // Not owning: children own nothing upward, so a dropped tree is freed. Empty for the root and for
  // unattached joints.
  std::weak_ptr<SkeletonJoint> parent;
  bool isIntermediate = false;
  std::vector<std::shared_ptr<SkeletonJoint>> children;
  std::vector<Eigen::Vector3d> axis;
  double springStiffness = 0;
  bool useDynamics = false;
  bool useLimits = true;
  Limit limit;
  Dynamics dynamics;
  std::string mimicJoint;  // the joint a mimic actuator follows
  double mimicMultiplier = 1.0;
  double mimicOffset = 0;
};
