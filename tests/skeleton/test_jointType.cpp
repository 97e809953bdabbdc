// The joint and actuator kind tables and their checked access.
#include <gtest/gtest.h>

#include <stdexcept>

#include "skeleton/jointType.h"

namespace {

using Eigen::Vector3d;
using Axes = std::vector<Vector3d>;

// Reads the tables while this file's statics are initialised, before main(): the linker may well put
// that before the tables' own file is initialised.
struct ReadBeforeMain {
  ReadBeforeMain() {
    try {
      joint = jointTypeName(jointType::ball);
      dofs = jointTypeDofs(jointType::floating);
      axes = jointTypeAxes(jointType::planar).size();
      actuator = actuatorTypeName(actuatorType::servo);
      found = jointTypeFromName("universal");
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
  std::string joint, actuator, error;
  int dofs = -1;
  std::size_t axes = 0;
  std::optional<jointType> found;
};
const ReadBeforeMain readBeforeMain;

TEST(jointType, TablesAreCompleteForCodeThatRunsBeforeMain) {
  EXPECT_EQ(readBeforeMain.error, "");
  EXPECT_EQ(readBeforeMain.joint, "ball");
  EXPECT_EQ(readBeforeMain.dofs, 6);
  EXPECT_EQ(readBeforeMain.axes, 2u);
  EXPECT_EQ(readBeforeMain.actuator, "servo");
  EXPECT_EQ(readBeforeMain.found, jointType::universal);
}

TEST(jointType, NamesAxesAndDofCountsPerKind) {
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

TEST(jointType, DefaultAxesAreACopyTheCallerMayEdit) {
  std::vector<Vector3d> axes = jointTypeAxes(jointType::planar);
  axes[0] = Vector3d(5, 5, 5);
  axes.clear();
  EXPECT_EQ(jointTypeAxes(jointType::planar).size(), 2u);
  EXPECT_EQ(jointTypeDefaultAxes()[6][0], Vector3d(1, 0, 0));
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
  // Lookup is exact.
  for (const char* name : {"Revolute", "revolute ", "1", ""}) EXPECT_FALSE(jointTypeFromName(name)) << name;
  for (const char* name : {"Servo", "5"}) EXPECT_FALSE(actuatorTypeFromName(name)) << name;
}

}  // namespace
