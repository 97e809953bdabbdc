#include "tools/mlVTKWrtier.h"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "duriz/mlsolver/writeCompleteFile.h"

namespace {

// A reader cannot load "nan" or "inf" as a coordinate: such a file would be no file at all. Callers test
// allFinite themselves, so that the message is only built for a bad value.
[[noreturn]] void throwNotFinite(const Eigen::Vector3d& v, const std::string& what) {
  std::ostringstream msg;
  msg << what << " (" << v.x() << ", " << v.y() << ", " << v.z() << ") is not finite";
  throw std::invalid_argument(msg.str());
}

void writeVector(std::ostream& out, const Eigen::Vector3d& v) { out << v.x() << " " << v.y() << " " << v.z() << "\n"; }

// A file that cannot be written is told on standard error with the system's reason; callers get false.
bool writeText(const std::string& path, const std::ostringstream& text, const char* operation) {
  const std::string s = text.str();
  std::string failure;
  if (writeCompleteFile(path, s.data(), s.size(), &failure)) return true;
  std::fprintf(stderr, "%s: %s\n", operation, failure.c_str());
  return false;
}

}  // namespace

bool mlVTKWrtier::writeLines(const std::vector<mlVTKLine>& lines, const std::string& path) {
  std::size_t total = 0;
  for (std::size_t l = 0; l < lines.size(); ++l) {
    for (std::size_t k = 0; k < lines[l].vertices.size(); ++k)
      if (!lines[l].vertices[k].allFinite())
        throwNotFinite(lines[l].vertices[k],
                       "writeLines: vertex " + std::to_string(k) + " of line " + std::to_string(l));
    total += lines[l].vertices.size();
  }

  std::ostringstream out;
  out << "# vtk DataFile Version 3.0\n";
  out << "output  lines\n";
  out << "ASCII\n";
  out << "DATASET POLYDATA\n";
  out << "POINTS " << total << " double\n";
  out << std::fixed << std::setprecision(4);
  for (const mlVTKLine& line : lines)
    for (const Eigen::Vector3d& v : line.vertices) writeVector(out, v);

  out << "LINES " << lines.size() << " " << lines.size() + total << "\n";
  std::size_t next = 0;
  for (const mlVTKLine& line : lines) {
    out << line.vertices.size();
    for (std::size_t k = 0; k < line.vertices.size(); ++k) out << " " << next++;
    out << "\n";
  }
  out << "\n";
  return writeText(path, out, "writeLines");
}

bool mlVTKWrtier::writeTrajectory(const mlTrajectory<double, 3>& trajectory, const std::string& file_path) {
  if (!trajectory.spline)
    throw std::invalid_argument("writeTrajectory: the trajectory is not fitted: call fit() first");
  const mlTrajectory<double, 3>::SplineType& curve = *trajectory.spline;
  // The count follows the current way points even when they changed after the fit.
  const std::size_t n = 200 * trajectory.points.size();
  const float maxU = static_cast<float>(curve.maxParam());
  const float step = 1.0f / static_cast<float>(n);
  std::vector<mlTrajectory<double, 3>::SplineType::InterpolatedPT> at(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float u = static_cast<float>(maxU * (static_cast<double>(i) * static_cast<double>(step)));
    at[i] = curve.evaluateD1(u);
    if (!at[i].position.allFinite())
      throwNotFinite(at[i].position, "writeTrajectory: the curve point at u = " + std::to_string(u));
    if (!at[i].tangent.allFinite())
      throwNotFinite(at[i].tangent, "writeTrajectory: the tangent at u = " + std::to_string(u));
  }

  std::ostringstream out;
  out << "# vtk DataFile Version 3.0\n";
  out << "output  a mlTrajectory\n";
  out << "ASCII\n";
  out << "DATASET POLYDATA\n";
  out << "POINTS " << n << " double\n";
  out << std::fixed << std::setprecision(4);
  for (const auto& p : at) writeVector(out, p.position);

  out << "LINES " << 1 << " " << n + 1 << "\n";
  out << n;
  for (std::size_t i = 0; i < n; ++i) out << " " << i;
  out << "\n";

  out << "POINT_DATA " << n << "\n";
  out << "VECTORS tagents double\n";
  for (const auto& p : at) writeVector(out, p.tangent);
  return writeText(file_path, out, "writeTrajectory");
}
