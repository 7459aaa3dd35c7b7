// The HID seam: the only way the device layer reaches a HID device.
//
// The session layer (hid_session.cpp) calls hidapi's nine functions through
// this table, never directly, plus a removal watch that hidapi lacks. The
// shipped programs install the hidapi + libudev backend (hidapi_backend.h);
// tests, benchmarks and demos install the virtual converter (sim/), so all
// code above the seam runs unchanged on both.
//
// Every member has hidapi's own signature and contract. A backend must fill
// all members; the device layer calls none of them concurrently except
// `stop_removal_watch`, which may run while the watch thread is reporting.
#pragma once

#include <hidapi/hidapi.h>

#include <cstddef>

namespace ktq {

// Called by the backend's watch thread when the watched device is gone.
using HidRemovedFn = void (*)(void* context);

struct HidBackend {
  // RCInit: prepares the backend. 0, or -1 when the platform's HID access
  // cannot be set up.
  int (*init)();

  // RCExit, after the device is closed: releases what init acquired. 0 or -1.
  int (*exit)();

  // RCEnumAndOpenDevice and the device listing, always with 0, 0 (every HID
  // device). Returns a linked list owned by the backend, or null when there
  // is no device (or on error); the caller hands it back to
  // free_enumeration.
  hid_device_info* (*enumerate)(unsigned short vendor_id, unsigned short product_id);

  // Releases a list returned by enumerate; accepts null.
  void (*free_enumeration)(hid_device_info* devices);

  // RCEnumAndOpenDevice / RCOpenDevice, always with a null serial: opens the
  // first device in enumeration order with exactly these IDs. The handle, or
  // null on failure.
  hid_device* (*open)(unsigned short vendor_id, unsigned short product_id, const wchar_t* serial);

  // RCCloseDevice: closes a handle returned by open (after its removal watch,
  // if any, was stopped). Never null.
  void (*close)(hid_device* device);

  // RCOpenDevice after a successful open, with 1. 0 or -1.
  int (*set_nonblocking)(hid_device* device, int nonblock);

  // Send primitive: one output report, data[0] is the report ID. The number
  // of bytes written, or -1; 0 or less counts as a failed send.
  int (*write)(hid_device* device, const unsigned char* data, size_t length);

  // Fetch primitive: GET_REPORT for the input report whose ID is in data[0];
  // the reply (report ID included) overwrites data. The number of bytes
  // received, or -1; 0 or less counts as a failed fetch.
  int (*get_input_report)(hid_device* device, unsigned char* data, size_t length);

  // Right after every successful open: starts watching `device` for removal
  // on a thread of the backend's own. When the device goes away the backend
  // calls on_removed(context) once, on that thread, and the thread then
  // ends. Returns an opaque watch token, or null when removal cannot be
  // watched (the device still works; removal then shows only as failed
  // transfers).
  void* (*start_removal_watch)(hid_device* device, HidRemovedFn on_removed, void* context);

  // Before close: stops the watch and waits for its thread to end; if the
  // callback is running, it is allowed to finish first. Accepts null.
  void (*stop_removal_watch)(void* token);

  // RCOpenDevicePath (hid_open_path): opens the device at this enumeration
  // path, so that one of several converters with the same IDs can be chosen.
  // The handle, or null on failure.
  hid_device* (*open_path)(const char* path);
};

}  // namespace ktq
