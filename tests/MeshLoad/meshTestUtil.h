// Helpers shared by the mesh-loading tests.
#pragma once

#include <assimp/mesh.h>
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "MeshLoad/SkeletalMesh.h"
#include "testSupport.h"

using testsupport::captureStdout;
using testsupport::thrownWhat;

inline const std::string kModels = DZ_TEST_MODELS_DIR;

inline Eigen::Isometry3d rigid(const Eigen::Vector3d& t, const Eigen::Vector3d& axis, double degrees) {
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
  T.translation() = t;
  return T;
}

inline aiMatrix4x4 translation(float x, float y, float z) {
  aiMatrix4x4 m;
  return aiMatrix4x4::Translation(aiVector3D(x, y, z), m);
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

struct BoneSpec {
  std::string name;
  aiMatrix4x4 offset;
  std::vector<std::pair<unsigned, float>> weights;
};

template <class T>
T* copyOf(const std::vector<T>& v) {
  return v.empty() ? nullptr : std::copy(v.begin(), v.end(), new T[v.size()]) - v.size();
}

inline std::unique_ptr<aiMesh> makeMesh(const std::vector<aiVector3D>& vertices, const std::vector<aiVector3D>& normals,
                                        const std::vector<std::vector<unsigned>>& faces,
                                        const std::vector<BoneSpec>& bones = {}) {
  auto mesh = std::make_unique<aiMesh>();
  mesh->mName = "m";
  mesh->mNumVertices = static_cast<unsigned>(vertices.size());
  mesh->mVertices = copyOf(vertices);
  mesh->mNormals = copyOf(normals);
  mesh->mNumFaces = static_cast<unsigned>(faces.size());
  if (!faces.empty()) mesh->mFaces = new aiFace[faces.size()];
  for (std::size_t f = 0; f < faces.size(); ++f) {
    mesh->mFaces[f].mNumIndices = static_cast<unsigned>(faces[f].size());
    mesh->mFaces[f].mIndices = copyOf(faces[f]);
  }
  mesh->mNumBones = static_cast<unsigned>(bones.size());
  if (!bones.empty()) mesh->mBones = new aiBone*[bones.size()];
  for (std::size_t b = 0; b < bones.size(); ++b) {
    auto* bone = mesh->mBones[b] = new aiBone();
    bone->mName = bones[b].name;
    bone->mOffsetMatrix = bones[b].offset;
    bone->mNumWeights = static_cast<unsigned>(bones[b].weights.size());
    bone->mWeights = new aiVertexWeight[bone->mNumWeights];
    for (unsigned w = 0; w < bone->mNumWeights; ++w)
      bone->mWeights[w] = aiVertexWeight(bones[b].weights[w].first, bones[b].weights[w].second);
  }
  return mesh;
}
