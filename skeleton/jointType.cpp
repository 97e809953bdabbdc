#include "jointType.h"

#include <stdexcept>

const std::vector<std::string>& jointTypeNames() {
  static const std::vector<std::string> names = {"invalid",  "revolute", "continuous", "prismatic", "fixed",
                                                 "floating", "planar",   "ball",       "universal"};
  return names;
}

const std::vector<int>& jointTypeDofCount() {
  static const std::vector<int> dofs = {0, 1, 1, 1, 0, 6, 3, 3, 2};
  return dofs;
}

const std::vector<std::vector<Eigen::Vector3d>>& jointTypeDefaultAxes() {
  static const std::vector<std::vector<Eigen::Vector3d>> axes = {
      {},                                                    // invalid
      {Eigen::Vector3d(0, 1, 0)},                            // revolute
      {Eigen::Vector3d(0, 1, 0)},                            // continuous
      {Eigen::Vector3d(1, 0, 0)},                            // prismatic
      {},                                                    // fixed
      {},                                                    // floating
      {Eigen::Vector3d(1, 0, 0), Eigen::Vector3d(0, 0, 1)},  // planar
      {},                                                    // ball
      {Eigen::Vector3d(1, 0, 0), Eigen::Vector3d(0, 1, 0)},  // universal
  };
  return axes;
}

const std::vector<std::string>& actuatorTypeNames() {
  static const std::vector<std::string> names = {"force",        "passive",  "servo", "mimic",
                                                 "acceleration", "velocity", "locked"};
  return names;
}

namespace {

std::size_t checkedIndex(std::int32_t value, std::size_t count, const char* what) {
  if (value < 0 || static_cast<std::size_t>(value) >= count)
    throw std::invalid_argument(std::string(what) + " value " + std::to_string(value) + " is outside 0.." +
                                std::to_string(count - 1));
  return static_cast<std::size_t>(value);
}

std::size_t jointIndex(jointType type) {
  return checkedIndex(static_cast<std::int32_t>(type), jointTypeNames().size(), "jointType");
}

}  // namespace

const std::string& jointTypeName(jointType type) { return jointTypeNames()[jointIndex(type)]; }

int jointTypeDofs(jointType type) { return jointTypeDofCount()[jointIndex(type)]; }

std::vector<Eigen::Vector3d> jointTypeAxes(jointType type) { return jointTypeDefaultAxes()[jointIndex(type)]; }

const std::string& actuatorTypeName(actuatorType type) {
  const std::vector<std::string>& names = actuatorTypeNames();
  return names[checkedIndex(static_cast<std::int32_t>(type), names.size(), "actuatorType")];
}

std::optional<jointType> jointTypeFromName(const std::string& name) {
  const std::vector<std::string>& names = jointTypeNames();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<jointType>(i);
  return std::nullopt;
}

std::optional<actuatorType> actuatorTypeFromName(const std::string& name) {
  const std::vector<std::string>& names = actuatorTypeNames();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<actuatorType>(i);
  return std::nullopt;
}
