// The fluid VTK file, read back by an independent big-endian reader: header, velocities in the moving
// frame, densities; and the files a failed write leaves (none).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <dart/dynamics/SimpleFrame.hpp>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "duriz/mlsolver/writeFluidVTK.h"
#include "mlsolver/latticeBox.h"
#include "testSupport.h"

namespace {

using dart::dynamics::Frame;
using dart::dynamics::SimpleFrame;
using testsupport::readFile;
using testsupport::tempPath;

struct FluidFile {
  std::vector<std::string> header;  // the nine lines before the velocities
  std::vector<float> velocity, density;
};

FluidFile parse(const std::string& bytes) {
  FluidFile file;
  std::size_t pos = 0;
  for (int line = 0; line < 9; ++line) {
    const std::size_t end = bytes.find('\n', pos);
    file.header.push_back(bytes.substr(pos, end - pos));
    pos = end + 1;
  }
  const std::size_t count = std::stoul(file.header[7].substr(std::string("POINT_DATA ").size()));
  auto floats = [&](std::vector<float>& out) {
    for (std::size_t k = 0; k < 3 * count; ++k, pos += 4) {
      std::uint32_t bits = 0;
      for (int b = 0; b < 4; ++b) bits = (bits << 8) | static_cast<unsigned char>(bytes[pos + b]);
      std::memcpy(&out.emplace_back(), &bits, 4);
    }
  };
  floats(file.velocity);
  const std::string marker = "VECTORS density float\n";
  EXPECT_EQ(bytes.compare(pos, marker.size(), marker), 0);
  pos += marker.size();
  floats(file.density);
  EXPECT_EQ(pos, bytes.size()) << "nothing follows the density";
  return file;
}

struct Lattice {
  std::shared_ptr<simParams> params;
  std::unique_ptr<mlFlow> flow;
  mlLatticeUnits units;
  Lattice(float height = 1.5f) : params(latticeBox(2, height, 1, 0.5f)), flow(initFlow(params)) {
    units = params->toLatticeUnits();
    for (std::size_t i = 0; i < flow->count; ++i)
      flow->ux[i] = 0.01f * i, flow->uy[i] = -0.02f * i, flow->uz[i] = 0.005f, flow->rou[i] = 1.0f + 0.001f * i;
  }
  FluidFile write(const Frame* frame) const {
    const std::string path = tempPath("fluid.vtk");
    EXPECT_EQ(writeFluidVTK(*flow, units, path, frame), 1);
    const FluidFile file = parse(readFile(path));
    std::remove(path.c_str());
    return file;
  }
};

TEST(WriteFluidVTK, EmptyLatticeIsTheHeaderAlone) {
  Lattice l(0);
  ASSERT_EQ(writeFluidVTK(*l.flow, l.units, tempPath("empty.vtk"), nullptr), 1);
  EXPECT_EQ(readFile(tempPath("empty.vtk")),
            "# vtk DataFile Version 3.0\noutput  a fluid\nBINARY\nDATASET STRUCTURED_POINTS\nDIMENSIONS 4 0 2\n"
            "ORIGIN -1 0 -0.5\nSPACING 0.5 0.5 0.5\nPOINT_DATA 0\nVECTORS cell_velocity float\n"
            "VECTORS density float\n");
  std::remove(tempPath("empty.vtk").c_str());
}

// Each node's velocity gains the frame's motion, omega x r + R^T v (r the node in the frame's axes), in
// lattice units; without a frame, or with one at rest at the origin, it is written as it is.
TEST(WriteFluidVTK, VelocitiesAreWrittenInTheWorldWithTheFramesMotion) {
  Lattice l;
  l.flow->start[0] = 0.125f;  // the origin the host record holds is the one written
  const double scale = l.units.u0k / l.units.u0p[0];
  SimpleFrame rest(Frame::World(), "rest"), translating(Frame::World(), "translating"),
      spinning(Frame::World(), "spinning");
  translating.setClassicDerivatives(Eigen::Vector3d(3.0, -1.0, 0.5));
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  T.translation() = Eigen::Vector3d(0.5, 0.0, 0.0);
  spinning.setRelativeTransform(T);
  spinning.setClassicDerivatives(Eigen::Vector3d(1.0, 0.0, 0.0), Eigen::Vector3d(0.0, 0.0, 2.0));
  const std::size_t i = 1 + 4 * 2;  // node (1, 2, 0) at (0.625, 0.25, -0.5)
  // Spinning: r = R^T (p - t) = (0.25, -0.125, -0.5), omega x r = (0.25, 0.5, 0), R^T v = (0, -1, 0).
  const struct {
    const Frame* frame;
    Eigen::Vector3d added;
  } cases[] = {
      {nullptr, {0, 0, 0}}, {&rest, {0, 0, 0}}, {&translating, {3.0, -1.0, 0.5}}, {&spinning, {0.25, -0.5, 0}}};
  for (const auto& c : cases) {
    const FluidFile f = l.write(c.frame);
    EXPECT_EQ(f.header[4], "DIMENSIONS 4 3 2");
    EXPECT_EQ(f.header[5], "ORIGIN 0.125 -0.75 -0.5");
    EXPECT_EQ(f.header[7], "POINT_DATA 24");
    const float u[3] = {l.flow->ux[i], l.flow->uy[i], l.flow->uz[i]};
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(f.velocity[3 * i + a], u[a] + c.added[a] * scale, 1e-6) << a;
    if (c.frame == &spinning) continue;
    for (std::size_t k = 0; k < 24; ++k) {
      EXPECT_NEAR(f.velocity[3 * k], l.flow->ux[k] + c.added[0] * scale, 1e-6f);
      for (int d = 0; d < 3; ++d) EXPECT_EQ(f.density[3 * k + d], static_cast<float>(l.flow->rou[k]));
    }
  }
}

// No reader could load NaN or infinity: the file is refused, naming the field (and the node), and nothing
// is written.
TEST(WriteFluidVTK, NonFiniteFieldsAreRefused) {
  const std::string path = tempPath("refused.vtk");
  const struct {
    std::function<void(mlFlow&, float)> spoil;
    const char* what;
  } cases[] = {{[](mlFlow& f, float v) { f.ux[7] = v; }, "the velocity of node 7 (3, 1, 0)"},
               {[](mlFlow& f, float v) { f.uy[7] = v; }, "the velocity of node 7 (3, 1, 0)"},
               {[](mlFlow& f, float v) { f.uz[23] = v; }, "the velocity of node 23 (3, 2, 1)"},
               {[](mlFlow& f, float v) { f.rou[13] = v; }, "the density of node 13 (1, 0, 1)"},
               {[](mlFlow& f, float v) { f.start[0] = v; }, "the origin"},
               {[](mlFlow& f, float v) { f.start[1] = v; }, "the origin"},
               {[](mlFlow& f, float v) { f.start[2] = v; }, "the origin"},
               {[](mlFlow& f, float v) { f.param->dx = v; }, "the spacing"}};
  for (const auto& c : cases)
    for (const float bad : {NAN, INFINITY, -INFINITY}) {
      Lattice l;
      c.spoil(*l.flow, bad);
      EXPECT_EQ(testsupport::thrownWhat<std::invalid_argument>([&] { writeFluidVTK(*l.flow, l.units, path, nullptr); }),
                std::string("writeFluidVTK: ") + c.what + " is not finite; \"" + path + "\" not written")
          << bad;
      EXPECT_FALSE(testsupport::exists(path));
    }
}

TEST(WriteFluidVTK, AFailedWriteLeavesNoFile) {
  Lattice l;
  testing::internal::CaptureStderr();
  const std::string missing = tempPath("no-such-folder/fluid.vtk"), cut = tempPath("cut.vtk");
  std::remove(cut.c_str());
  EXPECT_EQ(writeFluidVTK(*l.flow, l.units, missing, nullptr), 0);
  testsupport::withFileSizeLimit(200, [&] { EXPECT_EQ(writeFluidVTK(*l.flow, l.units, cut, nullptr), 0); });
  // A character device like /dev/full accepts the open and fails every write; it is not removed.
  const std::string device = tempPath("full-device");
  std::remove(device.c_str());
  const bool madeDevice = mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  if (madeDevice) {
    EXPECT_EQ(writeFluidVTK(*l.flow, l.units, device, nullptr), 0);
  }
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("cannot write \"" + missing + "\""), std::string::npos);
  EXPECT_FALSE(testsupport::exists(missing) || testsupport::exists(cut));
  struct stat st {};
  EXPECT_TRUE(!madeDevice || (stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode)));
  std::remove(device.c_str());
  EXPECT_THROW(writeFluidVTK(*l.flow, l.units, cut + std::string(1, '\0') + "x", nullptr), std::invalid_argument);
}

}  // namespace
