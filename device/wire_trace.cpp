#include "device/wire_trace.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <unistd.h>

#include "device/hid_session.h"

namespace {

struct TraceState {
  const ktq::HidBackend* inner = nullptr;
  std::FILE* file = nullptr;
  std::string path;    // the trace file asked for
  std::string beside;  // where it is written until it is complete
  int writeError = 0;  // errno of the first failed write
  std::chrono::steady_clock::time_point start;
  // The removal line comes from the watch thread.
  std::mutex mutex;
};

TraceState trace;

void Record(const char* word, const unsigned char* bytes = nullptr) {
  std::lock_guard<std::mutex> lock(trace.mutex);
  if (!trace.file) return;
  const auto us =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - trace.start).count();
  char line[32 + 3 * ktq::kReportSize];
  int used = std::snprintf(line, 32, "%lld %s", static_cast<long long>(us), word);
  if (bytes) {
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < ktq::kReportSize; ++i) {
      line[used++] = ' ';
      line[used++] = digits[bytes[i] >> 4];
      line[used++] = digits[bytes[i] & 0x0F];
    }
  }
  line[used++] = '\n';
  if (std::fwrite(line, 1, static_cast<size_t>(used), trace.file) != static_cast<size_t>(used) ||
      std::fflush(trace.file) != 0) {
    if (trace.writeError == 0) trace.writeError = errno != 0 ? errno : EIO;
  }
}

int TracedInit() { return trace.inner->init(); }
int TracedExit() { return trace.inner->exit(); }

hid_device_info* TracedEnumerate(unsigned short vid, unsigned short pid) { return trace.inner->enumerate(vid, pid); }

void TracedFreeEnumeration(hid_device_info* devices) { trace.inner->free_enumeration(devices); }

hid_device* TracedOpen(unsigned short vid, unsigned short pid, const wchar_t* serial) {
  hid_device* device = trace.inner->open(vid, pid, serial);
  if (device) Record("OPEN");
  return device;
}

hid_device* TracedOpenPath(const char* path) {
  hid_device* device = trace.inner->open_path(path);
  if (device) Record("OPEN");
  return device;
}

void TracedClose(hid_device* device) {
  trace.inner->close(device);
  Record("CLOSE");
}

int TracedSetNonblocking(hid_device* device, int nonblock) { return trace.inner->set_nonblocking(device, nonblock); }

// A transfer's line: the report on success, the failure word otherwise.
int RecordTransfer(int result, size_t length, const unsigned char* data, const char* word, const char* failWord) {
  if (result > 0 && length == ktq::kReportSize)
    Record(word, data);
  else
    Record(failWord);
  return result;
}

int TracedWrite(hid_device* device, const unsigned char* data, size_t length) {
  return RecordTransfer(trace.inner->write(device, data, length), length, data, "OUT", "OUT-FAIL");
}

int TracedGetInputReport(hid_device* device, unsigned char* data, size_t length) {
  return RecordTransfer(trace.inner->get_input_report(device, data, length), length, data, "IN", "IN-FAIL");
}

// The wrapped watch: records the removal, then passes it on.
struct TracedWatch {
  ktq::HidRemovedFn onRemoved;
  void* context;
  void* innerToken;
};

void TracedRemoved(void* context) {
  auto* watch = static_cast<TracedWatch*>(context);
  Record("REMOVED");
  watch->onRemoved(watch->context);
}

void* TracedStartRemovalWatch(hid_device* device, ktq::HidRemovedFn onRemoved, void* context) {
  auto* watch = new TracedWatch{onRemoved, context, nullptr};
  watch->innerToken = trace.inner->start_removal_watch(device, TracedRemoved, watch);
  if (!watch->innerToken) {
    delete watch;
    return nullptr;
  }
  return watch;
}

void TracedStopRemovalWatch(void* token) {
  auto* watch = static_cast<TracedWatch*>(token);
  if (!watch) return;
  trace.inner->stop_removal_watch(watch->innerToken);
  delete watch;
}

const ktq::HidBackend kTracedBackend = {
    TracedInit,  TracedExit,           TracedEnumerate, TracedFreeEnumeration,   TracedOpen,
    TracedClose, TracedSetNonblocking, TracedWrite,     TracedGetInputReport, TracedStartRemovalWatch,
    TracedStopRemovalWatch, TracedOpenPath,
};

}  // namespace

namespace ktq {

bool StartWireTrace(const std::string& path, std::string& error) {
  const HidBackend* installed = InstalledHidBackend();
  if (!installed) {
    error = "no HID backend installed";
    return false;
  }
  StopWireTrace();
  // Written beside the file and renamed when the trace ends, so that an
  // existing trace is replaced only by a whole new one.
  const std::string beside = path + ".part-" + std::to_string(::getpid());
  std::FILE* file = std::fopen(beside.c_str(), "w");
  if (!file) {
    error = "cannot write trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(trace.mutex);
    trace.inner = InstalledHidBackend();
    trace.file = file;
    trace.path = path;
    trace.beside = beside;
    trace.writeError = 0;
    trace.start = std::chrono::steady_clock::now();
  }
  SetHidBackend(&kTracedBackend);
  return true;
}

bool StopWireTrace(std::string* error) {
  if (InstalledHidBackend() == &kTracedBackend) SetHidBackend(trace.inner);
  std::lock_guard<std::mutex> lock(trace.mutex);
  if (!trace.file) return true;
  int failure = trace.writeError;
  if (std::fclose(trace.file) != 0 && failure == 0) failure = errno != 0 ? errno : EIO;
  trace.file = nullptr;
  if (failure == 0 && std::rename(trace.beside.c_str(), trace.path.c_str()) != 0) failure = errno;
  if (failure != 0) {
    std::remove(trace.beside.c_str());
    if (error) *error = "the trace file " + trace.path + " could not be written: " + std::strerror(failure);
    return false;
  }
  return true;
}

}  // namespace ktq
