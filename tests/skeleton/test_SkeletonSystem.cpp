// Skeleton systems built from the test models: joints, tree, links, markers, posing and failed loads.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "device/hostRuntime.h"
#include "models/testModels.h"
#include "skeleton/skeletonTestUtil.h"

namespace {

using Eigen::Vector3d;

TEST(SkeletonSystem, HipsGetIntermediateJointsAndLinks) {
  SkeletonSystem s(kModels + "/hips.fbx", 0);
  const nodeMgr& nodes = *s.mesh->nodeManager;
  const Names legs = {"Spine", "LeftLeg", "RightLeg"};
  for (int j = 0; j < 3; ++j)
    EXPECT_EQ(nodes.getParentName(nodes.nameToIndex.at(legs[j])), "Hips_intermediate_" + std::to_string(j));
  Names joints = namesOf(s.joints);
  std::sort(joints.begin(), joints.end());
  EXPECT_EQ(joints, (Names{"Head", "Hips", "Hips_intermediate_0", "Hips_intermediate_1", "Hips_intermediate_2",
                           "LeftFoot", "LeftLeg", "RightFoot", "RightLeg", "Spine"}));
  for (std::size_t i = 0; i < s.joints.size(); ++i) {
    EXPECT_EQ(s.joints[i]->index, static_cast<int>(i));
    EXPECT_EQ(s.joints[i]->isIntermediate, s.joints[i]->name.find("intermediate") != std::string::npos);
  }
  ASSERT_EQ(s.rootJoint, s.jointMap.at("Hips"));
  EXPECT_EQ(s.rootJoint->parent.lock(), nullptr);
  EXPECT_EQ(namesOf(s.rootJoint->children),
            (Names{"Hips_intermediate_0", "Hips_intermediate_1", "Hips_intermediate_2"}));

  const SkeletonLink& hips = *s.jointLinkMap.at("Hips");
  EXPECT_EQ(hips.name, "[link]Hips");
  EXPECT_EQ(hips.mass, 0.01);
  const SkeletonLink& spine = *s.linkMap.at("[link]Hips::Spine");
  EXPECT_EQ(s.jointLinkMap.at("Hips_intermediate_0").get(), &spine);
  EXPECT_EQ(spine.mass, 1.0);
  EXPECT_NEAR(spine.size.x(), 0.25, 1e-6);
  // Leaves get no link; every joint with children gets exactly one.
  for (const char* leaf : {"Head", "LeftFoot", "RightFoot"}) EXPECT_EQ(s.jointLinkMap.count(leaf), 0u) << leaf;
  EXPECT_EQ(s.links.size(), 7u);
}

// trunk has exactly two children. left is turned and scaled: the loader keeps the rotation of its matrix
// rebuilt with the scale on the rows (not its turn, nor the rotation of the matrix as it is).
TEST(SkeletonSystem, ForkGetsIntermediateNodesAndTheScaledNodeKeepsTheRowScaledRotation) {
  SkeletonSystem s(kModels + "/fork.fbx", 0);
  const nodeMgr& nodes = *s.mesh->nodeManager;
  EXPECT_EQ(nodes.getParentName(nodes.nameToIndex.at("left")), "trunk_intermediate_0");
  EXPECT_EQ(nodes.getParentName(nodes.nameToIndex.at("right")), "trunk_intermediate_1");
  // diag(1, 2, 2) times the turn [0 1 0; 0 0 1; 1 0 0] has trace 0 and the quaternion (w, x, y, z) =
  // (-0.5, 1, 1, 0.5) from its last diagonal entry; normalised, this rotation.
  Eigen::Matrix3d rowsScaled;
  rowsScaled << 0, 1, 0, 0.6, 0, 0.8, 0.8, 0, -0.6;
  EXPECT_TRUE(nodeOf(*s.mesh, "left").localTrans.linear().isApprox(rowsScaled, 1e-6));
}

TEST(SkeletonSystem, SubstringBonesPullInNodesAndUnattachedJointsKeepTheirLinks) {
  SkeletonSystem s(kModels + "/substring.fbx", 0);
  // Bone Arm (mesh skin_a) brings LeftArm and both hands; bone Root (skin_b) brings RootNode and its children.
  EXPECT_EQ(namesOf(s.joints),
            (Names{"LeftArm", "Arm", "LeftHand", "Hand", "RootNode", "skin_a", "skin_b", "Root", "Torso"}));
  EXPECT_EQ(s.rootJoint, s.jointMap.at("LeftArm"));
  // Arm's parent node Chest is no joint; RootNode is a hierarchy root found after the root.
  for (const char* loose : {"Arm", "RootNode"}) {
    EXPECT_EQ(s.jointMap.at(loose)->parent.lock(), nullptr) << loose;
    for (const auto& other : s.joints)
      for (const auto& child : other->children) EXPECT_NE(child->name, loose);
  }
  EXPECT_EQ(namesOf(s.jointMap.at("RootNode")->children), (Names{"skin_a", "skin_b", "Root"}));
  EXPECT_EQ(namesOf(s.links),
            (Names{"[link]LeftArm::LeftHand", "[link]Arm::Hand", "[link]RootNode::skin_a", "[link]Root::Torso"}));
  EXPECT_EQ(captureStdout([&] { s.printJointTree(); }), "--LeftArm 1 p:Chest\n----LeftHand 0 p:LeftArm\n");
}

// Scenes built in memory: a bone without a node, no mesh at all.
TEST(SkeletonSystem, BadHierarchiesAreSkippedOrRaise) {
  auto scene = std::make_unique<aiScene>();
  scene->mRootNode = new aiNode("RootNode");
  aiNode* a =
      testmodels::addChild(testmodels::addChild(scene->mRootNode, "Armature", aiMatrix4x4()), "A", aiMatrix4x4());
  testmodels::addChild(testmodels::addChild(a, "B", translation(1, 0, 0)), "C", translation(1, 0, 0));
  scene->mNumMeshes = 1;
  scene->mMeshes = new aiMesh* [1] {
    makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}},
             {{"ghost", aiMatrix4x4(), {{0, 1.0f}}}, {"B", aiMatrix4x4(), {{1, 1.0f}}}})
        .release()
  };
  scene->mRootNode->mNumMeshes = 1;
  scene->mRootNode->mMeshes = new unsigned[1]{0};

  SkeletonSystem s;
  s.mesh = std::make_shared<SkeletalMesh>();
  captureStdout([&] { s.mesh->loadScene(scene.get()); });
  s.buildJoints();
  EXPECT_EQ(namesOf(s.joints), (Names{"B", "C"}));
  EXPECT_EQ(s.jointMap.at("C")->parent.lock(), s.jointMap.at("B"));
  EXPECT_EQ(s.rootJoint, s.jointMap.at("B"));
  EXPECT_EQ(s.getRenderData()->pos.size(), 3u);

  EXPECT_THROW(SkeletonSystem().buildJoints(), std::logic_error);
  scene->mRootNode->mNumMeshes = 0;  // the same nodes without a mesh
  s.mesh->loadScene(scene.get());
  s.buildJoints();
  EXPECT_TRUE(s.joints.empty());
  EXPECT_EQ(s.rootJoint, nullptr);
  EXPECT_THROW(s.printJointTree(), std::logic_error);
  EXPECT_THROW(s.getRenderData(), std::logic_error);
}

// Joints, links and skeleton files find nodes and joints by name. A bone that two meshes share gets its
// intermediate nodes once; a name that would be given twice is refused before any node is inserted.
TEST(SkeletonSystem, NamesAreGivenOnce) {
  const auto bone = [](const char* name) { return testmodels::BoneSpec{name, aiMatrix4x4(), {{0, 1.0f}}}; };
  const auto mesh = [](std::vector<testmodels::BoneSpec> bones) {
    return makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}}, bones).release();
  };
  const std::vector<SceneNode> fork = {{"RootNode", -1, {0, 1}}, {"arm", 0, {}}, {"X", 1, {}}, {"c0", 2, {}},
                                       {"c1", 2, {}}};
  auto shared = sceneOf(fork, {mesh({bone("X")}), mesh({bone("X")})});
  SkeletonSystem s;
  s.mesh = std::make_shared<SkeletalMesh>();
  captureStdout([&] { s.mesh->loadScene(shared.get()); });
  s.buildJoints();
  EXPECT_EQ(s.mesh->nodeManager->nodes.size(), 7u);
  EXPECT_EQ(namesOf(s.joints), (Names{"X", "c0", "c1", "X_intermediate_0", "X_intermediate_1"}));
  EXPECT_EQ(s.jointMap.at("c1")->parent.lock()->parent.lock(), s.rootJoint);

  std::vector<SceneNode> taken = fork;
  taken[0].meshes = {0};
  taken.push_back({"X_intermediate_1", 1, {}});
  // Link names join the joint names with "::": a::b with its child c and a with its child b::c.
  const std::vector<SceneNode> joined = {{"RootNode", -1, {0}}, {"x", 0, {}},    {"a", 1, {}},
                                         {"a::b", 1, {}},       {"b::c", 2, {}}, {"c", 3, {}}};
  const std::pair<std::unique_ptr<aiScene>, std::string> rows[] = {
      {sceneOf(taken, {mesh({bone("X")})}), "the intermediate node 'X_intermediate_1' would take the name of a node"},
      {sceneOf(joined, {mesh({bone("a")})}), "two links are named '[link]a::b::c'"}};
  for (const auto& [scene, message] : rows) {
    captureStdout([&] { s.mesh->loadScene(scene.get()); });
    const std::size_t before = s.mesh->nodeManager->nodes.size();
    EXPECT_NE(thrownWhat<std::invalid_argument>([&] { s.buildJoints(); }).find(message), std::string::npos) << message;
    if (message.find("intermediate") != std::string::npos) {
      EXPECT_EQ(s.mesh->nodeManager->nodes.size(), before);
    }
  }
}

TEST(SkeletonSystem, FailedLoadsRaiseNamingTheFile) {
  const std::string dir = testFolder(), missing = dir + "missing.fbx", junk = dir + "junk.fbx";
  std::ofstream(junk) << "not a model\n";
  for (auto load :
       {+[](const std::string& p) { SkeletonSystem s(p, 0); }, +[](const std::string& p) { skeletonFromFBX(p, 0); }}) {
    try {
      captureStdout([&] { load(missing); });
      ADD_FAILURE() << "no error for a missing model";
    } catch (const std::filesystem::filesystem_error& e) {
      EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
      EXPECT_EQ(e.path1(), missing);
    }
    const std::string what = thrownWhat<std::runtime_error>([&] { captureStdout([&] { load(junk); }); });
    EXPECT_EQ(what.rfind("cannot load the skeleton model '" + junk + "'", 0), 0u) << what;
  }
}

TEST(SkeletonSystem, MarkersTakeTheNearestVertexTiesToTheLowerVertexThenTheEarlierMesh) {
  SkeletonSystem s(kModels + "/substring.fbx", 0);
  const auto& a = s.mesh->meshes[0]->data_cpu.curr_positions;  // box [0,1]^3
  auto first = [&a](const Vector3d& corner) {
    return static_cast<int>(std::find(a.begin(), a.end(), corner) - a.begin());
  };
  // (1.5,0,0) is 0.5 from a corner of each box; (0.5,0,0) is 0.5 from two corners of box a; (3.25,1,1)
  // is nearest to a corner of box b alone.
  s.markerPlacements = {{1.5, 0, 0}, {0.5, 0, 0}, {3.25, 1, 1}};
  dz::device::resetCounters();
  s.createMarkers();
  const Markers_CPU& m = s.markers->data_cpu;
  EXPECT_EQ(m.meshIdx, (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(m.vId[0], first({1, 0, 0}));
  EXPECT_EQ(m.vId[1], std::min(first({0, 0, 0}), first({1, 0, 0})));
  EXPECT_EQ(s.mesh->meshes[1]->data_cpu.curr_positions[m.vId[2]], Vector3d(3, 1, 1));
  EXPECT_EQ(m.pos, s.markerPlacements);
  EXPECT_EQ(m.normal[0], s.mesh->meshes[0]->data_cpu.curr_normals[m.vId[0]]);
  // Allocated and uploaded: two copies of vId, pos, normal, pressure and velocity.
  EXPECT_EQ(dz::device::counters().bytesHostToDevice, 2 * 3 * (2 * sizeof(float) + 3 * sizeof(Vector3d)));

  const auto made = s.markers;
  for (const Vector3d& far :
       {Vector3d(std::nan(""), 0, 0), Vector3d(0, INFINITY, 0), Vector3d(0, 0, -INFINITY), Vector3d(2e8, 0, 0)}) {
    s.markerPlacements = {{0, 0, 0}, far};
    EXPECT_THROW(s.createMarkers(), std::invalid_argument);
    EXPECT_EQ(s.markers, made);
  }
  s.markerPlacements.clear();
  s.createMarkers();
  ASSERT_NE(s.markers, made);
  EXPECT_TRUE(s.markers->getMarkersPos().empty());
}

TEST(SkeletonSystem, RenderDataAndLinksFollowThePose) {
  SkeletonSystem s(kModels + "/fish.fbx", 0);
  const std::vector<Vector3d> bind = s.getRenderData()->pos;
  s.mesh->nodeManager->nodes[s.mesh->nodeManager->nameToIndex.at("tail")]->rotation = Vector3d(0, 30, 0);
  const auto data = s.getRenderData();  // no update in between: it skins the current pose itself
  const auto& mesh = s.mesh->meshes[0]->data_cpu;
  EXPECT_EQ(data->pos, mesh.curr_positions);
  EXPECT_EQ(data->normal, mesh.curr_normals);
  EXPECT_EQ(data->uv, mesh.uv);
  EXPECT_EQ(data->indices, std::vector<int>(mesh.triangle_indices.begin(), mesh.triangle_indices.end()));
  int moved = 0;
  for (std::size_t v = 0; v < bind.size(); ++v) moved += !data->pos[v].isApprox(bind[v], 1e-6);
  EXPECT_GT(moved, 10);

  const Vector3d tail(testmodels::kFishTailX, 0, 0);
  const Eigen::Matrix3d R = Eigen::AngleAxisd(30 * M_PI / 180, Vector3d::UnitY()).toRotationMatrix();
  s.update(false, false);
  const SkeletonLink& link = *s.jointLinkMap.at("tail");
  const Vector3d caudal = tail + R * Vector3d(testmodels::kFishCaudalX - testmodels::kFishTailX, 0, 0);
  EXPECT_TRUE(link.position.isApprox((tail + caudal) / 2, 1e-6));
  EXPECT_NEAR(link.size.x(), 0.12, 1e-6);
}

}  // namespace
