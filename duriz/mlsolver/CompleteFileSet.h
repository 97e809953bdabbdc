// Output files that land together: each is written in full beside its final name, and they take their
// names only once every one of them is written. A set that fails or is dropped before commit leaves every
// earlier file as it was. The set touches no file but its targets and the temporaries it created, and a
// replaced file keeps its mode and, where the process may keep it, its owner.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

class CompleteFileSet {
 public:
  CompleteFileSet() = default;
  CompleteFileSet(const CompleteFileSet&) = delete;
  CompleteFileSet& operator=(const CompleteFileSet&) = delete;
  // Removes the temporaries of a set that was not committed.
  ~CompleteFileSet();

  // Writes size bytes as the coming content of path (a device or a pipe the path names is written in place,
  // at commit). Returns false, with failure() saying why, when they cannot be written, when the final name
  // cannot be given (too long, no such folder) or when open() would not open the file for writing; the set
  // then lands nothing. Throws std::invalid_argument for a path holding a NUL character, which would name
  // another file.
  bool add(const std::string& path, const char* data, std::size_t size);
  // Gives every written file its name. Returns false, with failure(), when the set failed before or a file
  // cannot take its name; files not yet named are then removed and those already named put back.
  bool commit();
  // "cannot write \"<path>\": <the system's reason>" for the first failure; empty while none.
  const std::string& failure() const { return failure_; }

 private:
  struct Entry {
    std::string target;     // the final name (a link resolved to the file it names)
    std::string temporary;  // beside the target; empty for a file written in place
    dev_t device = 0;       // the temporary's identity, so that a file put at its name
    ino_t inode = 0;        // by someone else is never removed
    std::string inPlace;    // the content of a device or pipe, written at commit
    std::string earlier;    // while the set lands: a second name of the file the target replaces
    bool landed = false;    // the temporary has taken the target's name
  };
  bool fail(const std::string& path, int error);
  bool fail(const std::string& path, const std::string& reason);
  // Creates entry's temporary under a name no file and no other entry has yet, writes the content and
  // gives it the mode and owner of the file it replaces (none for a new file). Returns 0 or the errno of
  // the failing call, with nothing left behind.
  int writeTemporary(Entry& entry, std::size_t maxName, const char* data, std::size_t size,
                     const struct stat* replaced);
  // Puts back the files that took their names before entry `failed` was refused its name.
  void undoLanding(std::size_t failed);
  // Removes the file at name only while it is the one entry's temporary was created as.
  static void removeOwn(const std::string& name, const Entry& entry);
  void removeTemporaries();

  std::vector<Entry> entries_;
  std::string failure_;
};
