// FBX models: loading, node and mesh order, rejected scenes, deep chains, pivots, animation recording and
// export.
#include <gtest/gtest.h>
#include <pthread.h>

#include <fstream>
#include <functional>
#include <set>

#include "MeshLoad/meshTestUtil.h"

namespace {

using Eigen::Vector3d;
using Names = std::vector<std::string>;

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

Names nodeNames(const nodeMgr& nodes) {
  Names names;
  for (const auto& n : nodes.nodes) names.push_back(n->name);
  return names;
}

TEST(SkeletalMesh, NodesBreadthFirstMeshesDepthFirst) {
  // root -> A, B; A -> D; one mesh on each of A, B and D.
  auto scene = sceneOf({{"root", -1, {}}, {"A", 0, {0}}, {"B", 0, {1}}, {"D", 1, {2}}}, triangles(3));
  aiNode* a = scene->mRootNode->mChildren[0];
  a->mTransformation = aiMatrix4x4(aiVector3D(1, 1, 1), aiQuaternion(aiVector3D(0, 0, 1), 0.5f), aiVector3D(1, 2, 3));
  SkeletalMesh model;
  captureStdout([&] { EXPECT_TRUE(model.loadScene(scene.get())); });
  const nodeMgr& nodes = *model.nodeManager;
  EXPECT_EQ(nodeNames(nodes), (Names{"root", "A", "B", "D"}));
  EXPECT_EQ(nodes.childBegin, (std::vector<int>{1, 3, -1, -1}));
  EXPECT_EQ(nodes.childEnd, (std::vector<int>{3, 4, -1, -1}));
  EXPECT_EQ(nodes.parentIdx, (std::vector<int>{-1, 0, 0, 1}));
  EXPECT_TRUE(nodes.nodes[1]->localTrans.isApprox(rigid(Vector3d(1, 2, 3), Vector3d::UnitZ(), 0.5 * 180 / M_PI), 1e-6));
  std::vector<int> meshNodes;  // A's, D's, then B's
  for (const auto& m : model.meshes) meshNodes.push_back(m->data_cpu.nodeIdx);
  EXPECT_EQ(meshNodes, (std::vector<int>{1, 3, 2}));
  // Posed once on the host, and the first device update will upload.
  EXPECT_TRUE(model.meshes[0]->data_cpu.curr_positions[1].isApprox(nodes.nodes[1]->worldTrans * Vector3d(1, 0, 0)));
  EXPECT_TRUE(model.meshes[0]->dirty_cpu);
}

// A missing file, a scene without root, a node naming a mesh the scene lacks, a mesh whose faces or
// weights name missing vertices, a transform that is not finite: rejected, dropping what the earlier
// model and the first meshes built.
TEST(SkeletalMesh, BadFilesAndScenesAreRejectedLeavingNoModel) {
  auto expectNoModel = [](SkeletalMesh& model) {
    EXPECT_TRUE(model.meshes.empty() && model.nodeManager == nullptr && model.scene == nullptr);
    EXPECT_THROW(model.recordFrame(), std::logic_error);
    EXPECT_THROW(model.update(false, false), std::logic_error);
    EXPECT_THROW(model.exportAnimationFbx(testsupport::tempPath("nothing.fbx")), std::logic_error);
  };
  auto model = loadModel(kModels + "/bar.fbx");
  const std::string path = kModels + "/no_such_model.fbx";
  bool ok = true;
  const std::string out = captureStdout([&] { ok = model->load(path, 0); });
  EXPECT_FALSE(ok);
  // One line, with the importer's reason between the quotes.
  const std::string head = "Error parsing '" + path + "': '";
  EXPECT_TRUE(out.rfind(head, 0) == 0 && out.find('\n') == out.size() - 1 && out.size() > head.size() + 2) << out;
  EXPECT_EQ(out.substr(out.size() - 2), "'\n");
  expectNoModel(*model);

  EXPECT_THROW(model->loadScene(nullptr), std::invalid_argument);
  aiScene empty;
  EXPECT_THROW(model->loadScene(&empty), std::invalid_argument);
  const std::vector<SceneNode> tree = {{"root", -1, {}}, {"A", 0, {0}}, {"B", 0, {1}}};
  auto missing = sceneOf({{"root", -1, {}}, {"A", 0, {0}}, {"B", 0, {7}}}, triangles(2));
  auto badFace = sceneOf(tree, triangles(2));
  badFace->mMeshes[1]->mFaces[0].mIndices[2] = 3;
  auto badWeight = sceneOf(tree, triangles(2));
  delete badWeight->mMeshes[1];
  badWeight->mMeshes[1] =
      makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}}, {{"A", {}, {{3, 1.0f}}}}).release();
  for (const auto& [scene, message] : {std::pair{missing.get(), "node 'B' names mesh 7 of a scene with 2 meshes"},
                                       {badFace.get(), "mesh 'm1': face 0 names a vertex beyond its 3"},
                                       {badWeight.get(), "mesh 'm': bone 'A' weighs a vertex beyond its 3"}}) {
    model = loadModel(kModels + "/bar.fbx");
    const std::string error = thrownWhat<std::runtime_error>([&] { captureStdout([&] { model->loadScene(scene); }); });
    EXPECT_NE(error.find(message), std::string::npos) << error;
    expectNoModel(*model);
  }
  // A root or node transform or a bone offset holding a NaN or an infinity.
  for (const auto& [bad, text] : {std::pair{NAN, "nan"}, {INFINITY, "inf"}, {-INFINITY, "-inf"}}) {
    auto farRoot = sceneOf(tree, triangles(2));
    farRoot->mRootNode->mTransformation = translation(0, 0, bad);
    auto farNode = sceneOf(tree, triangles(2));
    farNode->mRootNode->mChildren[1]->mTransformation = translation(bad, 0, 0);
    auto farOffset = sceneOf(tree, triangles(2));
    delete farOffset->mMeshes[1];
    farOffset->mMeshes[1] =
        makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}}, {{"A", translation(0, bad, 0), {{0, 1.0f}}}})
            .release();
    for (const auto& [scene, message] :
         {std::pair{farRoot.get(), "node 'root': the transform must be finite, not (1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, " +
                                       std::string(text) + ")"},
          {farNode.get(),
           "node 'B': the transform must be finite, not (1, 0, 0, 0, 1, 0, 0, 0, 1, " + std::string(text) + ", 0, 0)"},
          {farOffset.get(),
           "mesh 'm': bone 'A': the offset transform must be finite, not (1, 0, 0, 0, 1, 0, 0, 0, 1, 0, " +
               std::string(text) + ", 0)"}}) {
      model = loadModel(kModels + "/bar.fbx");
      EXPECT_EQ(thrownWhat<std::invalid_argument>([&] { captureStdout([&] { model->loadScene(scene); }); }), message);
      expectNoModel(*model);
    }
  }
}

// Bones, joints and channels find nodes by name: a name given twice is refused, naming it, and leaves no
// model. The reader of the file shares one bone between the clusters of same-named nodes, which freed it
// twice.
TEST(SkeletalMesh, NamesGivenTwiceAreRefused) {
  const std::string fish = testsupport::readFile(kModels + "/fish.fbx");
  const auto renamed = [&fish](const std::string& from, const std::string& to) {
    const std::string path = testsupport::tempPath("renamed_" + from + ".fbx");
    std::string text = fish;
    text.replace(text.find("\"Model::" + from + "\""), from.size() + 9, "\"Model::" + to + "\"");
    std::ofstream(path) << text;
    return path;
  };
  const auto bone = [](const char* name, unsigned vertex) {
    return testmodels::BoneSpec{name, aiMatrix4x4(), {{vertex, 1.0f}}};
  };
  auto loop = sceneOf({{"RootNode", -1, {0}}, {"p", 0, {}}, {"q", 1, {}}, {"p", 2, {}}}, triangles(1));
  auto twoBones = sceneOf({{"RootNode", -1, {0}}, {"B", 0, {}}},
                          {makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}}, {bone("B", 0), bone("B", 1)})
                               .release()});
  const std::string tailAsBody = renamed("tail", "body"), skinAsFin = renamed("skin", "fin");
  const std::pair<std::function<void(SkeletalMesh&)>, std::string> rows[] = {
      {[&](SkeletalMesh& m) { m.load(tailAsBody, 0); },
       "cannot load the model '" + tailAsBody + "': mesh 'skin' has two bones named 'body'"},
      {[&](SkeletalMesh& m) { m.load(skinAsFin, 0); },
       "cannot load the model '" + skinAsFin + "': two nodes are named 'fin'"},
      {[&](SkeletalMesh& m) { m.loadScene(loop.get()); }, "two nodes are named 'p'"},
      {[&](SkeletalMesh& m) { m.loadScene(twoBones.get()); }, "mesh 'm' has two bones named 'B'"}};
  for (const auto& [load, message] : rows) {
    auto model = loadModel(kModels + "/bar.fbx");
    EXPECT_EQ(thrownWhat<std::invalid_argument>([&] { captureStdout([&] { load(*model); }); }), message);
    EXPECT_TRUE(model->meshes.empty() && model->nodeManager == nullptr && model->scene == nullptr) << message;
  }
}

// Runs f on a thread whose stack holds `bytes` only.
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

// A chain of 10000 nodes with a mesh at its end loads on a 256 KB stack: no walk recurses per node.
TEST(SkeletalMesh, DeepChainsLoadWithoutRecursion) {
  auto scene = sceneOf({{"root", -1, {}}}, triangles(1));
  aiNode* last = scene->mRootNode;
  for (int k = 0; k < 10000; ++k) last = testmodels::addChild(last, "n" + std::to_string(k), translation(0, 0, 0.5f));
  last->mNumMeshes = 1;
  last->mMeshes = new unsigned[1]{0};
  SkeletalMesh model;
  onSmallStack(256 << 10, [&] { captureStdout([&] { model.loadScene(scene.get()); }); });
  ASSERT_EQ(model.meshes.size(), 1u);
  EXPECT_NEAR(model.meshes[0]->data_cpu.curr_positions[0].z(), 5000.0, 1e-6);
}

TEST(SkeletalMesh, PivotsOfOtherToolsFoldIntoTheirNode) {
  const std::string path = std::string(DZ_TEST_MODELS_SOURCE_DIR) + "/bar_pivots.fbx";
  auto model = loadModel(path);
  EXPECT_EQ(nodeNames(*model->nodeManager), (Names{"RootNode", "Armature", "bar", "bone0", "bone1"}));
  EXPECT_TRUE(nodeOf(*model, "bone1").localTrans.isApprox(rigid(Vector3d(1, 0.5, 0), Vector3d::UnitZ(), 90), 1e-6));
}

// Each frame (24 a second) records the stored transform of every scene node: not inserted nodes, not edited
// angles. Exported, the recording loads back; a failed export leaves no file.
TEST(SkeletalMesh, RecordsStoredTransformsPerFrameAndExportsThem) {
  auto model = loadModel(kModels + "/bar.fbx");
  const Names names = nodeNames(*model->nodeManager);
  const std::string empty = testsupport::tempPath("bar_empty_move.fbx"), path = testsupport::tempPath("bar_move.fbx");
  model->exportAnimationFbx(empty);  // without frames: an empty "move"
  const std::string text = testsupport::readFile(empty);
  EXPECT_EQ(countOf(text, "\"AnimStack::move\""), 1);
  EXPECT_EQ(countOf(text, "AnimationCurveNode:"), 0);
  model->nodeManager->insertIntermediateNodes(model->nodeManager->nameToIndex.at("Armature"));
  nodeOf(*model, "bone0").rotation = Vector3d(0, 0, 45);
  for (int f = 1; f <= 3; ++f) {
    nodeOf(*model, "bone1").setLocalTransform(rigid(Vector3d(1, 0.1 * f, 0), Vector3d::UnitZ(), 20.0 * f));
    model->recordFrame();
  }
  EXPECT_EQ(model->animChannels.size(), 5u);
  const AnimChannel& b1 = model->animChannels.at("bone1");
  EXPECT_EQ(b1.times, (std::vector<double>{1 / 24.0, 2 / 24.0, 3 / 24.0}));
  EXPECT_EQ(b1.scalings, std::vector<aiVector3D>(3, aiVector3D(1, 1, 1)));
  EXPECT_EQ(b1.positions[2], aiVector3D(1, 0.3f, 0));
  const Eigen::Quaterniond turn(Eigen::AngleAxisd(60 * M_PI / 180, Vector3d::UnitZ()));
  EXPECT_NEAR(b1.rotations[2].w, turn.w(), 1e-6);
  EXPECT_NEAR(b1.rotations[2].z, turn.z(), 1e-6);
  EXPECT_EQ(model->animChannels.at("bone0").rotations[0], aiQuaternion());

  EXPECT_THROW(model->exportAnimationFbx(testing::TempDir() + "no/such/folder/x.fbx"), std::runtime_error);
  std::remove(path.c_str());
  testsupport::withFileSizeLimit(1000, [&] { EXPECT_THROW(model->exportAnimationFbx(path), std::runtime_error); });
  EXPECT_FALSE(testsupport::exists(path));
  model->exportAnimationFbx(path);

  auto back = loadModel(path);
  EXPECT_EQ(nodeNames(*back->nodeManager), names);
  ASSERT_EQ(back->scene->mNumAnimations, 1u);
  const aiAnimation& move = *back->scene->mAnimations[0];
  EXPECT_STREQ(move.mName.C_Str(), "move");
  std::set<std::string> channels;
  for (unsigned c = 0; c < move.mNumChannels; ++c) {
    const aiNodeAnim& ch = *move.mChannels[c];
    const std::string name = ch.mNodeName.C_Str();
    channels.insert(name);
    const AnimChannel& recorded = model->animChannels.at(name);
    ASSERT_TRUE(ch.mNumPositionKeys == 3u && ch.mNumRotationKeys == 3u) << name;
    for (unsigned k = 0; k < 3; ++k) {
      EXPECT_NEAR(ch.mPositionKeys[k].mTime / move.mTicksPerSecond, recorded.times[k], 1e-9) << name;
      EXPECT_TRUE(ch.mPositionKeys[k].mValue.Equal(recorded.positions[k], 1e-5f)) << name << " " << k;
      const aiQuaternion &q = ch.mRotationKeys[k].mValue, &r = recorded.rotations[k];
      EXPECT_NEAR(std::abs(q.w * r.w + q.x * r.x + q.y * r.y + q.z * r.z), 1.0, 1e-5) << name << " " << k;
    }
  }
  EXPECT_EQ(channels, (std::set<std::string>{"Armature", "bar", "bone0", "bone1"}));
  std::remove(path.c_str());
  std::remove(empty.c_str());
  model->clearAnimation();  // the clock keeps running
  model->recordFrame();
  EXPECT_EQ(model->animChannels.at("bone1").times, std::vector<double>{4 / 24.0});
}

}  // namespace
