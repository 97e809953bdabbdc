#include "writeCompleteFile.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

bool writeCompleteFile(const std::string& path, const char* data, std::size_t size) {
  if (path.find('\0') != std::string::npos)
    throw std::invalid_argument("the output path \"" + path.substr(0, path.find('\0')) + "\" holds a NUL character");
  // A file is written beside its final name and renamed only when complete; a device or a pipe is
  // written in place (a file must not replace it). A link is followed to the file it names.
  std::error_code ec;
  fs::path target = path;
  if (fs::is_symlink(path, ec)) {
    target = fs::canonical(path, ec);
    if (ec) return false;
  }
  const bool inPlace = fs::exists(target, ec) && !fs::is_regular_file(target, ec);
  const fs::path written = inPlace ? target : fs::path(target.string() + ".part");
  std::ofstream file(written, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return false;
  file.write(data, static_cast<std::streamsize>(size));
  file.close();  // flushes: a full disk shows here
  if (inPlace) return static_cast<bool>(file);
  if (file) fs::rename(written, target, ec);
  if (file && !ec) return true;
  fs::remove(written, ec);
  return false;
}
