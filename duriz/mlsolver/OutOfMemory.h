// Memory that cannot be had for a script's own data (a lattice, a point set): a std::bad_alloc that says
// what was asked for, which scripts see as MemoryError.
#pragma once

#include <new>
#include <stdexcept>
#include <string>

class OutOfMemory : public std::bad_alloc {
 public:
  explicit OutOfMemory(const std::string& what) : what_(what) {}
  const char* what() const noexcept override { return what_.what(); }

 private:
  std::runtime_error what_;  // copies of it share the text without allocating
};
