#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <dart/dynamics/SimpleFrame.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "duriz/mlsolver/writeFluidVTK.h"
#include "testSupport.h"

namespace {

using dart::dynamics::Frame;
using dart::dynamics::SimpleFrame;

std::string tempPath(const std::string& name) { return ::testing::TempDir() + "/" + name; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// An independent reader of the file: header lines, then big-endian float triples.
struct FluidFile {
  std::vector<std::string> header;
  std::vector<float> velocity, density;
};

float bigEndianFloat(const std::string& s, std::size_t at) {
  std::uint32_t bits = 0;
  for (int k = 0; k < 4; ++k) bits = (bits << 8) | static_cast<unsigned char>(s[at + k]);
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

FluidFile parse(const std::string& bytes) {
  FluidFile file;
  std::size_t pos = 0;
  for (int line = 0; line < 9; ++line) {
    const std::size_t end = bytes.find('\n', pos);
    file.header.push_back(bytes.substr(pos, end - pos));
    pos = end + 1;
  }
  const std::size_t count = std::stoul(file.header[7].substr(std::string("POINT_DATA ").size()));
  for (std::size_t k = 0; k < 3 * count; ++k, pos += 4) file.velocity.push_back(bigEndianFloat(bytes, pos));
  const std::string marker = "VECTORS density float\n";
  EXPECT_EQ(bytes.compare(pos, marker.size(), marker), 0);
  pos += marker.size();
  for (std::size_t k = 0; k < 3 * count; ++k, pos += 4) file.density.push_back(bigEndianFloat(bytes, pos));
  EXPECT_EQ(pos, bytes.size()) << "nothing follows the density";
  return file;
}

struct Lattice {
  std::shared_ptr<simParams> params = std::make_shared<simParams>();
  std::unique_ptr<mlFlow> flow;
  mlLatticeUnits units;
  Lattice(float width, float height, float depth, float dx) {
    params->width = width;
    params->height = height;
    params->depth = depth;
    params->dx = dx;
    flow = initFlow(params);
    units = params->toLatticeUnits();
    for (std::size_t i = 0; i < flow->count; ++i) {
      flow->ux[i] = 0.01f * i;
      flow->uy[i] = -0.02f * i;
      flow->uz[i] = 0.005f;
      flow->rou[i] = 1.0f + 0.001f * i;
    }
  }
};

TEST(WriteFluidVTK, EmptyLatticeIsTheHeaderAlone) {
  Lattice l(10, 0, 4, 0.5f);
  const std::string path = tempPath("empty.vtk");
  ASSERT_EQ(writeFluidVTK(*l.flow, l.units, path, nullptr), 1);
  EXPECT_EQ(readFile(path),
            "# vtk DataFile Version 3.0\noutput  a fluid\nBINARY\nDATASET STRUCTURED_POINTS\nDIMENSIONS 20 0 8\n"
            "ORIGIN -5 0 -2\nSPACING 0.5 0.5 0.5\nPOINT_DATA 0\nVECTORS cell_velocity float\n"
            "VECTORS density float\n");
}

TEST(WriteFluidVTK, FrameAtRestWritesTheLatticeVelocity) {
  Lattice l(2, 1.5f, 1, 0.5f);
  l.flow->start[0] = 0.125f;  // the origin the host record holds is the one written
  SimpleFrame frame(Frame::World(), "rest");
  const std::string path = tempPath("rest.vtk");
  ASSERT_EQ(writeFluidVTK(*l.flow, l.units, path, &frame), 1);
  const FluidFile f = parse(readFile(path));
  EXPECT_EQ(f.header[4], "DIMENSIONS 4 3 2");
  EXPECT_EQ(f.header[5], "ORIGIN 0.125 -0.75 -0.5");
  EXPECT_EQ(f.header[7], "POINT_DATA 24");
  ASSERT_EQ(f.velocity.size(), 72u);
  for (std::size_t i = 0; i < 24; ++i) {
    EXPECT_NEAR(f.velocity[3 * i], l.flow->ux[i], 1e-6f);
    EXPECT_NEAR(f.velocity[3 * i + 1], l.flow->uy[i], 1e-6f);
    EXPECT_NEAR(f.velocity[3 * i + 2], l.flow->uz[i], 1e-6f);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(f.density[3 * i + k], static_cast<float>(l.flow->rou[i]));
  }
  // No frame at all is written as a frame at rest at the origin.
  const std::string none = tempPath("none.vtk");
  ASSERT_EQ(writeFluidVTK(*l.flow, l.units, none, nullptr), 1);
  EXPECT_EQ(readFile(none), readFile(path));
}

TEST(WriteFluidVTK, MovingFrameAddsItsVelocityInLatticeUnits) {
  Lattice l(2, 1.5f, 1, 0.5f);
  const float scale = l.units.u0k / l.units.u0p[0];

  SimpleFrame translating(Frame::World(), "translating");
  const Eigen::Vector3d v(3.0, -1.0, 0.5);
  translating.setClassicDerivatives(v);
  ASSERT_EQ(writeFluidVTK(*l.flow, l.units, tempPath("translating.vtk"), &translating), 1);
  const FluidFile f = parse(readFile(tempPath("translating.vtk")));
  for (std::size_t i = 0; i < 24; ++i) {
    EXPECT_NEAR(f.velocity[3 * i], l.flow->ux[i] + v.x() * scale, 1e-6f);
    EXPECT_NEAR(f.velocity[3 * i + 1], l.flow->uy[i] + v.y() * scale, 1e-6f);
    EXPECT_NEAR(f.velocity[3 * i + 2], l.flow->uz[i] + v.z() * scale, 1e-6f);
  }

  // A frame turned a quarter about z and spinning about z: node velocities gain omega x r, r the node
  // position in the frame's axes, and the frame's velocity seen in its own axes.
  SimpleFrame spinning(Frame::World(), "spinning");
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  T.translation() = Eigen::Vector3d(0.5, 0.0, 0.0);
  spinning.setRelativeTransform(T);
  spinning.setClassicDerivatives(Eigen::Vector3d(1.0, 0.0, 0.0), Eigen::Vector3d(0.0, 0.0, 2.0));
  ASSERT_EQ(writeFluidVTK(*l.flow, l.units, tempPath("spinning.vtk"), &spinning), 1);
  const FluidFile g = parse(readFile(tempPath("spinning.vtk")));
  const std::size_t i = 1 + 4 * 2;  // node (1, 2, 0) at (-0.5, 0.25, -0.5)
  // In the frame: r = R^T (p - t) = R^T (-1, 0.25, -0.5) = (0.25, 1, -0.5); omega x r = (-2, 0.5, 0);
  // R^T v = R^T (1, 0, 0) = (0, -1, 0).
  EXPECT_NEAR(g.velocity[3 * i], l.flow->ux[i] + (-2.0 + 0.0) * scale, 1e-6f);
  EXPECT_NEAR(g.velocity[3 * i + 1], l.flow->uy[i] + (0.5 - 1.0) * scale, 1e-6f);
  EXPECT_NEAR(g.velocity[3 * i + 2], l.flow->uz[i], 1e-6f);
}

TEST(WriteFluidVTK, UnwritablePathReturnsZeroAndLeavesNoFile) {
  Lattice l(2, 1.5f, 1, 0.5f);
  const std::string path = tempPath("no-such-folder/fluid.vtk");
  testing::internal::CaptureStderr();
  EXPECT_EQ(writeFluidVTK(*l.flow, l.units, path, nullptr), 0);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(path), std::string::npos);
  EXPECT_FALSE(std::ifstream(path).good());
}

TEST(WriteFluidVTK, ACutWriteLeavesNoFileAndANulInThePathIsRefused) {
  Lattice l(2, 1.5f, 1, 0.5f);
  const std::string path = tempPath("cut.vtk");
  testing::internal::CaptureStderr();
  testsupport::withFileSizeLimit(200, [&] { EXPECT_EQ(writeFluidVTK(*l.flow, l.units, path, nullptr), 0); });
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(testsupport::exists(path));
  EXPECT_THROW(writeFluidVTK(*l.flow, l.units, path + std::string(1, '\0') + "x", nullptr), std::invalid_argument);
  EXPECT_FALSE(testsupport::exists(path));
}

TEST(WriteFluidVTK, FailedWriteToADeviceLeavesTheDevice) {
  // A character device like /dev/full accepts the open and fails every write.
  const std::string path = tempPath("full-device");
  std::remove(path.c_str());
  if (mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) GTEST_SKIP() << "cannot create a device node here";
  Lattice l(2, 1.5f, 1, 0.5f);
  testing::internal::CaptureStderr();
  EXPECT_EQ(writeFluidVTK(*l.flow, l.units, path, nullptr), 0);
  testing::internal::GetCapturedStderr();
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  std::remove(path.c_str());
}

}  // namespace
