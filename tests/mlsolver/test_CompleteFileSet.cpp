// The writer every output file goes through: a set lands whole or not at all, it touches no file but its
// own temporaries and its targets, and a replaced file keeps its mode and owner.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

// Marks a file append-only (or clears the mark): it may then be written but not replaced. False where the
// file system or the process's rights do not allow it.
bool markAppendOnly(const fs::path& path, bool on) {
  const int fd = open(path.c_str(), O_RDONLY);
  int flags = 0;
  bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  if (fd >= 0) close(fd);
  return done;
}

// A name that cannot be given is refused before any file lands; a name that is refused only while the
// set lands (an append-only file cannot be replaced) has the files landed before it put back.
TEST(CompleteFileSet, ASetWithABadFinalNameLandsNone) {
  const fs::path folder = freshFolder("bad-names");
  const std::string earlier = (folder / "a.vtk").string(), added = (folder / "c.vtk").string();
  fs::create_directory(folder / "sub");
  std::ofstream(folder / "log.vtk") << "kept";
  const bool appendOnly = markAppendOnly(folder / "log.vtk", true);
  const struct {
    std::string name;
    const char* reason;
  } cases[] = {{std::string(NAME_MAX + 1, 'n'), "File name too long"},
               {"missing/b.vtk", "No such file or directory"},
               {"a.vtk/b.vtk", "Not a directory"},
               {"sub", "Is a directory"},
               {std::string("b\0.vtk", 6), "holds a NUL character"},
               {"log.vtk", "Operation not permitted"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    if (c.name == "log.vtk" && !appendOnly) {
      std::printf("this file system makes no file append-only: the refused rename is not tried\n");
      continue;
    }
    std::ofstream(earlier) << "old";
    std::string told;
    {
      CompleteFileSet files;
      ASSERT_TRUE(files.add(earlier, "new", 3) && files.add(added, "new", 3));
      try {
        EXPECT_FALSE(files.add(folder.string() + "/" + c.name, "x", 1) && files.commit());
        told = files.failure();
      } catch (const std::invalid_argument& e) {
        told = e.what();
      }
    }
    EXPECT_PRED_FORMAT2(testing::IsSubstring, c.reason, told);
    EXPECT_EQ(readFile(earlier), "old");
    EXPECT_EQ(readFile((folder / "log.vtk").string()), "kept");
    EXPECT_EQ(namesIn(folder), (Names{"a.vtk", "log.vtk", "sub"}));
  }
  markAppendOnly(folder / "log.vtk", false);
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
  } cases[] = {{"a.json", "a.json.part", file, false},
               {longest, longest.substr(0, NAME_MAX - 5) + ".part", file, false},
               {"a.json", "a.json.part", link, false},
               {"a.json", "a.json.part", folder, false},
               {"a.json", "a.json.part", file, true}};
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

std::string octal(mode_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
  return text;
}

// Writes over each kind of file in a fresh folder and returns what differs from open()'s verdict: a file
// open() would not open for writing is refused with its reason and left as it was; any other keeps its
// mode, owner and links. Empty when nothing differs.
std::string modeMismatches(const std::string& name) {
  const struct {
    mode_t mode;
    bool throughLink;
  } cases[] = {{0444, false}, {0600, true}, {0755, false}, {02750, false}, {0, false}};
  const fs::path dir = freshFolder(name);
  const mode_t oldMask = umask(027);
  std::string mismatches;
  const auto expect = [&](bool ok, const std::string& what, mode_t mode) {
    if (!ok) mismatches += "mode " + octal(mode) + ": " + what + "\n";
  };
  for (const auto& c : cases) {
    const fs::path target = dir / "target.json", link = dir / "link.json";
    const bool existing = c.mode != 0;
    if (existing) {
      std::ofstream(target) << "old";
      // Root may give the file to another user; the writer must then keep that owner too. Mode last: a
      // change of owner clears the set-group bit.
      if (geteuid() == 0 && chown(target.c_str(), 65534, 65534) != 0) expect(false, "chown", c.mode);
      chmod(target.c_str(), c.mode);
    }
    if (c.throughLink) fs::create_symlink(target, link);
    struct stat before {};
    stat(target.c_str(), &before);
    const int probe = existing ? open(target.c_str(), O_WRONLY) : 0;
    const std::string refusal = probe < 0 ? std::strerror(errno) : "";
    if (existing && probe >= 0) close(probe);
    const std::string path = (c.throughLink ? link : target).string();
    std::string failure;
    const bool written = writeCompleteFile(path, "new", 3, &failure);
    struct stat after {};
    stat(target.c_str(), &after);
    const mode_t expected = existing ? c.mode : 0640;
    expect(written == refusal.empty(), "written " + std::to_string(written), c.mode);
    expect(failure == (refusal.empty() ? "" : "cannot write \"" + path + "\": " + refusal), failure, c.mode);
    expect(readFile(target.string()) == (written ? "new" : "old"), "content " + readFile(target.string()), c.mode);
    expect((after.st_mode & 07777) == expected, "mode after " + octal(after.st_mode & 07777), c.mode);
    expect(!existing || (after.st_uid == before.st_uid && after.st_gid == before.st_gid), "owner", c.mode);
    expect(!c.throughLink || fs::is_symlink(link), "the link is gone", c.mode);
    expect(namesIn(dir).size() == (c.throughLink ? 2u : 1u), "left files", c.mode);
    fs::remove(target);
    fs::remove(link);
  }
  umask(oldMask);
  fs::remove_all(dir);
  return mismatches;
}

TEST(CompleteFileSet, AReplacedFileKeepsItsModeAndOwnerAndAnUnwritableOneIsRefused) {
  EXPECT_EQ(modeMismatches("modes"), "");
  // The same as a user without root's right to write any file.
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(2);
        const std::string mismatches = modeMismatches("modes-unprivileged");
        std::fputs(mismatches.c_str(), stderr);
        std::_Exit(mismatches.empty() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
