// Reading and writing files that may be compressed: wire traces travel
// compressed (a flash session is megabytes of near-identical lines), and the
// regression traces in tests/ are stored as xz.
#pragma once

#include <cstddef>
#include <string>

namespace ktq::sim {

// More than any session of this tool writes; a file that expands beyond it
// is refused instead of filling the memory.
constexpr size_t kMaxExpandedSize = size_t{256} << 20;

// The whole content of `path`: decompressed when it is an xz or gzip file
// (told by its first bytes), as it is otherwise. False with `error`
// ("PATH: No such file or directory", "PATH: damaged xz data") when it
// cannot be read.
bool ReadPossiblyCompressedFile(const std::string& path, std::string& text, std::string& error);

// `data` decompressed as ReadPossiblyCompressedFile does, without the file;
// more than `limit` bytes expanded is an error.
bool ExpandIfCompressed(const std::string& data, std::string& text, std::string& error,
                        size_t limit = kMaxExpandedSize);

// Writes `text` xz-compressed to `path`.
bool WriteXzFile(const std::string& path, const std::string& text, std::string& error);

}  // namespace ktq::sim
