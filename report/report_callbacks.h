// The five process-wide report slots through which the device logic talks to
// whatever front end is attached (window, command line, tests). Every slot may
// be null; a null slot silently drops its reports.
#pragma once

#include <cstdint>

using DeviceRemovedFn = void (*)();
using InfoTextFn = void (*)(const char* text);
using MessageTextFn = void (*)(const char* text);
using ClearMessageFn = void (*)();
using ProgressFn = void (*)(uint32_t percent);

// Stores the five slots in order (removed, info, message, clear, progress),
// overwriting what was there. Always 0.
int32_t RCSetCallbacks(DeviceRemovedFn removed, InfoTextFn info, MessageTextFn message,
                       ClearMessageFn clear, ProgressFn progress);

namespace ktq {

// Callers in the device logic report through these; each reads its slot at
// the moment of use and does nothing when it is null. The clear-messages slot
// is registered for the front end's sake only; the device logic never calls it.
void ReportDeviceRemoved();
void ReportInfo(const char* text);
void ReportMessage(const char* text);
void ReportProgress(uint32_t percent);

}  // namespace ktq
