#include "fuzz/replay_backend.h"

#include <chrono>
#include <cstring>

#include "device/hid_session.h"
#include "device/rc_timing.h"

namespace ktq::fuzz {

namespace {

const uint8_t* input;
size_t remaining;
uint8_t handleStorage;

RcClock::time_point fakeNow;
RcClock::time_point Now() { return fakeNow += std::chrono::milliseconds(1); }
void Sleep(std::chrono::microseconds d) { fakeNow += d; }

int Zero() { return 0; }
hid_device_info* Enumerate(unsigned short, unsigned short) {
  static hid_device_info info{};
  static char path[] = "fuzz";
  info.path = path;
  info.vendor_id = SupportedVendorId();
  info.product_id = SupportedProductFamilies().front();
  return &info;
}
void FreeEnumeration(hid_device_info*) {}
hid_device* Open(unsigned short, unsigned short, const wchar_t*) { return reinterpret_cast<hid_device*>(&handleStorage); }
void Close(hid_device*) {}
int SetNonblocking(hid_device*, int) { return 0; }
int Write(hid_device*, const unsigned char*, size_t length) { return static_cast<int>(length); }
int GetInputReport(hid_device*, unsigned char* data, size_t length) {
  if (remaining == 0) return -1;
  const size_t n = remaining < length ? remaining : length;
  std::memcpy(data, input, n);
  input += n;
  remaining -= n;
  return static_cast<int>(n);
}
void* StartWatch(hid_device*, HidRemovedFn, void*) { return nullptr; }
void StopWatch(void*) {}
hid_device* OpenPath(const char*) { return reinterpret_cast<hid_device*>(&handleStorage); }

const HidBackend kReplayBackend = {Zero,  Zero,           Enumerate,      FreeEnumeration, Open,     Close,
                                   SetNonblocking, Write, GetInputReport, StartWatch,      StopWatch,
                                   OpenPath};

}  // namespace

bool OpenReplayConverter() {
  static const bool ready = [] {
    SetHidBackend(&kReplayBackend);
    RcTiming timing;
    timing.now = Now;
    timing.sleep = Sleep;
    SetRcTiming(timing);
    RCInit();
    return RCEnumAndOpenDevice() == 0;
  }();
  return ready;
}

void ServeReplies(const uint8_t* data, size_t size) {
  input = data;
  remaining = size;
}

}  // namespace ktq::fuzz
