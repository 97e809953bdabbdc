// Trajectories: fitting and its planar index, samples, poses, the window searches of a path follower and
// its PD controller.
#include <gtest/gtest.h>

#include <stdexcept>

#include "testSupport.h"
#include "tools/mlSimplePDControl_1D.h"
#include "tools/mlTrajectoryIndex.h"
#include "tools/toolsTestUtil.h"

namespace {

// Way points (i, 0, 0), i = 0 .. 10: the curve is x = 1 + u for u in [0, 8], and sixteen samples sit at
// x = 1, 1.5, ..., 8.5 exactly.
mlTPTrajectory straightSixteen() {
  std::vector<Vec> p;
  for (int i = 0; i <= 10; ++i) p.emplace_back(i, 0, 0);
  return fitted(p, 16);
}

TEST(mlTrajectory, FitBuildsASplineAndAPlanarIndexOrKeepsTheLastGoodOnes) {
  mlTPTrajectory t = fitted(kFour);
  const auto first = t.spline;
  EXPECT_EQ(t.index->samples.size(), 11u);  // u = 0 .. 0.9 and the end at 1
  t.setPoints(std::vector<Vec>(kFour.begin(), kFour.begin() + 3));
  EXPECT_EQ(t.spline, first);  // not refitted by setPoints
  EXPECT_THROW(t.fit(), std::invalid_argument);
  for (const Vec& bad : {Vec(std::nan(""), 0, 0), Vec(0, INFINITY, 0)}) {
    std::vector<Vec> points = kSix;
    points[4] = bad;
    t.setPoints(points);
    EXPECT_EQ(testsupport::thrownWhat<std::invalid_argument>([&] { t.fit(); }).rfind("fit: way point 4 (", 0), 0u);
  }
  EXPECT_EQ(t.spline, first);

  // Ten way points: planar samples at u = 0, 0.1, ..., 6.9 and the end at 7, each its own nearest neighbour.
  std::vector<Vec> p;
  for (int i = 0; i < 10; ++i) p.emplace_back(i, std::sin(i), 0.1 * i);
  t = fitted(p);
  const mlTrajectoryIndex& index = *t.index;
  ASSERT_EQ(index.samples.size(), 71u);
  for (std::size_t k = 0; k < index.samples.size(); ++k) {
    const float u = k < 70 ? 0.1f * static_cast<float>(k) : 7.0f;
    EXPECT_EQ(index.samples[k].u, u);
    EXPECT_EQ(index.samples[k].y, static_cast<float>(t.spline->evaluate(u).y()));
    const float query[2] = {index.samples[k].x, index.samples[k].y};
    unsigned found = 0;
    float dist2 = -1;
    ASSERT_EQ(index.tree.knnSearch(query, 1, &found, &dist2), 1u);
    EXPECT_EQ(dist2, 0.0f) << k;
  }
}

TEST(mlTPTrajectory, SamplesAndPosesFollowTheCurveCurvatureIsNotScaled) {
  mlTPTrajectory t = fitted(kFour, 4);
  ASSERT_EQ(t.getSampleNum(), 4);
  for (int i = 0; i < 4; ++i) {
    expectNear(t.samples[i].position, ref::segment(kFour, 0, 0.25 * i, 0), 1e-6);
    expectNear(t.samples[i].orientation, ref::segment(kFour, 0, 0.25 * i, 1).normalized(), 1e-6);
    EXPECT_EQ(t.samples[i].data, t.samples[i].position);
  }
  t.lastIdx = 3;
  t.sample(0);  // empties the samples, leaves lastIdx alone
  EXPECT_EQ(t.getLastIdx(), 3);
  EXPECT_TRUE(std::isnan(t.getReferencePose(Vec(1, 1, 1))));
  // All way points at the origin: the curve is one point, and its zero tangent stays zero.
  for (const auto& s : fitted(std::vector<Vec>(5, Vec::Zero()), 3).samples) EXPECT_EQ(s.orientation, Vec::Zero());

  // The pose parameter is clamped to [0, 1] and scaled by M = 3; the curvature's is neither.
  const mlTPTrajectory six = fitted(kSix);
  EXPECT_EQ(six.getPose(-3).position, six.getPose(0).position);
  EXPECT_EQ(six.getPose(7).orientation, six.getPose(1).orientation);
  EXPECT_EQ(six.getPose(1).position, six.spline->evaluate(3));
  expectNear(six.getPose(0.5).position, ref::segment(kSix, 1, 0.5, 0), 1e-6);  // u = 1.5
  expectNear(six.getPose(0.5).orientation, ref::segment(kSix, 1, 0.5, 1).normalized(), 1e-6);
  expectNear(six.getCurvature(0.5), ref::segment(kSix, 0, 0.5, 2), 1e-6);
  expectNear(six.getCurvature(5), ref::segment(kSix, 0, 1, 2), 1e-6);
  expectNear(six.getCurvature(-5), ref::segment(kSix, 0, 0, 2), 1e-6);
}

// The window search: the first segment of the window whose end planes hold X (both planes included), else
// the nearer window end (the far one on a tie); the index never falls below the given one. The target is
// the sample after the segment; the reference pose is (q + s) / 16 for a hit in segment q covering the
// fraction s, q / 16 for a miss. Without a window the nearest sample wins, the first of equal distances.
TEST(mlTPTrajectory, WindowSearchesGiveTheTargetAndTheCoveredFraction) {
  mlTPTrajectory t = straightSixteen();
  EXPECT_EQ(t.getReferencePose(Vec(2.25, 1, 0)), 2.0 / 16);  // halfway between samples 2 and 3
  EXPECT_EQ(t.getReferencePose(Vec(2.3, 1, 0)), 3.0 / 16);
  EXPECT_EQ(t.getReferencePose(Vec(-50, 0, 0)), 0.0);
  const Vec x(2.2, 0.3, 0), far(6.2, 0, 0);  // x in segment 2, far in segment 10
  const struct {
    Vec x;
    int idx, window, chosen;
    double reference;
  } cases[] = {{x, 0, 5, 2, 2.4 / 16},
               {x, 4, 5, 4, 4.0 / 16},       // the window [4, 9) is ahead of X: the nearer end is 4
               {x, -7, 10, 2, 2.4 / 16},     // a negative index starts the window at 0
               {far, 0, 10, 10, 10.0 / 16},  // missed by [0, 10): nearer its far end
               {far, 0, 11, 10, 10.4 / 16},
               {Vec(6, 0.5, 0), 0, 3, 3, 3.0 / 16},
               {Vec(2.5, 1, 0), 0, 5, 2, 3.0 / 16},      // on the end plane of segment 2
               {Vec(8.2, 0, 0), 14, 30, 14, 14.4 / 16},  // the last segment: its end is the target
               {Vec(8.5, 0, 0), 14, 5, 14, 15.0 / 16}};
  for (const auto& c : cases) {
    int idx = c.idx;
    EXPECT_EQ(t.getTargetPose(c.x, idx, c.window).position, t.samples[c.chosen + 1].position) << c.x.transpose();
    EXPECT_EQ(idx, c.chosen);
    idx = c.idx;
    t.lastIdx = -1;
    EXPECT_NEAR(t.getReferencePose(c.x, idx, c.window), c.reference, 1e-12) << c.x.transpose();
    EXPECT_EQ(idx, c.chosen);
    EXPECT_EQ(t.getLastIdx(), c.chosen);
  }
  double previous = -1;  // moving forward along the path never lowers the result
  for (double px = 1; px < 8.5; px += 0.05) {
    int idx = 0;
    const double r = t.getReferencePose(Vec(px, 0.2, 0), idx, 20);
    EXPECT_GE(r, previous) << px;
    previous = r;
  }
  // Zigzag samples: no segment's slab holds these positions; the nearer end is taken, the far one on a tie.
  mlTPTrajectory z;
  for (const Vec& p : {Vec(0, 0, 0), Vec(1, 1, 0), Vec(2, 0, 0), Vec(3, 1, 0)}) z.samples.emplace_back(p, Vec::UnitX());
  for (const auto& [p, chosen] : {std::pair{Vec(1.5, -5, 0), 2}, {Vec(0.5, -5, 0), 0}, {Vec(1, -5, 0), 2}}) {
    int idx = 0;
    z.getTargetPose(p, idx, 2);
    EXPECT_EQ(idx, chosen) << p.transpose();
  }
}

TEST(mlTPTrajectory, QueriesOutsideTheirLimitsAreRejectedChangingNothing) {
  mlTPTrajectory t;
  EXPECT_THROW(t.sample(4), std::invalid_argument);
  EXPECT_THROW(t.getPose(0.5), std::invalid_argument);
  EXPECT_THROW(t.getCurvature(0.5), std::invalid_argument);
  int idx = 0;
  EXPECT_THROW(t.getReferencePose(Vec::Zero(), idx, 10), std::out_of_range);
  EXPECT_THROW(t.getTargetPose(Vec::Zero(), idx, 10), std::out_of_range);
  t.samples.emplace_back(Vec::Zero(), Vec::UnitX());  // one sample: enough for the reference, not a target
  EXPECT_EQ(t.getReferencePose(Vec(5, 0, 0), idx, 10), 0.0);
  EXPECT_THROW(t.getTargetPose(Vec::Zero(), idx, 10), std::out_of_range);

  mlTPTrajectory s = straightSixteen();
  s.lastIdx = idx = 3;
  EXPECT_THROW(s.getTargetPose(Vec(20, 0, 0), idx, 30), std::out_of_range);  // the last sample has no next
  for (int past : {16, 40}) {
    idx = past;
    EXPECT_THROW(s.getTargetPose(Vec(2, 0, 0), idx, 5), std::out_of_range);
    EXPECT_THROW(s.getReferencePose(Vec(2, 0, 0), idx, 5), std::out_of_range);
    EXPECT_EQ(idx, past);
  }
  EXPECT_EQ(s.getLastIdx(), 3);
}

// The path follower's PD controller: proportional and backward-difference terms, reset, refused timesteps.
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
