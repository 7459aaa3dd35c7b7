// A virtual host bound to the HID seam, the report slots captured, and a
// fake clock for the RC reply wait, so no test sleeps.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_session.h"
#include "device/rc_command.h"
#include "device/rc_timing.h"
#include "report/report_callbacks.h"
#include "sim/virtual_host.h"

namespace ktq::testing {

// Time advances by one millisecond per reading and by every sleep.
struct FakeClock {
  static inline RcClock::time_point now{};
  static inline std::vector<std::chrono::microseconds> sleeps;
  static RcClock::time_point Now() { return now += std::chrono::milliseconds(1); }
  static void Sleep(std::chrono::microseconds d) {
    sleeps.push_back(d);
    now += d;
  }
  static RcTiming Timing() {
    RcTiming t;
    t.now = Now;
    t.sleep = Sleep;
    return t;
  }
};

// What the report slots received.
struct Reports {
  static inline std::mutex mutex;
  static inline std::string messages;
  static inline std::atomic<int> removed{0};
  static inline std::atomic<bool> removedOnOtherThread{false};
  static inline std::thread::id operationThread;

  static void OnRemoved() {
    removedOnOtherThread = std::this_thread::get_id() != operationThread;
    ++removed;
  }
  static void OnMessage(const char* text) {
    std::lock_guard<std::mutex> lock(mutex);
    messages += text;
  }
  static std::string Messages() {
    std::lock_guard<std::mutex> lock(mutex);
    return messages;
  }
  static void Reset() {
    std::lock_guard<std::mutex> lock(mutex);
    messages.clear();
    removed = 0;
    removedOnOtherThread = false;
    operationThread = std::this_thread::get_id();
  }
};

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Reports::Reset();
    FakeClock::sleeps.clear();
    SetRcTiming(FakeClock::Timing());
    host.Install();
    ASSERT_EQ(RCInit(), 0);
    RCSetCallbacks(Reports::OnRemoved, nullptr, Reports::OnMessage, nullptr, nullptr);
  }

  void TearDown() override {
    RCExit();
    RCSetCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    host.Uninstall();
    SetRcTiming(RcTiming{});
  }

  // One converter with default identity, opened, logging its transfers.
  sim::VirtualConverter& OpenConverter() {
    sim::VirtualConverter& c = host.AddConverter();
    EXPECT_EQ(RCEnumAndOpenDevice(), 0);
    c.SetTransferLog(true);
    return c;
  }

  sim::VirtualHost host;
};

// The output reports a converter received, in order.
inline std::vector<sim::Report> Requests(const sim::VirtualConverter& c) {
  std::vector<sim::Report> out;
  for (const auto& t : c.TransferLog())
    if (t.out) out.push_back(t.bytes);
  return out;
}

inline size_t FetchCount(const sim::VirtualConverter& c) {
  size_t n = 0;
  for (const auto& t : c.TransferLog()) n += t.out ? 0 : 1;
  return n;
}

// A request as the host must build it, for whole-packet comparisons.
inline sim::Report MakeRequest(uint8_t command, uint32_t address, uint8_t count, std::vector<uint8_t> payload) {
  sim::Report r{};
  r[0] = 0x01;
  r[2] = static_cast<uint8_t>(12 + payload.size());
  r[5] = command | 0x80;
  r[7] = address & 0xFF;
  r[8] = (address >> 8) & 0xFF;
  r[9] = (address >> 16) & 0xFF;
  r[10] = (address >> 24) & 0xFF;
  r[11] = count;
  for (size_t i = 0; i < payload.size(); ++i) r[15 + i] = payload[i];
  uint8_t sum = 0;
  for (size_t i = 2; i < 15 + payload.size(); ++i) sum += r[i];
  r[15 + payload.size()] = static_cast<uint8_t>(-sum);
  return r;
}

inline std::vector<uint8_t> CodeWord() { return {'T', 'A', 'M', 'B', 'O'}; }

}  // namespace ktq::testing
