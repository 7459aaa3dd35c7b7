#include "app/command_facade.h"

#include "device/hid_session.h"
#include "report/report_callbacks.h"

SharedCommandSlot sharedCommand;

namespace {

// The slot functions. Texts are copied before the call returns: the device
// logic frees its buffer right after.
void ForwardDeviceRemoved() {
  sharedCommand.withDelegate([](RCCommandDelegete& d) { d.deviceRemoved(); });
}

void ForwardInfoText(const char* text) {
  if (sharedCommand.empty()) return;
  std::string copy(text);
  sharedCommand.withDelegate([&](RCCommandDelegete& d) { d.appendInfoText(std::move(copy)); });
}

void ForwardMessageText(const char* text) {
  if (sharedCommand.empty()) return;
  std::string copy(text);
  sharedCommand.withDelegate([&](RCCommandDelegete& d) { d.appendMessageText(std::move(copy)); });
}

void ForwardClearMessage() {
  sharedCommand.withDelegate([](RCCommandDelegete& d) { d.clearMessageText(); });
}

void ForwardProgress(uint32_t percent) {
  sharedCommand.withDelegate([&](RCCommandDelegete& d) { d.reportProgress(percent); });
}

}  // namespace

RCCommand::RCCommand(std::shared_ptr<RCCommandDelegete> delegate) {
  RCInit();
  delegate_ = std::move(delegate);
  RCSetCallbacks(ForwardDeviceRemoved, ForwardInfoText, ForwardMessageText, ForwardClearMessage, ForwardProgress);
}

RCCommand::~RCCommand() {
  RCExit();
  delegate_.reset();
}

void SharedCommandSlot::reset(std::unique_ptr<RCCommand> command) {
  std::unique_ptr<RCCommand> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::move(command_);
    command_ = std::move(command);
  }
}

bool SharedCommandSlot::empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return command_ == nullptr;
}
