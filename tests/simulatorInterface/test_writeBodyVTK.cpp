#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "MeshLoad/MeshData.h"
#include "simulatorInterface/writeBodyVTK.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

host_MeshData twoVertexMesh() {
  host_MeshData mesh;
  mesh.curr_positions = {{1.5, 0, -2}, {0.25, 1, 0}};
  mesh.curr_normals = {{0, 0, 1}, {-0.6, 0.8, 0}};
  mesh.uv = {{0.125, 0.5}, {1, 0}};
  mesh.faces = {{7, 0, 1, 1, 0.5}};
  return mesh;
}

TEST(writeBodyVTK, WritesTheAsciiPolydataFile) {
  const fs::path path = fs::path(testing::TempDir()) / "body_golden.vtk";
  writeBodyVTK(twoVertexMesh(), path.string());
  EXPECT_EQ(readFile(path),
            "# vtk DataFile Version 3.0\n"
            "output  a model\n"
            "ASCII\n"
            "DATASET POLYDATA\n"
            "POINTS 2 float\n"
            "1.5000 0.0000 -2.0000\n"
            "0.2500 1.0000 0.0000\n"
            "POLYGONS 1 4\n"
            "3 0 1 1\n"
            "POINT_DATA 2\n"
            "NORMALS cell_normals float\n"
            "0.0000 0.0000 1.0000\n"
            "-0.6000 0.8000 0.0000\n"
            "TEXTURE_COORDINATES cell_uvs 2 float\n"
            "0.1250 0.5000\n"
            "1.0000 0.0000\n");
  fs::remove(path);
}

TEST(writeBodyVTK, UnwritablePathThrowsNamingItAndLeavesNoFile) {
  const fs::path dir = fs::path(testing::TempDir()) / "body_unwritable";
  fs::create_directories(dir / "taken.vtk");  // a folder where the file should go
  for (const fs::path& path : {dir / "missing" / "a.vtk", dir / "taken.vtk"}) {
    try {
      writeBodyVTK(twoVertexMesh(), path.string());
      ADD_FAILURE() << "no error for " << path;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    }
  }
  std::size_t entries = 0;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) ++entries;
  EXPECT_EQ(entries, 1u);  // only the folder in the way
  fs::remove_all(dir);
}

}  // namespace
