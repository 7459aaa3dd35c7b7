// Sends the code under test's standard output to /dev/null before the first
// input. libFuzzer reports on standard error, which stays as it is.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY);
  if (null >= 0) {
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
  }
  return 0;
}
