#include "writeFluidVTK.h"

#include <dart/dynamics/Frame.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "CompleteFileSet.h"

namespace {

void appendBigEndian(std::vector<char>& out, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  out.push_back(static_cast<char>(bits >> 24));
  out.push_back(static_cast<char>(bits >> 16));
  out.push_back(static_cast<char>(bits >> 8));
  out.push_back(static_cast<char>(bits));
}

// A VTK reader cannot load a file holding NaN or infinity: such a file would be no file at all.
[[noreturn]] void throwNotFinite(const std::string& what, const std::string& path) {
  throw std::invalid_argument("writeFluidVTK: " + what + " is not finite; \"" + path + "\" not written");
}

// Node i with its coordinates (x fastest, then y, then z).
std::string nodeName(std::size_t i, std::size_t nx, std::size_t ny) {
  return "node " + std::to_string(i) + " (" + std::to_string(i % nx) + ", " + std::to_string(i / nx % ny) + ", " +
         std::to_string(i / (nx * ny)) + ")";
}

}  // namespace

bool writeFluidVTK(const mlFlow& flow, const mlLatticeUnits& units, const std::string& path,
                   const dart::dynamics::Frame* frame, CompleteFileSet& files) {
  using dart::dynamics::Frame;
  if (flow.param == nullptr) throw std::logic_error("writeFluidVTK: the lattice was released (deleteHostFlow)");
  const MLFluidParam& param = *flow.param;
  for (int a = 0; a < 3; ++a)
    if (!std::isfinite(flow.start[a])) throwNotFinite("the origin", path);
  if (!std::isfinite(param.dx)) throwNotFinite("the spacing", path);
  const int nx = param.samples[0], ny = param.samples[1];
  const std::size_t count = flow.count;

  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  Eigen::Vector3d v = Eigen::Vector3d::Zero();
  Eigen::Vector3d omega = Eigen::Vector3d::Zero();
  if (frame != nullptr) {
    T = frame->getWorldTransform();
    v = frame->getLinearVelocity(Frame::World(), Frame::World());
    omega = frame->getAngularVelocity(Frame::World(), Frame::World());
  }
  const Eigen::Matrix3d Rt = T.rotation().transpose();
  const Eigen::Vector3d t = T.translation();
  const Eigen::Vector3d frameVelocity = Rt * v;  // the frame's own velocity in its axes

  std::ostringstream header;
  header << "# vtk DataFile Version 3.0\n"
         << "output  a fluid\n"
         << "BINARY\n"
         << "DATASET STRUCTURED_POINTS\n"
         << "DIMENSIONS " << param.samples[0] << " " << param.samples[1] << " " << param.samples[2] << "\n"
         << "ORIGIN " << static_cast<double>(flow.start[0]) << " " << static_cast<double>(flow.start[1]) << " "
         << static_cast<double>(flow.start[2]) << "\n"
         << "SPACING " << static_cast<double>(param.dx) << " " << static_cast<double>(param.dx) << " "
         << static_cast<double>(param.dx) << "\n"
         << "POINT_DATA " << count << "\n"
         << "VECTORS cell_velocity float\n";

  const std::string text = header.str();
  std::vector<char> bytes(text.begin(), text.end());
  bytes.reserve(text.size() + count * 24 + 32);
  const float dx = param.dx;
  const float u0k = units.u0k;
  for (std::size_t i = 0; i < count; ++i) {
    const int x = static_cast<int>(i % nx);
    const int y = static_cast<int>((i / nx) % ny);
    const int z = static_cast<int>(i / (static_cast<std::size_t>(nx) * ny));
    const Eigen::Vector3d p(x * dx + flow.start[0], y * dx + flow.start[1], z * dx + flow.start[2]);
    const Eigen::Vector3d r = Rt * (p - t);  // node position in the frame
    const Eigen::Vector3d spin = omega.cross(r);
    const float u[3] = {flow.ux[i], flow.uy[i], flow.uz[i]};
    for (int a = 0; a < 3; ++a) {
      const double V = static_cast<double>((u[a] * units.u0p[a]) / u0k) + spin[a] + frameVelocity[a];
      const float written = static_cast<float>(V / units.u0p[0] * u0k);
      if (!std::isfinite(written)) throwNotFinite("the velocity of " + nodeName(i, nx, ny), path);
      appendBigEndian(bytes, written);
    }
  }
  const char densityHeader[] = "VECTORS density float\n";
  bytes.insert(bytes.end(), densityHeader, densityHeader + sizeof densityHeader - 1);
  for (std::size_t i = 0; i < count; ++i) {
    const float rho = flow.rou[i];
    if (!std::isfinite(rho)) throwNotFinite("the density of " + nodeName(i, nx, ny), path);
    for (int k = 0; k < 3; ++k) appendBigEndian(bytes, rho);
  }

  return files.add(path, bytes.data(), bytes.size());
}

int writeFluidVTK(const mlFlow& flow, const mlLatticeUnits& units, const std::string& path,
                  const dart::dynamics::Frame* frame) {
  CompleteFileSet file;
  if (writeFluidVTK(flow, units, path, frame, file) && file.commit()) return 1;
  std::fprintf(stderr, "writeFluidVTK: %s\n", file.failure().c_str());
  return 0;
}
