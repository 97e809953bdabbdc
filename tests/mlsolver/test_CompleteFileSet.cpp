// The writer every output file goes through: a set lands whole or not at all.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "duriz/mlsolver/CompleteFileSet.h"
#include "duriz/mlsolver/writeCompleteFile.h"
#include "testSupport.h"

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;
using testsupport::readFile;

fs::path freshFolder(const std::string& name) {
  const fs::path folder = testsupport::tempPath(name);
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

Names namesIn(const fs::path& folder) {
  Names names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

TEST(CompleteFileSet, ASetWithABadFinalNameLandsNone) {
  const fs::path folder = freshFolder("bad-names");
  const std::string earlier = (folder / "a.vtk").string();
  fs::create_directory(folder / "sub");
  const struct {
    std::string name;
    const char* reason;
  } cases[] = {{std::string(NAME_MAX + 1, 'n'), "File name too long"},
               {"missing/b.vtk", "No such file or directory"},
               {"a.vtk/b.vtk", "Not a directory"},
               {"sub", "Is a directory"},
               {std::string("b\0.vtk", 6), "holds a NUL character"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    std::ofstream(earlier) << "old";
    std::string told;
    {
      CompleteFileSet files;
      ASSERT_TRUE(files.add(earlier, "new", 3));
      try {
        EXPECT_FALSE(files.add(folder.string() + "/" + c.name, "x", 1) && files.commit());
        told = files.failure();
      } catch (const std::invalid_argument& e) {
        told = e.what();
      }
    }
    EXPECT_PRED_FORMAT2(testing::IsSubstring, c.reason, told);
    EXPECT_EQ(readFile(earlier), "old");
    EXPECT_EQ(namesIn(folder), (Names{"a.vtk", "sub"}));
  }
  fs::remove_all(folder);
}

}  // namespace
