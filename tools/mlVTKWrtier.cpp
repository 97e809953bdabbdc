#include "tools/mlVTKWrtier.h"

#include <fstream>
#include <iomanip>
#include <stdexcept>

namespace {

void writeVector(std::ofstream& out, const Eigen::Vector3d& v) {
  out << v.x() << " " << v.y() << " " << v.z() << std::endl;
}

// Closing flushes what is left; a failure anywhere (open, write, close) shows in the stream state.
bool finish(std::ofstream& out) {
  out.close();
  return !out.fail();
}

}  // namespace

bool mlVTKWrtier::writeLines(const std::vector<mlVTKLine>& lines, const std::string& path) {
  std::ofstream out(path);
  if (!out) return false;
  std::size_t total = 0;
  for (const mlVTKLine& line : lines) total += line.vertices.size();

  out << "# vtk DataFile Version 3.0" << std::endl;
  out << "output  lines" << std::endl;
  out << "ASCII" << std::endl;
  out << "DATASET POLYDATA" << std::endl;
  out << "POINTS " << total << " double" << std::endl;
  out << std::fixed << std::setprecision(4);
  for (const mlVTKLine& line : lines)
    for (const Eigen::Vector3d& v : line.vertices) writeVector(out, v);

  out << "LINES " << lines.size() << " " << lines.size() + total << std::endl;
  std::size_t next = 0;
  for (const mlVTKLine& line : lines) {
    out << line.vertices.size();
    for (std::size_t k = 0; k < line.vertices.size(); ++k) out << " " << next++;
    out << std::endl;
  }
  out << std::endl;
  return finish(out);
}

bool mlVTKWrtier::writeTrajectory(const mlTrajectory<double, 3>& trajectory, const std::string& file_path) {
  if (!trajectory.spline)
    throw std::invalid_argument("writeTrajectory: the trajectory is not fitted: call fit() first");
  const mlTrajectory<double, 3>::SplineType& curve = *trajectory.spline;
  // The count follows the current way points even when they changed after the fit.
  const std::size_t n = 200 * trajectory.points.size();
  const float maxU = static_cast<float>(curve.maxParam());
  const float step = 1.0f / static_cast<float>(n);
  auto paramAt = [&](std::size_t i) {
    return static_cast<float>(maxU * (static_cast<double>(i) * static_cast<double>(step)));
  };

  std::ofstream out(file_path);
  if (!out) return false;
  out << "# vtk DataFile Version 3.0" << std::endl;
  out << "output  a mlTrajectory" << std::endl;
  out << "ASCII" << std::endl;
  out << "DATASET POLYDATA" << std::endl;
  out << "POINTS " << n << " double" << std::endl;
  out << std::fixed << std::setprecision(4);
  for (std::size_t i = 0; i < n; ++i) writeVector(out, curve.evaluate(paramAt(i)));

  out << "LINES " << 1 << " " << n + 1 << std::endl;
  out << n;
  for (std::size_t i = 0; i < n; ++i) out << " " << i;
  out << std::endl;

  out << "POINT_DATA " << n << std::endl;
  out << "VECTORS tagents double" << std::endl;
  for (std::size_t i = 0; i < n; ++i) writeVector(out, curve.evaluateD1(paramAt(i)).tangent);
  return finish(out);
}
