#include "SkeletonJson.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "duriz/mlsolver/requireNoNul.h"
#include "duriz/mlsolver/writeCompleteFile.h"

using nlohmann::json;

namespace {

json vector3(const Eigen::Vector3d& v) { return json::array({v.x(), v.y(), v.z()}); }

// Reads the last element first. The lookups insert null where the array is short, so a short array gives
// a type error rather than a read past its end; a value that is no array gives the library's error too.
Eigen::Vector3d readVector3(json& a) {
  const double z = a[2].get<double>();
  const double y = a[1].get<double>();
  const double x = a[0].get<double>();
  return {x, y, z};
}

// A skeleton file nests its values 5 deep at most (a number of one axis in a joint's "axis"). Reading
// copies values recursively, so far deeper input is refused while it is parsed.
constexpr int kMaxNesting = 16;

// A json library error that names the file it came from, keeping the library's kind, id and message.
template <class Error>
class fileError : public Error {
 public:
  fileError(const Error& error, const std::string& file)
      : Error(error), text_("skeleton file \"" + file + "\": " + error.what()) {}
  const char* what() const noexcept override { return text_.what(); }

 private:
  std::runtime_error text_;  // copies without throwing, as an exception must
};

[[noreturn]] void rethrowNamingFile(const std::string& file) {
  try {
    throw;
  } catch (const json::parse_error& e) {
    throw fileError(e, file);
  } catch (const json::type_error& e) {
    throw fileError(e, file);
  } catch (const json::out_of_range& e) {
    throw fileError(e, file);
  } catch (const json::invalid_iterator& e) {
    throw fileError(e, file);
  } catch (const json::other_error& e) {
    throw fileError(e, file);
  }
}

// NaN and infinities are written as null, which the reader refuses: such a skeleton is not written.
void requireFiniteNumbers(const json& file, const std::string& json_name) {
  const json numbers = file.flatten();  // every value by its JSON pointer
  for (const auto& [pointer, value] : numbers.items())
    if (value.is_number_float() && !std::isfinite(value.get<double>())) {
      std::ostringstream text;
      text << "SkeletonToJson: cannot write \"" << json_name << "\": " << pointer << " is " << value.get<double>()
           << ", not a finite number";
      throw std::invalid_argument(text.str());
    }
}

}  // namespace

void to_json(json& j, const Limit& limit) {
  j = json{{"effort", limit.effort}, {"lower", limit.lower}, {"upper", limit.upper}, {"velocity", limit.velocity}};
}

void to_json(json& j, const SkeletonJoint& joint) {
  json axis;  // null for a joint without axes
  for (const Eigen::Vector3d& a : joint.axis) axis.push_back(vector3(a));
  j = json{
      {"actuator", actuatorTypeName(joint.actuator)},
      {"axis", axis},
      {"dynamics", {{"damping", joint.dynamics.damping}, {"friction", joint.dynamics.friction}}},
      {"limit", joint.limit},
      {"mimic", {{"joint", joint.mimicJoint}, {"multiplier", joint.mimicMultiplier}, {"offset", joint.mimicOffset}}},
      {"name", joint.name},
      {"springStiffness", joint.springStiffness},
      {"type", jointTypeName(joint.type)},
      {"useDynamcis", joint.useDynamics},
      {"useLimits", joint.useLimits}};
}

void to_json(json& j, const SkeletonSystem& system) {
  json joints = json::object();
  for (const auto& [name, joint] : system.jointMap) joints[name] = *joint;
  json links = json::object();
  for (const auto& [name, link] : system.linkMap)
    links[name] = {{"isIntermediate", link->isIntermediate},
                   {"mass", link->mass},
                   {"name", link->name},
                   {"size", vector3(link->size)}};
  json placements = json::array();
  for (const Eigen::Vector3d& p : system.markerPlacements) placements.push_back(vector3(p));
  j = json{{"baseFrameName", system.baseFrameName},
           {"baseLinkFwd", vector3(system.baseLinkFwd)},
           {"baseLinkName", system.baseLinkName},
           {"baseLinkRight", vector3(system.baseLinkRight)},
           {"baseLinkUp", vector3(system.baseLinkUp)},
           {"joints", joints},
           {"links", links},
           {"markers_placements", placements},
           {"model_file", system.mesh != nullptr ? system.mesh->path : std::string()}};
}

// Works on a copy: member lookups insert null for what is missing, so that the library's own checks
// report it.
void from_json(const json& j, SkeletonJoint& joint) {
  json o = j;
  if (const json& type = o["type"]; type.is_string())
    if (const auto kind = jointTypeFromName(type.get<std::string>())) joint.setJointType(*kind);
  if (const json& actuator = o["actuator"]; actuator.is_string())
    if (const auto kind = actuatorTypeFromName(actuator.get<std::string>())) joint.actuator = *kind;
  joint.springStiffness = o.at("springStiffness").get<double>();
  joint.useLimits = o["useLimits"].get<bool>();
  joint.useDynamics = o["useDynamcis"].get<bool>();
  joint.dynamics.damping = o["dynamics"].at("damping").get<double>();
  joint.dynamics.friction = o["dynamics"].at("friction").get<double>();
  json& limit = o["limit"];
  joint.limit.effort = limit.at("effort").get<std::vector<double>>();
  joint.limit.velocity = limit.at("velocity").get<std::vector<double>>();
  joint.limit.lower = limit.at("lower").get<std::vector<double>>();
  joint.limit.upper = limit.at("upper").get<std::vector<double>>();
  if (o.contains("mimic")) {
    json& mimic = o["mimic"];
    joint.mimicJoint = mimic.at("joint").get<std::string>();
    joint.mimicMultiplier = mimic.at("multiplier").get<double>();
    joint.mimicOffset = mimic.at("offset").get<double>();
  }
  // The kind fixes the number of axes: surplus axes in the file are ignored, missing ones stay.
  json& axes = o["axis"];
  for (std::size_t i = 0; i < joint.axis.size(); ++i)
    if (axes.size() > i) joint.axis[i] = readVector3(axes[i]);
}

void from_json(const json& j, SkeletonSystem& system) {
  json file = j;
  system.baseLinkName = file["baseLinkName"].get<std::string>();
  system.baseFrameName = file["baseFrameName"].get<std::string>();
  system.baseLinkFwd = readVector3(file["baseLinkFwd"]);
  system.baseLinkRight = readVector3(file["baseLinkRight"]);
  system.baseLinkUp = readVector3(file["baseLinkUp"]);

  json& joints = file["joints"];
  for (const auto& joint : system.joints) from_json(joints[joint->name], *joint);

  // Links are found by their current name; the link maps keep the names the links were built with.
  json& links = file["links"];
  std::vector<std::string> before;
  for (const auto& link : system.links) {
    json& o = links[link->name];
    before.push_back(link->name);
    link->isIntermediate = o["isIntermediate"].get<bool>();
    link->mass = o["mass"].get<double>();
    link->name = o["name"].get<std::string>();
    link->size = readVector3(o["size"]);
  }
  // Links become bodies named after them: a rename must not make two share a name.
  std::map<std::string, int> uses;
  for (const auto& link : system.links) ++uses[link->name];
  for (std::size_t i = 0; i < system.links.size(); ++i)
    if (system.links[i]->name != before[i] && uses[system.links[i]->name] > 1)
      throw std::invalid_argument("skeleton file renames the link '" + before[i] + "' to '" + system.links[i]->name +
                                  "', a name another link carries");

  json& placements = file["markers_placements"];  // missing or null: no placements
  std::vector<Eigen::Vector3d> read(placements.size());
  for (std::size_t i = 0; i < read.size(); ++i) read[i] = readVector3(placements[i]);
  system.markerPlacements = std::move(read);
}

void SkeletonToJson(const std::string& json_name, std::shared_ptr<SkeletonSystem> skeleton) {
  if (skeleton == nullptr) throw std::invalid_argument("SkeletonToJson: no skeleton given for \"" + json_name + "\"");
  const json file = *skeleton;
  requireFiniteNumbers(file, json_name);
  const std::string text = file.dump(4) + "\n";
  std::string failure;
  if (!writeCompleteFile(json_name, text.data(), text.size(), &failure))
    throw std::runtime_error("SkeletonToJson: " + failure);
  std::printf("[ Process]Generate json success at \"%s\"\n", json_name.c_str());
}

std::shared_ptr<SkeletonSystem> skeletonFromJson(const std::string& json_name, int gpuId) {
  requireNoNul(json_name, "the skeleton file path");
  std::ifstream in(json_name);
  if (!in)
    throw std::filesystem::filesystem_error("cannot open the skeleton file", json_name,
                                            std::error_code(errno != 0 ? errno : ENOENT, std::generic_category()));
  json file;
  std::string model_file;
  try {
    file = json::parse(in, [&](int depth, json::parse_event_t, json&) {
      if (depth > kMaxNesting)
        throw std::runtime_error("skeleton file \"" + json_name + "\": values nest deeper than " +
                                 std::to_string(kMaxNesting) + " levels, far deeper than a skeleton file holds");
      return true;
    });
    model_file = file["model_file"].get<std::string>();
  } catch (const json::exception&) {
    rethrowNamingFile(json_name);
  } catch (const std::ios_base::failure& e) {
    // A folder, or a file the system cannot read: the stream reports it without the file's name.
    throw std::filesystem::filesystem_error("cannot read the skeleton file", json_name, e.code());
  }
  requireNoNul(model_file, "skeleton file \"" + json_name + "\": the model path");

  // The model path is taken relative to the file's folder when the file exists there.
  const std::string dir = json_name.substr(0, json_name.rfind('/') + 1);
  if (char* resolved = realpath((dir + model_file).c_str(), nullptr)) {
    model_file = resolved;
    std::free(resolved);
  }

  auto system = std::make_shared<SkeletonSystem>(model_file, gpuId);
  try {
    from_json(file, *system);
  } catch (const json::exception&) {
    rethrowNamingFile(json_name);
  }
  return system;
}
