// The tool's window in Qt 6 Widgets: the information field, the message
// field with a progress bar under it, and six buttons. It draws and asks;
// the ViewController decides.
#pragma once

#include <QThreadPool>
#include <QWidget>
#include <array>
#include <memory>

#include "app/view_controller.h"
#include "app/window_port.h"

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace ktq::app {

class MainWindow : public QWidget, public WindowPort {
  Q_OBJECT

 public:
  MainWindow(BuildVariant variant, const QString& title, const std::string& version,
             DeviceOperations operations = DeviceLogicOperations());
  ~MainWindow() override;

  ViewController& controller() { return *controller_; }

  // WindowPort
  void setText(Field field, const std::string& text) override;
  void setEnabled(Button button, bool enabled) override;
  void setTitle(Button button, const std::string& title) override;
  void setHidden(Button button, bool hidden) override;
  void showProgress(std::optional<uint32_t> percent) override;
  std::optional<std::string> runOpenPanel(const OpenPanel& panel) override;
  std::optional<std::string> runSavePanel(const SavePanel& panel) override;
  int runAlert(const Alert& alert) override;
  void postToMain(std::function<void()> task) override;
  void runInBackground(std::function<void()> work, std::function<void()> completion) override;
  void terminate() override;

 signals:
  // A background operation's completion step has run.
  void operationFinished();

 protected:
  // Closing the window quits as the Quit button does, and like it is
  // refused while an operation runs: leaving mid-update would leave the
  // flash half written.
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* button(Button b) const { return buttons_[static_cast<size_t>(b)]; }

  QPlainTextEdit* infoText_;
  QPlainTextEdit* msgText_;
  QProgressBar* progress_;
  std::array<QPushButton*, 6> buttons_{};
  QThreadPool workers_;
  bool quitting_ = false;
  std::shared_ptr<ViewController> controller_;
};

}  // namespace ktq::app
