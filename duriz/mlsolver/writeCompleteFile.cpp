#include "writeCompleteFile.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

bool writeCompleteFile(const std::string& path, const char* data, std::size_t size) {
  if (path.find('\0') != std::string::npos)
    throw std::invalid_argument("the output path \"" + path.substr(0, path.find('\0')) + "\" holds a NUL character");
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return false;
  file.write(data, static_cast<std::streamsize>(size));
  file.close();  // flushes: a full disk shows here
  if (file) return true;
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) std::filesystem::remove(path, ec);
  return false;
}
