// A window without a display for the controller's tests: it records what
// the controller shows, answers panels and alerts from a script, and runs a
// main-thread task queue and background threads as the real window does.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/window_port.h"

namespace ktq::testing {

using app::Alert;
using app::Button;
using app::Field;
using app::OpenPanel;
using app::SavePanel;

class FakeWindow : public app::WindowPort {
 public:
  ~FakeWindow() override { JoinFinished(true); }

  // What the window shows.
  std::string info, message;
  std::map<Button, bool> enabled, hidden;
  std::string openTitle;
  std::optional<uint32_t> progress;
  bool terminated = false;

  // What was asked of the user, in order.
  std::vector<OpenPanel> openPanels;
  std::vector<SavePanel> savePanels;
  std::vector<Alert> alerts;

  // Answers, taken in order; an empty script cancels.
  std::deque<std::optional<std::string>> panelAnswers;
  std::deque<int> alertAnswers;
  // Runs while an alert is up (as a modal alert's own event loop would).
  std::function<void(const Alert&)> whileAlertShown;

  // Background work waits for ReleaseBackground() instead of starting.
  bool holdBackground = false;

  // Buttons enabled now, in kAllButtons order.
  std::vector<Button> EnabledButtons() const {
    std::vector<Button> out;
    for (Button b : app::kAllButtons)
      if (enabled.count(b) && enabled.at(b)) out.push_back(b);
    return out;
  }

  void setText(Field field, const std::string& text) override { (field == Field::info ? info : message) = text; }
  void setEnabled(Button button, bool on) override { enabled[button] = on; }
  void setTitle(Button button, const std::string& title) override {
    ASSERT_EQ(button, Button::openDevice);
    openTitle = title;
  }
  void setHidden(Button button, bool on) override { hidden[button] = on; }
  void showProgress(std::optional<uint32_t> percent) override { progress = percent; }

  std::optional<std::string> runOpenPanel(const OpenPanel& panel) override {
    openPanels.push_back(panel);
    return NextPanelAnswer();
  }
  std::optional<std::string> runSavePanel(const SavePanel& panel) override {
    savePanels.push_back(panel);
    return NextPanelAnswer();
  }
  int runAlert(const Alert& alert) override {
    alerts.push_back(alert);
    if (whileAlertShown) whileAlertShown(alert);
    if (alertAnswers.empty()) return -1;
    const int answer = alertAnswers.front();
    alertAnswers.pop_front();
    return answer;
  }

  void postToMain(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
    wake_.notify_all();
  }

  void runInBackground(std::function<void()> work, std::function<void()> completion) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++running_;
    held_.push_back({std::move(work), std::move(completion)});
    if (!holdBackground) StartHeldLocked();
  }

  void terminate() override { terminated = true; }

  void ReleaseBackground() {
    std::lock_guard<std::mutex> lock(mutex_);
    holdBackground = false;
    StartHeldLocked();
  }

  // Runs main-thread tasks until `done` holds after a task, or until the
  // queue is empty and no started background work is left; false on a time
  // out (10 s).
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_until(lock, deadline, [&] { return !tasks_.empty() || (started_ == 0 && !done); }))
          return false;
        if (tasks_.empty()) return true;  // idle, and nobody waits for a condition
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
      if (done && done()) return true;
    }
  }
  // Until every task and started background work has run.
  bool RunUntilIdle() {
    const bool ok = RunUntil(nullptr);
    JoinFinished(false);
    return ok;
  }

 private:
  struct Job {
    std::function<void()> work, completion;
  };

  std::optional<std::string> NextPanelAnswer() {
    if (panelAnswers.empty()) return std::nullopt;
    auto answer = panelAnswers.front();
    panelAnswers.pop_front();
    return answer;
  }

  void StartHeldLocked() {
    for (Job& job : held_) {
      ++started_;
      threads_.emplace_back([this, job = std::move(job)] {
        job.work();
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(job.completion);
        --started_;
        --running_;
        wake_.notify_all();
      });
    }
    held_.clear();
  }

  void JoinFinished(bool all) {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!all && started_ != 0) return;
      threads.swap(threads_);
    }
    for (auto& t : threads) t.join();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::vector<Job> held_;
  std::vector<std::thread> threads_;
  int running_ = 0;  // submitted and not finished
  int started_ = 0;  // started and not finished
};

}  // namespace ktq::testing
