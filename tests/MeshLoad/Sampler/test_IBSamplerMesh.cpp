// Surface sampler: deterministic Poisson-disk points on the skinned meshes, their records and area, and
// the host and device roads that move them.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "MeshLoad/Sampler/weightedSampleElimination.h"
#include "MeshLoad/meshTestUtil.h"
#include "duriz/mlsolver/OutOfMemory.h"

namespace {

using Eigen::Vector3d;

std::vector<Vector3d> points(const mlLagrangeBoundary& b, bool normals = false) {
  std::vector<Vector3d> p;
  for (int i = 0; i < b.count; ++i)
    p.push_back(normals ? Vector3d(b.normalx[i], b.normaly[i], b.normalz[i])
                        : Vector3d(b.coordx[i], b.coordy[i], b.coordz[i]));
  return p;
}

TEST(IBSamplerMesh, SamplingIsRepeatableSortedByLinkSharesTheAreaAndMovesAlikeOnBothRoads) {
  auto model = loadModel(kModels + "/creature.fbx");
  float area = 0;
  for (std::size_t m = 0; m < model->meshes.size(); ++m) {
    area += static_cast<float>(model->meshes[m]->data_cpu.area);
    for (std::size_t f = 0; f < model->meshes[m]->data_cpu.faces.size(); ++f)
      model->meshes[m]->data_cpu.faces[f].linkIdx = static_cast<int>((7 * f + m) % 4 + 1);
  }
  const std::size_t live = dz::device::counters().liveAllocations;
  {
    IBSamplerMesh sampler(model.get(), 0);
    sampler.sample(300);
    const std::vector<Vector3d> first = points(*sampler.boundary);
    const int count = sampler.boundary->count;
    EXPECT_EQ(count, 300);  // four meshes, each share rounded
    EXPECT_EQ(sampler.totalArea, area);
    EXPECT_FLOAT_EQ(sampler.boundary->area * count, area);
    const std::size_t sampled = dz::device::counters().liveAllocations;
    std::srand(7);  // the sampler reseeds
    sampler.sample(300);
    EXPECT_EQ(points(*sampler.boundary), first);
    EXPECT_EQ(dz::device::counters().liveAllocations, sampled);  // the second sampling freed the first's

    const auto& samples = sampler.samples;
    std::vector<int> deviceLinks(samples.size());
    cudaMemcpy(deviceLinks.data(), sampler.sampleLinkIdx_gpu, samples.size() * sizeof(int), cudaMemcpyDeviceToHost);
    EXPECT_EQ(deviceLinks, sampler.sampleLinkIdx);
    std::set<int> links;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const MeshSample& s = samples[i];
      ASSERT_EQ(sampler.sampleLinkIdx[i], s.linkIdx);
      ASSERT_EQ(model->meshes[s.meshIdx]->data_cpu.faces[s.faceIdx].linkIdx, s.linkIdx);
      ASSERT_LE(samples[i ? i - 1 : 0].linkIdx, s.linkIdx);
      links.insert(s.linkIdx);
      // Multiples of 1/101 summing to 1 (w = 1 - u - v may round below 0 on an edge); u, v below 1.
      for (double b : s.bary) ASSERT_TRUE(std::abs(b * 101 - std::round(b * 101)) < 1e-9 && b > -1e-15) << b;
      ASSERT_TRUE(s.bary[1] < 1 && s.bary[2] < 1);
      ASSERT_NEAR(s.bary[0] + s.bary[1] + s.bary[2], 1.0, 1e-12);
    }
    EXPECT_EQ(links.size(), 4u);

    // Posed: the device and host roads move the points alike.
    nodeOf(*model, "tail1").setLocalTransform(rigid(Vector3d(-1, 0, 0), Vector3d::UnitZ(), 40));
    nodeOf(*model, "finBone_L").setLocalTransform(rigid(Vector3d(0, .3, 0), Vector3d::UnitX(), 30));
    model->update(false, false);
    sampler.update(false, false);
    EXPECT_TRUE(sampler.hostDirty);
    const std::vector<Vector3d> cpu = points(*sampler.boundary), cpuNormals = points(*sampler.boundary, true);
    model->update(true, false);
    sampler.update(true, false);
    EXPECT_TRUE(sampler.deviceDirty && !sampler.hostDirty);
    sampler.download();
    const std::vector<Vector3d> gpu = points(*sampler.boundary), gpuNormals = points(*sampler.boundary, true);
    int moved = 0;
    for (std::size_t i = 0; i < cpu.size(); ++i) {
      moved += (cpu[i] - first[i]).norm() > 0.1;
      for (int a = 0; a < 3; ++a) ASSERT_FLOAT_EQ(gpu[i][a], cpu[i][a]) << i;
      // The device normalises the blended normal, the host does not.
      ASSERT_NEAR(gpuNormals[i].norm(), 1.0, 1e-6) << i;
      ASSERT_TRUE(gpuNormals[i].isApprox(cpuNormals[i].normalized(), 1e-6)) << i;
    }
    EXPECT_GT(moved, 30);
  }
  EXPECT_EQ(dz::device::counters().liveAllocations, live);
}

// Meshes with zero normals (the device must keep them zero, not NaN), each on a node below the root.
aiMesh* mesh(const std::vector<aiVector3D>& v, const std::vector<std::vector<unsigned>>& faces) {
  return makeMesh(v, std::vector<aiVector3D>(v.size()), faces).release();
}
aiMesh* flat() { return mesh({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {{0, 1, 2}}); }
aiMesh* square() { return mesh({{0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {{0, 1, 2}, {0, 2, 3}}); }
// A first triangle of area `first`, then 100 thin ones sharing the rest of area 1.
aiMesh* fan(float first) {
  std::vector<aiVector3D> v{{0, 0, 0}, {1, 0, 0}, {0, 2 * first, 0}};
  std::vector<std::vector<unsigned>> faces{{0, 1, 2}};
  for (unsigned i = 0; i < 100; ++i) {
    const float w = (1 - first) / 50;
    v.insert(v.end(), {{w * i, 5, 0}, {w * (i + 1), 5, 0}, {w * i, 6, 0}});
    faces.push_back({3 + 3 * i, 4 + 3 * i, 5 + 3 * i});
  }
  return mesh(v, faces);
}

TEST(IBSamplerMesh, MeshesWithAreaGetTheCountAskedFor) {
  const struct {
    const char* name;
    std::vector<aiMesh*> meshes;
    int sampleNum;
    int count, meshIdx;  // points expected, and the mesh every point lies on
  } cases[] = {
      {"no mesh", {}, 100, 0, 0},
      {"zero area", {flat()}, 100, 0, 0},
      {"zero area beside a square", {flat(), square()}, 100, 100, 1},
      {"no number for an area beside a square",
       {mesh({{0, 0, 0}, {1, 0, 0}, {0, NAN, 0}}, {{0, 1, 2}}), square()},
       100,
       100,
       1},
      // Rounded down, the faces' shares give no candidate, or fewer than points.
      {"faces too small for a candidate", {fan(0.01f)}, 5, 5, 0},
      {"fewer candidates than points", {fan(0.085f)}, 10, 10, 0},
  };
  for (const auto& c : cases) {
    std::vector<SceneNode> tree = {{"root", -1, {}}};
    for (unsigned m = 0; m < c.meshes.size(); ++m) tree.push_back({"n" + std::to_string(m), 0, {m}});
    auto scene = sceneOf(tree, c.meshes);
    SkeletalMesh model;
    captureStdout([&] { model.loadScene(scene.get()); });
    IBSamplerMesh sampler(&model, 0);
    sampler.sample(c.sampleNum);
    const mlLagrangeBoundary& b = *sampler.boundary;
    EXPECT_EQ(sampler.samples.size(), static_cast<std::size_t>(c.count)) << c.name;
    EXPECT_EQ(b.count, c.count) << c.name;
    EXPECT_FLOAT_EQ(b.area * b.count, c.count ? sampler.totalArea : 0) << c.name;
    for (const MeshSample& s : sampler.samples) EXPECT_EQ(s.meshIdx, c.meshIdx) << c.name;
    sampler.update(false, false);
    sampler.update(true, true);
    for (const Vector3d& n : points(b, true)) EXPECT_EQ(n, Vector3d::Zero()) << c.name;
  }
}

// Two faces of equal area make five candidates per point each, drawn by the sampling rule: the generator
// seeded with 12345, two draws per candidate, faces in order. The elimination keeps some of them; each
// record's face and weights give back the point kept, in the kept order, stably sorted by link.
TEST(IBSamplerMesh, EachRecordsWeightsGiveBackThePointTheEliminationKept) {
  const int n = 40;
  auto scene = sceneOf({{"root", -1, {}}, {"n0", 0, {0}}}, {square()});
  SkeletalMesh model;
  captureStdout([&] { model.loadScene(scene.get()); });
  host_MeshData& mesh = model.meshes[0]->data_cpu;
  ASSERT_EQ(mesh.faces.size(), 2u);
  mesh.faces[0].linkIdx = 2;
  mesh.faces[1].linkIdx = 1;
  IBSamplerMesh sampler(&model, 0);
  sampler.sample(n);

  const auto at = [&](int face, double w, double u, double v) {
    const MeshFace& f = mesh.faces[face];
    const auto& P = mesh.init_positions;
    return Vector3d(w * P[f.vert0] + u * P[f.vert1] + v * P[f.vert2]);
  };
  std::srand(12345);
  std::vector<Vector3d> candidates;
  for (int face = 0; face < 2; ++face)
    for (int k = 0; k < 5 * n; ++k) {
      double u = (std::rand() % 100) / 101.0;
      double v = (std::rand() % 100) / 101.0;
      if (u + v > 1) u = 1 - u, v = 1 - v;
      candidates.push_back(at(face, 1 - u - v, u, v));
    }
  std::vector<int> kept(n);
  weightedSampleElimination(candidates.data(), 10 * n, kept.data(), n, true,
                            2 * std::sqrt(1.0 / n / 3.4641016151377544));
  std::stable_sort(kept.begin(), kept.end(), [&](int a, int b) { return a / (5 * n) > b / (5 * n); });  // face 1 first

  ASSERT_EQ(sampler.samples.size(), static_cast<std::size_t>(n));
  const mlLagrangeBoundary& b = *sampler.boundary;
  for (int i = 0; i < n; ++i) {
    const MeshSample& s = sampler.samples[i];
    EXPECT_EQ(s.faceIdx, kept[i] / (5 * n)) << i;
    const Vector3d p = at(s.faceIdx, s.bary[0], s.bary[1], s.bary[2]);
    EXPECT_EQ(p, candidates[kept[i]]) << i;
    EXPECT_EQ(Eigen::Vector3f(b.coordx[i], b.coordy[i], b.coordz[i]), p.cast<float>()) << i;
  }
}

TEST(IBSamplerMesh, CoarseModelsGetOneRecordPerPointOnAnyNumberOfThreads) {
  // The bar's twelve large faces make candidates coincide.
  auto model = loadModel(kModels + "/bar.fbx");
  const int threads = omp_get_max_threads();
  std::vector<std::vector<Vector3d>> runs;
  for (int t : {1, 4}) {
    omp_set_num_threads(t);
    IBSamplerMesh sampler(model.get(), 0);
    sampler.sample(5000);
    EXPECT_EQ(sampler.boundary->count, 5000);
    runs.push_back(points(*sampler.boundary));
  }
  omp_set_num_threads(threads);
  EXPECT_EQ(runs[0], runs[1]);
}

// A count beyond the machine's memory is refused before anything changes; a device that has no room for
// the new points all the same gives the body its old points back, with their device copies.
TEST(IBSamplerMesh, PointsThatCannotBeHadLeaveTheOldOnes) {
  auto model = loadModel(kModels + "/bar.fbx");
  const struct {
    const char* name;
    int count;
    bool fullDevice;
    const char* what;
  } cases[] = {
      // Ten candidates per point, a few hundred bytes each: some 350 GB.
      {"machine", IBSamplerMesh::kMaxSampleNum, false, "IBSamplerMesh::sample: 100000000 points ("},
      {"device", 1000, true, "the device has no room for"},
  };
  for (const auto& c : cases) {
    IBSamplerMesh sampler(model.get(), 0);
    sampler.sample(100);
    const std::vector<Vector3d> before = points(*sampler.boundary);
    if (c.fullDevice) dz::device::limitMemory(dz::device::counters().liveBytes + 4096);
    const std::string what = thrownWhat<OutOfMemory>([&] { sampler.sample(c.count); });
    dz::device::limitMemory(SIZE_MAX);
    EXPECT_NE(what.find(c.what), std::string::npos) << c.name << ": " << what;
    EXPECT_EQ(sampler.samples.size(), 100u) << c.name;
    EXPECT_EQ(points(*sampler.boundary), before) << c.name;
    sampler.update(true, true);  // the device copies are there and hold the same points
    EXPECT_EQ(points(*sampler.boundary), before) << c.name;
  }
}

}  // namespace
