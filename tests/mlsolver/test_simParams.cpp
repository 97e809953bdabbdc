#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "duriz/mlsolver/simParams.h"

namespace {

const std::string kNLWarning = " [warning] N or l0p not setted!!! set N= 256 ,l0p =4 as default \n";
const std::string kDtpWarning = "[Warning] dtp not setted , default to be 0.0003\n";

// What f prints on standard output.
template <class F>
std::string printed(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}

simParams manual() {
  simParams p;
  p.setup_mode = simParams::MANUAL;
  return p;
}

TEST(SimParamsDefaults, MatchTheDocumentedRecord) {
  const simParams p;
  EXPECT_EQ(p.width, 10.0f);
  EXPECT_EQ(p.height, 4.0f);
  EXPECT_EQ(p.depth, 4.0f);
  EXPECT_EQ(p.N, -1.0f);
  EXPECT_EQ(p.l0p, -1.0f);
  EXPECT_EQ(p.u0p, -1.0f);
  EXPECT_EQ(p.u0k, 0.1f);
  EXPECT_EQ(p.rou0p, 1.25f);
  EXPECT_EQ(p.dx, -1.0f);
  EXPECT_EQ(p.dtp, -1.0f);
  EXPECT_EQ(p.visp, 0.001f);
  EXPECT_EQ(p.gravity[1], -9.800000190734863);
  EXPECT_EQ(p.useGpu, 1);
  EXPECT_EQ(p.setup_mode, simParams::GRAVITY);
}

TEST(SimParamsGravity, FillsReferenceFromBoxAndFreeFall) {
  simParams p;
  mlLatticeUnits u;
  EXPECT_EQ(printed([&] { u = p.toLatticeUnits(); }), "");
  EXPECT_EQ(p.l0p, 10.0f);  // the larger of width and height; depth plays no part
  EXPECT_EQ(p.u0p, static_cast<float>(std::sqrt(2.0 * 9.800000190734863 * 10.0)));
  EXPECT_NEAR(p.u0p, 14.0f, 1e-5f);
  EXPECT_EQ(p.N, -10.0f);  // 10 / dx with dx still unset
  EXPECT_EQ(u.u0p[0], p.u0p);
  EXPECT_EQ(u.u0p[2], p.u0p);

  // Every call recomputes from the box: a script's edit of l0p does not survive.
  p.height = 12;
  p.dx = 0.5f;
  p.l0p = 3;
  p.gravity[0] = -100.0;
  p.toLatticeUnits();
  EXPECT_EQ(p.l0p, 12.0f);
  EXPECT_EQ(p.N, 24.0f);
  EXPECT_EQ(p.u0p, static_cast<float>(std::sqrt(2.0 * 100.0 * 12.0)));  // the larger of the x and y falls
}

TEST(SimParamsManual, EverythingUnsetIsCompletedWithMessages) {
  simParams p = manual();
  mlLatticeUnits u;
  EXPECT_EQ(printed([&] { u = p.toLatticeUnits(); }),
            kNLWarning + "[Info] u0p not setted, try generating use dx 0.015625 u0k 0.100000 dtp -1.000000 \n" +
                kDtpWarning + "[Info] u0p auto calculated!  u0p = 5.208333 \n");
  EXPECT_EQ(p.N, 256.0f);
  EXPECT_EQ(p.l0p, 4.0f);
  EXPECT_EQ(p.dx, 0.015625f);
  EXPECT_EQ(p.dtp, 0.0003f);
  EXPECT_NEAR(p.u0p, 0.1 * 0.015625 / 0.0003, 1e-5);
  EXPECT_NEAR(u.v0k, 256 * 0.1 * 0.001 / (p.u0p * 4.0), 1e-9);
  EXPECT_NEAR(u.Reynolds, p.u0p * 4.0 / 0.001, 1e-2);
  EXPECT_EQ(u.visp, 0.001f);
  EXPECT_EQ(u.rou0p, 1.25f);
  EXPECT_EQ(u.tp, 0.0f);  // the caller computes the time step

  // Completion is idempotent: a second call finds everything set.
  mlLatticeUnits again;
  EXPECT_EQ(printed([&] { again = p.toLatticeUnits(); }), "");
  EXPECT_EQ(again.u0p[1], u.u0p[1]);
  EXPECT_EQ(again.v0k, u.v0k);
}

TEST(SimParamsManual, OneOfNAndL0pSetStillResetsBoth) {
  simParams p = manual();
  p.N = 128;
  p.u0p = 2;
  EXPECT_EQ(printed([&] { p.toLatticeUnits(); }), kNLWarning);
  EXPECT_EQ(p.N, 256.0f);
  EXPECT_EQ(p.l0p, 4.0f);
}

TEST(SimParamsManual, SetVelocityPrintsNothingAndKeepsDtpUnset) {
  simParams p = manual();
  p.N = 64;
  p.l0p = 2;
  p.u0p = 3;
  EXPECT_EQ(printed([&] { p.toLatticeUnits(); }), "");
  EXPECT_EQ(p.dtp, -1.0f);
  EXPECT_EQ(p.dx, 2.0f / 64.0f);
  EXPECT_EQ(p.u0p, 3.0f);
}

TEST(SimParamsManual, GetTpIsDtpOverVelocityScale) {
  simParams p = manual();
  float tp = 0;
  printed([&] { tp = p.get_tp(); });
  EXPECT_FLOAT_EQ(tp, 0.0003f);

  simParams scaled = manual();
  scaled.velocityScale = 2.0f;
  scaled.dtp = 0.001f;
  printed([&] { EXPECT_FLOAT_EQ(scaled.get_tp(), 0.0005f); });
}

TEST(SimParamsManual, ValueOutsideTheEnumBehavesAsManual) {
  simParams p;
  p.setup_mode = static_cast<simParams::SETUP_MODE>(7);
  EXPECT_EQ(printed([&] { p.toLatticeUnits(); }).rfind(kNLWarning, 0), 0u);
  EXPECT_EQ(p.N, 256.0f);
  EXPECT_EQ(p.dx, 0.015625f);
}

}  // namespace
