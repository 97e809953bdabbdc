// The line and trajectory writers: the files as text, and what a refused or failed write leaves (nothing).
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "testSupport.h"
#include "tools/mlVTKWrtier.h"
#include "tools/toolsTestUtil.h"

namespace {

using testsupport::exists;
using testsupport::readFile;

const std::string kLinesHeader = "# vtk DataFile Version 3.0\noutput  lines\nASCII\nDATASET POLYDATA\n";

mlVTKLine polyline(const std::vector<Vec>& vertices) {
  mlVTKLine l;
  l.vertices = vertices;
  return l;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

Vec parseVector(const std::string& line) {
  std::istringstream in(line);
  Vec v;
  in >> v.x() >> v.y() >> v.z();
  EXPECT_TRUE(in && in.eof()) << "not three numbers: '" << line << "'";
  return v;
}

class mlVTKWrtierTest : public testing::Test {
 protected:
  void SetUp() override { std::remove(path.c_str()); }
  void TearDown() override { std::remove(path.c_str()); }
  std::string path = testsupport::tempPath(testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(mlVTKWrtierTest, PolylinesAsText) {
  // Indices run over all polylines; an empty one counts 0.
  const struct {
    std::vector<mlVTKLine> lines;
    std::string body;
  } cases[] = {
      {{polyline({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}})},
       "POINTS 3 double\n0.0000 0.0000 0.0000\n1.0000 0.0000 0.0000\n1.0000 1.0000 0.0000\nLINES 1 4\n3 0 1 2\n\n"},
      {{polyline({{-0.5, 2, 1.23456}, {3, 4, 5}}), polyline({}), polyline({{6, 7, 8}, {9, 10, 11}, {12, 13, 1e-5}})},
       "POINTS 5 double\n-0.5000 2.0000 1.2346\n3.0000 4.0000 5.0000\n6.0000 7.0000 8.0000\n9.0000 10.0000 11.0000\n"
       "12.0000 13.0000 0.0000\nLINES 3 8\n2 0 1\n0\n3 2 3 4\n\n"},
      {{}, "POINTS 0 double\nLINES 0 0\n\n"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(mlVTKWrtier::writeLines(c.lines, path));
    EXPECT_EQ(readFile(path), kLinesHeader + c.body);
  }
}

TEST_F(mlVTKWrtierTest, TrajectoryOf200PointsPerWayPointWithItsRawTangents) {
  ASSERT_TRUE(mlVTKWrtier::writeTrajectory(fitted(kFour), path));
  const std::string text = readFile(path);
  const std::vector<std::string> l = lines(text);
  ASSERT_EQ(l.size(), 5u + 800 + 2 + 2 + 800);
  EXPECT_EQ(l[0] + l[1] + l[2] + l[3] + l[4],
            "# vtk DataFile Version 3.0output  a mlTrajectoryASCIIDATASET POLYDATAPOINTS 800 double");
  std::string connectivity = "800";
  for (int i = 0; i < 800; ++i) connectivity += " " + std::to_string(i);
  EXPECT_EQ(l[805] + "|" + l[806] + "|" + l[807] + "|" + l[808],
            "LINES 1 801|" + connectivity + "|POINT_DATA 800|VECTORS tagents double");
  EXPECT_EQ(text.back(), '\n');             // and no empty line after the tangents
  EXPECT_EQ(l[5], "1.1667 1.5000 0.1667");  // (P0 + 4 P1 + P2) / 6
  for (int i = 0; i < 800; i += 37) {       // the points stop one step short of the curve's end
    EXPECT_NEAR((parseVector(l[5 + i]) - ref::segment(kFour, 0, i / 800.0, 0)).norm(), 0, 1e-4) << i;
    EXPECT_NEAR((parseVector(l[809 + i]) - ref::segment(kFour, 0, i / 800.0, 1)).norm(), 0, 1e-4) << i;
  }
  // Way points replaced after the fit: the new count with the old six-point spline; point 400 of 1600 sits
  // at u = 1.5, segment 1.
  mlTPTrajectory t = fitted(kSix);
  t.setPoints(kFour);
  ASSERT_TRUE(mlVTKWrtier::writeTrajectory(t, path));
  const std::vector<std::string> r = lines(readFile(path));
  ASSERT_EQ(r.size(), 1609u);
  EXPECT_NEAR((parseVector(r[5 + 400]) - ref::segment(kSix, 1, 0.5, 0)).norm(), 0, 1e-4);
}

// Refused before the file is touched: an unfitted trajectory, coordinates no reader can load (way points too
// large overflow the curve to infinity), a NUL in the path. A failed write returns false and leaves no file.
TEST_F(mlVTKWrtierTest, RefusedOrFailedWritesLeaveNoFile) {
  mlTrajectory<double, 3> unfitted;
  unfitted.setPoints(kFour);
  EXPECT_THROW(mlVTKWrtier::writeTrajectory(unfitted, path), std::invalid_argument);
  for (const Vec& bad : {Vec(0, std::nan(""), 0), Vec(INFINITY, 0, 0)}) {
    const std::string what = testsupport::thrownWhat<std::invalid_argument>([&] {
      mlVTKWrtier::writeLines({polyline({{0, 0, 0}}), polyline({{1, 1, 1}, bad})}, path);
    });
    EXPECT_EQ(what.rfind("writeLines: vertex 1 of line 1 (", 0), 0u) << what;
  }
  EXPECT_THROW(mlVTKWrtier::writeTrajectory(fitted({{0, 0, 0}, {1e308, 0, 0}, {1e308, 0, 0}, {1e308, 0, 0}}), path),
               std::invalid_argument);
  EXPECT_THROW(mlVTKWrtier::writeLines({}, path + std::string(1, '\0')), std::invalid_argument);
  EXPECT_FALSE(exists(path));
  const mlVTKLine three = polyline({{0, 0, 0}, {1, 2, 3}, {4, 5, 6}});
  const std::filesystem::path folder = testsupport::tempPath("cut-trajectory"), earlier = folder / "t.vtk";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  // Each failure is told on standard error with the path and the system's reason.
  const struct {
    std::string path;
    const char* reason;
  } failing[] = {{testing::TempDir() + "no_such_folder/out.vtk", "No such file or directory"},
                 {folder.string(), "Is a directory"},
                 {"", "No such file or directory"},
                 {"/dev/full", "No space left on device"}};
  for (const auto& f : failing) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(mlVTKWrtier::writeLines({three}, f.path)) << f.path;
    EXPECT_FALSE(mlVTKWrtier::writeTrajectory(fitted(kFour), f.path)) << f.path;
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(told, "writeLines: cannot write \"" + f.path + "\": " + f.reason + "\nwriteTrajectory: cannot write \"" +
                        f.path + "\": " + f.reason + "\n");
  }
  // An earlier file stays as it was, and nothing else is left in its folder.
  ASSERT_TRUE(mlVTKWrtier::writeLines({}, earlier));
  testsupport::withFileSizeLimit(100, [&] {
    EXPECT_FALSE(mlVTKWrtier::writeLines({three}, path));
    EXPECT_FALSE(mlVTKWrtier::writeTrajectory(fitted(kFour), earlier));
  });
  EXPECT_FALSE(exists(path));
  EXPECT_EQ(readFile(earlier), kLinesHeader + "POINTS 0 double\nLINES 0 0\n\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
  // A link where the temporary would go is left alone, not written through.
  const std::filesystem::path other = folder / "other", lines = folder / "lines.vtk";
  std::ofstream(other) << "kept";
  std::filesystem::create_symlink(other, lines.string() + ".part");
  ASSERT_TRUE(mlVTKWrtier::writeLines({}, lines));
  EXPECT_EQ(readFile(other), "kept");
  EXPECT_EQ(readFile(lines), readFile(earlier));
  std::filesystem::remove_all(folder);
}

// Temporary names stay within the folder's limit, so a name of that length can be written.
TEST_F(mlVTKWrtierTest, ANameOfTheLongestLengthIsWritten) {
  const std::filesystem::path folder = testsupport::tempPath("long-name");
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::filesystem::path longest = folder / std::string(NAME_MAX, 'n');
  ASSERT_TRUE(mlVTKWrtier::writeLines({}, longest));
  EXPECT_EQ(readFile(longest), kLinesHeader + "POINTS 0 double\nLINES 0 0\n\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
  std::filesystem::remove_all(folder);
}

}  // namespace
