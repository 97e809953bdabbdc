// Scene saving of the coupled simulator: file names, flags, folders and failures.
#include <filesystem>
#include <fstream>
#include <set>

#include "simFixture.h"

namespace {

using namespace simtest;
using Sim = coupledLBM_sim3D;
namespace fs = std::filesystem;

std::set<std::string> filesUnder(const fs::path& dir) {
  std::set<std::string> files;
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files.insert(fs::relative(e.path(), dir).string());
  return files;
}

class SceneSaving : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(testing::TempDir()) /
            ("scene_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    world_ = std::make_shared<skWorld>(Eigen::Vector3d::Zero());
    world_->addSkeleton(fish(jointType::fixed, 100));
    sim_ = committed(world_, box(0.8f, 0.4f, 0.4f, 20));
    sim_->mainDataFolderPath = (root_ / "out").string() + "/";  // missing: saving makes it
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path root_;
  std::shared_ptr<skWorld> world_;
  std::unique_ptr<Sim> sim_;
};

TEST_F(SceneSaving, OneBodyOfTwoMeshesAndOneLatticeGiveThreeFiles) {
  sim_->saveScene(12, BODY | FLUID);
  EXPECT_EQ(filesUnder(root_),
            (std::set<std::string>{"out/Objects/00_vis_object_00012.vtk", "out/Objects/10_vis_object_00012.vtk",
                                   "out/Fluid/0_vis_fluid00012.vtk"}));
  std::ifstream fin(root_ / "out/Objects/10_vis_object_00012.vtk");
  std::string line;
  for (int i = 0; i < 5; ++i) std::getline(fin, line);
  EXPECT_EQ(line, "POINTS " +
                      std::to_string(world_->systems[0]->description->mesh->meshes[1]->data_cpu.curr_positions.size()) +
                      " float");
}

TEST_F(SceneSaving, NoFlagsWriteNothingButStillDownload) {
  sim_->saveScene(3, 0);
  EXPECT_TRUE(filesUnder(root_).empty());
  EXPECT_EQ(sim_->syncState, Sim::HOST_FRESH);
}

TEST_F(SceneSaving, UnwritableFolderThrowsNamingIt) {
  fs::create_directories(root_);
  std::ofstream(root_ / "plain").put('x');
  sim_->mainDataFolderPath = (root_ / "plain").string() + "/";
  for (int flags : {BODY, FLUID}) {
    try {
      sim_->saveScene(1, flags);
      ADD_FAILURE() << "no error for flags " << flags;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(sim_->mainDataFolderPath), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(filesUnder(root_), std::set<std::string>{"plain"});
}

TEST(bodyFileName, IndicesStaySideBySideOnlyWhileBothAreSingleDigits) {
  const struct {
    std::size_t mesh, system;
    const char* expected;
  } cases[] = {{0, 0, "00_f.vtk"},    {1, 0, "10_f.vtk"},    {9, 9, "99_f.vtk"},
               {1, 12, "1_12_f.vtk"}, {11, 2, "11_2_f.vtk"}, {10, 0, "10_0_f.vtk"}};
  for (const auto& c : cases) EXPECT_EQ(bodyFileName(c.mesh, c.system, "f"), c.expected);
}

}  // namespace
