// Device replies are outside data: the RC layer must survive any sequence of
// input reports (short, garbage, pending for ever, failing) within its
// budgets. The first input byte picks the operation, the rest is served as
// the device's input reports, 62 bytes a fetch (a short tail is a short
// reply; running out fails the fetch).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/hid_session.h"
#include "device/rc_command.h"
#include "device/rc_timing.h"

namespace {

const uint8_t* input;
size_t remaining;
uint8_t handleStorage;

ktq::RcClock::time_point fakeNow;
ktq::RcClock::time_point Now() { return fakeNow += std::chrono::milliseconds(1); }
void Sleep(std::chrono::microseconds d) { fakeNow += d; }

int Zero() { return 0; }
hid_device_info* Enumerate(unsigned short, unsigned short) {
  static hid_device_info info{};
  static char path[] = "fuzz";
  info.path = path;
  info.vendor_id = ktq::SupportedVendorId();
  info.product_id = ktq::SupportedProductFamilies().front();
  return &info;
}
void FreeEnumeration(hid_device_info*) {}
hid_device* Open(unsigned short, unsigned short, const wchar_t*) {
  return reinterpret_cast<hid_device*>(&handleStorage);
}
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
void* StartWatch(hid_device*, ktq::HidRemovedFn, void*) { return nullptr; }
void StopWatch(void*) {}

const ktq::HidBackend kReplayBackend = {Zero,  Zero,           Enumerate,      FreeEnumeration, Open,      Close,
                                        SetNonblocking, Write, GetInputReport, StartWatch,      StopWatch};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static bool ready = [] {
    ktq::SetHidBackend(&kReplayBackend);
    ktq::RcTiming timing;
    timing.now = Now;
    timing.sleep = Sleep;
    ktq::SetRcTiming(timing);
    RCInit();
    return RCEnumAndOpenDevice() == 0;
  }();
  if (!ready) return 0;
  input = data + 1;
  remaining = size - 1;
  const uint8_t pick = data[0];
  const uint32_t length = (pick & 0x3F) + 1;  // 1 to 64: one or more chunks
  std::vector<uint8_t> buffer(length, 0xA5);
  if (pick & 0x80)
    RCReadRegister(0x20200D30, length, buffer.data());
  else
    RCSetCommand(pick & 0x40 ? UPDC_ERASE_FLASH : UPDC_WRITE_TO_MEMORY, length, 0x90000000, buffer.data());
  return 0;
}
