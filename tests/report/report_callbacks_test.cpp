#include "report/report_callbacks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> calls;

void OnRemoved() { calls.push_back("removed"); }
void OnInfo(const char* t) { calls.push_back(std::string("info:") + t); }
void OnMessage(const char* t) { calls.push_back(std::string("message:") + t); }
void OnClear() { calls.push_back("clear"); }
void OnProgress(uint32_t p) { calls.push_back("progress:" + std::to_string(p)); }

class ReportCallbacks : public ::testing::Test {
 protected:
  void SetUp() override { calls.clear(); }
  void TearDown() override { RCSetCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr); }
};

}  // namespace

TEST_F(ReportCallbacks, EachReportReachesItsOwnSlotInOrder) {
  EXPECT_EQ(RCSetCallbacks(OnRemoved, OnInfo, OnMessage, OnClear, OnProgress), 0);
  ktq::ReportMessage("Erasing flash...");
  ktq::ReportMessage("OK!\n");
  ktq::ReportInfo("Chip type: ");
  ktq::ReportProgress(42);
  ktq::ReportDeviceRemoved();
  EXPECT_EQ(calls, (std::vector<std::string>{"message:Erasing flash...", "message:OK!\n",
                                             "info:Chip type: ", "progress:42", "removed"}));
}

TEST_F(ReportCallbacks, NullSlotsDropReportsAndLaterRegistrationOverwrites) {
  RCSetCallbacks(OnRemoved, OnInfo, OnMessage, OnClear, OnProgress);
  RCSetCallbacks(nullptr, nullptr, OnMessage, nullptr, nullptr);
  ktq::ReportDeviceRemoved();
  ktq::ReportInfo("dropped");
  ktq::ReportProgress(1);
  ktq::ReportMessage("kept");
  EXPECT_EQ(calls, (std::vector<std::string>{"message:kept"}));
}
