#include "CompleteFileSet.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Names tried for one temporary before the set gives up: each clash is a file someone else owns.
constexpr int kTemporaryAttempts = 100;

// Writes the whole content to fd; returns 0 or the errno of the failing call.
int writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// Writes the content of a device or a pipe in place; returns 0 or the errno of the failing call.
int writeInPlace(const std::string& path, const char* data, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = writeAll(fd, data, size);
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

// Six letters or digits that another writer cannot foresee: for a temporary after a clash, and for the
// second name of each file a set replaces.
std::string randomTag() {
  static const char symbols[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device source;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof symbols - 2);
  std::string tag(6, ' ');
  for (char& c : tag) c = symbols[pick(source)];
  return tag;
}

std::size_t nameMax(const std::string& folder) {
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

// target's name (cut to the folder's limit on name length) with suffix, beside target.
std::string besideName(const std::string& target, std::size_t maxName, const std::string& suffix) {
  const fs::path t = target;
  return (t.parent_path() / (t.filename().string().substr(0, maxName - std::min(maxName, suffix.size())) + suffix))
      .string();
}

// Candidate `attempt` for a temporary: the plain "<name>.part" first, a name no one can foresee after a clash.
std::string temporaryName(const std::string& target, std::size_t maxName, int attempt) {
  return besideName(target, maxName, attempt == 0 ? ".part" : "." + randomTag() + ".part");
}

// A second name (a hard link) for the file at target, so that it can be put back; empty when there is no
// such file or the folder allows no link there.
std::string keepEarlier(const std::string& target) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  const std::size_t maxName = nameMax(fs::path(target).parent_path().string());
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    const std::string name = besideName(target, maxName, "." + randomTag() + ".keep");
    if (::link(target.c_str(), name.c_str()) == 0) return name;
    if (errno != EEXIST) break;
  }
  return "";
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
    Entry entry;
    entry.target = target.string();
    entry.inPlace.assign(data, size);
    entries_.push_back(std::move(entry));
    return true;
  }
  // Every final name is checked here, before any file lands, so that commit seldom has to put files back.
  const std::size_t maxName = nameMax(target.has_parent_path() ? target.parent_path().string() : ".");
  if (target.filename().string().size() > maxName) return fail(path, ENAMETOOLONG);
  // A file that open() would not open for writing is not replaced either.
  struct stat replaced {};
  const bool replacing = fs::exists(status);
  if (replacing &&
      (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 || ::stat(target.c_str(), &replaced) != 0))
    return fail(path, errno);
  Entry entry;
  entry.target = target.string();
  const int error = writeTemporary(entry, maxName, data, size, replacing ? &replaced : nullptr);
  if (error != 0) return fail(path, error);
  entries_.push_back(std::move(entry));
  return true;
}

bool CompleteFileSet::commit() {
  if (!failure_.empty()) return false;
  for (const Entry& e : entries_)
    if (e.temporary.empty()) {
      const int error = writeInPlace(e.target, e.inPlace.data(), e.inPlace.size());
      if (error != 0) return fail(e.target, error);
    }
  // Until every file has its name, each file replaced is kept under a second name, so that a rename refused
  // part way (an append-only file, a folder where only a file's owner may replace it) can be undone.
  for (Entry& e : entries_)
    if (!e.temporary.empty()) e.earlier = keepEarlier(e.target);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    if (e.temporary.empty()) continue;
    if (std::rename(e.temporary.c_str(), e.target.c_str()) != 0) {
      const int error = errno;
      undoLanding(i);
      return fail(e.target, error);
    }
    e.temporary.clear();
    e.landed = true;
  }
  for (const Entry& e : entries_)
    if (!e.earlier.empty()) ::unlink(e.earlier.c_str());
  entries_.clear();
  return true;
}

void CompleteFileSet::undoLanding(std::size_t failed) {
  for (std::size_t i = failed; i-- > 0;) {
    Entry& e = entries_[i];
    if (!e.landed) continue;
    if (e.earlier.empty())
      removeOwn(e.target, e);
    else if (std::rename(e.earlier.c_str(), e.target.c_str()) == 0)
      e.earlier.clear();
  }
  // The second names of files not replaced go; one that could not be put back stays, the only copy left.
  for (const Entry& e : entries_)
    if (!e.earlier.empty() && !e.landed) ::unlink(e.earlier.c_str());
}

bool CompleteFileSet::fail(const std::string& path, int error) {
  return fail(path, std::generic_category().message(error));
}

bool CompleteFileSet::fail(const std::string& path, const std::string& reason) {
  failure_ = "cannot write \"" + path + "\": " + reason;
  removeTemporaries();
  return false;
}

int CompleteFileSet::writeTemporary(Entry& entry, std::size_t maxName, const char* data, std::size_t size,
                                    const struct stat* replaced) {
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    if (attempt == kTemporaryAttempts) return EEXIST;
    entry.temporary = temporaryName(entry.target, maxName, attempt);
    if (std::any_of(entries_.begin(), entries_.end(),
                    [&](const Entry& e) { return e.temporary == entry.temporary || e.target == entry.temporary; }))
      continue;
    // Created exclusively: a file or a link already at that name is someone else's and is left alone.
    // Only the owner may read a replacement while it is written; it takes the replaced file's mode at the end.
    fd = ::open(entry.temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, replaced ? 0600 : 0666);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  struct stat own {};
  int error = ::fstat(fd, &own) != 0 ? errno : 0;
  entry.device = own.st_dev;
  entry.inode = own.st_ino;
  if (error == 0) error = writeAll(fd, data, size);
  if (error == 0 && replaced != nullptr) {
    mode_t mode = replaced->st_mode & 07777;
    // Another owner is kept where the process may give the file away; a file it cannot give away must
    // not become set-user or set-group of the writer.
    if (::fchown(fd, replaced->st_uid, replaced->st_gid) != 0) mode &= ~(S_ISUID | S_ISGID);
    if (::fchmod(fd, mode) != 0) error = errno;
  }
  // Some file systems report a full disk only when the file is closed.
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    if (entry.inode != 0) removeOwn(entry.temporary, entry);
    entry.temporary.clear();
  }
  return error;
}

void CompleteFileSet::removeOwn(const std::string& name, const Entry& entry) {
  struct stat now {};
  if (::lstat(name.c_str(), &now) == 0 && now.st_dev == entry.device && now.st_ino == entry.inode)
    ::unlink(name.c_str());
}

void CompleteFileSet::removeTemporaries() {
  for (const Entry& e : entries_)
    if (!e.temporary.empty()) removeOwn(e.temporary, e);
  entries_.clear();
}
