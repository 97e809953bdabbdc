// Joint kinds and actuator kinds, with the constant tables that describe each kind: its name, its
// default motion axes and its number of degrees of freedom.
#pragma once

#include <Eigen/Core>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Plain enums, so that values convert to int like the table indices they are, each inside a namespace
// of its own, so that short names such as `fixed` or `velocity` do not leak into every includer: write
// jointType::fixed.
namespace jointKinds {
enum jointType : std::int32_t {
  invalid = 0,
  revolute = 1,
  continuous = 2,
  prismatic = 3,
  fixed = 4,
  floating = 5,
  planar = 6,
  ball = 7,
  universal = 8,
};
}  // namespace jointKinds
using jointKinds::jointType;

namespace actuatorKinds {
enum actuatorType : std::int32_t {
  force = 0,
  passive = 1,
  servo = 2,
  mimic = 3,
  acceleration = 4,
  velocity = 5,
  locked = 6,
};
}  // namespace actuatorKinds
using actuatorKinds::actuatorType;

// The tables, indexed by the enum value and never written. Each is a function-local static, built on
// first use, so that static initialisers in other files may read them too.
const std::vector<std::string>& jointTypeNames();
const std::vector<int>& jointTypeDofCount();
// Not one axis per degree of freedom: "planar" has two axes, "ball" and "floating" none.
const std::vector<std::vector<Eigen::Vector3d>>& jointTypeDefaultAxes();
const std::vector<std::string>& actuatorTypeNames();

// Checked access to the tables. A value outside the enumeration (a script can build one from any
// integer) is a bad value, not an index: it throws std::invalid_argument naming it, rather than reading
// past a table.
const std::string& jointTypeName(jointType type);
int jointTypeDofs(jointType type);
std::vector<Eigen::Vector3d> jointTypeAxes(jointType type);  // a copy the caller may edit
const std::string& actuatorTypeName(actuatorType type);

// The kind whose name equals `name` exactly (case-sensitive, whole string), trying values in increasing
// order; nothing when no name matches.
std::optional<jointType> jointTypeFromName(const std::string& name);
std::optional<actuatorType> actuatorTypeFromName(const std::string& name);
