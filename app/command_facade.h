// The window layer's end of the report slots: the command facade RCCommand,
// the protocol its delegate conforms to, and the process-wide sharedCommand.
//
// Creating the facade initialises the HID layer and fills the five report
// slots with forwarding functions; each forwards to the delegate of the
// facade that sharedCommand holds at that moment, and does nothing when it
// holds none. Destroying the facade closes the device and shuts the HID
// layer down. No toolkit here: the delegate decides how reports reach its
// window.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// One requirement per report slot, in slot order. Each may be called on any
// thread (removal on the HID layer's watch thread, the others on the thread
// of the running operation) and must return without waiting for the main
// thread.
class RCCommandDelegete {
 public:
  virtual ~RCCommandDelegete() = default;
  virtual void deviceRemoved() = 0;
  virtual void appendInfoText(std::string text) = 0;
  virtual void appendMessageText(std::string text) = 0;
  virtual void clearMessageText() = 0;
  virtual void reportProgress(uint32_t percent) = 0;
};

class RCCommand {
 public:
  // RCInit (its result is not looked at), then the five slots.
  explicit RCCommand(std::shared_ptr<RCCommandDelegete> delegate);
  // RCExit, then the delegate is released.
  ~RCCommand();
  RCCommand(const RCCommand&) = delete;
  RCCommand& operator=(const RCCommand&) = delete;

  RCCommandDelegete* delegate() const { return delegate_.get(); }

 private:
  std::shared_ptr<RCCommandDelegete> delegate_;
};

// The slot that holds the process's facade. Written on the main thread
// only; read by the forwarding functions on whatever thread reports.
class SharedCommandSlot {
 public:
  // Stores `command` and destroys the facade held before, outside the lock:
  // its teardown waits for the removal watch thread, which may be about to
  // forward a report.
  void reset(std::unique_ptr<RCCommand> command = nullptr);
  bool empty() const;

  // Calls f(delegate) when a facade with a delegate is held; false when not.
  // The slot stays locked during the call, so once reset() has emptied the
  // slot no forwarded report reaches the old delegate any more; delegates
  // only post work, so the lock is held for moments.
  template <typename F>
  bool withDelegate(F&& f) const {
    std::lock_guard<std::mutex> lock(mutex_);
    RCCommandDelegete* d = command_ ? command_->delegate() : nullptr;
    if (!d) return false;
    f(*d);
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<RCCommand> command_;
};

extern SharedCommandSlot sharedCommand;
