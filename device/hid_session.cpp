#include "device/hid_session.h"

#include <algorithm>
#include <atomic>
#include <memory>

#include "report/format.h"
#include "report/report_callbacks.h"

namespace {

// One open device. Heap-allocated so the removal watch can hold a stable
// pointer to its flag for as long as the watch runs.
struct OpenDevice {
  // The backend that opened the device serves it until it is closed, even if
  // another one is installed meanwhile: a handle means nothing to any other.
  const ktq::HidBackend* backend = nullptr;
  hid_device* handle = nullptr;
  void* watch = nullptr;
  std::atomic<bool> removed{false};
};

struct SessionState {
  const ktq::HidBackend* backend = nullptr;
  std::unique_ptr<OpenDevice> open;
};

SessionState session;

// Runs on the backend's watch thread: mark first, so every transfer from now
// on fails at once, then tell the front end.
void OnDeviceRemoved(void* context) {
  auto* device = static_cast<OpenDevice*>(context);
  device->removed.store(true);
  ktq::ReportDeviceRemoved();
}

void CloseOpenDevice() {
  if (!session.open) return;
  std::unique_ptr<OpenDevice> device = std::move(session.open);
  device->backend->stop_removal_watch(device->watch);
  device->backend->close(device->handle);
}

void AdoptHandle(hid_device* handle) {
  auto device = std::make_unique<OpenDevice>();
  device->backend = session.backend;
  device->handle = handle;
  device->watch = session.backend->start_removal_watch(handle, OnDeviceRemoved, device.get());
  session.open = std::move(device);
}

std::vector<uint16_t> ParseFamilies() {
  std::vector<uint16_t> families{KTQ_PRODUCT_FAMILIES};
  return families;
}

std::string ToUtf8(const wchar_t* text) {
  std::string out;
  if (!text) return out;
  for (; *text; ++text) {
    auto c = static_cast<uint32_t>(*text);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Owns an enumeration list for the duration of one walk.
struct Enumeration {
  const ktq::HidBackend* backend;
  hid_device_info* head;
  explicit Enumeration(const ktq::HidBackend* b) : backend(b), head(b->enumerate(0, 0)) {}
  ~Enumeration() { backend->free_enumeration(head); }
  Enumeration(const Enumeration&) = delete;
  Enumeration& operator=(const Enumeration&) = delete;
};

}  // namespace

int32_t RCInit() {
  if (!session.backend) return -1;
  return session.backend->init() == 0 ? 0 : -1;
}

int32_t RCEnumAndOpenDevice() {
  RCCloseDevice();
  if (!session.backend) return -1;
  Enumeration list(session.backend);
  if (!list.head) return -1;
  const hid_device_info* match = nullptr;
  for (const hid_device_info* d = list.head; d; d = d->next) {
    if (ktq::IsSupportedConverter(d->vendor_id, d->product_id)) {
      match = d;
      break;
    }
  }
  if (!match) {
    ktq::ReportMessage("Can not find device!!\n");
    return -1;
  }
  hid_device* handle = session.backend->open(match->vendor_id, match->product_id, nullptr);
  if (!handle) {
    ktq::ReportMessage(FormatString("Device found but open FAILED (VID=%X, PID=%X)!!\n",
                                    static_cast<unsigned>(match->vendor_id),
                                    static_cast<unsigned>(match->product_id))
                           .c_str());
    return -1;
  }
  AdoptHandle(handle);
  return 0;
}

int32_t RCOpenDevice(uint16_t vendorId, uint16_t productId) {
  RCCloseDevice();
  hid_device* handle = session.backend ? session.backend->open(vendorId, productId, nullptr) : nullptr;
  if (!handle) {
    ktq::ReportMessage("Can not find device!!\n");
    return -1;
  }
  AdoptHandle(handle);
  session.open->backend->set_nonblocking(handle, 1);
  return 0;
}

int32_t RCOpenDevicePath(const char* path) {
  RCCloseDevice();
  hid_device* handle = session.backend && path ? session.backend->open_path(path) : nullptr;
  if (!handle) return -1;
  AdoptHandle(handle);
  return 0;
}

int32_t RCCloseDevice() {
  CloseOpenDevice();
  return 0;
}

int32_t RCExit() {
  RCCloseDevice();
  if (session.backend) session.backend->exit();
  return 0;
}

hid_device* DeviceHandle() { return session.open ? session.open->handle : nullptr; }

namespace ktq {

uint16_t SupportedVendorId() { return KTQ_VENDOR_ID; }

const std::vector<uint16_t>& SupportedProductFamilies() {
  static const std::vector<uint16_t> families = ParseFamilies();
  return families;
}

bool IsSupportedConverter(uint16_t vendorId, uint16_t productId) {
  const auto& families = SupportedProductFamilies();
  return vendorId == SupportedVendorId() &&
         std::find(families.begin(), families.end(), productId & 0xFF00) != families.end();
}

bool DeviceRemoved() { return session.open && session.open->removed.load(); }

int SendOutputReport(hid_device* device, const uint8_t* report) {
  const OpenDevice* open = session.open.get();
  if (!device || !open || open->handle != device || open->removed.load()) return -1;
  return open->backend->write(device, report, kReportSize);
}

int FetchInputReport(hid_device* device, uint8_t* report) {
  const OpenDevice* open = session.open.get();
  if (!device || !open || open->handle != device || open->removed.load()) return -1;
  return open->backend->get_input_report(device, report, kReportSize);
}

void SetHidBackend(const HidBackend* backend) { session.backend = backend; }

const HidBackend* InstalledHidBackend() { return session.backend; }

namespace {

std::vector<ConverterListing> ListDevices(bool supportedOnly) {
  std::vector<ConverterListing> found;
  if (!session.backend) return found;
  Enumeration list(session.backend);
  for (const hid_device_info* d = list.head; d; d = d->next) {
    if (supportedOnly && !IsSupportedConverter(d->vendor_id, d->product_id)) continue;
    found.push_back({d->path ? d->path : "", d->vendor_id, d->product_id, ToUtf8(d->product_string),
                     ToUtf8(d->serial_number)});
  }
  return found;
}

}  // namespace

std::vector<ConverterListing> ListSupportedConverters() { return ListDevices(true); }
std::vector<ConverterListing> ListHidDevices() { return ListDevices(false); }

}  // namespace ktq
