// Skeleton JSON files: round trip, the written text, reading rules, bad files, model paths, failed writes.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>

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

// Three joints and one link of the fish are written; the limits of two joints are cleared to keep it short.
TEST(SkeletonJson, WrittenTextHasSortedMembersFourSpaceIndentAndNullAxes) {
  auto s = skeletonFromFBX(modelPath("fish.fbx"), 0);
  s->jointMap.erase("caudal_end");
  s->jointMap.at("body")->setJointType(jointType::floating);
  s->jointMap.at("tail")->setJointType(jointType::ball);
  s->jointMap.at("caudal")->setJointType(jointType::fixed);
  for (const char* name : {"body", "tail"}) s->jointMap.at(name)->limit = {};
  s->jointMap.at("tail")->actuator = actuatorType::passive;
  s->linkMap = {{"[link]body::tail", s->linkMap.at("[link]body::tail")}};
  s->linkMap.begin()->second->size = {0.25, 0.02, 0.02};
  s->baseLinkName = "[link]body::tail";
  s->markerPlacements = {{0.5, -0.25, 2}};

  const std::string path = testFolder() + "fish.json";
  captureStdout([&] { SkeletonToJson(path, s); });
  std::string joints;  // the joint objects differ in name, kind and actuator only
  for (const auto& [name, type, actuator] :
       {std::array<const char*, 3>{"body", "floating", "force"}, std::array<const char*, 3>{"caudal", "fixed", "force"},
        std::array<const char*, 3>{"tail", "ball", "passive"}})
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
  EXPECT_EQ(readText(path), R"({
    "baseFrameName": "",
    "baseLinkFwd": [
        1.0,
        0.0,
        0.0
    ],
    "baseLinkName": "[link]body::tail",
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
        "[link]body::tail": {
            "isIntermediate": false,
            "mass": 1.0,
            "name": "[link]body::tail",
            "size": [
                0.25,
                0.02,
                0.02
            ]
        }
    },
    "markers_placements": [
        [
            0.5,
            -0.25,
            2.0
        ]
    ],
    "model_file": ")" + modelPath("fish.fbx") +
                                R"("
}
)");
}

// Edits of a file: the value at each JSON pointer is replaced, or removed when it is kErase.
using Patch = std::vector<std::pair<std::string, json>>;
const json kErase(json::value_t::discarded);

json patched(json file, const Patch& patch) {
  for (const auto& [pointer, value] : patch) {
    const json::json_pointer at(pointer);
    if (value.is_discarded())
      file[at.parent_pointer()].erase(at.back());
    else
      file[at] = value;
  }
  return file;
}

TEST(SkeletonJson, ReadingFollowsTheFileWhereTheKindAllows) {
  const std::string dir = testFolder();
  auto fresh = skeletonFromFBX(modelPath("hips.fbx"), 0);
  fresh->markerPlacements = {{1, 2, 3}};
  captureStdout([&] { SkeletonToJson(dir + "fresh.json", fresh); });
  const json base = json::parse(readText(dir + "fresh.json"));
  auto read = [&](const Patch& patch) { return readBack(dir + "case.json", patched(base, patch)); };
  auto spine = [&](const Patch& patch) { return read(patch)->jointMap.at("Spine"); };
  using Axes = std::vector<Vector3d>;

  EXPECT_EQ(spine({{"/joints/Spine/axis", {{1, 0, 0}, {0, 0, 1}}}})->axis, Axes{Vector3d(1, 0, 0)});
  EXPECT_EQ(spine({{"/joints/Spine/type", "prismatic"}, {"/joints/Spine/axis", nullptr}})->axis,
            Axes{Vector3d(1, 0, 0)});
  // Planar: the kind's two axes, the first from the file; the limit lengths follow the file.
  Patch planar = {{"/joints/Spine/type", "planar"}, {"/joints/Spine/axis", {{0, 1, 0}}}};
  for (const char* key : {"effort", "lower", "upper", "velocity"})
    planar.emplace_back(std::string("/joints/Spine/limit/") + key, json::array({0.5}));
  const auto p = spine(planar);
  EXPECT_EQ(p->axis, (Axes{Vector3d(0, 1, 0), Vector3d(0, 0, 1)}));
  EXPECT_EQ(p->limit.lower, std::vector<double>{0.5});
  EXPECT_EQ(p->limit.velocity, std::vector<double>{0.5});
  // Names in no table leave the kind and actuator; the joint's "name" is not read.
  const auto s = read({{"/joints/Spine/type", "Planar"},
                       {"/joints/Spine/actuator", "Servo"},
                       {"/joints/Spine/name", "Back"},
                       {"/joints/Head/type", 4}});
  for (const char* name : {"Spine", "Head"}) EXPECT_EQ(s->jointMap.at(name)->type, jointType::revolute);
  EXPECT_EQ(s->jointMap.at("Spine")->actuator, actuatorType::force);
  EXPECT_EQ(s->jointMap.at("Spine")->name, "Spine");
  // Optional members.
  EXPECT_EQ(spine({{"/joints/Spine/mimic", kErase}})->mimicMultiplier, 1.0);
  EXPECT_TRUE(read({{"/markers_placements", kErase}})->markerPlacements.empty());
  EXPECT_TRUE(read({{"/markers_placements", nullptr}})->markerPlacements.empty());
}

enum class Kind { parse, type, range, value };

struct BadFile {
  std::string text;  // written as it is, or else the patched fresh file
  Patch patch;
  Kind kind;
  int id;
};

TEST(SkeletonJson, BadFilesRaiseTheLibrarysErrorKindAndId) {
  const std::string dir = testFolder(), path = dir + "bad.json";
  const json base = freshFile(dir, "hips.fbx");
  const std::string joint = "/joints/Spine/", link = "/links/[link]Hips::Spine/";
  const std::vector<BadFile> cases = {
      {"{\"model_file\": ", {}, Kind::parse, 101},
      {"\n", {}, Kind::parse, 101},
      {"[1, 2]", {}, Kind::type, 305},
      {"", {{"/model_file", kErase}}, Kind::type, 302},
      {"", {{"/baseLinkName", 7}}, Kind::type, 302},
      {"", {{"/baseLinkFwd", {1, 0}}}, Kind::type, 302},
      {"", {{"/baseLinkUp", {{"x", 1}}}}, Kind::type, 305},
      {"", {{"/markers_placements", 5}}, Kind::type, 305},
      {"", {{"/markers_placements", json::array({{1, 2}})}}, Kind::type, 302},
      {"", {{"/joints", json::array()}}, Kind::type, 305},
      {"", {{"/joints/Spine", 3}}, Kind::type, 305},
      {"", {{"/joints/Head", kErase}}, Kind::range, 403},
      {"", {{joint + "springStiffness", kErase}}, Kind::range, 403},
      {"", {{joint + "springStiffness", "stiff"}}, Kind::type, 302},
      {"", {{joint + "useLimits", 1}}, Kind::type, 302},
      {"", {{joint + "dynamics", kErase}}, Kind::type, 304},
      {"", {{joint + "dynamics/friction", kErase}}, Kind::range, 403},
      {"", {{joint + "limit/upper", kErase}}, Kind::range, 403},
      {"", {{joint + "limit/lower", 0.5}}, Kind::type, 302},
      {"", {{joint + "limit/effort", json::array({"big"})}}, Kind::type, 302},
      {"", {{joint + "mimic", {{"joint", "Head"}}}}, Kind::range, 403},
      {"", {{joint + "mimic", 1}}, Kind::type, 304},
      {"", {{joint + "axis", 1}}, Kind::type, 305},
      {"", {{joint + "axis", json::array({{0, 1}})}}, Kind::type, 302},
      {"", {{"/links/[link]Hips", kErase}}, Kind::type, 302},
      {"", {{link + "mass", true}}, Kind::type, 302},
      {"", {{link + "size", {0.25, 0.02}}}, Kind::type, 302},
      {"", {{link + "name", "[link]Hips::LeftLeg"}}, Kind::value, 0},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    std::ofstream(path) << (cases[i].text.empty() ? patched(base, cases[i].patch).dump() : cases[i].text);
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
