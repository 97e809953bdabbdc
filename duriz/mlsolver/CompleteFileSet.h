// Output files that land together: each is written in full beside its final name, and they take their
// names only once every one of them is written. A set that fails or is dropped before commit leaves every
// earlier file as it was.
#pragma once

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
  // at commit). Returns false, with failure() saying why, when they cannot be written or when the final name
  // cannot be given (too long, no such folder); the set then lands nothing. Throws std::invalid_argument for
  // a path holding a NUL character, which would name another file.
  bool add(const std::string& path, const char* data, std::size_t size);
  // Gives every written file its name. Returns false, with failure(), when the set failed before or a file
  // cannot take its name; files not yet named are then removed.
  bool commit();
  // "cannot write \"<path>\": <the system's reason>" for the first failure; empty while none.
  const std::string& failure() const { return failure_; }

 private:
  struct Entry {
    std::string target;     // the final name (a link resolved to the file it names)
    std::string temporary;  // beside the target; empty for a file written in place
    std::string inPlace;    // the content of a device or pipe, written at commit
  };
  bool fail(const std::string& path, int error);
  bool fail(const std::string& path, const std::string& reason);
  // A name beside target that no other entry uses, within the folder's limit on name length.
  std::string temporaryName(const std::string& target, std::size_t maxName) const;
  void removeTemporaries();

  std::vector<Entry> entries_;
  std::string failure_;
};
