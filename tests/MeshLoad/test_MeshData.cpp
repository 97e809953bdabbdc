// Skinned mesh data: loading from an Assimp mesh, host and device skinning, device memory and flags.
#include <gtest/gtest.h>

#include <assimp/mesh.h>

#include <cmath>
#include <memory>
#include <random>

#include "MeshLoad/MeshData.h"
#include "device/device.h"

namespace {

using Eigen::AngleAxisd;
using Eigen::Isometry3d;
using Eigen::Vector3d;

struct BoneSpec {
  std::string name;
  aiMatrix4x4 offset;
  std::vector<std::pair<unsigned, float>> weights;
};

std::unique_ptr<aiMesh> makeMesh(const std::vector<aiVector3D>& vertices, const std::vector<aiVector3D>& normals,
                                 const std::vector<std::vector<unsigned>>& faces,
                                 const std::vector<BoneSpec>& bones = {}) {
  auto mesh = std::make_unique<aiMesh>();
  mesh->mName = "m";
  mesh->mNumVertices = static_cast<unsigned>(vertices.size());
  if (!vertices.empty()) {
    mesh->mVertices = new aiVector3D[vertices.size()];
    std::copy(vertices.begin(), vertices.end(), mesh->mVertices);
  }
  if (!normals.empty()) {
    mesh->mNormals = new aiVector3D[normals.size()];
    std::copy(normals.begin(), normals.end(), mesh->mNormals);
  }
  mesh->mNumFaces = static_cast<unsigned>(faces.size());
  if (!faces.empty()) mesh->mFaces = new aiFace[faces.size()];
  for (std::size_t f = 0; f < faces.size(); ++f) {
    mesh->mFaces[f].mNumIndices = static_cast<unsigned>(faces[f].size());
    mesh->mFaces[f].mIndices = new unsigned[faces[f].size()];
    std::copy(faces[f].begin(), faces[f].end(), mesh->mFaces[f].mIndices);
  }
  mesh->mNumBones = static_cast<unsigned>(bones.size());
  if (!bones.empty()) mesh->mBones = new aiBone*[bones.size()];
  for (std::size_t b = 0; b < bones.size(); ++b) {
    auto* bone = new aiBone();
    bone->mName = bones[b].name;
    bone->mOffsetMatrix = bones[b].offset;
    bone->mNumWeights = static_cast<unsigned>(bones[b].weights.size());
    bone->mWeights = new aiVertexWeight[bone->mNumWeights];
    for (unsigned w = 0; w < bone->mNumWeights; ++w)
      bone->mWeights[w] = aiVertexWeight(bones[b].weights[w].first, bones[b].weights[w].second);
    mesh->mBones[b] = bone;
  }
  return mesh;
}

aiMatrix4x4 translation(float x, float y, float z) {
  aiMatrix4x4 m;
  return aiMatrix4x4::Translation(aiVector3D(x, y, z), m);
}

Isometry3d rigid(const Vector3d& t, const Vector3d& axis, double degrees) {
  Isometry3d T = Isometry3d::Identity();
  T.linear() = AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
  T.translation() = t;
  return T;
}

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
  void SetUp() override { dz::device::setHostThreads(0); }
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
  EXPECT_EQ(d.bone_weights_arr[0], d.bone_weights[0][0]);
  EXPECT_EQ(d.bone_weights_arr[1], d.bone_weights[0][1]);
  EXPECT_EQ(d.bone_weights_arr[2 * 2 + 1], 1.0);
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

TEST_F(MeshDataTest, MeshWithoutBonesMovesRigidlyWithItsNode) {
  auto mesh = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {1, 0, 0}},
                       {{0, 1, 2}, {0, 1, 3}});
  const Isometry3d placement = rigid(Vector3d(2, 0, 1), Vector3d(1, 1, 1), 50);
  auto nodes = flatNodes({{"holder", placement}});

  testing::internal::CaptureStdout();
  MeshData m(mesh.get(), 1, &nodes->nameToIndex, 0, 1.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Exists!Exists!Exists!Exists!");
  EXPECT_TRUE(m.data_cpu.bone_nodeIdx.empty());
  EXPECT_EQ(m.data_cpu.bone_affected, (std::vector<int>{0, 0, 0, 0}));

  for (bool gpu : {false, true}) {
    m.setNodes(nodes);
    m.update(gpu, true);
    for (std::size_t v = 0; v < 4; ++v) {
      EXPECT_TRUE(m.data_cpu.curr_positions[v].isApprox(placement * v3(mesh->mVertices[v]), 1e-12)) << v;
      EXPECT_TRUE(m.data_cpu.curr_normals[v].isApprox(placement.linear() * v3(mesh->mNormals[v]), 1e-12)) << v;
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

  testing::internal::CaptureStdout();
  MeshData m(mesh.get(), 1, &nodes->nameToIndex, 0, 1.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "add bone [ghost] but not find in node hierachy\n");
  EXPECT_EQ(m.data_cpu.bone_nodeIdx, (std::vector<int>{-1, 2}));

  for (bool gpu : {false, true}) {
    m.setNodes(nodes);
    EXPECT_TRUE(m.data_cpu.bone_transforms[0].isApprox(holder));
    m.update(gpu, true);
    const auto& p = m.data_cpu.curr_positions;
    EXPECT_TRUE(p[0].isApprox(holder * Vector3d(1, 0, 0), 1e-12));
    EXPECT_TRUE(p[1].isApprox(0.5 * (holder * Vector3d(0, 1, 0)) + 0.5 * (real * Vector3d(0, 1, 0)), 1e-12));
    EXPECT_TRUE(p[2].isApprox(real * Vector3d(0, 0, 1), 1e-12));
  }
}

TEST_F(MeshDataTest, FacesAreasAndScale) {
  auto mesh = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 2}}, {{0, 0, 3}, {0, 0, 1}, {0, 0, 0}, {1, 0, 0}},
                       {{0, 1, 2}, {0, 1, 3}});
  nodeMgr nodes;
  {
    testing::internal::CaptureStdout();
    MeshData m(mesh.get(), 0, &nodes.nameToIndex, 0, 1.0);
    testing::internal::GetCapturedStdout();
    const host_MeshData& d = m.data_cpu;
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
  }
  {
    testing::internal::CaptureStdout();
    MeshData m(mesh.get(), 0, &nodes.nameToIndex, 0, 2.0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(m.data_cpu.init_positions[3], Vector3d(0, 0, 1));
    EXPECT_DOUBLE_EQ(m.data_cpu.faces[0].area, 0.125);
    EXPECT_DOUBLE_EQ(m.data_cpu.area, 0.375);
  }
}

TEST_F(MeshDataTest, TextureCoordinatesOfTheFirstChannel) {
  auto mesh = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}, {{0, 1, 2}});
  mesh->mTextureCoords[0] = new aiVector3D[3]{{0.5f, 0.25f, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh->mNumUVComponents[0] = 2;
  nodeMgr nodes;
  testing::internal::CaptureStdout();
  MeshData m(mesh.get(), 0, &nodes.nameToIndex, 0, 1.0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(m.data_cpu.uv[0], Eigen::Vector2d(0.5, 0.25));
  EXPECT_EQ(m.data_cpu.uv[2], Eigen::Vector2d(0, 1));
}

TEST_F(MeshDataTest, MissingNormalsAreDerivedFromTheTrianglesAndOtherPrimitivesSkipped) {
  // Vertex 0 is shared by a triangle of area 2 facing +z and one of area 1 facing +y.
  auto mesh = makeMesh({{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {0, 0, 1}}, {}, {{0, 1, 2}, {0, 3, 1}, {2, 3}, {1}});
  nodeMgr nodes;
  testing::internal::CaptureStdout();
  MeshData m(mesh.get(), 0, &nodes.nameToIndex, 0, 1.0);
  testing::internal::GetCapturedStdout();
  const host_MeshData& d = m.data_cpu;
  ASSERT_EQ(d.faces.size(), 2u);
  EXPECT_EQ(d.triangle_indices.size(), 6u);
  EXPECT_DOUBLE_EQ(d.area, 3.0);
  EXPECT_TRUE(d.init_normals[0].isApprox(Vector3d(0, 1, 2) / std::sqrt(5.0), 1e-15));
  EXPECT_TRUE(d.init_normals[1].isApprox(Vector3d(0, 1, 2) / std::sqrt(5.0), 1e-15));
  EXPECT_EQ(d.init_normals[2], Vector3d(0, 0, 1));
  EXPECT_EQ(d.init_normals[3], Vector3d(0, 1, 0));
  EXPECT_EQ(d.curr_normals, d.init_normals);
}

TEST_F(MeshDataTest, IndicesBeyondTheVerticesAreRejected) {
  nodeMgr nodes;
  auto badFace = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 3}});
  EXPECT_THROW(MeshData(badFace.get(), 0, &nodes.nameToIndex, 0, 1.0), std::runtime_error);
  nodes.addNode("b", Isometry3d::Identity());
  auto badWeight = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}}, {{"b", aiMatrix4x4(), {{7, 1.0f}}}});
  EXPECT_THROW(MeshData(badWeight.get(), 0, &nodes.nameToIndex, 0, 1.0), std::runtime_error);
}

TEST_F(MeshDataTest, ScaledOffsetKeepsItsRotationAndDividesItsTranslation) {
  aiMatrix4x4 rotation, scaling;
  aiMatrix4x4::RotationZ(static_cast<float>(M_PI / 2), rotation);
  aiMatrix4x4::Scaling(aiVector3D(2, 3, 4), scaling);
  const aiMatrix4x4 offset = translation(4, 0, 2) * rotation * scaling;
  nodeMgr nodes;
  nodes.addNode("b", Isometry3d::Identity());
  auto mesh = makeMesh({{0, 0, 0}}, {}, {}, {{"b", offset, {{0, 1.0f}}}});
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

// A mesh of n vertices on a sphere, weighted to three bones with pseudo-random weights; every 97th vertex
// has none.
struct RandomMesh {
  std::unique_ptr<aiMesh> mesh;
  std::shared_ptr<nodeMgr> nodes;
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
  RandomMesh r;
  r.mesh = makeMesh(vertices, normals, faces, bones);
  r.nodes = flatNodes({{"b0", rigid(Vector3d(0.1, 0.2, 0.3), Vector3d(1, 2, 3), 25)},
                       {"b1", rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), -40)},
                       {"b2", rigid(Vector3d(0, 1, 0.5), Vector3d::UnitX(), 70)}});
  return r;
}

TEST_F(MeshDataTest, HostAndDeviceSkinningAgree) {
  RandomMesh r = randomMesh(1537);  // four blocks, the last one nearly empty
  testing::internal::CaptureStdout();
  MeshData cpu(r.mesh.get(), 0, &r.nodes->nameToIndex, 0, 1.0);
  MeshData gpu(r.mesh.get(), 0, &r.nodes->nameToIndex, 0, 1.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout().size(), 2u * 16 * 7);  // 16 unweighted vertices per mesh
  cpu.setNodes(r.nodes);
  cpu.update(false, false);
  for (int threads : {1, 4}) {
    dz::device::setHostThreads(threads);
    gpu.setNodes(r.nodes);
    gpu.update(true, true);
    for (std::size_t v = 0; v < cpu.data_cpu.curr_positions.size(); ++v) {
      ASSERT_TRUE(gpu.data_cpu.curr_positions[v].isApprox(cpu.data_cpu.curr_positions[v], 1e-13)) << v;
      ASSERT_TRUE(gpu.data_cpu.curr_normals[v].isApprox(cpu.data_cpu.curr_normals[v], 1e-13)) << v;
    }
  }
  // The skinned positions are not the bind pose: the comparison is not trivially true.
  EXPECT_FALSE(cpu.data_cpu.curr_positions[1].isApprox(cpu.data_cpu.init_positions[1], 1e-3));
}

TEST_F(MeshDataTest, DirtyFlagsAndWhatEachCopyMoves) {
  RandomMesh r = randomMesh(300);
  testing::internal::CaptureStdout();
  MeshData m(r.mesh.get(), 0, &r.nodes->nameToIndex, 0, 1.0);
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(m.dirty_cpu);
  EXPECT_FALSE(m.dirty_gpu);

  m.setNodes(r.nodes);
  EXPECT_TRUE(m.dirty_cpu);
  EXPECT_FALSE(m.dirty_gpu);

  // On the device without download: the host keeps the bind pose, the device holds the new pose.
  dz::device::resetCounters();
  m.update(true, false);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, 4u * sizeof(Isometry3d));  // node + 3 bones
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost, 0u);
  EXPECT_FALSE(m.dirty_cpu);
  EXPECT_TRUE(m.dirty_gpu);
  EXPECT_EQ(m.data_cpu.curr_positions, m.data_cpu.init_positions);

  m.download();
  EXPECT_FALSE(m.dirty_gpu);
  EXPECT_EQ(dz::device::counters().bytesDeviceToHost, 2u * 300 * sizeof(Vector3d));
  std::vector<Vector3d> fromDevice = m.data_cpu.curr_positions;
  m.data_cpu.skinCpu();
  for (std::size_t v = 0; v < fromDevice.size(); ++v)
    ASSERT_TRUE(fromDevice[v].isApprox(m.data_cpu.curr_positions[v], 1e-13)) << v;
  EXPECT_NE(fromDevice[1], m.data_cpu.init_positions[1]);

  // A second device update with nothing new on the host uploads nothing.
  dz::device::resetCounters();
  m.update(true, true);
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, 0u);
  EXPECT_FALSE(m.dirty_cpu);
  EXPECT_FALSE(m.dirty_gpu);

  m.update(false, false);
  EXPECT_TRUE(m.dirty_cpu);
  EXPECT_FALSE(m.dirty_gpu);
  m.upload();
  EXPECT_FALSE(m.dirty_cpu);

  m.dirty_cpu = m.dirty_gpu = true;
  m.freeGpu();
  EXPECT_FALSE(m.dirty_cpu);
  EXPECT_FALSE(m.dirty_gpu);
  EXPECT_EQ(m.data_gpu.curr_positions, nullptr);
}

TEST_F(MeshDataTest, DeviceArraysLiveAsLongAsTheMesh) {
  RandomMesh r = randomMesh(30);
  const std::size_t before = dz::device::counters().liveAllocations;
  testing::internal::CaptureStdout();
  {
    MeshData m(r.mesh.get(), 0, &r.nodes->nameToIndex, 0, 1.0);
    EXPECT_EQ(dz::device::counters().liveAllocations, before + 12);
    m.freeGpu();
    EXPECT_EQ(dz::device::counters().liveAllocations, before);
    // A device update after freeGpu allocates again and uploads the current transforms.
    m.setNodes(r.nodes);
    m.dirty_cpu = false;
    m.update(true, true);
    EXPECT_EQ(dz::device::counters().liveAllocations, before + 12);
    std::vector<Vector3d> fromDevice = m.data_cpu.curr_positions;
    m.data_cpu.skinCpu();
    EXPECT_TRUE(fromDevice[5].isApprox(m.data_cpu.curr_positions[5], 1e-13));
  }
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(dz::device::counters().liveAllocations, before);
}

}  // namespace
