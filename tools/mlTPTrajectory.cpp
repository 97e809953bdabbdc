#include "tools/mlTPTrajectory.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "SkeletonDynamics/requireFinite.h"

namespace {

// Clamping sends a parameter of either infinity to an end of the curve; NaN names no place on it.
void requireNumber(double t, const char* operation) {
  if (std::isnan(t)) throw std::invalid_argument(std::string(operation) + ": t must be a number, not nan");
}

}  // namespace

void mlTPTrajectory::sample(unsigned int sample_num) {
  const SplineType& curve = fitted();
  const float maxU = static_cast<float>(curve.maxParam());
  samples.resize(sample_num);
  const float step = 1.0f / static_cast<float>(sample_num);
  for (unsigned int i = 0; i < sample_num; ++i) {
    const float u = static_cast<float>(maxU * (static_cast<double>(i) * static_cast<double>(step)));
    samples[i] = poseAt(u);
  }
}

int mlTPTrajectory::getSampleNum() const { return static_cast<int>(samples.size()); }

int mlTPTrajectory::getLastIdx() const { return lastIdx; }

mlTPTrajectoryPData mlTPTrajectory::getPose(double t) const {
  requireNumber(t, "getPose");
  const float maxU = static_cast<float>(fitted().maxParam());
  t = t > 1 ? 1 : (t > 0 ? t : 0);
  return poseAt(static_cast<float>(maxU * t));
}

Eigen::Vector3d mlTPTrajectory::getCurvature(double t) const {
  requireNumber(t, "getCurvature");
  const SplineType& curve = fitted();
  const float u = t > 1 ? 1.0f : (t > 0 ? static_cast<float>(t) : 0.0f);
  return curve.evaluateD2(u).curvature;
}

double mlTPTrajectory::getReferencePose(const Eigen::Vector3d& position) const {
  requireFinite(position, "getReferencePose: the position");
  if (samples.empty()) return std::numeric_limits<double>::quiet_NaN();
  double best = 9999999999.0;
  std::size_t bestIdx = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double dist = (samples[i].position - position).norm();
    if (dist < best) {  // strictly: the first of equal distances wins
      best = dist;
      bestIdx = i;
    }
  }
  return static_cast<double>(bestIdx) / static_cast<double>(samples.size());
}

double mlTPTrajectory::getReferencePose(const Eigen::Vector3d& position, int& posIdx, int look_forward) {
  requireFinite(position, "getReferencePose: the position");
  const long long n = static_cast<long long>(samples.size());
  if (n == 0) throw std::out_of_range("getReferencePose: the trajectory has no samples; call sample()");
  const WindowHit found = searchWindow(position, posIdx, look_forward);
  const long long q = std::max<long long>(found.index, posIdx);
  if (q >= n)
    throw std::out_of_range("getReferencePose: sample " + std::to_string(q) + " is past the " + std::to_string(n) +
                            " samples");
  posIdx = lastIdx = static_cast<int>(q);
  return (static_cast<double>(q) + found.covered) / static_cast<double>(n);
}

mlTPTrajectoryPData mlTPTrajectory::getTargetPose(const Eigen::Vector3d& position, int& preSampleIdx,
                                                  int look_forward) {
  requireFinite(position, "getTargetPose: the position");
  const long long n = static_cast<long long>(samples.size());
  if (n < 2) throw std::out_of_range("getTargetPose needs at least 2 samples, the trajectory has " + std::to_string(n));
  const WindowHit found = searchWindow(position, preSampleIdx, look_forward);
  const long long q = std::max<long long>(preSampleIdx, found.index);
  if (q + 1 >= n)
    throw std::out_of_range("getTargetPose: sample " + std::to_string(q) + " is the last of " + std::to_string(n) +
                            " samples; there is no target after it");
  preSampleIdx = lastIdx = static_cast<int>(q);
  return samples[q + 1];
}

// Indices are widened so that p + L cannot overflow.
mlTPTrajectory::WindowHit mlTPTrajectory::searchWindow(const Eigen::Vector3d& x, long long p,
                                                       long long lookForward) const {
  const long long last = static_cast<long long>(samples.size()) - 1;
  const long long lo = std::min(last, std::max(p, 0LL));
  const long long hi = std::max(0LL, std::min(last, p + lookForward));
  for (long long i = lo; i < hi; ++i) {
    const Eigen::Vector3d& a = samples[i].position;
    const Eigen::Vector3d& b = samples[i + 1].position;
    const Eigen::Vector3d d = a - b;
    const double da = (x - a).dot(d);
    const double db = (x - b).dot(d);
    // X lies between the planes through A and B perpendicular to the segment, both planes included.
    if (da * db <= 0) {
      // The fraction of the segment from A to B that X has covered (0 for a segment of length 0).
      const double length2 = d.squaredNorm();
      const double covered = length2 > 0 ? std::clamp(-da / length2, 0.0, 1.0) : 0.0;
      return {true, i, covered};
    }
  }
  const bool loIsNearer = (x - samples[hi].position).norm() > (x - samples[lo].position).norm();
  return {false, loIsNearer ? lo : hi, 0.0};
}

mlTPTrajectoryPData mlTPTrajectory::poseAt(float u) const {
  const auto pt = spline->evaluateD1(u);
  Eigen::Vector3d d = pt.tangent;
  if (d.dot(d) > 0) d = d / d.norm();
  return mlTPTrajectoryPData(pt.position, d);
}
