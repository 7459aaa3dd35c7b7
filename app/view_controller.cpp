#include "app/view_controller.h"

#include <filesystem>
#include <utility>

#include "app/progress_line.h"
#include "chipdb/chip_id.h"
#include "device/hid_session.h"
#include "diagnostics/dump.h"
#include "operations/cascade_update.h"
#include "operations/firmware_update.h"
#include "operations/tefra_log.h"

namespace ktq::app {

namespace {

constexpr char kOpenTitle[] = "Open Device";
constexpr char kCloseTitle[] = "Close Device";
constexpr char kFirmwareExtension[] = "fullrom";

// Which buttons each state enables: open, cascade, file to flash, dump,
// Tefra log, quit.
bool Enabled(ButtonState state, Button button) {
  switch (state) {
    case ButtonState::opened:
    case ButtonState::ready:
      return true;
    case ButtonState::closed:
      return button == Button::openDevice || button == Button::quit;
    case ButtonState::busy:
      return false;
  }
  return false;
}

}  // namespace

DeviceOperations DeviceLogicOperations() {
  return {RCEnumAndOpenDevice, RCCloseDevice, RCIdentifyChip, RCUpdateFirmware, RCCascadeUpdate, RCSaveTefraLog,
          RCDumpAll};
}

struct ViewController::UpdateFlow {
  const char* panelMessage;
  const char* alertPrefix;
  int32_t (*operation)(const char* path);
};

struct ViewController::SaveFlow {
  const char* title;
  const char* proposedName;
  const char* extension;
  bool dump;  // else the Tefra log
};

ViewController::ViewController(WindowPort& window, BuildVariant variant, std::string version,
                               DeviceOperations operations)
    : window_(window), variant_(variant), version_(std::move(version)), operations_(operations) {}

ViewController::~ViewController() = default;

void ViewController::viewDidLoad() {
  setInfoText("");
  setButtonState(ButtonState::closed);
  if (variant_ == BuildVariant::standard) window_.setHidden(Button::updateRDX4410, true);
  // The facade held before goes first, so that its RCExit does not undo the
  // new facade's RCInit.
  sharedCommand.reset();
  sharedCommand.reset(std::make_unique<RCCommand>(shared_from_this()));
}

void ViewController::setButtonState(ButtonState state) {
  buttonState_ = state;
  for (Button b : kAllButtons) window_.setEnabled(b, Enabled(state, b));
  if (state == ButtonState::opened) window_.setTitle(Button::openDevice, kCloseTitle);
  if (state == ButtonState::closed) window_.setTitle(Button::openDevice, kOpenTitle);
}

void ViewController::openDeviceWithSender() {
  clearMessagesThroughFacade();
  setInfoText("");
  if (deviceOpened_) {
    operations_.closeDevice();
    deviceOpened_ = false;
    setButtonState(ButtonState::closed);
    return;
  }
  if (operations_.enumAndOpenDevice() != 0) return;
  if (operations_.identifyChip() != 0) return;
  deviceOpened_ = true;
  setButtonState(ButtonState::opened);
}

void ViewController::fileToFlashWithSender() {
  runUpdateFlow({"Select Firmware file", "Start Update Firmware:\n", operations_.updateFirmware});
}

void ViewController::cascadeUpdateWithSender() {
  runUpdateFlow({"Select RDX4410 Firmware File", "Start Update RDX4410 Firmware:\n", operations_.cascadeUpdate});
}

void ViewController::dumpAll() { runSaveFlow({"Save dump file", "dump_MAC", "txt", true}); }

void ViewController::saveEmbeddedTefra() {
  runSaveFlow({"Save embedded Tefra log file", "TefraRawData_MAC", "bin", false});
}

void ViewController::runUpdateFlow(const UpdateFlow& flow) {
  // A finished update's lines go before the panel, whatever the user picks.
  if (updateProgress_ != 0) {
    clearMessagesThroughFacade();
    updateProgress_ = 0;
  }
  const std::optional<std::string> path = window_.runOpenPanel({flow.panelMessage, kFirmwareExtension});
  if (!path || !deviceOpened_) return;
  const Alert confirm{AlertIcon::warning,
                      flow.alertPrefix + std::filesystem::path(*path).filename().string(),
                      "Please don't un-plug device while updating.\nClick OK to start.",
                      {"OK", "Cancel"}};
  if (window_.runAlert(confirm) != 0) return;
  // The device may have gone while the alert was up.
  if (!deviceOpened_) return;

  setButtonState(ButtonState::busy);
  progressShown_ = true;
  window_.showProgress(0);
  auto result = std::make_shared<int32_t>(-1);
  auto operation = flow.operation;
  window_.runInBackground([operation, path = *path, result] { *result = operation(path.c_str()); },
                          [this, result] {
                            progressShown_ = false;
                            window_.showProgress(std::nullopt);
                            if (*result == 0) {
                              window_.runAlert({AlertIcon::success,
                                                "Update Complete!",
                                                "Please re-plug device to apply updated firmware.",
                                                {"OK"}});
                            }
                            finishOperation();
                          });
}

void ViewController::runSaveFlow(const SaveFlow& flow) {
  const std::optional<std::string> path = window_.runSavePanel({flow.title, flow.proposedName, flow.extension});
  if (!path || !deviceOpened_) return;
  setButtonState(ButtonState::busy);
  std::function<void()> work;
  if (flow.dump) {
    work = [op = operations_.dumpAll, path = *path, version = version_] { op(path.c_str(), version.c_str()); };
  } else {
    work = [op = operations_.saveTefraLog, path = *path] { op(path.c_str(), true); };
  }
  window_.runInBackground(std::move(work), [this] { finishOperation(); });
}

// The completion step of every background operation.
void ViewController::finishOperation() {
  if (removalPending_) {
    removalPending_ = false;
    closeAfterRemoval();
    return;
  }
  setButtonState(ButtonState::ready);
}

void ViewController::quitApp() {
  sharedCommand.reset();
  window_.terminate();
}

void ViewController::shutDown() {
  bool ours = false;
  sharedCommand.withDelegate([&](RCCommandDelegete& d) { ours = &d == this; });
  if (ours) sharedCommand.reset();
}

void ViewController::deviceRemoved() {
  window_.postToMain([this] {
    if (buttonState_ == ButtonState::busy) {
      // The operation fails on its own now; its completion step closes.
      removalPending_ = true;
      return;
    }
    closeAfterRemoval();
  });
}

// Closes as the open/close button does (its action is run directly: while
// an operation finishes the button is still disabled), then leaves the
// message.
void ViewController::closeAfterRemoval() {
  if (deviceOpened_) {
    openDeviceWithSender();
  } else {
    // Identification failed earlier: the device is still open at the HID
    // level. Removal closes; it never opens another converter.
    operations_.closeDevice();
  }
  // Posted after the clearing that the click posted, so the field ends with
  // this message alone.
  window_.postToMain([this] {
    setInfoText("");
    setMsgText("Device removed.");
    setButtonState(ButtonState::closed);
  });
}

void ViewController::appendInfoText(std::string text) {
  window_.postToMain([this, text = std::move(text)] { setInfoText(infoText_ + text); });
}

void ViewController::appendMessageText(std::string text) {
  window_.postToMain([this, text = std::move(text)] { setMsgText(msgText_ + text); });
}

void ViewController::clearMessageText() {
  window_.postToMain([this] { setMsgText(""); });
}

void ViewController::reportProgress(uint32_t percent) {
  window_.postToMain([this, percent] {
    if (ApplyProgressReport(msgText_, updateProgress_, percent)) window_.setText(Field::message, msgText_);
    if (progressShown_) window_.showProgress(percent);
  });
}

void ViewController::clearMessagesThroughFacade() {
  sharedCommand.withDelegate([](RCCommandDelegete& d) { d.clearMessageText(); });
}

void ViewController::setInfoText(std::string text) {
  infoText_ = std::move(text);
  window_.setText(Field::info, infoText_);
}

void ViewController::setMsgText(std::string text) {
  msgText_ = std::move(text);
  window_.setText(Field::message, msgText_);
}

}  // namespace ktq::app
