// The joints of one articulated body, in creation order and by name.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SkeletonDynamics/skJoint.h"

class skJointMgr {
 public:
  // Appends the joint and files it under its name; a later joint of the same name takes over the name.
  void addJoint(std::shared_ptr<skJoint> joint);
  // The joint filed under `name`, or an empty pointer.
  std::shared_ptr<skJoint> getJoint(const std::string& name) const;
  // skJoint::update of every joint, in order.
  void update();

  std::vector<std::shared_ptr<skJoint>> joints;
  std::map<std::string, std::shared_ptr<skJoint>> jointMap;
};
