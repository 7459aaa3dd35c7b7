// The host's HID devices as the virtual converter presents them: converters
// and foreign HID devices in enumeration order, reachable only through the
// HID seam (device/hid_seam.h), so the device layer cannot tell them from
// real ones.
//
// Several hosts may exist at once (tests make one each); Install() binds one
// of them to the process-wide seam, and the device layer then sees that one.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "device/hid_seam.h"
#include "sim/seam_binding.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

class VirtualHost {
 public:
  VirtualHost();
  ~VirtualHost();  // runs the shutdown hooks; unbinds the seam if bound
  VirtualHost(const VirtualHost&) = delete;
  VirtualHost& operator=(const VirtualHost&) = delete;

  // Identity defaults: path "sim:N", the build's vendor ID, the first
  // supported product family with model variant 0x01.
  VirtualConverter& AddConverter(DeviceIdentity identity);
  VirtualConverter& AddConverter();
  void AddForeignDevice(DeviceIdentity identity);

  size_t ConverterCount() const;
  VirtualConverter& Converter(size_t index);

  // hid_init fails (as when the platform's HID access cannot be set up).
  bool initFails = false;

  // Installs this host as the process-wide HID backend
  // (ktq::SetHidBackend); the previous backend is put back when the host is
  // destroyed or Uninstall is called.
  void Install();
  void Uninstall();

  // Handles open now (tests check that close really closes).
  int OpenHandleCount() const;

  // Runs when the host is destroyed, in the order added (per-scenario
  // options such as saving state at exit).
  void AddShutdownHook(std::function<void(VirtualHost&)> hook);

  // Puts the converters and the host's RC waits on virtual time
  // (sim/model_clock.h) until this host is destroyed.
  void RunOnVirtualTime();

  // The default identity fields, for scenario code.
  static DeviceIdentity DefaultConverterIdentity(size_t index);

  struct Device {
    DeviceIdentity identity;                      // foreign devices
    std::unique_ptr<VirtualConverter> converter;  // null for foreign devices
    const DeviceIdentity& Identity() const { return converter ? converter->Identity() : identity; }
  };
  const std::vector<Device>& Devices() const { return devices_; }

 private:
  friend struct HostBackend;
  std::vector<Device> devices_;
  std::vector<std::function<void(VirtualHost&)>> shutdownHooks_;
  SeamBinding<VirtualHost> binding_;
  bool virtualTime_ = false;
  mutable std::mutex mutex_;
  int openHandles_ = 0;
};

}  // namespace ktq::sim
