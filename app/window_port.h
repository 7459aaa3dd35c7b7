// What the window controller needs of a window: two text fields, six
// buttons, modal panels and alerts, and two ways to run work (on the main
// thread later, and in the background). The Qt window implements it; tests
// implement it without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ktq::app {

enum class Field { info, message };

enum class Button { openDevice, updateRDX4410, fileToFlash, dump, quit, saveEmbeddedTefra };
constexpr Button kAllButtons[] = {Button::openDevice, Button::updateRDX4410,     Button::fileToFlash,
                                  Button::dump,       Button::saveEmbeddedTefra, Button::quit};

// Choosing one existing file; hidden files, several files and folders are
// never offered.
struct OpenPanel {
  std::string message;
  std::string extension;  // the one extension offered, without the dot
};

// Choosing where to save; hidden files are not shown, no folder is created.
struct SavePanel {
  std::string title;
  std::string proposedName;
  std::string extension;
};

enum class AlertIcon { warning, success };

struct Alert {
  AlertIcon icon;
  std::string message;
  std::string informative;
  std::vector<std::string> buttons;  // the first is the default
};

class WindowPort {
 public:
  virtual ~WindowPort() = default;

  // The whole text of a field; the controller keeps the fields' texts and
  // hands the window each new one.
  virtual void setText(Field field, const std::string& text) = 0;

  virtual void setEnabled(Button button, bool enabled) = 0;
  virtual void setTitle(Button button, const std::string& title) = 0;
  virtual void setHidden(Button button, bool hidden) = 0;

  // The firmware-write progress beside the message field: shown with a
  // percent, hidden with nullopt.
  virtual void showProgress(std::optional<uint32_t> percent) = 0;

  // Modal. The chosen path, or nullopt when cancelled or nothing chosen.
  virtual std::optional<std::string> runOpenPanel(const OpenPanel& panel) = 0;
  virtual std::optional<std::string> runSavePanel(const SavePanel& panel) = 0;
  // Modal. The index of the button pressed; -1 when closed otherwise.
  virtual int runAlert(const Alert& alert) = 0;

  // From any thread: runs `task` on the main thread later; tasks run in the
  // order posted.
  virtual void postToMain(std::function<void()> task) = 0;
  // From the main thread: runs `work` on a background thread, then
  // `completion` on the main thread after `work` has finished.
  virtual void runInBackground(std::function<void()> work, std::function<void()> completion) = 0;

  // Ends the application.
  virtual void terminate() = 0;
};

}  // namespace ktq::app
