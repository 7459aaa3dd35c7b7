// The controller of the tool's one window: which buttons are usable, the
// flows behind them (open/close, the two firmware updates, the dump, the
// Tefra log, quit), and the presentation of the reports that come back
// through the command facade. It knows no toolkit; it drives the window
// through WindowPort.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/command_facade.h"
#include "app/window_port.h"

namespace ktq::app {

enum class ButtonState : uint32_t { opened = 0, closed = 1, busy = 2, ready = 3 };

// Standard build: the cascade-update button is hidden. Cascade build: shown.
enum class BuildVariant { standard, cascade };

// The device operations the flows call, each with its device-logic result
// (0 success).
struct DeviceOperations {
  int32_t (*enumAndOpenDevice)();
  int32_t (*closeDevice)();
  int32_t (*identifyChip)();
  int32_t (*updateFirmware)(const char* path);
  int32_t (*cascadeUpdate)(const char* path);
  int32_t (*saveTefraLog)(const char* path, bool sendControl);
  int32_t (*dumpAll)(const char* path, const char* version);
};

// The device logic's own operations.
DeviceOperations DeviceLogicOperations();

class ViewController : public RCCommandDelegete, public std::enable_shared_from_this<ViewController> {
 public:
  // `version` is the application's version, which goes into the dump header.
  ViewController(WindowPort& window, BuildVariant variant, std::string version,
                 DeviceOperations operations = DeviceLogicOperations());
  ~ViewController() override;

  // Empties the fields, puts the buttons into `closed`, hides the cascade
  // button in the standard build, and creates the facade (sharedCommand).
  void viewDidLoad();

  // Button actions, on the main thread.
  void openDeviceWithSender();
  void fileToFlashWithSender();
  void cascadeUpdateWithSender();
  void dumpAll();
  void saveEmbeddedTefra();
  void quitApp();

  void setButtonState(ButtonState state);

  // Releases the facade if it is still this controller's (the window is
  // going away without Quit): the device is closed and the HID layer shut
  // down. The caller makes sure no operation runs.
  void shutDown();

  // RCCommandDelegete: called on any thread; each posts its work to the
  // main thread.
  void deviceRemoved() override;
  void appendInfoText(std::string text) override;
  void appendMessageText(std::string text) override;
  void clearMessageText() override;
  void reportProgress(uint32_t percent) override;

  // State, read on the main thread.
  const std::string& infoText() const { return infoText_; }
  const std::string& msgText() const { return msgText_; }
  uint32_t updateProgress() const { return updateProgress_; }
  bool deviceOpened() const { return deviceOpened_; }
  ButtonState buttonState() const { return buttonState_; }

 private:
  struct UpdateFlow;
  struct SaveFlow;
  void runUpdateFlow(const UpdateFlow& flow);
  void runSaveFlow(const SaveFlow& flow);
  void finishOperation();
  void closeAfterRemoval();
  void setInfoText(std::string text);
  void setMsgText(std::string text);
  void clearMessagesThroughFacade();

  WindowPort& window_;
  const BuildVariant variant_;
  const std::string version_;
  const DeviceOperations operations_;

  std::string infoText_;
  std::string msgText_;
  uint32_t updateProgress_ = 0;
  bool deviceOpened_ = false;
  ButtonState buttonState_ = ButtonState::closed;
  // The device went away while an operation ran; its completion step closes.
  bool removalPending_ = false;
  // An update runs: progress also goes to the window's progress bar.
  bool progressShown_ = false;
};

}  // namespace ktq::app
