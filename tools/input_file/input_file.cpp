#include "tools/input_file/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ktq::input {

namespace {

template <typename Buffer>
bool ReadInto(const std::string& path, uint64_t maxBytes, const char* what, Buffer& out, std::string& error) {
  out.clear();
  // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = false;
  if (::fstat(fd, &st) != 0) {
    error = path + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = path + (S_ISDIR(st.st_mode) ? ": is a directory" : ": is not a regular file");
  } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    error = path + ": holds " + std::to_string(st.st_size) + " bytes, more than the " + std::to_string(maxBytes) +
            " " + what + " may hold";
  } else {
    // The size is read again as the data comes: a file that grows meanwhile
    // is cut at the limit and refused, never read without end.
    out.resize(static_cast<size_t>(st.st_size));
    size_t have = 0;
    ok = true;
    for (;;) {
      if (have == out.size()) {
        if (out.size() > maxBytes) {
          error = path + ": grew beyond the " + std::to_string(maxBytes) + " bytes " + what + " may hold";
          ok = false;
          break;
        }
        out.resize(out.size() + 4096);
      }
      const ssize_t n = ::read(fd, reinterpret_cast<char*>(out.data()) + have, out.size() - have);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = path + ": " + std::strerror(errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      have += static_cast<size_t>(n);
    }
    out.resize(ok ? have : 0);
  }
  ::close(fd);
  return ok;
}

}  // namespace

bool ReadInputFile(const std::string& path, uint64_t maxBytes, const char* what, std::vector<uint8_t>& out,
                   std::string& error) {
  return ReadInto(path, maxBytes, what, out, error);
}

bool ReadInputFile(const std::string& path, uint64_t maxBytes, const char* what, std::string& out,
                   std::string& error) {
  return ReadInto(path, maxBytes, what, out, error);
}

}  // namespace ktq::input
