// Skinning throughput: host path (skinCpu) against the device path (kernel, with and without bringing
// the result back). Prints ms per update and million vertices per second.
#include <assimp/mesh.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "MeshLoad/MeshData.h"
#include "bench/benchTiming.h"

namespace {

// A tube of nRings x 64 vertices along x, skinned to a chain of nBones bones, two weights per vertex.
std::unique_ptr<aiMesh> tube(unsigned nRings, unsigned nBones) {
  const unsigned perRing = 64, nV = nRings * perRing;
  auto mesh = std::make_unique<aiMesh>();
  mesh->mNumVertices = nV;
  mesh->mVertices = new aiVector3D[nV];
  mesh->mNormals = new aiVector3D[nV];
  for (unsigned r = 0; r < nRings; ++r)
    for (unsigned c = 0; c < perRing; ++c) {
      const float a = 2.0f * static_cast<float>(M_PI) * c / perRing;
      mesh->mVertices[r * perRing + c] = aiVector3D(static_cast<float>(nBones) * r / nRings, std::cos(a), std::sin(a));
      mesh->mNormals[r * perRing + c] = aiVector3D(0, std::cos(a), std::sin(a));
    }
  mesh->mNumBones = nBones;
  mesh->mBones = new aiBone*[nBones];
  std::vector<std::vector<aiVertexWeight>> weights(nBones);
  for (unsigned v = 0; v < nV; ++v) {
    const float x = mesh->mVertices[v].x;
    const unsigned b = std::min(static_cast<unsigned>(x), nBones - 1);
    const float f = x - static_cast<float>(b);
    weights[b].emplace_back(v, 1.0f - f);
    if (b + 1 < nBones) weights[b + 1].emplace_back(v, f);
  }
  for (unsigned b = 0; b < nBones; ++b) {
    auto* bone = new aiBone();
    bone->mName = "b" + std::to_string(b);
    aiMatrix4x4::Translation(aiVector3D(-static_cast<float>(b), 0, 0), bone->mOffsetMatrix);
    bone->mNumWeights = static_cast<unsigned>(weights[b].size());
    bone->mWeights = new aiVertexWeight[bone->mNumWeights];
    std::copy(weights[b].begin(), weights[b].end(), bone->mWeights);
    mesh->mBones[b] = bone;
  }
  return mesh;
}

// A chain of bone nodes b0 .. b(n-1), each 1 along x from its parent and turned 5 degrees about z.
std::shared_ptr<nodeMgr> chain(unsigned nBones) {
  auto nodes = std::make_shared<nodeMgr>();
  nodes->addNode("root", Eigen::Isometry3d::Identity());
  nodes->parentIdx.push_back(-1);
  for (unsigned b = 0; b < nBones; ++b) {
    Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
    T.translation() = Eigen::Vector3d(b == 0 ? 0 : 1, 0, 0);
    T.linear() = Eigen::AngleAxisd(5 * M_PI / 180, Eigen::Vector3d::UnitZ()).toRotationMatrix();
    nodes->addNode("b" + std::to_string(b), T);
    nodes->parentIdx.push_back(static_cast<int>(b));
    nodes->childBegin.push_back(static_cast<int>(b) + 1);
    nodes->childEnd.push_back(static_cast<int>(b) + 2);
  }
  nodes->childBegin.push_back(-1);
  nodes->childEnd.push_back(-1);
  nodes->updateGlobalTransforms();
  return nodes;
}

}  // namespace

int main() {
  const unsigned nBones = 16;
  std::printf("%-10s %-26s %12s %12s\n", "vertices", "path", "ms/update", "Mvert/s");
  for (unsigned nRings : {64u, 1024u, 8192u}) {
    auto mesh = tube(nRings, nBones);
    auto nodes = chain(nBones);
    MeshData m(mesh.get(), 0, &nodes->nameToIndex, 0, 1.0);
    const double nV = mesh->mNumVertices;
    const int repeats = nRings > 1024 ? 20 : 200;
    const auto report = [&](const char* path, double ms) {
      std::printf("%-10.0f %-26s %12.4f %12.2f\n", nV, path, ms, nV / ms / 1e3);
    };
    report("host (skinCpu)", bench::msPerCall(repeats, [&] { m.setNodes(nodes), m.update(false, false); }));
    report("device", bench::msPerCall(repeats, [&] { m.setNodes(nodes), m.update(true, false); }));
    report("device + download", bench::msPerCall(repeats, [&] { m.setNodes(nodes), m.update(true, true); }));
  }
  return 0;
}
