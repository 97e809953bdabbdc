// The joint and actuator kind tables and their checked access.
#include <gtest/gtest.h>

#include <stdexcept>

#include "skeleton/jointType.h"

namespace {

using Eigen::Vector3d;
using Axes = std::vector<Vector3d>;

// Read while this file's statics are initialised, before main(): the linker may well put that before the
// tables' own file is initialised.
const std::string kReadBeforeMain = jointTypeName(jointType::ball) + actuatorTypeName(actuatorType::servo) +
                                    std::to_string(jointTypeAxes(jointType::planar).size());

TEST(jointType, NamesAxesAndDofCountsPerKindAlsoBeforeMain) {
  EXPECT_EQ(kReadBeforeMain, "ballservo2");
  // planar: two axes but three degrees of freedom.
  const struct {
    const char* name;
    Axes axes;
    int dofs;
  } kinds[] = {{"invalid", {}, 0},
               {"revolute", {Vector3d(0, 1, 0)}, 1},
               {"continuous", {Vector3d(0, 1, 0)}, 1},
               {"prismatic", {Vector3d(1, 0, 0)}, 1},
               {"fixed", {}, 0},
               {"floating", {}, 6},
               {"planar", {Vector3d(1, 0, 0), Vector3d(0, 0, 1)}, 3},
               {"ball", {}, 3},
               {"universal", {Vector3d(1, 0, 0), Vector3d(0, 1, 0)}, 2}};
  ASSERT_EQ(jointTypeNames().size(), 9u);
  for (int v = 0; v < 9; ++v) {
    const jointType t = static_cast<jointType>(v);
    EXPECT_EQ(jointTypeName(t), kinds[v].name);
    EXPECT_EQ(jointTypeAxes(t), kinds[v].axes) << v;
    EXPECT_EQ(jointTypeDofs(t), kinds[v].dofs) << v;
    EXPECT_EQ(jointTypeFromName(kinds[v].name), t);
  }
  const char* actuators[] = {"force", "passive", "servo", "mimic", "acceleration", "velocity", "locked"};
  ASSERT_EQ(actuatorTypeNames().size(), 7u);
  for (int v = 0; v < 7; ++v) {
    EXPECT_EQ(actuatorTypeName(static_cast<actuatorType>(v)), actuators[v]);
    EXPECT_EQ(actuatorTypeFromName(actuators[v]), static_cast<actuatorType>(v));
  }
}

TEST(jointType, UnknownValuesAndNamesAreRejected) {
  for (int v : {-1, 9, 100}) {
    EXPECT_THROW(jointTypeName(static_cast<jointType>(v)), std::out_of_range) << v;
    EXPECT_THROW(jointTypeDofs(static_cast<jointType>(v)), std::out_of_range) << v;
    EXPECT_THROW(jointTypeAxes(static_cast<jointType>(v)), std::out_of_range) << v;
  }
  for (int v : {-1, 7}) EXPECT_THROW(actuatorTypeName(static_cast<actuatorType>(v)), std::out_of_range) << v;
  try {
    jointTypeName(static_cast<jointType>(12));
    FAIL() << "no exception";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), "jointType value 12 is outside 0..8");
  }
  for (const char* name : {"Revolute", "revolute ", "1", ""}) EXPECT_FALSE(jointTypeFromName(name)) << name;
  for (const char* name : {"Servo", "5"}) EXPECT_FALSE(actuatorTypeFromName(name)) << name;
}

}  // namespace
