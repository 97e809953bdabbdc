#include "jointType.h"

#include <stdexcept>

const std::vector<std::string> jointTypeNames = {"invalid",  "revolute", "continuous", "prismatic", "fixed",
                                                 "floating", "planar",   "ball",       "universal"};

const std::vector<int> jointTypeDofCount = {0, 1, 1, 1, 0, 6, 3, 3, 2};

const std::vector<std::vector<Eigen::Vector3d>> jointTypeDefaultAxes = {
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

const std::vector<std::string> actuatorTypeNames = {"force",        "passive",  "servo", "mimic",
                                                    "acceleration", "velocity", "locked"};

namespace {

std::size_t checkedIndex(std::int32_t value, std::size_t count, const char* what) {
  if (value < 0 || static_cast<std::size_t>(value) >= count)
    throw std::out_of_range(std::string(what) + " value " + std::to_string(value) + " is outside 0.." +
                            std::to_string(count - 1));
  return static_cast<std::size_t>(value);
}

std::size_t jointIndex(jointType type) {
  return checkedIndex(static_cast<std::int32_t>(type), jointTypeNames.size(), "jointType");
}

}  // namespace

const std::string& jointTypeName(jointType type) { return jointTypeNames[jointIndex(type)]; }

int jointTypeDofs(jointType type) { return jointTypeDofCount[jointIndex(type)]; }

std::vector<Eigen::Vector3d> jointTypeAxes(jointType type) { return jointTypeDefaultAxes[jointIndex(type)]; }

const std::string& actuatorTypeName(actuatorType type) {
  return actuatorTypeNames[checkedIndex(static_cast<std::int32_t>(type), actuatorTypeNames.size(), "actuatorType")];
}

std::optional<jointType> jointTypeFromName(const std::string& name) {
  for (std::size_t i = 0; i < jointTypeNames.size(); ++i)
    if (jointTypeNames[i] == name) return static_cast<jointType>(i);
  return std::nullopt;
}

std::optional<actuatorType> actuatorTypeFromName(const std::string& name) {
  for (std::size_t i = 0; i < actuatorTypeNames.size(); ++i)
    if (actuatorTypeNames[i] == name) return static_cast<actuatorType>(i);
  return std::nullopt;
}
