// The virtual converter checks what it receives as a strict device does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/rc_command.h"
#include "sim/virtual_converter.h"
#include "tests/support/sim_fixture.h"

namespace ktq::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ktq::testing::MakeRequest;

// Sends one raw report and returns the reply's status (byte 6).
uint8_t Exchange(VirtualConverter& c, const Report& request) {
  EXPECT_EQ(c.ReceiveOutputReport(request.data(), request.size()), 62);
  Report reply{};
  reply[0] = 0x01;
  EXPECT_EQ(c.ProvideInputReport(reply.data(), reply.size()), 62);
  EXPECT_EQ(reply[5] & 0x80, 0);
  return reply[6];
}

TEST(VirtualConverterTest, RefusesMalformedRequests) {
  struct Case {
    const char* name;
    void (*spoil)(Report&);
    const char* error;
  } cases[] = {
      {"checksum", [](Report& r) { r[15] ^= 1; }, "request 1: bad checksum"},
      {"reserved byte 3", [](Report& r) { r[3] = 1; r[15] -= 1; }, "request 1: reserved bytes not zero"},
      {"reserved byte 13", [](Report& r) { r[13] = 1; r[15] -= 1; }, "request 1: reserved bytes not zero"},
      {"no pending bit", [](Report& r) { r[5] &= 0x7F; r[15] += 0x80; }, "request 1: command byte without the pending bit"},
      {"status set", [](Report& r) { r[6] = 1; r[15] -= 1; }, "request 1: status byte not zero in a request"},
      {"read count 0", [](Report& r) { r[11] = 0; r[15] += 4; }, "request 1: read count 0"},
      {"read count 33", [](Report& r) { r[11] = 33; r[15] -= 29; }, "request 1: read count 33"},
      {"length 45", [](Report& r) { r[2] = 45; }, "request 1: length byte 45 out of range"},
      {"read with payload", [](Report& r) { r[2] = 13; r[15] = 0; r[16] = static_cast<uint8_t>(-(13 + 0xB1 + 0x10 + 4)); },
       "request 1: read request with payload"},
      {"trailing bytes", [](Report& r) { r[61] = 1; }, "request 1: bytes after the checksum not zero"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    VirtualConverter c({});
    Report request = MakeRequest(UPDC_READ_FROM_MEMORY, 0x10, 4, {});
    tc.spoil(request);
    EXPECT_EQ(Exchange(c, request), kStatusMalformedRequest);
    EXPECT_THAT(c.ProtocolErrors(), ElementsAre(tc.error));
  }
}

TEST(VirtualConverterTest, WriteCountMustMatchPayload) {
  VirtualConverter c({});
  Report request = MakeRequest(UPDC_WRITE_TO_MEMORY, 0x10, 2, {1, 2});
  request[11] = 3;
  request[17] -= 1;
  EXPECT_EQ(Exchange(c, request), kStatusMalformedRequest);
  EXPECT_THAT(c.ProtocolErrors(), ElementsAre("request 1: count 3 but 2 payload bytes"));
  EXPECT_EQ(c.Memory().ReadU32(0x10), 0u);
}

TEST(VirtualConverterTest, RejectsWrongReportFraming) {
  VirtualConverter c({});
  Report request = MakeRequest(UPDC_READ_FROM_MEMORY, 0x10, 4, {});
  EXPECT_EQ(c.ReceiveOutputReport(request.data(), 61), -1);
  request[0] = 0x02;
  EXPECT_EQ(c.ReceiveOutputReport(request.data(), 62), -1);
  Report reply{};
  reply[0] = 0x03;
  EXPECT_EQ(c.ProvideInputReport(reply.data(), 62), -1);
  EXPECT_THAT(c.ProtocolErrors(),
              ElementsAre("request 1: output report of 61 bytes, expected 62",
                          "request 2: output report with report ID 0x02", "request 2: GET_REPORT for input report ID 0x03"));
}

TEST(VirtualConverterTest, MalformedI2cReportIsTakenButLogged) {
  // I2C-master reports go to the I2C model, which refuses one without
  // segments; the transfer itself succeeds, as on a real converter.
  VirtualConverter c({});
  Report request{0x01, 0x10};
  EXPECT_EQ(c.ReceiveOutputReport(request.data(), request.size()), 62);
  EXPECT_THAT(c.ProtocolErrors(), ElementsAre("request 1: I2C-master report rejected"));
}

TEST(VirtualConverterTest, RcModeNeedsTheCodeWord) {
  VirtualConverter c({});
  c.SetPowerOnRcMode(false);
  EXPECT_EQ(Exchange(c, MakeRequest(UPDC_READ_FROM_MEMORY, 0x10, 4, {})), kStatusRcModeOff);
  EXPECT_EQ(Exchange(c, MakeRequest(UPDC_ENABLE_RC, 0, 5, {'T', 'A', 'M', 'B', 'A'})), kStatusBadArgument);
  EXPECT_FALSE(c.RcModeEnabled());
  EXPECT_EQ(Exchange(c, MakeRequest(UPDC_ENABLE_RC, 0, 5, ktq::testing::CodeWord())), kStatusOk);
  EXPECT_TRUE(c.RcModeEnabled());
  EXPECT_EQ(Exchange(c, MakeRequest(UPDC_DISABLE_RC, 0, 0, {})), kStatusOk);
  EXPECT_FALSE(c.RcModeEnabled());
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST(VirtualConverterTest, RestartWriteLeavesTheReplyPendingAndRcModeOff) {
  VirtualConverter c({});
  c.SetPowerOnRcMode(false);
  c.SetRcMode(true);
  Report request = MakeRequest(UPDC_WRITE_TO_MEMORY, 0x2000FC, 1, {0xF5});
  ASSERT_EQ(c.ReceiveOutputReport(request.data(), request.size()), 62);
  Report reply{};
  reply[0] = 0x01;
  ASSERT_EQ(c.ProvideInputReport(reply.data(), reply.size()), 62);
  EXPECT_EQ(reply[5], 0x80 | UPDC_WRITE_TO_MEMORY);
  EXPECT_FALSE(c.RcModeEnabled());
}

// A read completes with a report that carries only its status; the data
// comes in the next report, which later fetches repeat. A host that took the
// data from the completing report would read none.
TEST(VirtualConverterTest, ReadDataComesInTheReportAfterTheCompletingOne) {
  VirtualConverter c({});
  c.Timing().pendingPolls = 1;
  const uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
  c.Memory().Write(0x10, data, 4);
  const Report request = MakeRequest(UPDC_READ_FROM_MEMORY, 0x10, 4, {});
  ASSERT_EQ(c.ReceiveOutputReport(request.data(), request.size()), 62);

  const auto fetch = [&] {
    Report reply{};
    reply[0] = 0x01;
    EXPECT_EQ(c.ProvideInputReport(reply.data(), reply.size()), 62);
    return reply;
  };
  // Header: report ID, length, command, status, address 0x10, count 4.
  Report pending{0x01, 0x00, 0x0C, 0x00, 0x00, 0xB1, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04};
  Report completing = pending;
  completing[5] = 0x31;
  completing[15] = static_cast<uint8_t>(-(0x0C + 0x31 + 0x10 + 0x04));
  Report withData = completing;
  withData[2] = 0x10;
  std::copy(data, data + 4, withData.begin() + 15);
  withData[19] = static_cast<uint8_t>(-(0x10 + 0x31 + 0x10 + 0x04 + 0x11 + 0x22 + 0x33 + 0x44));
  EXPECT_EQ(fetch(), pending);
  EXPECT_EQ(fetch(), completing);
  EXPECT_EQ(fetch(), withData);
  EXPECT_EQ(fetch(), withData);
  EXPECT_THAT(c.ProtocolErrors(), IsEmpty());
}

TEST(VirtualConverterTest, MemoryWrapsAndSpansPages) {
  SparseMemory m;
  const uint8_t data[6] = {1, 2, 3, 4, 5, 6};
  m.Write(0xFFFFFFFD, data, 6);
  uint8_t out[6] = {};
  m.Read(0xFFFFFFFD, out, 6);
  EXPECT_THAT(out, ElementsAre(1, 2, 3, 4, 5, 6));
  EXPECT_EQ(m.ReadU32(0), 0x00060504u);
  EXPECT_EQ(m.ReadU32(0x12345678), 0u);
  EXPECT_EQ(m.PageCount(), 2u);
}

}  // namespace
}  // namespace ktq::sim
