#include "sim/virtual_host.h"

#include <cstdlib>
#include <string>
#include <thread>

#include "device/hid_session.h"
#include "sim/hid_device_list.h"
#include "sim/model_clock.h"

namespace ktq::sim {

namespace {

VirtualHost* current = nullptr;

// What a hid_device* of the virtual host points to.
struct SimHandle {
  VirtualHost::Device* device;
};

// A removal watch: a thread waiting for the converter to be unplugged.
struct SimWatch {
  VirtualConverter* converter = nullptr;
  std::atomic<bool> stop{false};
  std::thread thread;
};

SimHandle* FromHid(hid_device* device) { return reinterpret_cast<SimHandle*>(device); }

}  // namespace

// The seam functions, bound to `current`.
struct HostBackend {
  static int Init() { return current && !current->initFails ? 0 : -1; }
  static int Exit() { return 0; }

  static hid_device_info* Enumerate(unsigned short vid, unsigned short pid) {
    if (!current) return nullptr;
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const auto& d : current->devices_) {
      if (d.converter) d.converter->ComeBackIfDue();
      if (d.converter && d.converter->Unplugged()) continue;
      const DeviceIdentity& id = d.Identity();
      if ((vid && id.vendorId != vid) || (pid && id.productId != pid)) continue;
      hid_device_info* info = NewHidDeviceInfo(id);
      *tail = info;
      tail = &info->next;
    }
    return head;
  }

  static void FreeEnumeration(hid_device_info* list) { FreeHidDeviceInfoList(list); }

  static hid_device* Open(unsigned short vid, unsigned short pid, const wchar_t* serial) {
    if (!current || serial) return nullptr;
    return OpenFirst([vid, pid](const DeviceIdentity& id) { return id.vendorId == vid && id.productId == pid; });
  }

  static hid_device* OpenPath(const char* path) {
    if (!current || !path) return nullptr;
    const std::string wanted = path;
    return OpenFirst([&wanted](const DeviceIdentity& id) { return id.path == wanted; });
  }

  // hid_open and hid_open_path take the first match, whether it opens or not.
  template <typename Match>
  static hid_device* OpenFirst(const Match& match) {
    for (auto& d : current->devices_) {
      if (d.converter) d.converter->ComeBackIfDue();
      if (d.converter && d.converter->Unplugged()) continue;
      if (!match(d.Identity())) continue;
      if (d.converter && d.converter->openFails) return nullptr;
      std::lock_guard<std::mutex> lock(current->mutex_);
      ++current->openHandles_;
      return reinterpret_cast<hid_device*>(new SimHandle{&d});
    }
    return nullptr;
  }

  static void Close(hid_device* device) {
    if (!device) return;
    if (current) {
      std::lock_guard<std::mutex> lock(current->mutex_);
      --current->openHandles_;
    }
    delete FromHid(device);
  }

  static int SetNonblocking(hid_device* device, int) { return device ? 0 : -1; }

  static int Write(hid_device* device, const unsigned char* data, size_t length) {
    VirtualConverter* c = device ? FromHid(device)->device->converter.get() : nullptr;
    if (!c) return device ? static_cast<int>(length) : -1;  // foreign devices swallow reports
    return c->ReceiveOutputReport(data, length);
  }

  static int GetInputReport(hid_device* device, unsigned char* data, size_t length) {
    VirtualConverter* c = device ? FromHid(device)->device->converter.get() : nullptr;
    if (!c) return -1;
    return c->ProvideInputReport(data, length);
  }

  static void* StartRemovalWatch(hid_device* device, HidRemovedFn onRemoved, void* context) {
    VirtualConverter* c = device ? FromHid(device)->device->converter.get() : nullptr;
    if (!c) return nullptr;
    auto* watch = new SimWatch;
    watch->converter = c;
    watch->thread = std::thread([watch, onRemoved, context] {
      if (watch->converter->WaitForUnplug(watch->stop)) onRemoved(context);
    });
    return watch;
  }

  static void StopRemovalWatch(void* token) {
    auto* watch = static_cast<SimWatch*>(token);
    if (!watch) return;
    watch->stop.store(true);
    watch->converter->WakeWaiters();
    watch->thread.join();
    delete watch;
  }
};

namespace {

const HidBackend kHostBackend = {
    HostBackend::Init,           HostBackend::Exit,           HostBackend::Enumerate,
    HostBackend::FreeEnumeration, HostBackend::Open,          HostBackend::Close,
    HostBackend::SetNonblocking, HostBackend::Write,          HostBackend::GetInputReport,
    HostBackend::StartRemovalWatch, HostBackend::StopRemovalWatch, HostBackend::OpenPath,
};

}  // namespace

VirtualHost::VirtualHost() : binding_(kHostBackend, current) {}

VirtualHost::~VirtualHost() {
  for (auto& hook : shutdownHooks_) hook(*this);
  Uninstall();
  // After the hooks, which may still read the time.
  if (virtualTime_) UseVirtualTime(false);
}

void VirtualHost::RunOnVirtualTime() {
  UseVirtualTime(true);
  virtualTime_ = true;
}

DeviceIdentity VirtualHost::DefaultConverterIdentity(size_t index) {
  DeviceIdentity id;
  id.path = "sim:" + std::to_string(index);
  id.vendorId = ktq::SupportedVendorId();
  id.productId = static_cast<uint16_t>(ktq::SupportedProductFamilies().front() | 0x01);
  id.manufacturer = "KTQ";
  id.product = "KTQ virtual converter";
  id.serial = "SIM" + std::to_string(index);
  return id;
}

VirtualConverter& VirtualHost::AddConverter(DeviceIdentity identity) {
  Device d;
  d.converter = std::make_unique<VirtualConverter>(std::move(identity));
  devices_.push_back(std::move(d));
  return *devices_.back().converter;
}

VirtualConverter& VirtualHost::AddConverter() { return AddConverter(DefaultConverterIdentity(devices_.size())); }

void VirtualHost::AddForeignDevice(DeviceIdentity identity) {
  Device d;
  d.identity = std::move(identity);
  devices_.push_back(std::move(d));
}

size_t VirtualHost::ConverterCount() const {
  size_t n = 0;
  for (const auto& d : devices_) n += d.converter ? 1 : 0;
  return n;
}

VirtualConverter& VirtualHost::Converter(size_t index) {
  for (auto& d : devices_) {
    if (d.converter && index-- == 0) return *d.converter;
  }
  std::abort();  // a test asked for a converter its scenario does not have
}

void VirtualHost::Install() { binding_.Bind(this); }

void VirtualHost::Uninstall() { binding_.Unbind(this); }

int VirtualHost::OpenHandleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openHandles_;
}

void VirtualHost::AddShutdownHook(std::function<void(VirtualHost&)> hook) { shutdownHooks_.push_back(std::move(hook)); }

}  // namespace ktq::sim
