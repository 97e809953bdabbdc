// Writing an output file in one piece: either the whole content lands, or the file is left as it was.
#pragma once

#include <cstddef>
#include <string>

// Writes size bytes as the whole content of path, replacing an earlier file only once they are all
// written. Returns false when the file cannot be opened, written or closed, and then puts
// "cannot write \"<path>\": <the system's reason>" into *failure when given: nothing written is left
// behind (a device or a pipe the path names is written in place and left alone). Throws
// std::invalid_argument for a path holding a NUL character, which would name another file.
bool writeCompleteFile(const std::string& path, const char* data, std::size_t size, std::string* failure = nullptr);
