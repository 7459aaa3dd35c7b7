// A C stdio file that closes itself on every path out of an operation.
#pragma once

#include <cstdio>
#include <memory>

namespace ktq {

struct CFileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using CFile = std::unique_ptr<std::FILE, CFileCloser>;

inline CFile OpenCFile(const char* path, const char* mode) {
  return CFile(std::fopen(path, mode));
}

// Closes the file now and tells whether everything written reached the file
// system (buffered data is flushed by the close).
inline bool CloseCFile(CFile& file) {
  return std::fclose(file.release()) == 0;
}

}  // namespace ktq
