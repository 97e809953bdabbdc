// Surface sampler: deterministic Poisson-disk points on the skinned meshes, their records and area, and
// the host and device roads that move them.
#include <gtest/gtest.h>

#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <set>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "MeshLoad/SkeletalMesh.h"
#include "MeshLoad/meshTestUtil.h"
#include "models/testModels.h"

namespace {

using Eigen::Vector3d;

std::unique_ptr<SkeletalMesh> creature() {
  auto model = std::make_unique<SkeletalMesh>();
  captureStdout([&] { EXPECT_TRUE(model->load(std::string(DZ_TEST_MODELS_DIR) + "/creature.fbx", 0)); });
  return model;
}

std::vector<Vector3d> positions(const mlLagrangeBoundary& b, bool normals = false) {
  std::vector<Vector3d> p;
  for (int i = 0; i < b.count; ++i)
    p.push_back(normals ? Vector3d(b.normalx[i], b.normaly[i], b.normalz[i])
                        : Vector3d(b.coordx[i], b.coordy[i], b.coordz[i]));
  return p;
}

TEST(IBSamplerMesh, SamplingIsRepeatableAndReleasesItsDeviceMemory) {
  auto model = creature();
  const std::size_t live = dz::device::counters().liveAllocations;
  std::vector<Vector3d> first;
  {
    IBSamplerMesh sampler(model.get(), 0), fresh(model.get(), 0);
    sampler.sample(300);
    first = positions(*sampler.boundary);
    const std::size_t sampled = dz::device::counters().liveAllocations;
    std::srand(7);  // the sampler reseeds
    sampler.sample(300);
    fresh.sample(300);
    EXPECT_EQ(positions(*sampler.boundary), first);
    EXPECT_EQ(positions(*fresh.boundary), first);
    fresh.freeGpu();
    EXPECT_EQ(dz::device::counters().liveAllocations, sampled);  // the second sampling freed the first's
  }
  EXPECT_EQ(dz::device::counters().liveAllocations, live);
}

TEST(IBSamplerMesh, SamplesAreSortedByLinkWithGridWeights) {
  auto model = creature();
  for (std::size_t m = 0; m < model->meshes.size(); ++m)
    for (std::size_t f = 0; f < model->meshes[m]->data_cpu.faces.size(); ++f)
      model->meshes[m]->data_cpu.faces[f].linkIdx = static_cast<int>((7 * f + m) % 4 + 1);
  IBSamplerMesh sampler(model.get(), 0);
  sampler.sample(400);
  const auto& samples = sampler.samples;
  ASSERT_GT(samples.size(), 300u);
  EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end(),
                             [](const MeshSample& a, const MeshSample& b) { return a.linkIdx < b.linkIdx; }));

  std::vector<int> deviceLinks(samples.size());
  ASSERT_EQ(
      cudaMemcpy(deviceLinks.data(), sampler.sampleLinkIdx_gpu, samples.size() * sizeof(int), cudaMemcpyDeviceToHost),
      cudaSuccess);
  EXPECT_EQ(deviceLinks, sampler.sampleLinkIdx);
  std::set<int> links;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const MeshSample& s = samples[i];
    ASSERT_EQ(sampler.sampleLinkIdx[i], s.linkIdx);
    ASSERT_EQ(model->meshes[s.meshIdx]->data_cpu.faces[s.faceIdx].linkIdx, s.linkIdx);
    links.insert(s.linkIdx);
    // Weights are multiples of 1/101 summing to 1; u and v stay below 1.
    for (double b : s.bary) {
      EXPECT_NEAR(b * 101, std::round(b * 101), 1e-9);
      EXPECT_GE(b, -1e-15);  // w = 1 - u - v rounds on the face's edge
    }
    EXPECT_LT(s.bary[1], 1.0);
    EXPECT_LT(s.bary[2], 1.0);
    EXPECT_NEAR(s.bary[0] + s.bary[1] + s.bary[2], 1.0, 1e-12);
  }
  EXPECT_EQ(links.size(), 4u);
}

TEST(IBSamplerMesh, PointAreaSharesTheSurfaceEvenly) {
  auto model = creature();
  float area = 0;
  for (const auto& m : model->meshes) area += static_cast<float>(m->data_cpu.area);
  for (int n : {150, 1000}) {
    IBSamplerMesh sampler(model.get(), 0);
    sampler.sample(n);
    const int count = sampler.boundary->count;
    EXPECT_EQ(count, static_cast<int>(sampler.samples.size()));
    EXPECT_NEAR(count, n, 0.1 * n);
    EXPECT_EQ(sampler.totalArea, area);
    EXPECT_FLOAT_EQ(sampler.boundary->area, static_cast<float>(3.1415926 * area / count / 3.4641016151377544));
  }
}

TEST(IBSamplerMesh, DeviceAndHostRoadsMovePointsAlike) {
  auto model = creature();
  IBSamplerMesh sampler(model.get(), 0);
  sampler.sample(500);
  const std::vector<Vector3d> bind = positions(*sampler.boundary);
  auto& nodes = *model->nodeManager;
  nodes.nodes[nodes.nameToIndex.at("tail1")]->setLocalTransform(rigid(Vector3d(-1, 0, 0), Vector3d::UnitZ(), 40));
  nodes.nodes[nodes.nameToIndex.at("finBone_L")]->setLocalTransform(rigid(Vector3d(0, .3, 0), Vector3d::UnitX(), 30));

  model->update(false, false);
  sampler.update(false, false);
  EXPECT_TRUE(sampler.hostDirty);
  const std::vector<Vector3d> cpu = positions(*sampler.boundary), cpuNormals = positions(*sampler.boundary, true);
  model->update(true, false);
  sampler.update(true, false);
  EXPECT_TRUE(sampler.deviceDirty);
  EXPECT_FALSE(sampler.hostDirty);
  sampler.download();
  const std::vector<Vector3d> gpu = positions(*sampler.boundary), gpuNormals = positions(*sampler.boundary, true);

  int moved = 0;
  for (std::size_t i = 0; i < cpu.size(); ++i) {
    moved += (cpu[i] - bind[i]).norm() > 0.1;
    for (int a = 0; a < 3; ++a) ASSERT_FLOAT_EQ(gpu[i][a], cpu[i][a]) << i;
    // The device normalises the blended normal, the host does not.
    ASSERT_NEAR(gpuNormals[i].norm(), 1.0, 1e-6) << i;
    ASSERT_TRUE(gpuNormals[i].isApprox(cpuNormals[i].normalized(), 1e-6)) << i;
  }
  EXPECT_GT(moved, 50);
}

// A scene holding the given meshes, each on a node of its own below the root.
struct SceneModel {
  explicit SceneModel(std::vector<std::unique_ptr<aiMesh>> meshes) {
    scene.mRootNode = new aiNode("root");
    scene.mNumMeshes = static_cast<unsigned>(meshes.size());
    scene.mMeshes = new aiMesh*[meshes.size() + 1];
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
      scene.mMeshes[m] = meshes[m].release();
      aiNode* node = testmodels::addChild(scene.mRootNode, "n" + std::to_string(m), aiMatrix4x4());
      node->mNumMeshes = 1;
      node->mMeshes = new unsigned[1]{m};
    }
    captureStdout([&] { model.loadScene(&scene); });
  }
  aiScene scene;
  SkeletalMesh model;
};

std::unique_ptr<aiMesh> flat() { return makeMesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {}, {{0, 1, 2}}); }
std::unique_ptr<aiMesh> square() {
  return makeMesh({{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {}, {{0, 1, 2}, {0, 2, 3}});
}
// A first triangle of area `first`, then `n` thin triangles of area (1 - first) / n each.
std::unique_ptr<aiMesh> fan(float first, int n) {
  std::vector<aiVector3D> v{{0, 0, 0}, {1, 0, 0}, {0, 2 * first, 0}};
  std::vector<std::vector<unsigned>> faces{{0, 1, 2}};
  const float w = 2 * (1 - first) / n;
  for (int i = 0; i < n; ++i) {
    v.insert(v.end(), {{w * i, 5, 0}, {w * (i + 1), 5, 0}, {w * i, 6, 0}});
    faces.push_back({3u + 3 * i, 4u + 3 * i, 5u + 3 * i});
  }
  return makeMesh(v, {}, faces);
}

template <class... M>
std::vector<std::unique_ptr<aiMesh>> meshes(M... m) {
  std::vector<std::unique_ptr<aiMesh>> v;
  (v.push_back(std::move(m)), ...);
  return v;
}

TEST(IBSamplerMesh, MeshesWithoutAreaOrCandidatesGetNoPoints) {
  const struct {
    const char* name;
    std::function<std::vector<std::unique_ptr<aiMesh>>()> meshes;
    int sampleNum;
    int meshIdx, faceIdx;  // where every point lies; -1: no point
  } cases[] = {
      {"no mesh", [] { return meshes(); }, 100, -1, -1},
      {"zero area", [] { return meshes(flat()); }, 100, -1, -1},
      {"zero area beside a square", [] { return meshes(flat(), square()); }, 100, 1, -1},
      {"faces too small for a candidate", [] { return meshes(fan(0.01f, 100)); }, 5, -1, -1},
      // 10 points wanted, about 8 candidates on the first face: all are kept.
      {"fewer candidates than points", [] { return meshes(fan(0.085f, 100)); }, 10, 0, 0},
  };
  for (const auto& c : cases) {
    SceneModel scene(c.meshes());
    IBSamplerMesh sampler(&scene.model, 0);
    sampler.sample(c.sampleNum);
    const mlLagrangeBoundary& b = *sampler.boundary;
    EXPECT_EQ(b.count, static_cast<int>(sampler.samples.size())) << c.name;
    EXPECT_TRUE(std::isfinite(b.area)) << c.name;
    EXPECT_GE(b.count, c.meshIdx < 0 ? 0 : c.faceIdx == 0 ? 7 : 50) << c.name;
    EXPECT_LE(b.count, c.meshIdx < 0 ? 0 : 2 * c.sampleNum) << c.name;  // equal candidates all count
    for (const MeshSample& s : sampler.samples)
      EXPECT_TRUE(s.meshIdx == c.meshIdx && (c.faceIdx < 0 || s.faceIdx == c.faceIdx)) << c.name;
    sampler.update(false, false);
    sampler.update(true, true);
  }
}

}  // namespace
