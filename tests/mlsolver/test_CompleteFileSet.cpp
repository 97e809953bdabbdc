// The writer every output file goes through: a set lands whole or not at all, it touches no file but its
// own temporaries and its targets.
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

// Files named as the writer's temporaries might be named belong to someone else, whether the write
// succeeds or fails.
TEST(CompleteFileSet, FilesBesideTheTargetAreLeftAlone) {
  enum Kind { file, link, folder };
  const std::string longest(NAME_MAX, 'n');
  const struct {
    std::string target, planted;
    Kind kind;
    bool fails;
  } cases[] = {
      {"a.json", "a.json.part", file, false},   {longest, longest.substr(0, NAME_MAX - 5) + ".part", file, false},
      {"a.json", "a.json.1.part", file, false}, {"a.json", "a.json.part", link, false},
      {"a.json", "a.json.part", folder, false}, {"a.json", "a.json.part", file, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.planted + (c.fails ? " failing" : ""));
    const fs::path dir = freshFolder("beside"), planted = dir / c.planted, other = dir / "other";
    std::ofstream(other) << "kept";
    if (c.kind == file) std::ofstream(planted) << "foreign";
    if (c.kind == link) fs::create_symlink(other, planted);
    if (c.kind == folder) fs::create_directory(planted);
    const std::string content(200, 'c');
    bool written = false;
    testsupport::withFileSizeLimit(c.fails ? 100 : RLIM_INFINITY, [&] {
      written = writeCompleteFile((dir / c.target).string(), content.data(), content.size());
    });
    EXPECT_EQ(written, !c.fails);
    EXPECT_EQ(namesIn(dir), (c.fails ? Names{c.planted, "other"} : Names{c.target, c.planted, "other"}));
    EXPECT_EQ(readFile((dir / c.target).string()), c.fails ? "" : content);
    EXPECT_EQ(readFile(other.string()), "kept");
    EXPECT_TRUE(c.kind != file || readFile(planted.string()) == "foreign");
    EXPECT_TRUE(c.kind != link || (fs::is_symlink(planted) && fs::read_symlink(planted) == other));
    EXPECT_TRUE(c.kind != folder || fs::is_empty(planted));
    fs::remove_all(dir);
  }
}

}  // namespace
