#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "testSupport.h"
#include "tools/bsplineReference.h"
#include "tools/mlTPTrajectory.h"
#include "tools/mlVTKWrtier.h"

namespace {

using Vec = Eigen::Vector3d;

const std::string kLinesHeader = "# vtk DataFile Version 3.0\noutput  lines\nASCII\nDATASET POLYDATA\n";

class mlVTKWrtierTest : public testing::Test {
 protected:
  void SetUp() override {
    path = testing::TempDir() + "vtkwriter_" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".vtk";
    std::remove(path.c_str());
  }
  void TearDown() override { std::remove(path.c_str()); }

  std::string read() const {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
  }

  std::vector<std::string> readLines() const {
    std::vector<std::string> lines;
    std::istringstream in(read());
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  std::string path;
};

mlVTKLine polyline(const std::vector<Vec>& vertices) {
  mlVTKLine l;
  l.vertices = vertices;
  return l;
}

mlTrajectory<double, 3> fittedLine() {
  mlTrajectory<double, 3> t;
  t.setPoints({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
  t.fit();
  return t;
}

Vec parseVector(const std::string& line) {
  std::istringstream in(line);
  Vec v;
  in >> v.x() >> v.y() >> v.z();
  EXPECT_TRUE(in && in.eof()) << "not three numbers: '" << line << "'";
  return v;
}

TEST_F(mlVTKWrtierTest, PolylinesAsText) {
  ASSERT_TRUE(mlVTKWrtier::writeLines({polyline({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}})}, path));
  EXPECT_EQ(read(), kLinesHeader +
                        "POINTS 3 double\n0.0000 0.0000 0.0000\n1.0000 0.0000 0.0000\n1.0000 1.0000 0.0000\n"
                        "LINES 1 4\n3 0 1 2\n\n");

  // Indices run over all polylines; an empty one counts 0.
  ASSERT_TRUE(mlVTKWrtier::writeLines(
      {polyline({{-0.5, 2, 1.23456}, {3, 4, 5}}), polyline({}), polyline({{6, 7, 8}, {9, 10, 11}, {12, 13, 1e-5}})},
      path));
  EXPECT_EQ(read(), kLinesHeader +
                        "POINTS 5 double\n-0.5000 2.0000 1.2346\n3.0000 4.0000 5.0000\n6.0000 7.0000 8.0000\n"
                        "9.0000 10.0000 11.0000\n12.0000 13.0000 0.0000\n"
                        "LINES 3 8\n2 0 1\n0\n3 2 3 4\n\n");

  ASSERT_TRUE(mlVTKWrtier::writeLines({}, path));
  EXPECT_EQ(read(), kLinesHeader + "POINTS 0 double\nLINES 0 0\n\n");
}

TEST_F(mlVTKWrtierTest, TrajectoryOfFourWayPoints) {
  const std::vector<Vec> p = {{0, 0, 0}, {1, 2, 0}, {3, 1, 1}, {4, 4, 2}};
  mlTrajectory<double, 3> t;
  t.setPoints(p);
  t.fit();
  ASSERT_TRUE(mlVTKWrtier::writeTrajectory(t, path));

  const std::vector<std::string> lines = readLines();
  ASSERT_EQ(lines.size(), 5u + 800 + 2 + 2 + 800);
  EXPECT_EQ(lines[0] + lines[1] + lines[2] + lines[3] + lines[4],
            "# vtk DataFile Version 3.0output  a mlTrajectoryASCIIDATASET POLYDATAPOINTS 800 double");
  EXPECT_EQ(lines[805], "LINES 1 801");
  std::string connectivity = "800";
  for (int i = 0; i < 800; ++i) connectivity += " " + std::to_string(i);
  EXPECT_EQ(lines[806], connectivity);
  EXPECT_EQ(lines[807], "POINT_DATA 800");
  EXPECT_EQ(lines[808], "VECTORS tagents double");
  EXPECT_EQ(read().back(), '\n');  // and no empty line after the tangents

  EXPECT_EQ(lines[5], "1.1667 1.5000 0.1667");  // (P0 + 4 P1 + P2) / 6
  for (int i = 0; i < 800; i += 37) {           // the points stop one step short of the curve's end
    const double u = i / 800.0;
    EXPECT_NEAR((parseVector(lines[5 + i]) - ref::segment(p, 0, u, 0)).norm(), 0, 1e-4) << "point " << i;
    EXPECT_NEAR((parseVector(lines[809 + i]) - ref::segment(p, 0, u, 1)).norm(), 0, 1e-4) << "tangent " << i;
  }
  EXPECT_NEAR((parseVector(lines[804]) - ref::segment(p, 0, 799 / 800.0, 0)).norm(), 0, 1e-4);
}

TEST_F(mlVTKWrtierTest, TrajectoryUsesTheCurrentPointCountWithTheFittedSpline) {
  const std::vector<Vec> six = {{0, 0, 0}, {1, 2, 0.5}, {3, 1, 1}, {4, 4, 2}, {6, 3, 1}, {7, 6, -1}};
  mlTPTrajectory t;  // a pose trajectory is written like any trajectory
  t.setPoints(six);
  t.fit();
  t.setPoints({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
  ASSERT_TRUE(mlVTKWrtier::writeTrajectory(t, path));
  const std::vector<std::string> lines = readLines();
  ASSERT_EQ(lines.size(), 1609u);
  // Point 400 sits at u = 1.5 of the old six-point spline: segment 1, s = 0.5.
  EXPECT_NEAR((parseVector(lines[5 + 400]) - ref::segment(six, 1, 0.5, 0)).norm(), 0, 1e-4);
}

TEST_F(mlVTKWrtierTest, UnfittedTrajectoryIsRejectedBeforeTheFileIsTouched) {
  mlTrajectory<double, 3> t;
  t.setPoints({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}});
  EXPECT_THROW(mlVTKWrtier::writeTrajectory(t, path), std::invalid_argument);
  EXPECT_FALSE(std::ifstream(path).good());
}

TEST_F(mlVTKWrtierTest, UnwritableFilesReportFalse) {
  // A missing folder fails to open; /dev/full opens but every write fails.
  for (const std::string& bad : {testing::TempDir() + "no_such_folder/out.vtk", std::string("/dev/full")}) {
    EXPECT_FALSE(mlVTKWrtier::writeLines({polyline({{0, 0, 0}})}, bad)) << bad;
    EXPECT_FALSE(mlVTKWrtier::writeTrajectory(fittedLine(), bad)) << bad;
  }
}

TEST_F(mlVTKWrtierTest, CoordinatesThatAreNotFiniteAreRefusedAndLeaveNoFile) {
  const double nan = std::nan(""), inf = INFINITY;
  for (const Vec& bad : {Vec(0, nan, 0), Vec(inf, 0, 0), Vec(0, 0, -inf)}) {
    try {
      mlVTKWrtier::writeLines({polyline({{0, 0, 0}}), polyline({{1, 1, 1}, bad})}, path);
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()).rfind("writeLines: vertex 1 of line 1 (", 0), 0u) << e.what();
    }
    EXPECT_FALSE(testsupport::exists(path));
  }
  // Way points too large for the curve's sums overflow to infinity.
  mlTrajectory<double, 3> huge;
  huge.setPoints({{0, 0, 0}, {1e308, 0, 0}, {1e308, 0, 0}, {1e308, 0, 0}});
  huge.fit();
  EXPECT_THROW(mlVTKWrtier::writeTrajectory(huge, path), std::invalid_argument);
  EXPECT_FALSE(testsupport::exists(path));
  EXPECT_THROW(mlVTKWrtier::writeLines({}, path + std::string(1, '\0')), std::invalid_argument);
}

TEST_F(mlVTKWrtierTest, ACutWriteReportsFalseAndLeavesNoFile) {
  testsupport::withFileSizeLimit(100, [&] {
    EXPECT_FALSE(mlVTKWrtier::writeLines({polyline({{0, 0, 0}, {1, 2, 3}, {4, 5, 6}})}, path));
    EXPECT_FALSE(testsupport::exists(path));
    EXPECT_FALSE(mlVTKWrtier::writeTrajectory(fittedLine(), path));
    EXPECT_FALSE(testsupport::exists(path));
  });
}

}  // namespace
