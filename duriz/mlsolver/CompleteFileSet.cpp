#include "CompleteFileSet.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Writes the whole content into a file opened with flags; returns 0 or the errno of the failing call.
int writeFile(const std::string& path, int flags, const char* data, std::size_t size) {
  const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  int error = 0;
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = errno;
      break;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  // Some file systems report a full disk only when the file is closed.
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

std::size_t nameMax(const std::string& folder) {
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

}  // namespace

CompleteFileSet::~CompleteFileSet() { removeTemporaries(); }

bool CompleteFileSet::add(const std::string& path, const char* data, std::size_t size) {
  if (path.find('\0') != std::string::npos)
    throw std::invalid_argument("the output path \"" + path.substr(0, path.find('\0')) + "\" holds a NUL character");
  if (!failure_.empty()) return false;
  std::error_code ec;
  fs::path target = path;
  // A link is followed to the file it names.
  if (fs::is_symlink(target, ec)) {
    target = fs::canonical(path, ec);
    if (ec) return fail(path, ec.message());
  }
  if (target.filename().empty()) return fail(path, fs::is_directory(target, ec) ? EISDIR : ENOENT);
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) return fail(path, EISDIR);
  // A device or a pipe is written in place: a file must not replace it.
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    entries_.push_back({target.string(), "", std::string(data, size)});
    return true;
  }
  // Every final name is checked here, before any file lands: a rename refused part way through commit
  // would leave the set half landed.
  const std::size_t maxName = nameMax(target.has_parent_path() ? target.parent_path().string() : ".");
  if (target.filename().string().size() > maxName) return fail(path, ENAMETOOLONG);
  Entry entry{target.string(), temporaryName(target.string(), maxName), ""};
  // A file of that name left by an interrupted run is replaced; one planted as a link to another file
  // must not have that file truncated through it.
  ::unlink(entry.temporary.c_str());
  const int error = writeFile(entry.temporary, O_CREAT | O_EXCL, data, size);
  if (error != 0) {
    ::unlink(entry.temporary.c_str());
    return fail(path, error);
  }
  entries_.push_back(std::move(entry));
  return true;
}

bool CompleteFileSet::commit() {
  if (!failure_.empty()) return false;
  for (const Entry& e : entries_)
    if (e.temporary.empty()) {
      const int error = writeFile(e.target, O_TRUNC, e.inPlace.data(), e.inPlace.size());
      if (error != 0) return fail(e.target, error);
    }
  for (Entry& e : entries_) {
    if (e.temporary.empty()) continue;
    if (std::rename(e.temporary.c_str(), e.target.c_str()) != 0) return fail(e.target, errno);
    e.temporary.clear();
  }
  entries_.clear();
  return true;
}

bool CompleteFileSet::fail(const std::string& path, int error) {
  return fail(path, std::generic_category().message(error));
}

bool CompleteFileSet::fail(const std::string& path, const std::string& reason) {
  failure_ = "cannot write \"" + path + "\": " + reason;
  removeTemporaries();
  return false;
}

std::string CompleteFileSet::temporaryName(const std::string& target, std::size_t maxName) const {
  const fs::path t = target;
  const std::string name = t.filename().string();
  for (int k = 0;; ++k) {
    const std::string suffix = k == 0 ? ".part" : "." + std::to_string(k) + ".part";
    const std::string candidate =
        (t.parent_path() / (name.substr(0, maxName - std::min(maxName, suffix.size())) + suffix)).string();
    const bool used = std::any_of(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.temporary == candidate || e.target == candidate; });
    if (!used) return candidate;
  }
}

void CompleteFileSet::removeTemporaries() {
  for (const Entry& e : entries_)
    if (!e.temporary.empty()) ::unlink(e.temporary.c_str());
  entries_.clear();
}
