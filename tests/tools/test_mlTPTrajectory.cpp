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

mlTPTrajectory fitted(const std::vector<Vec>& points) {
  mlTPTrajectory t;
  t.setPoints(points);
  t.fit();
  return t;
}

// Way points (i, 0, 0), i = 0 .. 10: the curve is x = 1 + u for u in [0, 8]. Sixteen samples sit exactly at
// x = 1, 1.5, ..., 8.5 (every value involved is exact in binary).
mlTPTrajectory straightSixteen() {
  std::vector<Vec> p;
  for (int i = 0; i <= 10; ++i) p.emplace_back(i, 0, 0);
  mlTPTrajectory t = fitted(p);
  t.sample(16);
  return t;
}

TEST(mlTrajectory, SetPointsReplacesAndFitKeepsTheLastGoodSpline) {
  mlTPTrajectory t;
  t.setPoints({Vec(9, 9, 9)});
  t.setPoints(kFour);
  EXPECT_EQ(t.points, kFour);
  EXPECT_FALSE(t.spline);
  EXPECT_FALSE(t.index);
  t.fit();
  ASSERT_TRUE(t.spline);
  const auto firstSpline = t.spline;
  const auto firstIndex = t.index;

  t.setPoints(std::vector<Vec>(kFour.begin(), kFour.begin() + 3));
  EXPECT_EQ(t.spline, firstSpline);  // not refitted by setPoints
  EXPECT_THROW(t.fit(), std::invalid_argument);
  EXPECT_EQ(t.spline, firstSpline);
  EXPECT_EQ(t.index, firstIndex);

  for (const Vec& bad : {Vec(std::nan(""), 0, 0), Vec(0, INFINITY, 0)}) {
    std::vector<Vec> points = kSix;
    points[4] = bad;
    t.setPoints(points);
    try {
      t.fit();
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()).rfind("fit: way point 4 (", 0), 0u) << e.what();
    }
    EXPECT_EQ(t.spline, firstSpline);
  }

  t.setPoints(kSix);
  t.fit();
  EXPECT_NE(t.spline, firstSpline);
  EXPECT_EQ(t.spline->maxParam(), 3u);
}

TEST(mlTrajectory, TenWayPointsGiveSeventyPlanarSamplesPlusTheEnd) {
  std::vector<Vec> p;
  for (int i = 0; i < 10; ++i) p.emplace_back(i, std::sin(i), 0.1 * i);
  const mlTPTrajectory t = fitted(p);
  const mlTrajectoryIndex& index = *t.index;
  EXPECT_EQ(index.spline, t.spline);
  EXPECT_EQ(index.step, 0.1f);
  ASSERT_EQ(index.samples.size(), 71u);
  for (int k = 0; k < 70; ++k) {
    const float u = 0.1f * static_cast<float>(k);
    EXPECT_EQ(index.samples[k].u, u);
    const Vec at = t.spline->evaluate(u);
    EXPECT_EQ(index.samples[k].x, static_cast<float>(at.x()));
    EXPECT_EQ(index.samples[k].y, static_cast<float>(at.y()));
  }
  EXPECT_EQ(index.samples[70].u, 7.0f);
  EXPECT_EQ(index.samples[70].x, static_cast<float>(t.spline->evaluate(7).x()));

  // The tree covers every planar sample: each one is its own nearest neighbour.
  for (std::size_t k = 0; k < index.samples.size(); ++k) {
    const float query[2] = {index.samples[k].x, index.samples[k].y};
    unsigned found = 0;  // the tree's default index type
    float dist2 = -1;
    ASSERT_EQ(index.tree.knnSearch(query, 1, &found, &dist2), 1u);
    EXPECT_EQ(dist2, 0.0f) << "sample " << k;
  }
  // Four way points: u = 0 .. 0.9 and the end at 1.
  const mlTPTrajectory four = fitted(kFour);
  EXPECT_EQ(four.index->samples.size(), 11u);
  EXPECT_EQ(four.index->samples.back().u, 1.0f);
}

TEST(mlTPTrajectory, SamplesCoverTheCurveAtEqualParameterSteps) {
  mlTPTrajectory t = fitted(kFour);
  t.sample(4);
  ASSERT_EQ(t.getSampleNum(), 4);
  for (int i = 0; i < 4; ++i) {
    const double u = 0.25 * i;
    const mlTPTrajectoryPData& s = t.samples[i];
    expectNear(s.position, ref::segment(kFour, 0, u, 0), 1e-6);
    EXPECT_EQ(s.data, s.position);
    EXPECT_NEAR(s.orientation.norm(), 1.0, 1e-12);
    expectNear(s.orientation, ref::segment(kFour, 0, u, 1).normalized(), 1e-6);
  }
  t.lastIdx = 3;
  t.sample(2);  // resampling drops the surplus and leaves lastIdx alone
  EXPECT_EQ(t.getSampleNum(), 2);
  EXPECT_EQ(t.getLastIdx(), 3);
  t.sample(0);
  EXPECT_EQ(t.getSampleNum(), 0);
  EXPECT_TRUE(std::isnan(t.getReferencePose(Vec(1, 1, 1))));
}

TEST(mlTPTrajectory, AZeroTangentStaysZero) {
  // All way points at the origin: the curve is one point and has no direction.
  mlTPTrajectory t = fitted(std::vector<Vec>(5, Vec::Zero()));
  t.sample(3);
  for (const auto& s : t.samples) {
    EXPECT_EQ(s.position, Vec::Zero());
    EXPECT_EQ(s.orientation, Vec::Zero());
  }
}

TEST(mlTPTrajectory, PoseOnAStraightLine) {
  const Vec dir = Vec(2, -1, 2) / 3;
  std::vector<Vec> p;
  for (int i = 0; i < 9; ++i) p.push_back(Vec(1, 1, 1) + 0.5 * i * dir);
  const mlTPTrajectory t = fitted(p);  // M = 6, the curve runs from p[1] to p[7]
  const mlTPTrajectoryPData half = t.getPose(0.5);
  expectNear(half.getPosition(), (p[1] + p[7]) / 2, 1e-6);
  expectNear(half.getOrientation(), dir, 1e-6);
  EXPECT_EQ(half.data, half.position);
  for (double c : {-1.0, 0.0, 0.3, 1.0, 2.0}) expectNear(t.getCurvature(c), Vec::Zero(), 1e-6);
}

TEST(mlTPTrajectory, PoseClampsAndScalesItsParameterCurvatureDoesNeither) {
  const mlTPTrajectory t = fitted(kSix);
  EXPECT_EQ(t.getPose(-3).position, t.getPose(0).position);
  EXPECT_EQ(t.getPose(7).position, t.getPose(1).position);
  EXPECT_EQ(t.getPose(7).orientation, t.getPose(1).orientation);
  EXPECT_EQ(t.getPose(1).position, t.spline->evaluate(3));  // the curve's end point P(M)
  EXPECT_EQ(t.getPose(std::nan("")).position, t.getPose(0).position);
  // The curvature takes the raw parameter, on the first segment.
  expectNear(t.getCurvature(0.5), ref::segment(kSix, 0, 0.5, 2), 1e-6);
  expectNear(t.getPose(0.5).position, ref::segment(kSix, 1, 0.5, 0), 1e-6);  // getPose scales by M = 3
  expectNear(t.getCurvature(5), ref::segment(kSix, 0, 1, 2), 1e-6);
  expectNear(t.getCurvature(-5), ref::segment(kSix, 0, 0, 2), 1e-6);
}

TEST(mlTPTrajectory, NearestSampleTakesTheFirstOfEqualDistances) {
  const mlTPTrajectory t = straightSixteen();
  ASSERT_EQ(t.samples[2].position, Vec(2, 0, 0));
  ASSERT_EQ(t.samples[3].position, Vec(2.5, 0, 0));
  EXPECT_EQ(t.getReferencePose(Vec(2.25, 1, 0)), 2.0 / 16);
  EXPECT_EQ(t.getReferencePose(Vec(2.3, 1, 0)), 3.0 / 16);
  EXPECT_EQ(t.getReferencePose(Vec(-50, 0, 0)), 0.0);
  EXPECT_EQ(t.getLastIdx(), 0);  // the plain search leaves lastIdx alone
}

// getTargetPose(x, idx, window) leaves the chosen index in idx and lastIdx and returns the sample after it.
struct TargetCase {
  Vec x;
  int idx, window, chosen;
};

void expectTargets(mlTPTrajectory& t, const std::vector<TargetCase>& cases) {
  for (const TargetCase& c : cases) {
    int idx = c.idx;
    const mlTPTrajectoryPData target = t.getTargetPose(c.x, idx, c.window);
    EXPECT_EQ(idx, c.chosen) << c.x.transpose() << " from " << c.idx;
    EXPECT_EQ(t.getLastIdx(), c.chosen) << c.x.transpose() << " from " << c.idx;
    EXPECT_EQ(target.position, t.samples[c.chosen + 1].position) << c.x.transpose() << " from " << c.idx;
  }
}

TEST(mlTPTrajectory, TargetPoseFollowsTheWindowAndNeverGoesBack) {
  mlTPTrajectory t = straightSixteen();
  const Vec x(2.2, 0.3, 0);  // projects between samples 2 and 3
  expectTargets(t, {{x, 0, 5, 2},
                    {x, 4, 5, 4},                    // the window [4, 9) is ahead of X: the nearer end is 4
                    {Vec(6, 0.5, 0), 0, 3, 3},       // beyond the window [0, 3) and nearer its far end
                    {x, -7, 10, 2},                  // a negative index starts the window at 0
                    {Vec(8.2, 0, 0), 14, 30, 14}});  // the last segment: its end is the target
  // Hand-placed zigzag samples: no segment's slab holds these positions, the nearer window end is taken,
  // the far end on a tie.
  mlTPTrajectory z;
  for (const Vec& p : {Vec(0, 0, 0), Vec(1, 1, 0), Vec(2, 0, 0), Vec(3, 1, 0)}) z.samples.emplace_back(p, Vec::UnitX());
  expectTargets(z, {{Vec(1.5, -5, 0), 0, 2, 2}, {Vec(0.5, -5, 0), 0, 2, 0}, {Vec(1, -5, 0), 0, 2, 2}});
}

TEST(mlTPTrajectory, WindowedReferencePoseIsTheCoveredFractionOfThePath) {
  mlTPTrajectory t = straightSixteen();
  const Vec x(2.2, 0.3, 0), far(6.2, 0, 0);
  // A hit in segment q (samples 0.5 apart) gives (q + s) / 16, s the covered fraction of the segment. A hit
  // behind the given index keeps the index; a far X in segment 10 is missed by windows of 10 segments.
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
  // Moving forward along the path never lowers the result.
  double previous = -1;
  for (double px = 1; px < 8.5; px += 0.05) {
    int idx = 0;
    const double r = t.getReferencePose(Vec(px, 0.2, 0), idx, 20);
    EXPECT_GE(r, previous) << px;
    previous = r;
  }
  int past = 16;
  EXPECT_THROW(t.getReferencePose(x, past, 5), std::out_of_range);
  EXPECT_EQ(past, 16);
  EXPECT_EQ(t.getLastIdx(), 14);
}

// X exactly on the plane through a sample hits the segment that ends there (both planes included).
TEST(mlTPTrajectory, WindowSearchIncludesBothPlanesOfASegment) {
  mlTPTrajectory t = straightSixteen();
  int idx = 0;
  EXPECT_EQ(t.getTargetPose(Vec(2.5, 1, 0), idx, 5).position, t.samples[3].position);
  EXPECT_EQ(idx, 2);
}

TEST(mlTPTrajectory, QueriesOutsideTheirLimitsAreRejected) {
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
  idx = 3;
  s.lastIdx = 3;
  // X past the last sample: the chosen index would be the last one, which has no sample after it.
  EXPECT_THROW(s.getTargetPose(Vec(20, 0, 0), idx, 30), std::out_of_range);
  EXPECT_EQ(idx, 3);
  EXPECT_EQ(s.getLastIdx(), 3);
  idx = 40;  // an index beyond the samples
  EXPECT_THROW(s.getTargetPose(Vec(2, 0, 0), idx, 5), std::out_of_range);
}

}  // namespace
