#include "report/report_callbacks.h"

#include <atomic>

namespace {

// Written once by the front end before any device operation, read by the
// operation thread and by the device-removal thread; atomics keep that
// hand-over well defined without a lock.
std::atomic<DeviceRemovedFn> removedSlot{nullptr};
std::atomic<InfoTextFn> infoSlot{nullptr};
std::atomic<MessageTextFn> messageSlot{nullptr};
std::atomic<ClearMessageFn> clearSlot{nullptr};
std::atomic<ProgressFn> progressSlot{nullptr};

}  // namespace

int32_t RCSetCallbacks(DeviceRemovedFn removed, InfoTextFn info, MessageTextFn message,
                       ClearMessageFn clear, ProgressFn progress) {
  removedSlot = removed;
  infoSlot = info;
  messageSlot = message;
  clearSlot = clear;
  progressSlot = progress;
  return 0;
}

namespace ktq {

void ReportDeviceRemoved() {
  if (auto fn = removedSlot.load()) fn();
}

void ReportInfo(const char* text) {
  if (auto fn = infoSlot.load()) fn(text);
}

void ReportMessage(const char* text) {
  if (auto fn = messageSlot.load()) fn(text);
}

void ReportProgress(uint32_t percent) {
  if (auto fn = progressSlot.load()) fn(percent);
}

}  // namespace ktq
