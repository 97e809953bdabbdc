// A trajectory sampled into pose points, with the queries a path follower needs: the pose at a normalised
// path parameter, the second derivative, the sample a position has reached and the sample to aim at next.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "tools/mlTPTrajectoryPData.h"
#include "tools/mlTrajectory.h"

class mlTPTrajectory : public mlTrajectory<double, 3> {
 public:
  // Refills the samples at sample_num equal parameter steps over [0, M), M the spline's max parameter.
  void sample(unsigned int sample_num);
  int getSampleNum() const;
  int getLastIdx() const;

  // The queries throw std::invalid_argument for a NaN t and for a position that is not finite.

  // Pose at t in [0, 1] (clamped), normalised over the whole curve.
  mlTPTrajectoryPData getPose(double t) const;
  // Second derivative at the raw spline parameter t clamped to [0, 1], i.e. on the first segment only.
  Eigen::Vector3d getCurvature(double t) const;

  // Index of the nearest sample divided by the sample count; NaN without samples.
  double getReferencePose(const Eigen::Vector3d& position) const;
  // Searches the samples posIdx .. posIdx + look_forward for the segment q the position has reached, and
  // returns (q + s) / n, s in [0, 1] the fraction of segment q the position has covered (0 when no
  // segment holds it). Writes q into posIdx and lastIdx. Throws std::out_of_range, changing nothing,
  // without samples or when q would lie past them.
  double getReferencePose(const Eigen::Vector3d& position, int& posIdx, int look_forward);
  // Like the windowed getReferencePose, then returns the sample after the found one. Throws
  // std::out_of_range, changing nothing, when there is no sample after it.
  mlTPTrajectoryPData getTargetPose(const Eigen::Vector3d& position, int& preSampleIdx, int look_forward);

  std::vector<mlTPTrajectoryPData> samples;
  int lastIdx = 0;

 private:
  // Result of the window search: the first segment i whose end planes enclose the position, or else the
  // nearer window end.
  struct WindowHit {
    bool hit;
    long long index;
    double covered;  // on a hit, the fraction of the segment from its sample to the next that X has covered
  };
  WindowHit searchWindow(const Eigen::Vector3d& x, long long p, long long lookForward) const;

  mlTPTrajectoryPData poseAt(float u) const;
};
