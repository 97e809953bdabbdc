// Skinned mesh data: weights, skinning on host and device alike, faces, normals, device memory and flags.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "MeshLoad/MeshData.h"
#include "MeshLoad/meshTestUtil.h"
#include "device/device.h"

namespace {

using Eigen::Isometry3d;
using Eigen::Vector3d;

// Node 0 "root", then the named nodes as its children.
std::shared_ptr<nodeMgr> flatNodes(std::vector<std::pair<std::string, Isometry3d>> children) {
  std::vector<int> parents(children.size() + 1, 0);
  parents[0] = -1;
  children.insert(children.begin(), {"root", Isometry3d::Identity()});
  return nodeTree(children, parents);
}

std::unique_ptr<MeshData> meshData(const aiMesh& mesh, const nodeMgr& nodes, int node = 0, double scale = 1.0,
                                   const char* printed = nullptr) {
  std::unique_ptr<MeshData> m;
  const std::string out =
      captureStdout([&] { m = std::make_unique<MeshData>(&mesh, node, &nodes.nameToIndex, 0, scale); });
  if (printed != nullptr) {
    EXPECT_EQ(out, printed);
  }
  return m;
}

// Builds the mesh on node `node`, then skins it on the host and on the device: each vertex lands where
// `expected` says (a NaN there means a NaN position).
std::unique_ptr<MeshData> skin(const aiMesh& mesh, const std::shared_ptr<nodeMgr>& nodes, int node,
                               const std::string& printed, const std::function<Vector3d(int)>& expected) {
  auto m = meshData(mesh, *nodes, node, 1.0, printed.c_str());
  for (bool gpu : {false, true}) {
    m->setNodes(nodes);
    m->update(gpu, true);
    for (int v = 0; v < static_cast<int>(mesh.mNumVertices); ++v) {
      const Vector3d& got = m->data_cpu.curr_positions[v];
      EXPECT_TRUE(expected(v).hasNaN() ? got.hasNaN() : got.isApprox(expected(v), 1e-7))
          << "vertex " << v << (gpu ? " on the device: " : " on the host: ") << got.transpose();
    }
  }
  return m;
}

TEST(MeshData, WeightsAreNormalisedAndBlendTheBoneTransforms) {
  // Bones at nodes b0 and b1; offsets undo their bind placements. Vertex 0 has the 0.2 / 0.6 pair.
  auto mesh = makeMesh(
      {{1, 0, 0}, {0, 2, 0}, {0, 0, 1}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, {{0, 1, 2}},
      {{"b0", translation(-1, 0, 0), {{0, 0.2f}, {1, 1.0f}}}, {"b1", translation(1, 0, 0), {{0, 0.6f}, {2, 0.5f}}}});
  const Isometry3d B0 = rigid(Vector3d(1, 0.5, 0), Vector3d::UnitX(), 30),
                   B1 = rigid(Vector3d(-1, 0, 0), Vector3d::UnitZ(), 90);
  const Isometry3d T0 = B0 * Eigen::Translation3d(-1, 0, 0), T1 = B1 * Eigen::Translation3d(1, 0, 0);
  const Vector3d p[3] = {{1, 0, 0}, {0, 2, 0}, {0, 0, 1}};
  const Vector3d expected[3] = {0.25 * (T0 * p[0]) + 0.75 * (T1 * p[0]), T0 * p[1], T1 * p[2]};
  auto m = skin(*mesh, flatNodes({{"b0", B0}, {"b1", B1}}), 0, "", [&](int v) { return expected[v]; });
  EXPECT_EQ(m->data_cpu.bone_nodeIdx, (std::vector<int>{1, 2}));
  EXPECT_NEAR(m->data_cpu.bone_weights[0][0], 0.25, 1e-7);
  EXPECT_TRUE(m->data_cpu.curr_normals[2].isApprox(T1.linear() * Vector3d(0, 0, 1), 1e-12));
}

// Vertices without weight (every vertex of a mesh without bones) follow the mesh node and print "Exists!";
// a bone that is no node follows it too; a NaN weight sum counts as non-zero and blends (to NaN).
TEST(MeshData, WhatFollowsTheMeshNode) {
  const Isometry3d holder = rigid(Vector3d(2, 0, 1), Vector3d(1, 1, 1), 50);
  const Isometry3d real = rigid(Vector3d(1, 1, 1), Vector3d::UnitY(), 45);
  auto nodes = flatNodes({{"holder", holder}, {"real", real}});
  const std::vector<aiVector3D> corners = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  auto at = [&](int v) { return Vector3d(corners[v].x, corners[v].y, corners[v].z); };
  skin(*makeMesh(corners, {}, {{0, 1, 2}}), nodes, 1, "Exists!Exists!Exists!", [&](int v) { return holder * at(v); });
  auto ghost = makeMesh(
      corners, {}, {{0, 1, 2}},
      {{"ghost", translation(5, 5, 5), {{0, 1.0f}, {1, 0.5f}}}, {"real", aiMatrix4x4(), {{1, 0.5f}, {2, 1.0f}}}});
  const Vector3d expected[3] = {holder * at(0), 0.5 * (holder * at(1)) + 0.5 * (real * at(1)), real * at(2)};
  auto m =
      skin(*ghost, nodes, 1, "add bone [ghost] but not find in node hierachy\n", [&](int v) { return expected[v]; });
  EXPECT_EQ(m->data_cpu.bone_nodeIdx, (std::vector<int>{-1, 2}));
  auto nan = makeMesh(corners, {}, {{0, 1, 2}}, {{"real", aiMatrix4x4(), {{0, std::nanf("")}, {1, 1.0f}, {2, 1.0f}}}});
  m = skin(*nan, nodes, 1, "", [&](int v) { return v == 0 ? Vector3d::Constant(NAN) : Vector3d(real * at(v)); });
  EXPECT_EQ(m->data_cpu.bone_affected, (std::vector<int>{1, 1, 1}));
}

TEST(MeshData, FacesAreasNormalsScaleAndTextureCoordinates) {
  // Vertex 0 is shared by a triangle of area 2 facing +z and one of area 1 facing +y; without normals in
  // the mesh they are area-weighted from the triangles. Lines and points are skipped.
  auto mesh = makeMesh({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 1}}, {}, {{0, 1, 2}, {0, 3, 1}, {2, 3}, {1}});
  nodeMgr nodes;
  const host_MeshData d = meshData(*mesh, nodes)->data_cpu;
  ASSERT_EQ(d.faces.size(), 2u);
  EXPECT_DOUBLE_EQ(d.faces[0].area, 2.0);
  EXPECT_DOUBLE_EQ(d.area, 3.0);
  EXPECT_EQ(d.triangle_indices, (std::vector<unsigned>{0, 1, 2, 0, 3, 1}));
  EXPECT_TRUE(d.init_normals[0].isApprox(Vector3d(0, 1, 2) / std::sqrt(5.0), 1e-15));
  EXPECT_EQ(d.init_normals[3], Vector3d(0, 1, 0));
  EXPECT_EQ(d.uv, std::vector<Eigen::Vector2d>(4, Eigen::Vector2d::Zero()));
  const host_MeshData half = meshData(*mesh, nodes, 0, 2.0)->data_cpu;
  EXPECT_EQ(half.init_positions[1], Vector3d(1, 0, 0));  // positions divided by the scale
  EXPECT_DOUBLE_EQ(half.area, 0.75);
  // Given normals are normalised (a zero one stays zero); the first texture channel gives uv.
  auto given = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, 3}, {0, 0, 0}, {1, 0, 0}}, {{0, 1, 2}});
  given->mTextureCoords[0] = new aiVector3D[3]{{0.5f, 0.25f, 0}, {1, 0, 0}, {0, 1, 0}};
  const host_MeshData g = meshData(*given, nodes)->data_cpu;
  EXPECT_EQ(g.init_normals[0], Vector3d(0, 0, 1));
  EXPECT_EQ(g.init_normals[1], Vector3d::Zero());
  EXPECT_EQ(g.uv[0], Eigen::Vector2d(0.5, 0.25));
  // A scaled bone offset keeps its rotation and has its translation divided by the scale.
  aiMatrix4x4 rotation, scaling;
  aiMatrix4x4::RotationZ(static_cast<float>(M_PI / 2), rotation);
  aiMatrix4x4::Scaling(aiVector3D(2, 3, 4), scaling);
  nodes.addNode("b", Isometry3d::Identity());
  auto bone = makeMesh({{0, 0, 0}}, {}, {}, {{"b", translation(4, 0, 2) * rotation * scaling, {{0, 1.0f}}}});
  EXPECT_TRUE(meshData(*bone, nodes, 0, 2.0)
                  ->data_cpu.bone_offset[0]
                  .isApprox(rigid(Vector3d(2, 0, 1), Vector3d::UnitZ(), 90), 1e-6));
}

// n vertices in a cube, weighted to three bones with pseudo-random weights; every 97th vertex has none.
std::unique_ptr<aiMesh> randomMesh(unsigned n) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-1, 1);
  std::vector<aiVector3D> vertices, normals;
  std::vector<BoneSpec> bones = {
      {"b0", translation(0, 0, 0), {}}, {"b1", translation(-1, 0, 0), {}}, {"b2", translation(0, -1, 0), {}}};
  for (unsigned v = 0; v < n; ++v) {
    aiVector3D p(u(rng), u(rng), u(rng));
    vertices.push_back(p);
    normals.push_back(p.NormalizeSafe());
    if (v % 97 == 0) continue;
    for (unsigned b = 0; b < bones.size(); ++b)
      if (b == v % 3 || u(rng) > 0) bones[b].weights.emplace_back(v, 0.5f + u(rng) * 0.4f);
  }
  std::vector<std::vector<unsigned>> faces;
  for (unsigned v = 0; v + 2 < n; v += 3) faces.push_back({v, v + 1, v + 2});
  return makeMesh(vertices, normals, faces, bones);
}

TEST(MeshData, HostAndDeviceSkinningAgreeAndEachCopyMovesWhatItShould) {
  auto nodes = flatNodes({{"b0", rigid(Vector3d(0.1, 0.2, 0.3), Vector3d(1, 2, 3), 25)},
                          {"b1", rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), -40)},
                          {"b2", rigid(Vector3d(0, 1, 0.5), Vector3d::UnitX(), 70)}});
  const unsigned n = 1537;  // four blocks of 512, the last one nearly empty
  auto mesh = randomMesh(n);
  auto cpu = meshData(*mesh, *nodes), gpu = meshData(*mesh, *nodes);
  MeshData& m = *gpu;
  cpu->setNodes(nodes);
  cpu->update(false, false);
  auto samePose = [&] {
    for (std::size_t v = 0; v < n; ++v)
      if (!m.data_cpu.curr_positions[v].isApprox(cpu->data_cpu.curr_positions[v], 1e-13) ||
          !m.data_cpu.curr_normals[v].isApprox(cpu->data_cpu.curr_normals[v], 1e-13))
        return false;
    return true;
  };
  m.setNodes(nodes);
  EXPECT_TRUE(m.dirty_cpu && !m.dirty_gpu);
  // On the device without download: nothing comes back before download().
  dz::device::resetCounters();
  m.update(true, false);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, 4u * sizeof(Isometry3d));  // node + 3 bones
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost, 0u);
  EXPECT_TRUE(!m.dirty_cpu && m.dirty_gpu);
  m.download();
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost, 2u * n * sizeof(Vector3d));
  EXPECT_TRUE(samePose());
  m.data_cpu.curr_positions = m.data_cpu.init_positions;
  dz::device::resetCounters();  // nothing new on the host: nothing uploaded
  m.update(true, true);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, 0u);
  EXPECT_TRUE(samePose());
  m.update(false, false);
  EXPECT_TRUE(m.dirty_cpu && !m.dirty_gpu);
  const std::size_t live = dz::device::counters().liveAllocations;
  m.freeGpu();
  EXPECT_FALSE(m.dirty_cpu || m.dirty_gpu);
  EXPECT_EQ(dz::device::counters().liveAllocations, live - 12);
  // A device update after freeGpu allocates again and uploads the current transforms.
  m.data_cpu.curr_positions = m.data_cpu.init_positions;
  m.setNodes(nodes);
  m.update(true, true);
  EXPECT_EQ(dz::device::counters().liveAllocations, live);
  EXPECT_TRUE(samePose());
  gpu.reset();
  EXPECT_EQ(dz::device::counters().liveAllocations, live - 12);

  // An empty mesh still launches one block and writes nothing.
  auto none = meshData(*makeMesh({}, {}, {}), *nodes);
  none->setNodes(nodes);
  dz::device::clearLaunchLog();
  dz::device::recordLaunches(true);
  none->update(true, true);
  dz::device::recordLaunches(false);
  ASSERT_EQ(dz::device::launchLog().size(), 1u);
  EXPECT_EQ(dz::device::launchLog()[0].grid.x * dz::device::launchLog()[0].block.x, 512u);
}

}  // namespace
