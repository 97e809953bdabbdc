// Trajectories: fitting and its planar index, samples, poses, and the window searches of a path follower.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "tools/bsplineReference.h"
#include "tools/mlTPTrajectory.h"
#include "tools/mlTrajectoryIndex.h"

namespace {

using Vec = Eigen::Vector3d;

const std::vector<Vec> kFour = {{0, 0, 0}, {1, 2, 0}, {3, 1, 1}, {4, 4, 2}};
const std::vector<Vec> kSix = {{0, 0, 0}, {1, 2, 0.5}, {3, 1, 1}, {4, 4, 2}, {6, 3, 1}, {7, 6, -1}};

void expectNear(const Vec& a, const Vec& b, double tol) {
  EXPECT_NEAR((a - b).norm(), 0.0, tol) << "got " << a.transpose() << ", expected " << b.transpose();
}

mlTPTrajectory fitted(const std::vector<Vec>& points, unsigned samples = 0) {
  mlTPTrajectory t;
  t.setPoints(points);
  t.fit();
  if (samples) t.sample(samples);
  return t;
}

// Way points (i, 0, 0), i = 0 .. 10: the curve is x = 1 + u for u in [0, 8], and sixteen samples sit at
// x = 1, 1.5, ..., 8.5 exactly.
mlTPTrajectory straightSixteen() {
  std::vector<Vec> p;
  for (int i = 0; i <= 10; ++i) p.emplace_back(i, 0, 0);
  return fitted(p, 16);
}

// What an invalid_argument says, or "no exception".
template <class F>
std::string refusal(F&& f) {
  try {
    f();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "no exception";
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
    EXPECT_EQ(refusal([&] { t.fit(); }).rfind("fit: way point 4 (", 0), 0u);
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

TEST(mlTPTrajectory, SamplesCoverTheCurveAtEqualParameterSteps) {
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
}

TEST(mlTPTrajectory, PoseClampsAndScalesItsParameterCurvatureDoesNeither) {
  const mlTPTrajectory t = fitted(kSix);  // M = 3
  EXPECT_EQ(t.getPose(-3).position, t.getPose(0).position);
  EXPECT_EQ(t.getPose(7).orientation, t.getPose(1).orientation);
  EXPECT_EQ(t.getPose(1).position, t.spline->evaluate(3));                   // the curve's end point P(M)
  expectNear(t.getPose(0.5).position, ref::segment(kSix, 1, 0.5, 0), 1e-6);  // u = 1.5
  expectNear(t.getPose(0.5).orientation, ref::segment(kSix, 1, 0.5, 1).normalized(), 1e-6);
  expectNear(t.getCurvature(0.5), ref::segment(kSix, 0, 0.5, 2), 1e-6);  // u = 0.5
  expectNear(t.getCurvature(5), ref::segment(kSix, 0, 1, 2), 1e-6);
  expectNear(t.getCurvature(-5), ref::segment(kSix, 0, 0, 2), 1e-6);
}

TEST(mlTPTrajectory, NearestSampleTakesTheFirstOfEqualDistances) {
  const mlTPTrajectory t = straightSixteen();
  EXPECT_EQ(t.getReferencePose(Vec(2.25, 1, 0)), 2.0 / 16);  // halfway between samples 2 and 3
  EXPECT_EQ(t.getReferencePose(Vec(2.3, 1, 0)), 3.0 / 16);
  EXPECT_EQ(t.getReferencePose(Vec(-50, 0, 0)), 0.0);
}

// The window search: the first segment of the window whose end planes hold X (both planes included), else
// the nearer window end (the far one on a tie); the index never falls below the given one.
TEST(mlTPTrajectory, TargetPoseIsTheSampleAfterTheSegmentReached) {
  mlTPTrajectory t = straightSixteen();
  const Vec x(2.2, 0.3, 0);  // between samples 2 and 3
  const struct {
    Vec x;
    int idx, window, chosen;
  } cases[] = {{x, 0, 5, 2},
               {x, 4, 5, 4},                   // the window [4, 9) is ahead of X: the nearer end is 4
               {Vec(6, 0.5, 0), 0, 3, 3},      // beyond the window [0, 3), nearer its far end
               {x, -7, 10, 2},                 // a negative index starts the window at 0
               {Vec(2.5, 1, 0), 0, 5, 2},      // on the end plane of segment 2
               {Vec(8.2, 0, 0), 14, 30, 14}};  // the last segment: its end is the target
  for (const auto& c : cases) {
    int idx = c.idx;
    EXPECT_EQ(t.getTargetPose(c.x, idx, c.window).position, t.samples[c.chosen + 1].position) << c.x.transpose();
    EXPECT_EQ(idx, c.chosen);
    EXPECT_EQ(t.getLastIdx(), c.chosen);
  }
  // Zigzag samples: no segment's slab holds these positions; the nearer end is taken, the far one on a tie.
  mlTPTrajectory z;
  for (const Vec& p : {Vec(0, 0, 0), Vec(1, 1, 0), Vec(2, 0, 0), Vec(3, 1, 0)}) z.samples.emplace_back(p, Vec::UnitX());
  for (const auto& [x, chosen] : {std::pair{Vec(1.5, -5, 0), 2}, {Vec(0.5, -5, 0), 0}, {Vec(1, -5, 0), 2}}) {
    int idx = 0;
    z.getTargetPose(x, idx, 2);
    EXPECT_EQ(idx, chosen) << x.transpose();
  }
}

// A hit in segment q gives (q + s) / 16, s the fraction of the segment covered; a miss gives q / 16.
TEST(mlTPTrajectory, WindowedReferencePoseIsTheCoveredFractionOfThePath) {
  mlTPTrajectory t = straightSixteen();
  const Vec x(2.2, 0.3, 0), far(6.2, 0, 0);  // X in segment 10 is missed by a window of 10 segments
  const struct {
    Vec x;
    int idx, window;
    double expected;
    int chosen;
  } cases[] = {{x, 0, 10, 2.4 / 16, 2},
               {x, 5, 10, 5.0 / 16, 5},
               {far, 0, 10, 10.0 / 16, 10},
               {far, 0, 11, 10.4 / 16, 10},
               {Vec(2.5, 1, 0), 0, 5, 3.0 / 16, 2},
               {Vec(8.5, 0, 0), 14, 5, 15.0 / 16, 14}};
  for (const auto& c : cases) {
    int idx = c.idx;
    EXPECT_NEAR(t.getReferencePose(c.x, idx, c.window), c.expected, 1e-12) << c.x.transpose();
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

}  // namespace
