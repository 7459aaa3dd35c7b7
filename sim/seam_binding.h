// Puts a virtual HID backend in the device layer's seam and takes it out
// again. The backend's functions serve whichever instance `current` points
// at, which the binding sets while it is bound.
#pragma once

#include "device/hid_seam.h"
#include "device/hid_session.h"

namespace ktq::sim {

template <typename Owner>
class SeamBinding {
 public:
  SeamBinding(const HidBackend& backend, Owner*& current) : backend_(&backend), current_(current) {}

  void Bind(Owner* owner) {
    if (bound_) return;
    previous_ = InstalledHidBackend();
    current_ = owner;
    bound_ = true;
    SetHidBackend(backend_);
  }

  void Unbind(Owner* owner) {
    if (!bound_) return;
    // A device of the owner still open would otherwise be closed later
    // through whatever backend comes next.
    if (InstalledHidBackend() == backend_ && ::DeviceHandle()) ::RCCloseDevice();
    if (current_ == owner) current_ = nullptr;
    bound_ = false;
    SetHidBackend(previous_);
  }

 private:
  const HidBackend* backend_;
  Owner*& current_;
  const HidBackend* previous_ = nullptr;
  bool bound_ = false;
};

}  // namespace ktq::sim
