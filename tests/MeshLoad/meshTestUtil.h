// Helpers shared by the mesh-loading tests.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "MeshLoad/SkeletalMesh.h"
#include "models/testModels.h"
#include "testSupport.h"

using testmodels::BoneSpec;
using testmodels::copyOf;
using testmodels::makeMesh;
using testmodels::translation;
using testsupport::captureStdout;
using testsupport::thrownWhat;

inline const std::string kModels = DZ_TEST_MODELS_DIR;

inline Eigen::Isometry3d rigid(const Eigen::Vector3d& t, const Eigen::Vector3d& axis, double degrees) {
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
  T.translation() = t;
  return T;
}

// A model file loaded quietly; what it printed goes to `output`.
inline std::unique_ptr<SkeletalMesh> loadModel(const std::string& path, std::string* output = nullptr) {
  auto model = std::make_unique<SkeletalMesh>();
  bool ok = false;
  const std::string out = captureStdout([&] { ok = model->load(path, 0); });
  if (output != nullptr) *output = out;
  EXPECT_TRUE(ok) << out;
  return model;
}

inline hierachyNode& nodeOf(SkeletalMesh& model, const std::string& name) {
  return *model.nodeManager->nodes[model.nodeManager->nameToIndex.at(name)];
}

// Nodes in breadth-first order with their parents, as the loader builds them, with world transforms.
inline std::shared_ptr<nodeMgr> nodeTree(const std::vector<std::pair<std::string, Eigen::Isometry3d>>& nodes,
                                         const std::vector<int>& parents) {
  auto m = std::make_shared<nodeMgr>();
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    m->addNode(nodes[i].first, nodes[i].second);
    m->parentIdx.push_back(parents[i]);
    m->childBegin.push_back(-1);
    m->childEnd.push_back(-1);
  }
  for (std::size_t i = 1; i < nodes.size(); ++i) {
    const int p = parents[i];
    if (m->childBegin[p] < 0) m->childBegin[p] = static_cast<int>(i);
    m->childEnd[p] = static_cast<int>(i) + 1;
  }
  m->updateGlobalTransforms();
  return m;
}

// A scene of the given meshes hung on nodes: each entry names a node, its parent (by entry index, -1 for the
// root) and the scene's mesh indices it holds.
struct SceneNode {
  std::string name;
  int parent;
  std::vector<unsigned> meshes;
};

inline std::unique_ptr<aiScene> sceneOf(const std::vector<SceneNode>& tree, const std::vector<aiMesh*>& meshes) {
  auto scene = std::make_unique<aiScene>();
  scene->mNumMeshes = static_cast<unsigned>(meshes.size());
  scene->mMeshes = std::copy(meshes.begin(), meshes.end(), new aiMesh*[meshes.size() + 1]) - meshes.size();
  std::vector<aiNode*> nodes;
  for (const SceneNode& n : tree) {
    nodes.push_back(n.parent < 0 ? (scene->mRootNode = new aiNode(n.name))
                                 : testmodels::addChild(nodes[n.parent], n.name, aiMatrix4x4()));
    nodes.back()->mNumMeshes = static_cast<unsigned>(n.meshes.size());
    nodes.back()->mMeshes = copyOf(n.meshes);
  }
  return scene;
}

// Unit right triangles in the x-y plane, named "m0", "m1", ...
inline std::vector<aiMesh*> triangles(unsigned n) {
  std::vector<aiMesh*> meshes;
  for (unsigned m = 0; m < n; ++m) {
    meshes.push_back(makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}}).release());
    meshes.back()->mName = "m" + std::to_string(m);
  }
  return meshes;
}
