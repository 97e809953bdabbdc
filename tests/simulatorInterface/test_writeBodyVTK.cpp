#include <gtest/gtest.h>

#include <cmath>
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

// A folder where the file should go: the write fails after the text is out, and leaves nothing behind.
TEST(writeBodyVTK, UnwritablePathThrowsNamingItAndLeavesNoFile) {
  const fs::path dir = fs::path(testing::TempDir()) / "body_unwritable", path = dir / "taken.vtk";
  fs::create_directories(path);
  try {
    writeBodyVTK(twoVertexMesh(), path.string());
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  fs::remove_all(dir);
}

TEST(writeBodyVTK, NonFiniteValuesAreRefusedAndNothingIsWritten) {
  const fs::path path = fs::path(testing::TempDir()) / "body_nan.vtk";
  for (int field = 0; field < 3; ++field) {
    host_MeshData mesh = twoVertexMesh();
    if (field == 0) mesh.curr_positions[1].y() = NAN;
    if (field == 1) mesh.curr_normals[0].z() = INFINITY;
    if (field == 2) mesh.uv[1].x() = -INFINITY;
    EXPECT_THROW(writeBodyVTK(mesh, path.string()), std::invalid_argument) << "field " << field;
    EXPECT_FALSE(fs::exists(path)) << "field " << field;
  }
}

}  // namespace
