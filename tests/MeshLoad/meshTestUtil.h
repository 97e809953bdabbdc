// Helpers shared by the mesh-loading tests.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <string>

inline Eigen::Isometry3d rigid(const Eigen::Vector3d& t, const Eigen::Vector3d& axis, double degrees) {
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
  T.translation() = t;
  return T;
}

// Runs f and returns what it printed.
template <class F>
std::string captureStdout(F&& f) {
  testing::internal::CaptureStdout();
  f();
  return testing::internal::GetCapturedStdout();
}
