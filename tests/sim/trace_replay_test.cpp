// A recorded session replayed as a converter: the host gets the recorded
// answers and sees the recorded device; where it departs from the recording
// the replay ends with a message naming the line and the byte.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "device/wire_trace.h"
#include "sim/trace_replay.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

std::string Hex(const sim::Report& r) {
  std::string out;
  char byte[4];
  for (size_t i = 0; i < r.size(); ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", r[i]);
    out += byte;
  }
  return out;
}

class TraceReplayTest : public SimFixture {
 protected:
  void TearDown() override {
    if (replay) replay->Uninstall();
    SimFixture::TearDown();
  }

  // Runs `session` over the virtual host with the wire trace on; returns the
  // trace text.
  std::string Record(const std::function<void()>& session) {
    std::string error;
    EXPECT_TRUE(StartWireTrace(path, error)) << error;
    session();
    RCCloseDevice();
    StopWireTrace();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // From now on the device layer talks to a replay of `trace`.
  void Replay(const std::string& trace) {
    RCCloseDevice();
    host.Uninstall();
    std::string error;
    replay = sim::TraceReplay::FromText(trace, error);
    ASSERT_TRUE(replay) << error;
    replay->SetMessageSink([this](const std::string& m) { sunk += m + "\n"; });
    replay->Install();
  }

  std::string path = TestPath("trace.txt");
  std::unique_ptr<sim::TraceReplay> replay;
  std::string sunk;
};

TEST_F(TraceReplayTest, ReplayAnswersAsRecordedAndPresentsTheRecordedDevice) {
  sim::DeviceIdentity id = sim::VirtualHost::DefaultConverterIdentity(0);
  id.path = "/dev/hidraw7";
  id.serial = "CUST-0042";
  id.product = "Customer's converter";
  auto& c = host.AddConverter(id);
  c.Memory().WriteU32(0x20200D30, 0x20201105);
  c.Memory().WriteU32(0x90000100, 0x11223344);
  const auto session = [] {
    std::vector<uint8_t> read(44);  // the date code, then 40 bytes of data memory
    const uint8_t value[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    EXPECT_EQ(RCEnumAndOpenDevice(), 0);
    EXPECT_EQ(RCReadRegister(0x20200D30, 4, read.data()), 0);
    EXPECT_EQ(RCWriteRegister(0x90000104, 4, value), 0);
    EXPECT_EQ(RCReadRegister(0x90000100, 40, read.data() + 4), 0);
    return read;
  };
  std::vector<uint8_t> recorded;
  const auto listedThen = ListSupportedConverters();
  const std::string trace = Record([&] { recorded = session(); });

  Replay(trace);
  const auto listedNow = ListSupportedConverters();
  ASSERT_EQ(listedNow.size(), 1u);
  EXPECT_EQ(listedNow[0].path, "/dev/hidraw7");
  EXPECT_EQ(listedNow[0].vendorId, listedThen[0].vendorId);
  EXPECT_EQ(listedNow[0].productId, listedThen[0].productId);
  EXPECT_EQ(listedNow[0].product, "Customer's converter");
  EXPECT_EQ(session(), recorded);
  EXPECT_EQ(recorded[0], 0x05);
  EXPECT_EQ(recorded[8], 0xAA);
  RCCloseDevice();
  EXPECT_EQ(replay->Divergence(), "");
  EXPECT_EQ(replay->UnusedTraffic(), "");
  EXPECT_EQ(sunk, "");
}

TEST_F(TraceReplayTest, FirstDifferingRequestEndsTheReplayNamingLineRequestAndByte) {
  host.AddConverter().Memory().WriteU32(0x20200D30, 0x20201105);
  uint8_t word[4];
  const std::string trace = Record([&] {
    ASSERT_EQ(RCEnumAndOpenDevice(), 0);
    ASSERT_EQ(RCReadRegister(0x20200D30, 4, word), 0);
    ASSERT_EQ(RCReadRegister(0x20200D30, 4, word), 0);
  });

  Replay(trace);
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  ASSERT_EQ(RCReadRegister(0x20200D30, 4, word), 0);
  EXPECT_EQ(RCReadRegister(0x20200D34, 4, word), -1);
  const sim::Report recorded = MakeRequest(0x31, 0x20200D30, 4, {});
  const sim::Report received = MakeRequest(0x31, 0x20200D34, 4, {});
  const std::string expected =
      "replay stopped at trace line 5: the output report differs from the recording\n"
      "  request:  UPDC_READ_FROM_MEMORY (0x31) at 0x20200D30, 4 bytes\n"
      "  first difference at byte 7 (address byte 0): recorded 30, received 34\n"
      "  recorded: " + Hex(recorded) + "\n"
      "  received: " + Hex(received) + "\n" + std::string(12 + 3 * 7, ' ') + "^^";
  EXPECT_EQ(replay->Divergence(), expected);
  EXPECT_EQ(sunk, expected + "\n");
  // The replay is over: the host gets nothing more, the recording is left.
  EXPECT_EQ(RCReadRegister(0x20200D30, 4, word), -1);
  RCCloseDevice();
  EXPECT_EQ(RCEnumAndOpenDevice(), -1);
  EXPECT_EQ(replay->UnusedTraffic(), "recorded traffic left unused: 4 lines (lines 5-8)");
}

TEST_F(TraceReplayTest, ByteMeaningsFollowTheRecordedRequest) {
  // A write: the payload and the checksum after it; the replay names the
  // first byte that differs.
  host.AddConverter();
  const uint8_t recordedBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::string trace = Record([&] {
    ASSERT_EQ(RCEnumAndOpenDevice(), 0);
    ASSERT_EQ(RCWriteRegister(0x90000000, 8, recordedBytes), 0);
  });
  const struct {
    uint32_t address;
    uint32_t length;
    int changed;  // payload byte changed, -1 none
    std::string difference;
  } cases[] = {
      {0x90000000, 8, 5, "byte 20 (payload byte 5): recorded 06, received 07"},
      {0x90000000, 7, -1, "byte 2 (length): recorded 14, received 13"},
      {0x91000000, 8, -1, "byte 10 (address byte 3): recorded 90, received 91"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.difference);
    Replay(trace);
    ASSERT_EQ(RCEnumAndOpenDevice(), 0);
    uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    if (c.changed >= 0) ++bytes[c.changed];
    EXPECT_EQ(RCSetCommand(UPDC_WRITE_TO_MEMORY, c.length, c.address, bytes), -1);
    const std::string message = replay->Divergence();
    EXPECT_NE(message.find("  request:  UPDC_WRITE_TO_MEMORY (0x21) at 0x90000000, 8 bytes\n"
                           "  first difference at " + c.difference + "\n"),
              std::string::npos)
        << message;
    replay->Uninstall();
  }
  host.Install();
}

TEST_F(TraceReplayTest, FailedTransfersAndRemovalArePlayedBackWhereTheyHappened) {
  auto& c = host.AddConverter();
  c.Memory().WriteU32(0x20200D30, 0x20201105);
  const auto session = [] {
    uint8_t word[4] = {};
    std::vector<int> results;
    results.push_back(RCEnumAndOpenDevice());
    ::testing::internal::CaptureStdout();
    results.push_back(RCReadRegister(0x20200D30, 4, word));  // one fetch fails, the next succeeds
    results.push_back(RCReadRegister(0x20200D30, 4, word));  // the send fails
    results.push_back(RCReadRegister(0x20200D30, 4, word));  // unplugged as it is sent
    for (int i = 0; i < 5000 && Reports::removed == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    results.push_back(RCReadRegister(0x20200D30, 4, word));
    results.push_back(word[0]);
    return std::make_pair(results, ::testing::internal::GetCapturedStdout());
  };
  c.AddFault(sim::Fault::FetchFailure(1));
  sim::Fault sendFailure = sim::Fault::SendFailure();
  sendFailure.skip = 1;
  c.AddFault(sendFailure);
  c.AddFault(sim::Fault::UnplugAfter(2));
  std::pair<std::vector<int>, std::string> recorded;
  const std::string trace = Record([&] { recorded = session(); });
  ASSERT_EQ(Reports::removed, 1);
  EXPECT_EQ(recorded.first, (std::vector<int>{0, 0, -1, -1, -1, 0x05}));

  Reports::Reset();
  Replay(trace);
  EXPECT_EQ(session(), recorded);
  EXPECT_EQ(Reports::removed, 1);
  EXPECT_TRUE(Reports::removedOnOtherThread);
  EXPECT_EQ(FakeClock::sleeps.size(), 2u);  // the failed fetch's pause, recorded and replayed
  RCCloseDevice();
  EXPECT_EQ(replay->Divergence(), "");
  EXPECT_EQ(replay->UnusedTraffic(), "");
  // Gone for good: the recording never opens it again.
  EXPECT_EQ(RCEnumAndOpenDevice(), -1);
}

TEST_F(TraceReplayTest, TrafficTheHostNeverUsedIsReported) {
  host.AddConverter().Memory().WriteU32(0x20200D30, 0x20201105);
  uint8_t word[4];
  const std::string trace = Record([&] {
    ASSERT_EQ(RCEnumAndOpenDevice(), 0);
    ASSERT_EQ(RCReadRegister(0x20200D30, 4, word), 0);
    ASSERT_EQ(RCReadRegister(0x20200D30, 4, word), 0);
  });
  Replay(trace);
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  ASSERT_EQ(RCReadRegister(0x20200D30, 4, word), 0);
  RCCloseDevice();
  EXPECT_EQ(replay->Divergence(), "");
  EXPECT_EQ(replay->UnusedTraffic(), "recorded traffic left unused: 3 lines (lines 5-7)");
}

TEST_F(TraceReplayTest, AHostPollingLongerThanRecordedGetsTheLastReplyAgain) {
  // Recorded: the reply was still pending when the recording ends.
  sim::Report pending = MakeRequest(0x31, 0x20200D30, 4, {});
  const std::string trace = "0 OPEN\n1 OUT " + Hex(MakeRequest(0x31, 0x20200D30, 4, {})) + "\n2 IN " + Hex(pending) +
                            "\n3 CLOSE\n";
  Replay(trace);
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  uint8_t word[4];
  EXPECT_EQ(RCReadRegister(0x20200D30, 4, word), -1);  // the wait budget runs out
  RCCloseDevice();
  EXPECT_EQ(replay->Divergence(), "");
  const size_t repeats = replay->RepeatedFetches();
  EXPECT_GT(repeats, 100u);
  EXPECT_EQ(replay->UnusedTraffic(),
            std::to_string(repeats) + " fetches beyond the recording were answered with the last recorded reply");
}

TEST_F(TraceReplayTest, AnOldTraceWithoutDeviceNamesPresentsTheDefaultConverter) {
  const std::string trace = "0 OPEN\n1 CLOSE\n";
  Replay(trace);
  const auto listed = ListSupportedConverters();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].path, "sim:0");
  EXPECT_EQ(RCEnumAndOpenDevice(), 0);
  RCCloseDevice();
  EXPECT_EQ(replay->UnusedTraffic(), "");
}

TEST_F(TraceReplayTest, TransfersWhereTheRecordingHasSomethingElseEndTheReplay) {
  const std::string out = Hex(MakeRequest(0x31, 0x20200D30, 4, {}));
  const struct {
    std::string trace;
    std::string message;
  } cases[] = {
      {"0 OPEN\n", "replay stopped at the end of the trace (1 lines) where the host sent an output report"},
      {"0 OPEN\n1 CLOSE\n", "replay stopped at trace line 2: the recording has CLOSE where the host sent an output report"},
      {"0 OPEN\n1 OUT " + out + "\n2 OUT " + out + "\n",
       "replay stopped at trace line 3: the recording has OUT where the host fetched an input report"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trace);
    Replay(c.trace);
    ASSERT_EQ(RCEnumAndOpenDevice(), 0);
    uint8_t word[4];
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(RCReadRegister(0x20200D30, 4, word), -1);
    ::testing::internal::GetCapturedStdout();
    const std::string message = replay->Divergence();
    EXPECT_EQ(message.substr(0, message.find('\n')), c.message);
    replay->Uninstall();
  }
  host.Install();
}

TEST_F(TraceReplayTest, RecordedTimingIsKeptAtTheGivenSpeed) {
  const std::string trace = "0 OPEN\n100000 CLOSE\n";
  Replay(trace);
  replay->SetSpeed(2);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  RCCloseDevice();
  // Twice as fast: at least half the recorded 100 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

}  // namespace
}  // namespace ktq::testing
