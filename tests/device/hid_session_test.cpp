// Finding, opening and closing converters, and device removal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/sim_fixture.h"

namespace ktq::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class HidSessionTest : public SimFixture {
 protected:
  sim::DeviceIdentity Device(uint16_t vid, uint16_t pid, const std::string& path) {
    sim::DeviceIdentity id;
    id.vendorId = vid;
    id.productId = pid;
    id.path = path;
    id.product = "device " + path;
    return id;
  }

  // Waits for the removal slot on the watch thread (real time, bounded).
  bool WaitForRemoval() {
    for (int i = 0; i < 5000 && Reports::removed == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return Reports::removed > 0;
  }
};

TEST_F(HidSessionTest, BuildConstantsComeFromTheCache) {
  EXPECT_EQ(SupportedVendorId(), 0x3A7C);
  EXPECT_THAT(SupportedProductFamilies(), ElementsAre(0x7100, 0x7200, 0x7300));
}

TEST_F(HidSessionTest, FamilyMatchLooksAtTheHighByteOnly) {
  struct Case {
    uint16_t vid, pid;
    bool supported;
  } cases[] = {
      {0x3A7C, 0x7100, true},  {0x3A7C, 0x71FF, true},  {0x3A7C, 0x7342, true},
      {0x3A7C, 0x7400, false}, {0x3A7C, 0x0071, false}, {0x3A7D, 0x7100, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSupportedConverter(c.vid, c.pid), c.supported) << std::hex << c.vid << ":" << c.pid;
  }
}

TEST_F(HidSessionTest, OpensAnyModelVariantOfASupportedFamily) {
  host.AddForeignDevice(Device(0x046D, 0xC52B, "mouse"));
  host.AddConverter(Device(0x3A7C, 0x72AB, "conv"));
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  EXPECT_NE(DeviceHandle(), nullptr);
  EXPECT_EQ(host.OpenHandleCount(), 1);
  EXPECT_EQ(Reports::Messages(), "");
}

TEST_F(HidSessionTest, OwnVendorWithUnsupportedFamilyIsPassedOver) {
  host.AddConverter(Device(0x3A7C, 0x7400, "other-family"));
  EXPECT_EQ(RCEnumAndOpenDevice(), -1);
  EXPECT_EQ(DeviceHandle(), nullptr);
  EXPECT_EQ(Reports::Messages(), "Can not find device!!\n");
}

TEST_F(HidSessionTest, NoHidDeviceAtAllFailsSilently) {
  EXPECT_EQ(RCEnumAndOpenDevice(), -1);
  EXPECT_EQ(Reports::Messages(), "");
}

TEST_F(HidSessionTest, EmptySlotsSilenceReportsButNotResults) {
  RCSetCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
  host.AddForeignDevice(Device(0x046D, 0xC52B, "mouse"));
  EXPECT_EQ(RCEnumAndOpenDevice(), -1);
  auto& c = host.AddConverter(Device(0x3A7C, 0x7101, "conv"));
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  c.Unplug();
  for (int i = 0; i < 100 && !DeviceRemoved(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(DeviceRemoved());
  EXPECT_EQ(Reports::Messages(), "");
  EXPECT_EQ(Reports::removed, 0);
}

TEST_F(HidSessionTest, OpenFailureNamesBothIdsInHex) {
  auto& c = host.AddConverter(Device(0x3A7C, 0x710A, "locked"));
  c.openFails = true;
  EXPECT_EQ(RCEnumAndOpenDevice(), -1);
  EXPECT_EQ(DeviceHandle(), nullptr);
  EXPECT_EQ(Reports::Messages(), "Device found but open FAILED (VID=3A7C, PID=710A)!!\n");
}

TEST_F(HidSessionTest, FirstOfTwoConvertersIsOpenedAndOnlyOne) {
  auto& first = host.AddConverter(Device(0x3A7C, 0x7301, "first"));
  auto& second = host.AddConverter(Device(0x3A7C, 0x7101, "second"));
  first.Memory().WriteU32(0x100, 1);
  second.Memory().WriteU32(0x100, 2);
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);  // again: the first is closed before
  EXPECT_EQ(host.OpenHandleCount(), 1);
  uint8_t out[4];
  ASSERT_EQ(RCReadRegister(0x100, 4, out), 0);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(second.RequestCount(), 0u);
}

TEST_F(HidSessionTest, CloseReleasesTheHandle) {
  host.AddConverter();
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  EXPECT_EQ(RCCloseDevice(), 0);
  EXPECT_EQ(DeviceHandle(), nullptr);
  EXPECT_EQ(host.OpenHandleCount(), 0);
  EXPECT_EQ(RCCloseDevice(), 0);
}

TEST_F(HidSessionTest, OpenByIdsNeedsAnExactMatch) {
  host.AddConverter(Device(0x3A7C, 0x7101, "conv"));
  EXPECT_EQ(RCOpenDevice(0x3A7C, 0x7102), -1);
  EXPECT_EQ(Reports::Messages(), "Can not find device!!\n");
  EXPECT_EQ(RCOpenDevice(0x3A7C, 0x7101), 0);
  EXPECT_EQ(host.OpenHandleCount(), 1);
}

TEST_F(HidSessionTest, InitFailsWhenTheHidLayerCannotStart) {
  host.initFails = true;
  EXPECT_EQ(RCInit(), -1);
}

TEST_F(HidSessionTest, ListingShowsSupportedConvertersInOrder) {
  host.AddConverter(Device(0x3A7C, 0x7201, "b"));
  host.AddForeignDevice(Device(0x1234, 0x7100, "keyboard"));
  host.AddConverter(Device(0x3A7C, 0x7105, "a"));
  const auto list = ListSupportedConverters();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].path, "b");
  EXPECT_EQ(list[0].productId, 0x7201);
  EXPECT_EQ(list[0].product, "device b");
  EXPECT_EQ(list[1].path, "a");
}

TEST_F(HidSessionTest, RemovalOfAnIdleDeviceIsReportedOnceOffTheOperationThread) {
  auto& c = OpenConverter();
  c.Unplug();
  ASSERT_TRUE(WaitForRemoval());
  EXPECT_TRUE(Reports::removedOnOtherThread);
  EXPECT_TRUE(DeviceRemoved());
  EXPECT_NE(DeviceHandle(), nullptr);  // stays until closed

  // Transfers fail at once: no pause, no request.
  uint8_t out[4];
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "RCGetCommand : Usb2 set output report failed:\r");
  EXPECT_THAT(FakeClock::sleeps, IsEmpty());
  EXPECT_EQ(c.RequestCount(), 0u);

  // Plugged in again, it opens and works; the removal was reported once.
  c.Replug();
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  EXPECT_FALSE(DeviceRemoved());
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), 0);
  EXPECT_EQ(Reports::removed, 1);
}

TEST_F(HidSessionTest, UnplugDuringAnOperationFailsItWithinTheBudget) {
  auto& c = OpenConverter();
  c.AddFault(sim::Fault::UnplugAfter(1));
  uint8_t out[4];
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), 0);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "RCGetCommand : Usb2 set output report failed:\r");
  ASSERT_TRUE(WaitForRemoval());
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(RCReadRegister(0x1000, 4, out), -1);
  ::testing::internal::GetCapturedStdout();
  RCCloseDevice();
  EXPECT_EQ(Reports::removed, 1);
}

TEST_F(HidSessionTest, UninstallingTheHostClosesItsOpenDevice) {
  OpenConverter();
  host.Uninstall();
  EXPECT_EQ(DeviceHandle(), nullptr);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(HidSessionTest, ClosingStopsTheWatchWithoutAReport) {
  auto& c = OpenConverter();
  RCCloseDevice();
  c.Unplug();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(Reports::removed, 0);
}

TEST_F(HidSessionTest, OpenDeviceStaysWithTheBackendThatOpenedIt) {
  // A table that knows no device at all, installed while the converter is open.
  static const HidBackend kNoDevices = {
      [] { return 0; },
      [] { return 0; },
      [](unsigned short, unsigned short) -> hid_device_info* { return nullptr; },
      [](hid_device_info*) {},
      [](unsigned short, unsigned short, const wchar_t*) -> hid_device* { return nullptr; },
      [](hid_device*) { ADD_FAILURE() << "close reached the wrong backend"; },
      [](hid_device*, int) { return -1; },
      [](hid_device*, const unsigned char*, size_t) { return -1; },
      [](hid_device*, unsigned char*, size_t) { return -1; },
      [](hid_device*, HidRemovedFn, void*) -> void* { return nullptr; },
      [](void*) {},
      [](const char*) -> hid_device* { return nullptr; },
  };
  auto& c = OpenConverter();
  c.Memory().WriteU32(0x100, 0x04030201);
  const HidBackend* opener = InstalledHidBackend();
  SetHidBackend(&kNoDevices);

  uint8_t out[4] = {};
  EXPECT_EQ(RCReadRegister(0x100, 4, out), 0);
  EXPECT_THAT(out, ::testing::ElementsAre(1, 2, 3, 4));
  RCCloseDevice();
  EXPECT_EQ(host.OpenHandleCount(), 0);
  // From the next open on, the new table serves.
  EXPECT_EQ(RCEnumAndOpenDevice(), -1);
  SetHidBackend(opener);
}

}  // namespace
}  // namespace ktq::testing
