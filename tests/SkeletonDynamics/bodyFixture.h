// Descriptions for the articulated-body tests: a joint tree built by hand over the bar model's mesh, and
// the fish model.
#pragma once

#include <Eigen/Geometry>

#include <memory>
#include <string>
#include <vector>

#include "skeleton/SkeletonSystem.h"

inline const std::string kModels = DZ_TEST_MODELS_DIR;

struct JointSpec {
  std::string name, parent;  // the first joint is the root
  Eigen::Vector3d position;  // in the model's global frame
  jointType type = jointType::revolute;
};

// bone0 at the origin with two children, each with a leaf: bone1 (x = 1, leaf at x = 2), along the bar,
// and side (z = 1, leaf at z = 2). The bar's faces are weighted to the bones bone0 (x < 1) and bone1.
inline std::vector<JointSpec> twoBranches() {
  return {{"bone0", "", Eigen::Vector3d(0, 0, 0)},
          {"bone1", "bone0", Eigen::Vector3d(1, 0, 0)},
          {"bone1_end", "bone1", Eigen::Vector3d(2, 0, 0)},
          {"side", "bone0", Eigen::Vector3d(0, 0, 1)},
          {"side_end", "side", Eigen::Vector3d(0, 0, 2)}};
}

// The bar model with its joints, links and root replaced by the given tree. The tree's nodes are its own:
// the mesh does not follow them.
inline std::shared_ptr<SkeletonSystem> handBuiltDescription(const std::vector<JointSpec>& specs = twoBranches()) {
  auto d = std::make_shared<SkeletonSystem>(kModels + "/bar.fbx", 0);
  d->joints.clear();
  d->jointMap.clear();
  d->jointLinkMap.clear();
  d->links.clear();
  d->linkMap.clear();
  for (const JointSpec& s : specs) {
    auto j = std::make_shared<SkeletonJoint>();
    j->name = s.name;
    j->setJointType(s.type);
    j->index = static_cast<int>(d->joints.size());
    Eigen::Vector3d local = s.position;
    if (!s.parent.empty()) {
      const auto& parent = d->jointMap.at(s.parent);
      j->parent = parent;
      j->parentName = s.parent;
      parent->children.push_back(j);
      local -= parent->node->worldTrans.translation();
    }
    j->node = std::make_shared<hierachyNode>(s.name, Eigen::Isometry3d(Eigen::Translation3d(local)));
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
