// An output file that replaces an existing one only once it is complete: the
// new contents go to a file beside it, which is renamed over the old one on
// Commit. Until then (and on every failure) the old file stays as it was.
#pragma once

#include <cstdio>
#include <string>

namespace ktq {

class FileReplacement {
 public:
  FileReplacement() = default;
  ~FileReplacement();  // an uncommitted file beside the target is removed
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Creates the file beside `path` (same folder, so the rename stays on one
  // file system). False when it cannot be created, or when `path` exists
  // and is not a regular file.
  bool Open(const std::string& path);
  std::FILE* File() const { return file_; }

  // Closes the file and renames it to the target. False when anything
  // written did not reach the file system or the rename failed; the file
  // beside is then removed and the target left alone.
  bool Commit();
  // The same, but under `otherPath` (a partial result kept under a name that
  // says so), leaving the target alone.
  bool CommitAs(const std::string& otherPath);

 private:
  void Discard();

  std::string target_;
  std::string beside_;
  std::FILE* file_ = nullptr;
};

}  // namespace ktq
