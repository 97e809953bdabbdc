// Writing an output file in one piece: either the whole content lands, or no file is left behind.
#pragma once

#include <cstddef>
#include <string>

// Writes size bytes as the whole content of path (created or truncated). Returns false when the file
// cannot be opened, written or closed; what was written is then removed again, unless the path names
// something other than a regular file (a device or a pipe is not ours to remove). Throws
// std::invalid_argument for a path holding a NUL character, which would name another file.
bool writeCompleteFile(const std::string& path, const char* data, std::size_t size);
