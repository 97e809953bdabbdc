// Scene saving of the coupled simulator: the body file format, file names, flags, folders and failures.
#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "MeshLoad/MeshData.h"
#include "simFixture.h"
#include "simulatorInterface/writeBodyVTK.h"

namespace {

using namespace simtest;
using Files = std::set<std::string>;
using testsupport::readFile;

host_MeshData twoVertexMesh() {
  host_MeshData mesh;
  mesh.curr_positions = {{1.5, 0, -2}, {0.25, 1, 0}};
  mesh.curr_normals = {{0, 0, 1}, {-0.6, 0.8, 0}};
  mesh.uv = {{0.125, 0.5}, {1, 0}};
  mesh.faces = {{7, 0, 1, 1, 0.5}};
  return mesh;
}

// The file declares float: a value no float holds (not finite, or beyond the largest float, which a
// reader would load as infinite) is refused in any field, and nothing is written; the largest float passes.
TEST(writeBodyVTK, WritesTheAsciiPolydataFileAndRefusesValuesNoFloatHolds) {
  const std::string path = testsupport::tempPath("body.vtk");
  writeBodyVTK(twoVertexMesh(), path);
  EXPECT_EQ(readFile(path),
            "# vtk DataFile Version 3.0\noutput  a model\nASCII\nDATASET POLYDATA\n"
            "POINTS 2 float\n1.5000 0.0000 -2.0000\n0.2500 1.0000 0.0000\n"
            "POLYGONS 1 4\n3 0 1 1\n"
            "POINT_DATA 2\nNORMALS cell_normals float\n0.0000 0.0000 1.0000\n-0.6000 0.8000 0.0000\n"
            "TEXTURE_COORDINATES cell_uvs 2 float\n0.1250 0.5000\n1.0000 0.0000\n");
  fs::remove(path);
  // Doubles from halfway between the largest float and the next power of two on round to infinity.
  const double largest = std::numeric_limits<float>::max(), halfway = largest + 0x1p103;
  for (const double value : {double(INFINITY), double(-INFINITY), double(NAN), 1e39, halfway, -halfway,
                             std::nextafter(halfway, 0.0), -largest})
    for (int field = 0; field < 3; ++field) {
      SCOPED_TRACE(testing::Message() << value << " in field " << field);
      host_MeshData mesh = twoVertexMesh();
      (field == 0 ? mesh.curr_positions[1].y() : field == 1 ? mesh.curr_normals[0].z() : mesh.uv[1].x()) = value;
      if (std::abs(value) < halfway) {
        writeBodyVTK(mesh, path);
        EXPECT_NE(readFile(path).find("3402823"), std::string::npos);
        fs::remove(path);
        continue;
      }
      const std::string what = testsupport::thrownWhat<std::invalid_argument>([&] { writeBodyVTK(mesh, path); });
      EXPECT_PRED_FORMAT2(testing::IsSubstring,
                          std::string(field == 0   ? "position 1 ("
                                      : field == 1 ? "normal 0 ("
                                                   : "texture coordinate 1 ("),
                          what);
      EXPECT_PRED_FORMAT2(testing::IsSubstring, ") is not a finite float", what);
      EXPECT_FALSE(fs::exists(path));
    }
}

TEST(bodyFileName, IndicesStaySideBySideOnlyWhileBothAreSingleDigits) {
  const struct {
    std::size_t mesh, system;
    const char* expected;
  } cases[] = {{0, 0, "00_f.vtk"},    {1, 0, "10_f.vtk"},    {9, 9, "99_f.vtk"},
               {1, 12, "1_12_f.vtk"}, {11, 2, "11_2_f.vtk"}, {10, 0, "10_0_f.vtk"}};
  for (const auto& c : cases) EXPECT_EQ(bodyFileName(c.mesh, c.system, "f"), c.expected);
}

// The fish (two meshes) in a one-lattice simulator that saves below a folder that does not exist yet; its
// fluid file is larger than a body file.
class SceneSaving : public testing::Test {
 protected:
  void SetUp() override {
    world->addSkeleton(fish(jointType::fixed, 100));
    sim->mainDataFolderPath = (root / "out").string() + "/";
  }
  void TearDown() override { fs::remove_all(root); }

  const fs::path root = freshFolder("scene");
  std::shared_ptr<skWorld> world = std::make_shared<skWorld>(Vector3d::Zero());
  std::unique_ptr<Sim> sim = committed(world, box(0.8f, 0.4f, 0.4f, 40));
};

TEST_F(SceneSaving, FlagsChooseTheFilesAndBodiesAreSavedAsTheyStandNow) {
  for (int flags : {8, -1})
    EXPECT_EQ(
        testsupport::thrownWhat<std::invalid_argument>([&] { sim->saveScene(3, flags); }),
        "saveScene: save_flags " + std::to_string(flags) + " is no combination of SAVE_FLAG members (BODY 1, FLUID 2)");
  EXPECT_EQ(sim->syncState, Sim::DEVICE_NEWER);
  sim->saveScene(3, 0);
  EXPECT_EQ(filesUnder(root), Files{});
  EXPECT_EQ(sim->syncState, Sim::HOST_FRESH);
  sim->saveScene(12, BODY | FLUID);
  EXPECT_EQ(filesUnder(root), (Files{"out/Objects/00_vis_object_00012.vtk", "out/Objects/10_vis_object_00012.vtk",
                                     "out/Fluid/0_vis_fluid00012.vtk"}));
  const auto& fin = world->systems[0]->description->mesh->meshes[1]->data_cpu;
  EXPECT_EQ(lineOf(root / "out/Objects/10_vis_object_00012.vtk", 5),
            "POINTS " + std::to_string(fin.curr_positions.size()) + " float");
  // The device road leaves the moved surface on the device; saving brings it back.
  world->systems[0]->setHead(Vector3d(0.05, 0, 0), Vector3d::UnitX());
  sim->saveScene(13, BODY);
  EXPECT_NE(readFile(root / "out/Objects/00_vis_object_00013.vtk"),
            readFile(root / "out/Objects/00_vis_object_00012.vtk"));
}

// A plain file where the output folder should be, or a folder where a file should be: the error names it,
// and nothing else is written.
TEST_F(SceneSaving, UnwritablePathsThrowNamingThem) {
  const struct {
    int flags;
    std::string taken, reason;
  } cases[] = {{BODY, "out", "Not a directory"},
               {FLUID, "out", "Not a directory"},
               {BODY, "out/Objects/00_vis_object_00001.vtk", "Is a directory"},
               {FLUID, "out/Fluid/0_vis_fluid00001.vtk", "Is a directory"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.taken);
    fs::remove_all(root);
    if (c.taken == "out") {
      fs::create_directories(root);
      std::ofstream(root / "out").put('x');
    } else {
      fs::create_directories(root / c.taken);
    }
    const std::string what = testsupport::thrownWhat<std::runtime_error>([&] { sim->saveScene(1, c.flags); });
    EXPECT_PRED_FORMAT2(testing::IsSubstring, (root / c.taken).string(), what);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, c.reason, what);
    EXPECT_EQ(filesUnder(root), c.taken == "out" ? Files{"out"} : Files{});
  }
}

// With eleven bodies the last body's file names carry a separator: a stem that fits the others makes its
// names too long, and the save lands no file.
TEST_F(SceneSaving, ANameTooLongForOneBodyLandsNoFile) {
  for (int k = 1; k < 11; ++k) world->addSkeleton(fish(jointType::fixed, 100));
  const std::string stem(247, 'n');
  EXPECT_EQ(testsupport::thrownWhat<std::runtime_error>([&] { sim->saveObjectsData(stem); }),
            "saveObjectsData: cannot write \"" + (root / "out/Objects" / bodyFileName(0, 10, stem)).string() +
                "\": File name too long");
  EXPECT_EQ(filesUnder(root), Files{});
}

// A save that fails part way (a full disk at the fluid file, after the body files) lands none of its files:
// the frame saved before stays whole, no temporary is left, and the failure is told once, by the exception.
TEST_F(SceneSaving, AFailedSaveLeavesTheEarlierFrameWhole) {
  const auto contents = [&] {
    std::map<std::string, std::string> files;
    for (const std::string& f : filesUnder(root)) files[f] = readFile(root / f);
    return files;
  };
  sim->saveScene(1, BODY | FLUID);
  const auto before = contents();
  const std::string fluid = "out/Fluid/0_vis_fluid00001.vtk";
  const std::size_t fluidSize = before.at(fluid).size();
  const std::size_t bodySize = std::max(before.at("out/Objects/00_vis_object_00001.vtk").size(),
                                        before.at("out/Objects/10_vis_object_00001.vtk").size());
  ASSERT_LT(bodySize + 100, fluidSize);
  // The body moves, so that every body file of a new save differs from the saved one.
  world->systems[0]->setHead(Vector3d(0.05, 0, 0), Vector3d::UnitX());
  std::string what;
  testing::internal::CaptureStderr();
  testsupport::withFileSizeLimit((bodySize + fluidSize) / 2, [&] {
    what = testsupport::thrownWhat<std::runtime_error>([&] { sim->saveScene(1, BODY | FLUID); });
  });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(what, "saveScene: cannot write \"" + (root / fluid).string() + "\": File too large");
  EXPECT_TRUE(contents() == before);
}

// A folder name holding a NUL character would make a shorter folder: every saving operation refuses it,
// naming the field, before any folder is made.
TEST_F(SceneSaving, FolderNamesHoldingNulAreRefusedBeforeAnyFolderIsMade) {
  const std::pair<std::string Sim::*, std::string> fields[] = {{&Sim::mainDataFolderPath, "mainDataFolderPath"},
                                                               {&Sim::objectsFolderName, "objectsFolderName"},
                                                               {&Sim::fluidFolderName, "fluidFolderName"}};
  const std::pair<std::function<void()>, std::string> saves[] = {
      {[&] { sim->saveScene(1, BODY | FLUID); }, "saveScene"},
      {[&] { sim->saveObjectsData("o"); }, "saveObjectsData"},
      {[&] { sim->saveFluidData("f"); }, "saveFluidData"}};
  const std::string main = sim->mainDataFolderPath, objects = sim->objectsFolderName, fluid = sim->fluidFolderName;
  for (const auto& [field, name] : fields)
    for (const auto& [save, operation] : saves) {
      std::string& value = (*sim).*field;
      const std::string shown = value + "\\0x";
      value += std::string("\0x", 2);
      EXPECT_EQ(testsupport::thrownWhat<std::invalid_argument>(save),
                operation + ": " + name + " \"" + shown + "\" holds a NUL character");
      EXPECT_FALSE(fs::exists(root)) << operation << " " << name;
      sim->mainDataFolderPath = main, sim->objectsFolderName = objects, sim->fluidFolderName = fluid;
    }
}

}  // namespace
