// Completion of a parameter record in both set-up modes: what it prints and the values it fills in.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "duriz/mlsolver/simParams.h"
#include "testSupport.h"

namespace {

using testsupport::captureStdout;

const std::string kNL = " [warning] N or l0p not setted!!! set N= 256 ,l0p =4 as default \n";
const std::string kAllUnset =
    kNL + "[Info] u0p not setted, try generating use dx 0.015625 u0k 0.100000 dtp -1.000000 \n" +
    "[Warning] dtp not setted , default to be 0.0003\n" + "[Info] u0p auto calculated!  u0p = 5.208333 \n";

struct Case {
  const char* name;
  std::function<void(simParams&)> edit;
  std::string printed;
  float N, l0p, dx, dtp, u0p;
};

TEST(SimParams, CompletionPrintsAndFillsInAsItsModeSays) {
  const float fall10 = static_cast<float>(std::sqrt(2.0 * 9.800000190734863 * 10.0));
  const Case cases[] = {
      // GRAVITY: l0p is the larger of width and height, N = l0p / dx (dx still unset), u0p a free fall.
      {"gravity", [](simParams&) {}, "", -10, 10, -1, -1, fall10},
      {"gravity_recomputed", [](simParams& p) { p.height = 12, p.dx = 0.5f, p.l0p = 3, p.gravity[0] = -100.0; }, "", 24,
       12, 0.5f, -1, static_cast<float>(std::sqrt(2.0 * 100.0 * 12.0))},
      {"manual_unset", [](simParams& p) { p.setup_mode = simParams::MANUAL; }, kAllUnset, 256, 4, 0.015625f, 0.0003f,
       0.1f * 0.015625f / 0.0003f},
      // One of N and l0p set: both are reset.
      {"manual_N_only", [](simParams& p) { p.setup_mode = simParams::MANUAL, p.N = 128, p.u0p = 2; }, kNL, 256, 4,
       4.0f / 256, -1, 2},
      {"manual_u0p_set", [](simParams& p) { p.setup_mode = simParams::MANUAL, p.N = 64, p.l0p = 2, p.u0p = 3; }, "", 64,
       2, 2.0f / 64, -1, 3},
  };
  for (const Case& c : cases) {
    simParams p;
    c.edit(p);
    mlLatticeUnits u;
    EXPECT_EQ(captureStdout([&] { u = p.toLatticeUnits(); }), c.printed) << c.name;
    EXPECT_EQ(p.N, c.N) << c.name;
    EXPECT_EQ(p.l0p, c.l0p) << c.name;
    EXPECT_EQ(p.dx, c.dx) << c.name;
    EXPECT_EQ(p.dtp, c.dtp) << c.name;
    EXPECT_FLOAT_EQ(p.u0p, c.u0p) << c.name;
    EXPECT_EQ(u.u0p[2], p.u0p) << c.name;
    EXPECT_FLOAT_EQ(u.v0k, p.N * p.u0k * p.visp / (p.u0p * p.l0p)) << c.name;
    EXPECT_FLOAT_EQ(u.Reynolds, p.u0p * p.l0p / p.visp) << c.name;
    EXPECT_EQ(u.tp, 0.0f);  // the caller computes the time step
    // MANUAL completion is idempotent: a second call finds everything set and prints nothing.
    if (p.setup_mode != simParams::GRAVITY) {
      EXPECT_EQ(captureStdout([&] { p.toLatticeUnits(); }), "") << c.name;
    }
  }
}

// A value that names no mode is refused before anything is filled in.
TEST(SimParams, ASetupModeThatIsNoMemberIsRefused) {
  simParams p;
  p.setup_mode = static_cast<simParams::SETUP_MODE>(7);
  EXPECT_EQ(testsupport::thrownWhat<std::invalid_argument>([&] { p.toLatticeUnits(); }),
            "simParam: setup_mode = 7 names no set-up mode (MANUAL 0, GRAVITY 1)");
  EXPECT_THROW(p.get_tp(), std::invalid_argument);
  EXPECT_EQ(p.N, -1.0f);
}

TEST(SimParams, TimeStepIsDtpOverVelocityScale) {
  simParams p;
  p.setup_mode = simParams::MANUAL;
  captureStdout([&] { EXPECT_FLOAT_EQ(p.get_tp(), 0.0003f); });
  simParams scaled;
  scaled.setup_mode = simParams::MANUAL;
  scaled.velocityScale = 2.0f;
  scaled.dtp = 0.001f;
  captureStdout([&] { EXPECT_FLOAT_EQ(scaled.get_tp(), 0.0005f); });
}

}  // namespace
