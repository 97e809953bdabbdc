#include "writeCompleteFile.h"

#include "CompleteFileSet.h"

bool writeCompleteFile(const std::string& path, const char* data, std::size_t size, std::string* failure) {
  CompleteFileSet file;
  if (file.add(path, data, size) && file.commit()) return true;
  if (failure != nullptr) *failure = file.failure();
  return false;
}
