#include "writeBodyVTK.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "MeshLoad/MeshData.h"
#include "duriz/mlsolver/CompleteFileSet.h"
#include "duriz/mlsolver/valueText.h"

namespace {

// The file declares float: a VTK reader stops at "nan" or "inf", and a value beyond the largest float
// loads as infinite, so such a file would look written but hold something else.
template <class Vec>
void requireFloats(const std::vector<Vec>& values, const char* what, const std::string& path) {
  for (std::size_t i = 0; i < values.size(); ++i)
    if (!values[i].template cast<float>().allFinite())
      throw std::invalid_argument("writeBodyVTK: " + std::string(what) + " " + std::to_string(i) + " (" +
                                  valuesText(values[i]) + ") is not a finite float; \"" + path + "\" not written");
}

}  // namespace

bool writeBodyVTK(const host_MeshData& mesh, const std::string& path, CompleteFileSet& files) {
  requireFloats(mesh.curr_positions, "position", path);
  requireFloats(mesh.curr_normals, "normal", path);
  requireFloats(mesh.uv, "texture coordinate", path);
  std::ostringstream out;
  out << "# vtk DataFile Version 3.0\n"
      << "output  a model\n"
      << "ASCII\n"
      << "DATASET POLYDATA\n"
      << "POINTS " << mesh.curr_positions.size() << " float\n";
  out.setf(std::ios::fixed, std::ios::floatfield);
  out.precision(4);
  for (const Eigen::Vector3d& p : mesh.curr_positions) out << p.x() << " " << p.y() << " " << p.z() << "\n";
  out << "POLYGONS " << mesh.faces.size() << " " << 4 * mesh.faces.size() << "\n";
  for (const MeshFace& f : mesh.faces) out << "3 " << f.vert0 << " " << f.vert1 << " " << f.vert2 << "\n";
  out << "POINT_DATA " << mesh.curr_normals.size() << "\n"
      << "NORMALS cell_normals float\n";
  for (const Eigen::Vector3d& n : mesh.curr_normals) out << n.x() << " " << n.y() << " " << n.z() << "\n";
  out << "TEXTURE_COORDINATES cell_uvs 2 float\n";
  for (const Eigen::Vector2d& uv : mesh.uv) out << uv.x() << " " << uv.y() << "\n";

  const std::string text = out.str();
  return files.add(path, text.data(), text.size());
}

void writeBodyVTK(const host_MeshData& mesh, const std::string& path) {
  CompleteFileSet file;
  if (!writeBodyVTK(mesh, path, file) || !file.commit()) throw std::runtime_error("writeBodyVTK: " + file.failure());
}
