// Helpers shared by the mesh-loading tests.
#pragma once

#include <assimp/mesh.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "testSupport.h"

using testsupport::captureStdout;

inline Eigen::Isometry3d rigid(const Eigen::Vector3d& t, const Eigen::Vector3d& axis, double degrees) {
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
  T.translation() = t;
  return T;
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

// Runs f on a thread whose stack holds `bytes` only: a walk that recurses once per node of a deep chain
// overflows it.
template <class F>
void onSmallStack(std::size_t bytes, F f) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t thread;
  auto run = [](void* arg) -> void* {
    (*static_cast<F*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, &f), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

inline aiMatrix4x4 translation(float x, float y, float z) {
  aiMatrix4x4 m;
  return aiMatrix4x4::Translation(aiVector3D(x, y, z), m);
}
