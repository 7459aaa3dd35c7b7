#include "operations/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace ktq {

FileReplacement::~FileReplacement() { Discard(); }

bool FileReplacement::Open(const std::string& path) {
  Discard();
  // Renaming over a device node, a FIFO or a folder would destroy it (and a
  // process run as root may create files in /dev): only a regular file or a
  // new name is replaced.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
  target_ = path;
  // The process ID keeps two processes writing the same target apart.
  beside_ = path + ".part-" + std::to_string(::getpid());
  const int fd = ::open(beside_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    ::close(fd);
    std::remove(beside_.c_str());
    return false;
  }
  return true;
}

bool FileReplacement::Commit() { return CommitAs(target_); }

bool FileReplacement::CommitAs(const std::string& otherPath) {
  if (!file_) return false;
  const bool written = std::ferror(file_) == 0 && std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!written || !closed || std::rename(beside_.c_str(), otherPath.c_str()) != 0) {
    std::remove(beside_.c_str());
    beside_.clear();
    return false;
  }
  beside_.clear();
  return true;
}

void FileReplacement::Discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!beside_.empty()) std::remove(beside_.c_str());
  beside_.clear();
}

}  // namespace ktq
