// Skeleton JSON files: round trip, the written text, reading rules, bad files, model paths, failed writes.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "skeleton/SkeletonJson.h"
#include "skeleton/skeletonTestUtil.h"

namespace {

using Eigen::Vector3d;
using nlohmann::json;

std::string modelPath(const char* name) { return std::filesystem::canonical(kModels + "/" + name).string(); }

// Writes the skeleton to `path` and returns the text.
std::string written(const std::string& path, const std::shared_ptr<SkeletonSystem>& s) {
  captureStdout([&] { SkeletonToJson(path, s); });
  return testsupport::readFile(path);
}

std::shared_ptr<SkeletonSystem> readBack(const std::string& path, const json& file) {
  std::ofstream(path) << file.dump(4);
  return skeletonFromJson(path, 0);
}

TEST(SkeletonJson, RoundTripKeepsEveryStoredField) {
  const std::string dir = testFolder(), first = dir + "first.json";
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
  EXPECT_EQ(t->linkMap.at("[link]Hips::Spine")->name, "torso");  // stored under its old key
  EXPECT_EQ(written(dir + "second.json", t), testsupport::readFile(first));
}

// Sorted members, four-space indentation, null axes for fixed, floating and ball joints, and the member
// names as spelt.
TEST(SkeletonJson, WrittenText) {
  auto s = skeletonFromFBX(modelPath("fish.fbx"), 0);
  s->jointMap.at("body")->setJointType(jointType::floating);
  s->jointMap.at("tail")->setJointType(jointType::ball);
  s->jointMap.at("caudal")->setJointType(jointType::fixed);
  s->jointMap.at("tail")->limit = {};
  s->jointMap.at("tail")->actuator = actuatorType::passive;
  const std::string text = written(testFolder() + "fish.json", s);
  const json file = json::parse(text);
  EXPECT_EQ(text, file.dump(4) + "\n");
  Names members;
  for (const json& object : {file, file["links"]["[link]body::tail"]})
    for (const auto& [key, value] : object.items()) members.push_back(key);
  EXPECT_EQ(members, (Names{"baseFrameName", "baseLinkFwd", "baseLinkName", "baseLinkRight", "baseLinkUp", "joints",
                            "links", "markers_placements", "model_file", "isIntermediate", "mass", "name", "size"}));
  for (const char* name : {"body", "caudal"}) EXPECT_TRUE(file["joints"][name]["axis"].is_null()) << name;
  EXPECT_EQ(file["model_file"], modelPath("fish.fbx"));
  EXPECT_EQ(file["joints"]["tail"], json::parse(R"({"actuator": "passive", "axis": null, "name": "tail",
      "dynamics": {"damping": 0.0, "friction": 0.0}, "limit": {"effort": [], "lower": [], "upper": [], "velocity": []},
      "mimic": {"joint": "", "multiplier": 1.0, "offset": 0.0}, "springStiffness": 0.0, "type": "ball",
      "useDynamcis": false, "useLimits": true})"));
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
  const json base = json::parse(written(dir + "fresh.json", fresh));
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
                       {"/joints/Head/type", 4},
                       {"/joints/Head/actuator", "mimic"}});
  for (const char* name : {"Spine", "Head"}) EXPECT_EQ(s->jointMap.at(name)->type, jointType::revolute);
  EXPECT_EQ(s->jointMap.at("Spine")->actuator, actuatorType::force);
  EXPECT_EQ(s->jointMap.at("Head")->actuator, actuatorType::mimic);
  EXPECT_EQ(s->jointMap.at("Spine")->name, "Spine");
  // Optional members.
  EXPECT_EQ(spine({{"/joints/Spine/mimic", kErase}})->mimicMultiplier, 1.0);
  EXPECT_TRUE(read({{"/markers_placements", kErase}})->markerPlacements.empty());
  EXPECT_TRUE(read({{"/markers_placements", nullptr}})->markerPlacements.empty());
}

// The library's kind and id, in a message that names the file.
TEST(SkeletonJson, BadFilesRaiseTheLibrarysErrorKindAndId) {
  enum Kind { parse, type, range, value };
  const std::string dir = testFolder(), path = dir + "bad.json";
  const json base = json::parse(written(dir + "fresh.json", skeletonFromFBX(modelPath("hips.fbx"), 0)));
  const std::string joint = "/joints/Spine/", link = "/links/[link]Hips::Spine/";
  const struct {
    std::string text;  // written as it is, or else the patched fresh file
    Patch patch;
    Kind kind;
    int id;
  } cases[] = {
      {"{\"model_file\": ", {}, parse, 101},
      {"[1, 2]", {}, type, 305},
      {"", {{"/model_file", kErase}}, type, 302},
      {"", {{"/baseLinkFwd", {1, 0}}}, type, 302},
      {"", {{"/markers_placements", json::array({{1, 2}})}}, type, 302},
      {"", {{"/joints/Spine", 3}}, type, 305},
      {"", {{"/joints/Head", kErase}}, range, 403},
      {"", {{joint + "springStiffness", kErase}}, range, 403},
      {"", {{joint + "dynamics/friction", kErase}}, range, 403},
      {"", {{joint + "limit/upper", kErase}}, range, 403},
      {"", {{joint + "limit/effort", json::array({"big"})}}, type, 302},
      {"", {{joint + "mimic", {{"joint", "Head"}}}}, range, 403},
      {"", {{joint + "axis", json::array({{0, 1}})}}, type, 302},
      {"", {{"/links/[link]Hips", kErase}}, type, 302},
      {"", {{link + "size", {0.25, 0.02}}}, type, 302},
      {"", {{link + "name", "[link]Hips::LeftLeg"}}, value, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + json(c.patch).dump());
    std::ofstream(path) << (c.text.empty() ? patched(base, c.patch).dump() : c.text);
    try {
      skeletonFromJson(path, 0);
      ADD_FAILURE() << "no error";
    } catch (const json::exception& e) {
      const bool kind = c.kind == parse   ? dynamic_cast<const json::parse_error*>(&e) != nullptr
                        : c.kind == type  ? dynamic_cast<const json::type_error*>(&e) != nullptr
                        : c.kind == range ? dynamic_cast<const json::out_of_range*>(&e) != nullptr
                                          : false;
      EXPECT_TRUE(kind && e.id == c.id) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("skeleton file \"" + path + "\": [json.exception.", 0), 0u) << e.what();
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(c.kind, value) << e.what();
    }
  }
}

// Every reader of a path refuses one holding a NUL character (which would name a shorter path) and changes
// nothing; a folder or a file the system cannot read is refused with the system's reason, naming the file.
TEST(SkeletonJson, ReadersRefuseNulAndNameTheFileAndTheReason) {
  const std::string dir = testFolder(), fish = modelPath("fish.fbx"), file = dir + "fish.json";
  const std::string nul("\0", 1), mem = "/proc/self/mem";
  json withNul = json::parse(written(file, skeletonFromFBX(fish, 0)));
  withNul["model_file"] = fish + nul + "junk";
  std::ofstream(dir + "nul.json") << withNul.dump();
  auto model = loadModel(kModels + "/bar.fbx");
  const std::pair<std::function<void()>, std::string> rows[] = {
      {[&] { model->load(fish + nul + "junk", 0); },
       "value: the model path \"" + fish + "\\0junk\" holds a NUL character"},
      {[&] { skeletonFromJson(file + nul + "x", 0); },
       "value: the skeleton file path \"" + file + "\\0x\" holds a NUL character"},
      {[&] { skeletonFromJson(dir + "nul.json", 0); },
       "value: skeleton file \"" + dir + "nul.json\": the model path \"" + fish + "\\0junk\" holds a NUL character"},
      {[&] { skeletonFromJson(dir, 0); },
       "file: filesystem error: cannot read the skeleton file: Is a directory [" + dir + "]"},
      {[&] { skeletonFromJson(mem, 0); },
       "file: filesystem error: cannot read the skeleton file: Input/output error [" + mem + "]"},
      {[&] { SkeletonSystem(dir, 0); }, "runtime: cannot load the skeleton model '" + dir + "': Is a directory"},
      {[&] { SkeletonSystem(mem, 0); }, "runtime: cannot load the skeleton model '" + mem + "': Input/output error"}};
  for (const auto& [read, expected] : rows) {
    std::string got = "none";
    try {
      captureStdout(read);
    } catch (const std::filesystem::filesystem_error& e) {
      got = std::string("file: ") + e.what();
    } catch (const std::invalid_argument& e) {
      got = std::string("value: ") + e.what();
    } catch (const std::runtime_error& e) {
      got = std::string("runtime: ") + e.what();
    }
    EXPECT_EQ(got, expected);
  }
  EXPECT_EQ(model->path, kModels + "/bar.fbx");
  EXPECT_EQ(model->meshes.size(), 1u);
}

// The model is looked for beside the file first, then in the working directory; absolute paths as written.
TEST(SkeletonJson, ModelPathIsResolvedAgainstTheFileFolderFirst) {
  const std::string dir = testFolder();
  std::filesystem::create_directories(dir + "a");
  std::filesystem::create_directories(dir + "b");
  std::filesystem::copy_file(kModels + "/fish.fbx", dir + "a/hips.fbx");
  json file = json::parse(written(dir + "fish.json", skeletonFromFBX(modelPath("fish.fbx"), 0)));
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(kModels);
  auto modelOf = [&](const std::string& json, const std::string& model) {
    file["model_file"] = model;
    return readBack(dir + json, file)->mesh->path;
  };
  // hips.fbx names the fish beside the file, although the working directory has hips.fbx.
  EXPECT_EQ(modelOf("a/x.json", "hips.fbx"), std::filesystem::canonical(dir + "a/hips.fbx").string());
  EXPECT_EQ(modelOf("b/x.json", "fish.fbx"), "fish.fbx");
  EXPECT_EQ(modelOf("a/y.json", modelPath("fish.fbx")), modelPath("fish.fbx"));
  EXPECT_THROW(captureStdout([&] { modelOf("a/z.json", "none.fbx"); }), std::filesystem::filesystem_error);
  std::filesystem::current_path(cwd);
  EXPECT_THROW(skeletonFromJson(dir + "missing.json", 0), std::filesystem::filesystem_error);
}

TEST(SkeletonJson, FailedWritesRaiseAndLeaveNoFile) {
  const std::string dir = testFolder();
  auto s = skeletonFromFBX(modelPath("hips.fbx"), 0);
  for (const std::string& path : {dir + "no/such/folder/x.json", dir.substr(0, dir.size() - 1)})
    EXPECT_EQ(captureStdout([&] { EXPECT_THROW(SkeletonToJson(path, s), std::runtime_error) << path; }), "");
  testsupport::withFileSizeLimit(100, [&] { EXPECT_THROW(SkeletonToJson(dir + "x.json", s), std::runtime_error); });
  s->jointMap.at("Head")->type = static_cast<jointType>(42);
  EXPECT_THROW(SkeletonToJson(dir + "x.json", s), std::invalid_argument);
  EXPECT_THROW(SkeletonToJson(dir + "x.json", nullptr), std::invalid_argument);
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

}  // namespace
