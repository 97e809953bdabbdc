#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "tools/mlSimplePDControl_1D.h"

namespace {

TEST(mlSimplePDControl_1D, ProportionalAndBackwardDifferenceTerms) {
  mlSimplePDControl_1D pd(2, 0.5, 0.1);
  pd.set_value(1);
  EXPECT_NEAR(pd.feedback(0.2, 0.1), (1 - 0.2) * 2 + (0 - 2) * 0.5, 1e-12);  // d = 0.2 / 0.1 = 2
  EXPECT_NEAR(pd.dvalue, 2, 1e-12);
  EXPECT_NEAR(pd.feedback(0.2, 0.1), 1.6, 1e-12);  // unchanged measurement: d = 0
  EXPECT_EQ(pd.dvalue, 0);
  EXPECT_EQ(pd.last_value, 0.2);

  pd.set_dvalue(3);  // the target derivative enters the derivative term; the target value is kept
  EXPECT_NEAR(pd.feedback(0.5, 0.2), (1 - 0.5) * 2 + (3 - 1.5) * 0.5, 1e-12);
  EXPECT_EQ(pd.timestep, 0.2);
  EXPECT_EQ(pd.desired_value, 1);
}

TEST(mlSimplePDControl_1D, ResetClearsStateAndTargetsButKeepsGains) {
  mlSimplePDControl_1D pd(2, 0.5, 0.1);
  pd.set_value(4);
  pd.set_dvalue(-1);
  pd.feedback(3, 0.1);
  pd.reset();
  EXPECT_EQ(pd.Kp, 2);
  EXPECT_EQ(pd.Kd, 0.5);
  EXPECT_EQ(pd.timestep, 0);
  EXPECT_EQ(pd.last_value, 0);
  const double v = 0.3, dt = 0.05;
  EXPECT_NEAR(pd.feedback(v, dt), -v * 2 - (v / dt) * 0.5, 1e-12);
}

TEST(mlSimplePDControl_1D, ATimestepThatIsNotFiniteAndPositiveIsRefused) {
  for (double dt : {0.0, -0.1, std::nan(""), double(INFINITY)})
    EXPECT_THROW(mlSimplePDControl_1D(1, 1, dt), std::invalid_argument);
}

}  // namespace
