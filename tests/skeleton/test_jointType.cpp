// The joint and actuator kind tables and their checked access.
#include <gtest/gtest.h>

#include <stdexcept>

#include "skeleton/jointType.h"

namespace {

using Eigen::Vector3d;

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

TEST(jointType, EnumeratorValuesAndNamesAgree) {
  const char* joints[] = {"invalid",  "revolute", "continuous", "prismatic", "fixed",
                          "floating", "planar",   "ball",       "universal"};
  ASSERT_EQ(jointTypeNames().size(), 9u);
  for (int v = 0; v < 9; ++v) EXPECT_EQ(jointTypeName(static_cast<jointType>(v)), joints[v]);
  EXPECT_EQ(static_cast<int>(jointType::universal), 8);
  EXPECT_EQ(static_cast<int>(jointType::ball), 7);

  const char* actuators[] = {"force", "passive", "servo", "mimic", "acceleration", "velocity", "locked"};
  ASSERT_EQ(actuatorTypeNames().size(), 7u);
  for (int v = 0; v < 7; ++v) EXPECT_EQ(actuatorTypeName(static_cast<actuatorType>(v)), actuators[v]);
  EXPECT_EQ(actuatorTypeName(actuatorType::velocity), "velocity");  // named, though scripts cannot pick it
  EXPECT_EQ(sizeof(jointType), 4u);
  EXPECT_EQ(sizeof(actuatorType), 4u);
}

TEST(jointType, AxesAndDofCountsPerKind) {
  // planar: two axes but three degrees of freedom.
  EXPECT_EQ(jointTypeAxes(jointType::planar), (std::vector<Vector3d>{Vector3d(1, 0, 0), Vector3d(0, 0, 1)}));
  EXPECT_EQ(jointTypeDofs(jointType::planar), 3);
  EXPECT_TRUE(jointTypeAxes(jointType::ball).empty());
  EXPECT_EQ(jointTypeDofs(jointType::ball), 3);
  EXPECT_TRUE(jointTypeAxes(jointType::floating).empty());
  EXPECT_EQ(jointTypeDofs(jointType::floating), 6);
  for (jointType t : {jointType::fixed, jointType::invalid}) {
    EXPECT_TRUE(jointTypeAxes(t).empty());
    EXPECT_EQ(jointTypeDofs(t), 0);
  }
  EXPECT_EQ(jointTypeAxes(jointType::revolute), std::vector<Vector3d>{Vector3d(0, 1, 0)});
  EXPECT_EQ(jointTypeAxes(jointType::continuous), std::vector<Vector3d>{Vector3d(0, 1, 0)});
  EXPECT_EQ(jointTypeAxes(jointType::prismatic), std::vector<Vector3d>{Vector3d(1, 0, 0)});
  EXPECT_EQ(jointTypeDofs(jointType::revolute), 1);
  EXPECT_EQ(jointTypeAxes(jointType::universal), (std::vector<Vector3d>{Vector3d(1, 0, 0), Vector3d(0, 1, 0)}));
  EXPECT_EQ(jointTypeDofs(jointType::universal), 2);
}

TEST(jointType, DefaultAxesAreACopyTheCallerMayEdit) {
  std::vector<Vector3d> axes = jointTypeAxes(jointType::planar);
  axes[0] = Vector3d(5, 5, 5);
  axes.clear();
  EXPECT_EQ(jointTypeAxes(jointType::planar).size(), 2u);
  EXPECT_EQ(jointTypeDefaultAxes()[6][0], Vector3d(1, 0, 0));
}

TEST(jointType, ValuesOutsideTheEnumerationAreRejected) {
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
}

TEST(jointType, NameLookupIsExact) {
  EXPECT_EQ(jointTypeFromName("revolute"), jointType::revolute);
  EXPECT_EQ(jointTypeFromName("invalid"), jointType::invalid);
  EXPECT_EQ(jointTypeFromName("universal"), jointType::universal);
  EXPECT_FALSE(jointTypeFromName("Revolute").has_value());
  EXPECT_FALSE(jointTypeFromName("revolute ").has_value());
  EXPECT_FALSE(jointTypeFromName("1").has_value());
  EXPECT_FALSE(jointTypeFromName("").has_value());
  EXPECT_EQ(actuatorTypeFromName("velocity"), actuatorType::velocity);
  EXPECT_EQ(actuatorTypeFromName("locked"), actuatorType::locked);
  EXPECT_FALSE(actuatorTypeFromName("Servo").has_value());
  EXPECT_FALSE(actuatorTypeFromName("5").has_value());
}

}  // namespace
