// Paths are handed to the system as C strings, which end at the first NUL: a path holding one would name
// another file, or folder, than the caller wrote.
#pragma once

#include <stdexcept>
#include <string>

// Throws std::invalid_argument "<what> \"<path, NUL shown as \0>\" holds a NUL character" when it does.
inline const std::string& requireNoNul(const std::string& path, const std::string& what) {
  if (path.find('\0') == std::string::npos) return path;
  std::string shown;
  for (char c : path) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
  throw std::invalid_argument(what + " \"" + shown + "\" holds a NUL character");
}
