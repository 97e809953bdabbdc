// The PD controller: the proportional and backward-difference terms, reset, and the timestep it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "tools/mlSimplePDControl_1D.h"

namespace {

TEST(mlSimplePDControl_1D, ProportionalAndBackwardDifferenceTermsAndReset) {
  mlSimplePDControl_1D pd(2, 0.5, 0.1);
  pd.set_value(1);
  EXPECT_NEAR(pd.feedback(0.2, 0.1), (1 - 0.2) * 2 + (0 - 2) * 0.5, 1e-12);  // d = 0.2 / 0.1 = 2
  EXPECT_NEAR(pd.feedback(0.2, 0.1), 1.6, 1e-12);                            // unchanged measurement: d = 0
  pd.set_dvalue(3);  // the target derivative enters the derivative term; the target value is kept
  EXPECT_NEAR(pd.feedback(0.5, 0.2), (1 - 0.5) * 2 + (3 - 1.5) * 0.5, 1e-12);
  pd.reset();  // targets and the previous value are 0 again; the gains stay
  EXPECT_NEAR(pd.feedback(0.3, 0.05), -0.3 * 2 - (0.3 / 0.05) * 0.5, 1e-12);
  for (double dt : {0.0, -0.1, std::nan(""), double(INFINITY)})
    EXPECT_THROW(mlSimplePDControl_1D(1, 1, dt), std::invalid_argument) << dt;
}

}  // namespace
