#include "skJointMgr.h"

#include <stdexcept>

void skJointMgr::addJoint(std::shared_ptr<skJoint> joint) {
  if (!joint) throw std::invalid_argument("skJointMgr::addJoint: no joint given");
  jointMap[joint->name] = joint;
  joints.push_back(std::move(joint));
}

std::shared_ptr<skJoint> skJointMgr::getJoint(const std::string& name) const {
  const auto it = jointMap.find(name);
  return it == jointMap.end() ? nullptr : it->second;
}

void skJointMgr::update() {
  for (const auto& joint : joints) joint->update();
}
