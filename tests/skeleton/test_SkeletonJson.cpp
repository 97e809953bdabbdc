// Skeleton JSON files: round trip, the written text, reading rules, bad files, model paths, failed writes.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <functional>
#include <sstream>

#include "models/testModels.h"
#include "skeleton/SkeletonJson.h"
#include "skeleton/skeletonTestUtil.h"

namespace {

using Eigen::Vector3d;
using nlohmann::json;

std::string modelPath(const char* name) { return std::filesystem::canonical(kModels + "/" + name).string(); }

std::string readText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// The file written from a freshly loaded model.
json freshFile(const std::string& dir, const char* model) {
  const std::string path = dir + "fresh.json";
  captureStdout([&] { SkeletonToJson(path, skeletonFromFBX(modelPath(model), 0)); });
  return json::parse(readText(path));
}

std::shared_ptr<SkeletonSystem> readBack(const std::string& path, const json& file) {
  std::ofstream(path) << file.dump(4);
  return skeletonFromJson(path, 0);
}

TEST(SkeletonJson, RoundTripKeepsEveryStoredField) {
  const std::string dir = testFolder(), first = dir + "first.json", second = dir + "second.json";
  auto s = skeletonFromFBX(modelPath("hips.fbx"), 0);
  SkeletonJoint& hips = *s->jointMap.at("Hips");
  hips.setJointType(jointType::universal);
  hips.actuator = actuatorType::servo;
  hips.axis = {{0.6, 0.8, 0}, {0, 0, -1}};
  hips.limit = {{-1.5, -0.25}, {1.5, 0.75}, {10, 20}, {3, 4}};
  hips.dynamics = {0.125, 0.5};
  hips.springStiffness = 2.5;
  hips.useDynamics = true;
  hips.useLimits = false;
  hips.mimicJoint = "Spine";
  hips.mimicMultiplier = -0.5;
  hips.mimicOffset = 0.25;
  s->jointMap.at("Head")->actuator = actuatorType::velocity;
  SkeletonLink& spine = *s->linkMap.at("[link]Hips::Spine");
  spine.mass = 2;
  spine.size = {0.25, 0.5, 0.125};
  spine.name = "torso";
  s->baseLinkName = "torso";
  s->baseFrameName = "[link]Hips";
  s->baseLinkFwd = {0, 0, -1};
  s->baseLinkRight = {1, 0, 0};
  s->baseLinkUp = {0, -1, 0};
  s->markerPlacements = {{0.1, 1.2, 0.3}, {-0.2, 0.5, 0}};

  EXPECT_EQ(captureStdout([&] { SkeletonToJson(first, s); }), "[ Process]Generate json success at \"" + first + "\"\n");
  const auto t = skeletonFromJson(first, 0);
  EXPECT_EQ(t->jointMap.at("Hips")->type, jointType::universal);
  EXPECT_EQ(t->jointMap.at("Head")->actuator, actuatorType::velocity);
  EXPECT_EQ(t->linkMap.at("[link]Hips::Spine")->name, "torso");  // stored under its old key
  EXPECT_EQ(t->markerPlacements, s->markerPlacements);
  captureStdout([&] { SkeletonToJson(second, t); });
  EXPECT_EQ(readText(second), readText(first));
}

TEST(SkeletonJson, WrittenTextHasSortedMembersFourSpaceIndentAndNullAxes) {
  auto scene = std::make_unique<aiScene>();
  scene->mRootNode = new aiNode("RootNode");
  aiNode* j1 = testmodels::addChild(testmodels::addChild(scene->mRootNode, "Armature", aiMatrix4x4()), "J1", {});
  testmodels::addChild(testmodels::addChild(j1, "J2", translation(1, 0, 0)), "J3", translation(1, 0, 0));
  scene->mNumMeshes = 1;
  scene->mMeshes = new aiMesh* [1] {
    makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}},
             {{"J1", aiMatrix4x4(), {{0, 1.0f}, {2, 1.0f}}}, {"J2", aiMatrix4x4(), {{1, 1.0f}}}})
        .release()
  };
  scene->mRootNode->mNumMeshes = 1;
  scene->mRootNode->mMeshes = new unsigned[1]{0};
  auto s = std::make_shared<SkeletonSystem>();
  s->mesh = std::make_shared<SkeletalMesh>();
  s->mesh->loadScene(scene.get());
  s->mesh->path = "models/chain.fbx";
  s->buildJoints();
  s->jointMap.at("J1")->setJointType(jointType::floating);
  s->jointMap.at("J2")->setJointType(jointType::ball);
  s->jointMap.at("J3")->setJointType(jointType::fixed);
  for (const char* name : {"J1", "J2"}) s->jointMap.at(name)->limit = {};
  s->jointMap.at("J2")->actuator = actuatorType::passive;
  s->baseLinkName = "[link]J1::J2";
  s->markerPlacements = {{0.5, -0.25, 2}};

  const std::string path = testFolder() + "chain.json";
  captureStdout([&] { SkeletonToJson(path, s); });
  // The three joint objects differ in name, kind and actuator only.
  std::string joints;
  for (const auto& [name, type, actuator] :
       {std::array<const char*, 3>{"J1", "floating", "force"}, std::array<const char*, 3>{"J2", "ball", "passive"},
        std::array<const char*, 3>{"J3", "fixed", "force"}})
    joints += std::string(joints.empty() ? "" : ",\n") + R"(        ")" + name + R"(": {
            "actuator": ")" +
              actuator + R"(",
            "axis": null,
            "dynamics": {
                "damping": 0.0,
                "friction": 0.0
            },
            "limit": {
                "effort": [],
                "lower": [],
                "upper": [],
                "velocity": []
            },
            "mimic": {
                "joint": "",
                "multiplier": 1.0,
                "offset": 0.0
            },
            "name": ")" +
              name + R"(",
            "springStiffness": 0.0,
            "type": ")" +
              type + R"(",
            "useDynamcis": false,
            "useLimits": true
        })";
  std::string links;
  for (const char* name : {"[link]J1::J2", "[link]J2::J3"})
    links += std::string(links.empty() ? "" : ",\n") + R"(        ")" + name + R"(": {
            "isIntermediate": false,
            "mass": 1.0,
            "name": ")" +
             name + R"(",
            "size": [
                1.0,
                0.02,
                0.02
            ]
        })";
  EXPECT_EQ(readText(path), R"({
    "baseFrameName": "",
    "baseLinkFwd": [
        1.0,
        0.0,
        0.0
    ],
    "baseLinkName": "[link]J1::J2",
    "baseLinkRight": [
        0.0,
        0.0,
        1.0
    ],
    "baseLinkUp": [
        0.0,
        1.0,
        0.0
    ],
    "joints": {
)" + joints + R"(
    },
    "links": {
)" + links + R"(
    },
    "markers_placements": [
        [
            0.5,
            -0.25,
            2.0
        ]
    ],
    "model_file": "models/chain.fbx"
}
)");
}

// Edits of a fresh file (one marker placement) and what the model's joints read from it.
TEST(SkeletonJson, ReadingFollowsTheFileWhereTheKindAllows) {
  using System = const SkeletonSystem&;
  const std::string dir = testFolder();
  auto fresh = skeletonFromFBX(modelPath("hips.fbx"), 0);
  fresh->markerPlacements = {{1, 2, 3}};
  captureStdout([&] { SkeletonToJson(dir + "fresh.json", fresh); });
  const json base = json::parse(readText(dir + "fresh.json"));
  const auto spine = [](System s) -> const SkeletonJoint& { return *s.jointMap.at("Spine"); };
  const std::vector<std::pair<std::function<void(json&)>, std::function<void(System)>>> cases = {
      {[](json& f) {
         f["joints"]["Spine"]["axis"] = {{1, 0, 0}, {0, 0, 1}};
       },
       [&](System s) { EXPECT_EQ(spine(s).axis, std::vector<Vector3d>{Vector3d(1, 0, 0)}); }},
      {[](json& f) {
         f["joints"]["Spine"].update({{"type", "prismatic"}, {"axis", nullptr}});
       },
       [&](System s) { EXPECT_EQ(spine(s).axis, std::vector<Vector3d>{Vector3d(1, 0, 0)}); }},
      {[](json& f) {
         f["joints"]["Spine"].update({{"type", "planar"}, {"axis", {{0, 1, 0}}}});
         for (auto& v : f["joints"]["Spine"]["limit"]) v = {0.5};
       },
       [&](System s) {
         EXPECT_EQ(spine(s).axis, (std::vector<Vector3d>{Vector3d(0, 1, 0), Vector3d(0, 0, 1)}));
         EXPECT_EQ(spine(s).limit.lower, std::vector<double>{0.5});
         EXPECT_EQ(spine(s).limit.velocity, std::vector<double>{0.5});
       }},
      {[](json& f) {
         f["joints"]["Spine"].update({{"type", "Planar"}, {"actuator", "Servo"}, {"name", "Back"}});
         f["joints"]["Head"]["type"] = 4;
       },
       [&](System s) {
         EXPECT_EQ(spine(s).type, jointType::revolute);
         EXPECT_EQ(spine(s).actuator, actuatorType::force);
         EXPECT_EQ(spine(s).name, "Spine");
         EXPECT_EQ(s.jointMap.at("Head")->type, jointType::revolute);
       }},
      {[](json& f) {
         for (auto& [name, joint] : f["joints"].items()) joint.erase("mimic");
       },
       [&](System s) { EXPECT_EQ(spine(s).mimicMultiplier, 1.0); }},
      {[](json& f) { f.erase("markers_placements"); }, [](System s) { EXPECT_TRUE(s.markerPlacements.empty()); }},
      {[](json& f) { f["markers_placements"] = nullptr; }, [](System s) { EXPECT_TRUE(s.markerPlacements.empty()); }},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    json file = base;
    cases[i].first(file);
    cases[i].second(*readBack(dir + "case.json", file));
  }
}

enum class Kind { parse, type, range, value };

struct BadFile {
  std::string text;  // written as it is when not empty
  std::function<void(json&)> edit;
  Kind kind;
  int id;
};

TEST(SkeletonJson, BadFilesRaiseTheLibrarysErrorKindAndId) {
  const std::string dir = testFolder(), path = dir + "bad.json";
  const json base = freshFile(dir, "hips.fbx");
  auto joint = [](json& f) -> json& { return f["joints"]["Spine"]; };
  auto link = [](json& f) -> json& { return f["links"]["[link]Hips::Spine"]; };
  const std::vector<BadFile> cases = {
      {"{\"model_file\": ", {}, Kind::parse, 101},
      {"\n", {}, Kind::parse, 101},
      {"[1, 2]", {}, Kind::type, 305},
      {"", [](json& f) { f.erase("model_file"); }, Kind::type, 302},
      {"", [](json& f) { f["baseLinkName"] = 7; }, Kind::type, 302},
      {"",
       [](json& f) {
         f["baseLinkFwd"] = {1, 0};
       },
       Kind::type, 302},
      {"",
       [](json& f) {
         f["baseLinkUp"] = json::object({{"x", 1}});
       },
       Kind::type, 305},
      {"", [](json& f) { f["markers_placements"] = 5; }, Kind::type, 305},
      {"",
       [](json& f) {
         f["markers_placements"] = {{1, 2}};
       },
       Kind::type, 302},
      {"", [](json& f) { f["joints"] = json::array(); }, Kind::type, 305},
      {"", [&](json& f) { joint(f) = 3; }, Kind::type, 305},
      {"", [](json& f) { f["joints"].erase("Head"); }, Kind::range, 403},
      {"", [&](json& f) { joint(f).erase("springStiffness"); }, Kind::range, 403},
      {"", [&](json& f) { joint(f)["springStiffness"] = "stiff"; }, Kind::type, 302},
      {"", [&](json& f) { joint(f)["useLimits"] = 1; }, Kind::type, 302},
      {"", [&](json& f) { joint(f).erase("dynamics"); }, Kind::type, 304},
      {"", [&](json& f) { joint(f)["dynamics"].erase("friction"); }, Kind::range, 403},
      {"", [&](json& f) { joint(f)["limit"].erase("upper"); }, Kind::range, 403},
      {"", [&](json& f) { joint(f)["limit"]["lower"] = 0.5; }, Kind::type, 302},
      {"", [&](json& f) { joint(f)["limit"]["effort"] = {"big"}; }, Kind::type, 302},
      {"",
       [&](json& f) {
         joint(f)["mimic"] = {{"joint", "Head"}};
       },
       Kind::range, 403},
      {"", [&](json& f) { joint(f)["mimic"] = 1; }, Kind::type, 304},
      {"", [&](json& f) { joint(f)["axis"] = 1; }, Kind::type, 305},
      {"",
       [&](json& f) {
         joint(f)["axis"] = {{0, 1}};
       },
       Kind::type, 302},
      {"", [](json& f) { f["links"].erase("[link]Hips"); }, Kind::type, 302},
      {"", [&](json& f) { link(f)["mass"] = true; }, Kind::type, 302},
      {"",
       [&](json& f) {
         link(f)["size"] = {0.25, 0.02};
       },
       Kind::type, 302},
      {"", [&](json& f) { link(f)["name"] = "[link]Hips::LeftLeg"; }, Kind::value, 0},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    json file = base;
    if (cases[i].edit) cases[i].edit(file);
    std::ofstream(path) << (cases[i].text.empty() ? file.dump() : cases[i].text);
    try {
      skeletonFromJson(path, 0);
      ADD_FAILURE() << "no error";
    } catch (const json::exception& e) {
      const bool kind = cases[i].kind == Kind::parse   ? dynamic_cast<const json::parse_error*>(&e) != nullptr
                        : cases[i].kind == Kind::type  ? dynamic_cast<const json::type_error*>(&e) != nullptr
                        : cases[i].kind == Kind::range ? dynamic_cast<const json::out_of_range*>(&e) != nullptr
                                                       : false;
      EXPECT_TRUE(kind) << e.what();
      EXPECT_EQ(e.id, cases[i].id) << e.what();
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(cases[i].kind, Kind::value) << e.what();
    }
  }
}

// The model is looked for beside the file first, then in the working directory; absolute paths as written.
TEST(SkeletonJson, ModelPathIsResolvedAgainstTheFileFolderFirst) {
  const std::string dir = testFolder();
  std::filesystem::create_directories(dir + "a");
  std::filesystem::create_directories(dir + "b");
  std::filesystem::copy_file(kModels + "/fish.fbx", dir + "a/hips.fbx");
  json fish = freshFile(dir, "fish.fbx"), hips = freshFile(dir, "hips.fbx");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(kModels);

  fish["model_file"] = "hips.fbx";  // the fish beside the file, although the working directory has hips.fbx
  EXPECT_EQ(readBack(dir + "a/x.json", fish)->mesh->path, std::filesystem::canonical(dir + "a/hips.fbx").string());
  hips["model_file"] = "hips.fbx";
  EXPECT_EQ(readBack(dir + "b/x.json", hips)->mesh->path, "hips.fbx");
  fish["model_file"] = modelPath("fish.fbx");
  EXPECT_EQ(readBack(dir + "a/y.json", fish)->mesh->path, modelPath("fish.fbx"));
  fish["model_file"] = "none.fbx";
  EXPECT_THROW(captureStdout([&] { readBack(dir + "a/z.json", fish); }), std::filesystem::filesystem_error);
  std::filesystem::current_path(cwd);

  try {
    skeletonFromJson(dir + "missing.json", 0);
    ADD_FAILURE() << "no error for a missing file";
  } catch (const std::filesystem::filesystem_error& e) {
    EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(e.path1(), dir + "missing.json");
  }
}

TEST(SkeletonJson, FailedWritesRaiseAndLeaveNoFile) {
  const std::string dir = testFolder();
  auto s = skeletonFromFBX(modelPath("hips.fbx"), 0);
  for (const std::string& path : {dir + "no/such/folder/x.json", dir.substr(0, dir.size() - 1)}) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(SkeletonToJson(path, s), std::runtime_error) << path;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir));

  s->jointMap.at("Head")->type = static_cast<jointType>(42);
  EXPECT_THROW(SkeletonToJson(dir + "x.json", s), std::out_of_range);
  EXPECT_THROW(SkeletonToJson(dir + "x.json", nullptr), std::invalid_argument);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace
