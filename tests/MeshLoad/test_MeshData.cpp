// Skinned mesh data: loading from an Assimp mesh, host and device skinning, device memory and flags.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "MeshLoad/MeshData.h"
#include "MeshLoad/meshTestUtil.h"
#include "device/device.h"

namespace {

using Eigen::Isometry3d;
using Eigen::Vector3d;

// A flat hierarchy: node 0 "root", then the named nodes as its children, with the given transforms.
std::shared_ptr<nodeMgr> flatNodes(const std::vector<std::pair<std::string, Isometry3d>>& children) {
  auto m = std::make_shared<nodeMgr>();
  m->addNode("root", Isometry3d::Identity());
  m->parentIdx.push_back(-1);
  m->childBegin.push_back(children.empty() ? -1 : 1);
  m->childEnd.push_back(children.empty() ? -1 : 1 + static_cast<int>(children.size()));
  for (const auto& [name, T] : children) {
    m->addNode(name, T);
    m->parentIdx.push_back(0);
    m->childBegin.push_back(-1);
    m->childEnd.push_back(-1);
  }
  m->updateGlobalTransforms();
  return m;
}

Vector3d v3(const aiVector3D& v) { return Vector3d(v.x, v.y, v.z); }

class MeshDataTest : public testing::Test {
 protected:
  void TearDown() override { dz::device::setHostThreads(0); }
};

TEST_F(MeshDataTest, WeightsAreNormalisedAndBlendTheBoneTransforms) {
  // Bones at nodes b0 (x = 1) and b1 (x = -1, turned about z); offsets undo their bind placements.
  auto mesh = makeMesh(
      {{1, 0, 0}, {0, 2, 0}, {0, 0, 1}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, {{0, 1, 2}},
      {{"b0", translation(-1, 0, 0), {{0, 0.2f}, {1, 1.0f}}}, {"b1", translation(1, 0, 0), {{0, 0.6f}, {2, 0.5f}}}});
  const Isometry3d w0 = rigid(Vector3d(1, 0.5, 0), Vector3d::UnitX(), 30);
  const Isometry3d w1 = rigid(Vector3d(-1, 0, 0), Vector3d::UnitZ(), 90);
  auto nodes = flatNodes({{"b0", w0}, {"b1", w1}});

  MeshData m(mesh.get(), 0, &nodes->nameToIndex, 0, 1.0);
  const host_MeshData& d = m.data_cpu;
  ASSERT_EQ(d.bone_nodeIdx, (std::vector<int>{1, 2}));
  EXPECT_NEAR(d.bone_weights[0][0], 0.25, 1e-7);
  EXPECT_NEAR(d.bone_weights[0][1], 0.75, 1e-7);
  EXPECT_EQ(d.bone_affected, (std::vector<int>{1, 1, 1}));

  m.setNodes(nodes);
  m.update(false, false);
  const Isometry3d T0 = w0 * Eigen::Translation3d(-1, 0, 0);
  const Isometry3d T1 = w1 * Eigen::Translation3d(1, 0, 0);
  const Vector3d p0(1, 0, 0);
  EXPECT_TRUE(d.curr_positions[0].isApprox(0.25 * (T0 * p0) + 0.75 * (T1 * p0), 1e-7));
  EXPECT_TRUE(d.curr_positions[1].isApprox(T0 * Vector3d(0, 2, 0), 1e-12));
  EXPECT_TRUE(d.curr_positions[2].isApprox(T1 * Vector3d(0, 0, 1), 1e-12));
  EXPECT_TRUE(d.curr_normals[2].isApprox(T1.linear() * Vector3d(0, 0, 1), 1e-12));
}

// A NaN weight sum counts as non-zero: the vertex is bone-affected, nothing is printed, and both skinning
// paths blend (to NaN) instead of following the mesh node.
TEST_F(MeshDataTest, NaNWeightSumsCountAsNonZero) {
  auto mesh = makeMesh({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {}, {{0, 1, 2}},
                       {{"b0", aiMatrix4x4(), {{0, std::nanf("")}, {1, 1.0f}, {2, 1.0f}}}});
  auto nodes = flatNodes({{"b0", rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), 30)}});
  std::unique_ptr<MeshData> m;
  EXPECT_EQ(captureStdout([&] { m = std::make_unique<MeshData>(mesh.get(), 0, &nodes->nameToIndex, 0, 1.0); }), "");
  EXPECT_EQ(m->data_cpu.bone_affected, (std::vector<int>{1, 1, 1}));
  for (bool gpu : {false, true}) {
    m->setNodes(nodes);
    m->update(gpu, true);
    EXPECT_TRUE(m->data_cpu.curr_positions[0].hasNaN()) << gpu;
    EXPECT_TRUE(m->data_cpu.curr_positions[1].allFinite()) << gpu;
  }
}

TEST_F(MeshDataTest, MeshWithoutBonesMovesRigidlyWithItsNode) {
  auto mesh = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {1, 0, 0}},
                       {{0, 1, 2}, {0, 1, 3}});
  const Isometry3d placement = rigid(Vector3d(2, 0, 1), Vector3d(1, 1, 1), 50);
  auto nodes = flatNodes({{"holder", placement}});
  std::unique_ptr<MeshData> m;
  EXPECT_EQ(captureStdout([&] { m = std::make_unique<MeshData>(mesh.get(), 1, &nodes->nameToIndex, 0, 1.0); }),
            "Exists!Exists!Exists!Exists!");
  EXPECT_EQ(m->data_cpu.bone_affected, (std::vector<int>{0, 0, 0, 0}));
  for (bool gpu : {false, true}) {
    m->setNodes(nodes);
    m->update(gpu, true);
    for (std::size_t v = 0; v < 4; ++v) {
      EXPECT_TRUE(m->data_cpu.curr_positions[v].isApprox(placement * v3(mesh->mVertices[v]), 1e-12)) << v;
      EXPECT_TRUE(m->data_cpu.curr_normals[v].isApprox(placement.linear() * v3(mesh->mNormals[v]), 1e-12)) << v;
    }
  }
}

TEST_F(MeshDataTest, BoneWithoutNodeFollowsTheMeshNode) {
  // Vertex 0 hangs on the missing bone alone, vertex 1 half on it and half on a real bone.
  auto mesh = makeMesh(
      {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, {{0, 1, 2}},
      {{"ghost", translation(5, 5, 5), {{0, 1.0f}, {1, 0.5f}}}, {"real", aiMatrix4x4(), {{1, 0.5f}, {2, 1.0f}}}});
  const Isometry3d holder = rigid(Vector3d(0, 0, 3), Vector3d::UnitZ(), 90);
  const Isometry3d real = rigid(Vector3d(1, 1, 1), Vector3d::UnitY(), 45);
  auto nodes = flatNodes({{"holder", holder}, {"real", real}});
  std::unique_ptr<MeshData> m;
  EXPECT_EQ(captureStdout([&] { m = std::make_unique<MeshData>(mesh.get(), 1, &nodes->nameToIndex, 0, 1.0); }),
            "add bone [ghost] but not find in node hierachy\n");
  EXPECT_EQ(m->data_cpu.bone_nodeIdx, (std::vector<int>{-1, 2}));
  for (bool gpu : {false, true}) {
    m->setNodes(nodes);
    m->update(gpu, true);
    const auto& p = m->data_cpu.curr_positions;
    EXPECT_TRUE(p[0].isApprox(holder * Vector3d(1, 0, 0), 1e-12));
    EXPECT_TRUE(p[1].isApprox(0.5 * (holder * Vector3d(0, 1, 0)) + 0.5 * (real * Vector3d(0, 1, 0)), 1e-12));
    EXPECT_TRUE(p[2].isApprox(real * Vector3d(0, 0, 1), 1e-12));
  }
}

TEST_F(MeshDataTest, FacesAreasScaleAndTextureCoordinates) {
  auto mesh = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 2}}, {{0, 0, 3}, {0, 0, 1}, {0, 0, 0}, {1, 0, 0}},
                       {{0, 1, 2}, {0, 1, 3}});
  nodeMgr nodes;
  std::unique_ptr<MeshData> m, half;
  captureStdout([&] {
    m = std::make_unique<MeshData>(mesh.get(), 0, &nodes.nameToIndex, 0, 1.0);
    half = std::make_unique<MeshData>(mesh.get(), 0, &nodes.nameToIndex, 0, 2.0);
  });
  const host_MeshData& d = m->data_cpu;
  ASSERT_EQ(d.faces.size(), 2u);
  EXPECT_DOUBLE_EQ(d.faces[0].area, 0.5);
  EXPECT_DOUBLE_EQ(d.faces[1].area, 1.0);
  EXPECT_DOUBLE_EQ(d.area, 1.5);
  EXPECT_EQ(d.faces[1].linkIdx, 0);
  EXPECT_EQ(d.faces[1].vert2, 3);
  EXPECT_EQ(d.triangle_indices, (std::vector<unsigned>{0, 1, 2, 0, 1, 3}));
  EXPECT_EQ(d.init_normals[0], Vector3d(0, 0, 1));  // normalised
  EXPECT_EQ(d.init_normals[2], Vector3d::Zero());   // a zero normal stays zero
  EXPECT_EQ(d.uv, std::vector<Eigen::Vector2d>(4, Eigen::Vector2d::Zero()));
  EXPECT_EQ(half->data_cpu.init_positions[3], Vector3d(0, 0, 1));
  EXPECT_DOUBLE_EQ(half->data_cpu.faces[0].area, 0.125);
  EXPECT_DOUBLE_EQ(half->data_cpu.area, 0.375);

  mesh->mTextureCoords[0] = new aiVector3D[4]{{0.5f, 0.25f, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}};
  mesh->mNumUVComponents[0] = 2;
  captureStdout([&] { m = std::make_unique<MeshData>(mesh.get(), 0, &nodes.nameToIndex, 0, 1.0); });
  EXPECT_EQ(m->data_cpu.uv[0], Eigen::Vector2d(0.5, 0.25));
  EXPECT_EQ(m->data_cpu.uv[2], Eigen::Vector2d(0, 1));
}

TEST_F(MeshDataTest, MissingNormalsAreDerivedFromTheTrianglesAndOtherPrimitivesSkipped) {
  // Vertex 0 is shared by a triangle of area 2 facing +z and one of area 1 facing +y.
  auto mesh = makeMesh({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 1}}, {}, {{0, 1, 2}, {0, 3, 1}, {2, 3}, {1}});
  nodeMgr nodes;
  std::unique_ptr<MeshData> m;
  captureStdout([&] { m = std::make_unique<MeshData>(mesh.get(), 0, &nodes.nameToIndex, 0, 1.0); });
  const host_MeshData& d = m->data_cpu;
  ASSERT_EQ(d.faces.size(), 2u);
  EXPECT_EQ(d.triangle_indices.size(), 6u);
  EXPECT_DOUBLE_EQ(d.area, 3.0);
  EXPECT_TRUE(d.init_normals[0].isApprox(Vector3d(0, 1, 2) / std::sqrt(5.0), 1e-15));
  EXPECT_TRUE(d.init_normals[1].isApprox(Vector3d(0, 1, 2) / std::sqrt(5.0), 1e-15));
  EXPECT_EQ(d.init_normals[2], Vector3d(0, 0, 1));
  EXPECT_EQ(d.init_normals[3], Vector3d(0, 1, 0));
  EXPECT_EQ(d.curr_normals, d.init_normals);
}

TEST_F(MeshDataTest, ScaledOffsetKeepsItsRotationAndDividesItsTranslation) {
  aiMatrix4x4 rotation, scaling;
  aiMatrix4x4::RotationZ(static_cast<float>(M_PI / 2), rotation);
  aiMatrix4x4::Scaling(aiVector3D(2, 3, 4), scaling);
  nodeMgr nodes;
  nodes.addNode("b", Isometry3d::Identity());
  auto mesh = makeMesh({{0, 0, 0}}, {}, {}, {{"b", translation(4, 0, 2) * rotation * scaling, {{0, 1.0f}}}});
  MeshData m(mesh.get(), 0, &nodes.nameToIndex, 0, 2.0);
  EXPECT_TRUE(m.data_cpu.bone_offset[0].isApprox(rigid(Vector3d(2, 0, 1), Vector3d::UnitZ(), 90), 1e-6));
}

TEST_F(MeshDataTest, EmptyMeshLaunchesOneBlockAndWritesNothing) {
  auto mesh = makeMesh({}, {}, {});
  auto nodes = flatNodes({});
  MeshData m(mesh.get(), 0, &nodes->nameToIndex, 0, 1.0);
  m.setNodes(nodes);
  dz::device::clearLaunchLog();
  dz::device::recordLaunches(true);
  m.update(true, true);
  dz::device::recordLaunches(false);
  ASSERT_EQ(dz::device::launchLog().size(), 1u);
  const auto& launch = dz::device::launchLog()[0];
  EXPECT_STREQ(launch.kernel, "updateVerticesPosKernel");
  EXPECT_EQ(launch.grid.x, 1u);
  EXPECT_EQ(launch.block.x, 512u);
  EXPECT_TRUE(m.data_cpu.curr_positions.empty());
}

// n vertices in a cube, weighted to three bones with pseudo-random weights; every 97th vertex has none.
struct RandomMesh {
  std::unique_ptr<aiMesh> mesh;
  std::shared_ptr<nodeMgr> nodes;
  std::unique_ptr<MeshData> make() { return std::make_unique<MeshData>(mesh.get(), 0, &nodes->nameToIndex, 0, 1.0); }
};

RandomMesh randomMesh(unsigned n) {
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
  return {makeMesh(vertices, normals, faces, bones),
          flatNodes({{"b0", rigid(Vector3d(0.1, 0.2, 0.3), Vector3d(1, 2, 3), 25)},
                     {"b1", rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), -40)},
                     {"b2", rigid(Vector3d(0, 1, 0.5), Vector3d::UnitX(), 70)}})};
}

void expectSamePose(const std::vector<Vector3d>& a, const std::vector<Vector3d>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t v = 0; v < a.size(); ++v) ASSERT_TRUE(a[v].isApprox(b[v], 1e-13)) << v;
}

TEST_F(MeshDataTest, HostAndDeviceSkinningAgree) {
  RandomMesh r = randomMesh(1537);  // four blocks, the last one nearly empty
  std::unique_ptr<MeshData> cpu, gpu;
  EXPECT_EQ(captureStdout([&] { cpu = r.make(), gpu = r.make(); }).size(),
            2u * 16 * 7);  // 16 unweighted each
  cpu->setNodes(r.nodes);
  cpu->update(false, false);
  for (int threads : {1, 4}) {
    dz::device::setHostThreads(threads);
    gpu->setNodes(r.nodes);
    gpu->update(true, true);
    expectSamePose(gpu->data_cpu.curr_positions, cpu->data_cpu.curr_positions);
    expectSamePose(gpu->data_cpu.curr_normals, cpu->data_cpu.curr_normals);
  }
  EXPECT_FALSE(cpu->data_cpu.curr_positions[1].isApprox(cpu->data_cpu.init_positions[1], 1e-3));  // not trivial
}

TEST_F(MeshDataTest, DirtyFlagsAndWhatEachCopyMoves) {
  RandomMesh r = randomMesh(300);
  std::unique_ptr<MeshData> mp;
  captureStdout([&] { mp = r.make(); });
  MeshData& m = *mp;
  EXPECT_FALSE(m.dirty_cpu || m.dirty_gpu);
  m.setNodes(r.nodes);
  EXPECT_TRUE(m.dirty_cpu && !m.dirty_gpu);

  // On the device without download: the host keeps the bind pose, the device holds the new pose.
  dz::device::resetCounters();
  m.update(true, false);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice,
            4u * sizeof(Isometry3d));  // node + 3 bones
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost, 0u);
  EXPECT_TRUE(!m.dirty_cpu && m.dirty_gpu);
  EXPECT_EQ(m.data_cpu.curr_positions, m.data_cpu.init_positions);

  m.download();
  EXPECT_FALSE(m.dirty_gpu);
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost, 2u * 300 * sizeof(Vector3d));
  const std::vector<Vector3d> fromDevice = m.data_cpu.curr_positions;
  m.data_cpu.skinCpu();
  expectSamePose(fromDevice, m.data_cpu.curr_positions);
  EXPECT_NE(fromDevice[1], m.data_cpu.init_positions[1]);

  dz::device::resetCounters();  // nothing new on the host: nothing uploaded
  m.update(true, true);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, 0u);
  EXPECT_FALSE(m.dirty_cpu || m.dirty_gpu);

  m.update(false, false);
  EXPECT_TRUE(m.dirty_cpu && !m.dirty_gpu);
  m.upload();
  EXPECT_FALSE(m.dirty_cpu);
  const std::size_t live = dz::device::counters().liveAllocations;
  m.dirty_cpu = m.dirty_gpu = true;
  m.freeGpu();
  EXPECT_FALSE(m.dirty_cpu || m.dirty_gpu);
  EXPECT_EQ(m.data_gpu.curr_positions, nullptr);
  EXPECT_EQ(dz::device::counters().liveAllocations, live - 12);

  // A device update after freeGpu allocates again and uploads the current transforms.
  m.setNodes(r.nodes);
  m.dirty_cpu = false;
  m.update(true, true);
  EXPECT_EQ(dz::device::counters().liveAllocations, live);
  const std::vector<Vector3d> again = m.data_cpu.curr_positions;
  m.data_cpu.skinCpu();
  expectSamePose(again, m.data_cpu.curr_positions);
  mp.reset();
  EXPECT_EQ(dz::device::counters().liveAllocations, live - 12);
}

}  // namespace
