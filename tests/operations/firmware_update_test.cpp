// Firmware update over the virtual converter: what reaches the flash, the
// messages and progress the user sees, and every failure row.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "device/rc_command.h"
#include "operations/firmware_update.h"
#include "sim/model_clock.h"
#include "sim/flash_model.h"
#include "tests/operations/ops_fixture.h"

namespace ktq::testing {
namespace {

constexpr uint32_t kType5Size = 0x50000;
constexpr uint32_t kType6Size = 0x7F000;

const std::string kSuccessText =
    "Initializing...OK!\n"
    "Erasing flash...OK!\n"
    "Updating firmware...\n"
    "\t...OK!\n"
    "Activating firmware...OK!\n"
    "Update complete!\n";

using FirmwareUpdateTest = OpsFixture;

// The requests of a whole update: enable, erase, every chunk at ascending
// offsets, disable, then enable, activate, disable.
void ExpectWholeUpdate(const sim::VirtualConverter& c, uint32_t imageSize) {
  const std::vector<RcCall> calls = RcCalls(c);
  const size_t chunks = imageSize / 32;
  ASSERT_EQ(calls.size(), chunks + 6);
  EXPECT_EQ(calls[0], (RcCall{UPDC_ENABLE_RC, 0}));
  EXPECT_EQ(calls[1], (RcCall{UPDC_ERASE_FLASH, 0}));
  for (size_t i = 0; i < chunks; ++i) {
    if (!(calls[2 + i] == RcCall{UPDC_WRITE_FLASH, static_cast<uint32_t>(32 * i)})) {
      ADD_FAILURE() << "request " << 2 + i << " is not the chunk at offset " << 32 * i;
      return;
    }
  }
  const std::vector<RcCall> tail(calls.end() - 4, calls.end());
  EXPECT_EQ(tail, (std::vector<RcCall>{{UPDC_DISABLE_RC, 0}, {UPDC_ENABLE_RC, 0}, {UPDC_ACTIVATE_FIRMWARE, 0},
                                       {UPDC_DISABLE_RC, 0}}));
}

TEST_F(FirmwareUpdateTest, Type5ImageOfExactSizeIsWrittenWholeActivatedAndReported) {
  sim::VirtualConverter& c = Open(Scenario(5));
  const std::vector<uint8_t> image = Image(kType5Size);
  const std::string path = WriteFile("exact.fullrom", image);

  EXPECT_EQ(RCUpdateFirmware(path.c_str()), 0);

  EXPECT_EQ(Reports::Messages(), kSuccessText);
  EXPECT_EQ(sim::Flash(c).bytes, image);
  EXPECT_EQ(sim::Flash(c).activations, 1u);
  ExpectWholeUpdate(c, kType5Size);
  EXPECT_TRUE(c.ProtocolErrors().empty());
  // Whole packets of the erase and of one chunk.
  const auto requests = Requests(c);
  EXPECT_EQ(requests[1], MakeRequest(UPDC_ERASE_FLASH, 0, 2, {0xFF, 0xFF}));
  EXPECT_EQ(requests[2 + 0x1A20 / 32],
            MakeRequest(UPDC_WRITE_FLASH, 0x1A20, 32,
                        std::vector<uint8_t>(image.begin() + 0x1A20, image.begin() + 0x1A20 + 32)));
}

TEST_F(FirmwareUpdateTest, ProgressRunsOneChunkAheadAndEndsWithTwoHundreds) {
  Open(Scenario(5));
  const std::string path = WriteFile("progress.fullrom", Image(kType5Size));
  ASSERT_EQ(RCUpdateFirmware(path.c_str()), 0);

  const std::vector<uint32_t>& p = Progress::values;
  ASSERT_EQ(p.size(), kType5Size / 32);
  // ((offset + 32) + 32) * 100 first reaches 327,680 after the chunk at 3232.
  EXPECT_EQ(p[0], 0u);
  EXPECT_EQ(p[100], 0u);
  EXPECT_EQ(p[101], 1u);
  EXPECT_EQ(p[p.size() - 3], 99u);
  EXPECT_EQ(p[p.size() - 2], 100u);
  EXPECT_EQ(p[p.size() - 1], 100u);
  EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
}

TEST_F(FirmwareUpdateTest, LongerFileGivesOnlyItsFirstImageSizeBytesToAType6Chip) {
  sim::VirtualConverter& c = Open(Scenario(6));
  const std::vector<uint8_t> file = Image(kType6Size + 4096);
  const std::string path = WriteFile("long.fullrom", file);

  EXPECT_EQ(RCUpdateFirmware(path.c_str()), 0);
  EXPECT_EQ(Reports::Messages(), kSuccessText);
  EXPECT_EQ(sim::Flash(c).bytes, std::vector<uint8_t>(file.begin(), file.begin() + kType6Size));
  ExpectWholeUpdate(c, kType6Size);
}

// Drops the capability that lets root write any file, for the current thread,
// so a read-only file is read-only for this test too.
class WithoutDacOverride {
 public:
  WithoutDacOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    syscall(SYS_capget, &header, saved_);
    __user_cap_data_struct dropped[2] = {saved_[0], saved_[1]};
    dropped[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    syscall(SYS_capset, &header, dropped);
  }
  ~WithoutDacOverride() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    syscall(SYS_capset, &header, saved_);
  }

 private:
  __user_cap_data_struct saved_[2] = {};
};

struct FileCase {
  const char* name;
  int64_t size;  // -1: no file
  mode_t mode;  // 0: as created
  const char* messages;
  std::vector<uint8_t> commands;
};

class FirmwareFileTest : public OpsFixture, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FirmwareFileTest, BadFileFailsBeforeAnythingButTheDisableReachesTheChip) {
  const FileCase& fc = GetParam();
  sim::VirtualConverter& c = Open(Scenario(5));
  std::string path = TestPath("missing.fullrom");
  if (fc.size >= 0) path = WriteFile(std::string(fc.name) + ".fullrom", Image(static_cast<size_t>(fc.size)));
  if (fc.mode != 0) chmod(path.c_str(), fc.mode);

  int32_t result = 0;
  {
    WithoutDacOverride asPlainUser;
    result = RCUpdateFirmware(path.c_str());
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(Reports::Messages(), fc.messages);
  EXPECT_EQ(Commands(c), fc.commands);
  EXPECT_TRUE(Progress::values.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, FirmwareFileTest,
    ::testing::Values(
        FileCase{"missing", -1, 0, "Open file FAILED!!\n", {}},
        FileCase{"unreadable", kType5Size, 0200, "Open file FAILED!!\n", {}},
        FileCase{"empty", 0, 0, "Firmware file size ERROR!!\n\t...FAILED!!\n", {UPDC_DISABLE_RC}},
        FileCase{"oneshort", kType5Size - 1, 0, "Read file FAILED!!\n\t...FAILED!!\n", {UPDC_DISABLE_RC}}),
    [](const auto& info) { return std::string(info.param.name); });

// The image is only read, so one the user may not change (read-only media,
// a system folder, another user's file) is written like any other.
TEST_F(OpsFixture, ReadOnlyImageIsWrittenWhole) {
  sim::VirtualConverter& c = Open(Scenario(5));
  const std::string path = WriteFile("readonly.fullrom", Image(kType5Size));
  chmod(path.c_str(), 0444);
  int32_t result = -1;
  {
    WithoutDacOverride asPlainUser;
    result = RCUpdateFirmware(path.c_str());
  }
  EXPECT_EQ(result, 0);
  EXPECT_EQ(sim::Flash(c).bytes, Image(kType5Size));
}

struct DeviceCase {
  const char* name;
  const char* extra;  // converter keys
  int32_t result;
  const char* messages;
};

class FirmwareDeviceTest : public OpsFixture, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(FirmwareDeviceTest, DeviceAnswersDecideResultAndMessages) {
  const DeviceCase& dc = GetParam();
  sim::VirtualConverter& c = Open(Scenario(5, dc.extra));
  const std::string path = WriteFile(std::string(dc.name) + ".fullrom", Image(kType5Size));

  EXPECT_EQ(RCUpdateFirmware(path.c_str()), dc.result);
  EXPECT_EQ(Reports::Messages(), dc.messages);
  if (dc.result != 0 && !c.Unplugged()) {
    // A failed write phase leaves update mode; activation failures end with
    // the disable of the activation step.
    EXPECT_EQ(Commands(c).back(), UPDC_DISABLE_RC);
  }
}

const char kWriteHead[] = "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n";

INSTANTIATE_TEST_SUITE_P(
    Answers, FirmwareDeviceTest,
    ::testing::Values(
        DeviceCase{"EnableAnswersOne", R"(, "faults": [{"kind": "status", "command": 1, "status": 1}])", 0,
                   "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n\t...OK!\n"
                   "Activating firmware...OK!\nUpdate complete!\n"},
        DeviceCase{"EnableRefused", R"(, "faults": [{"kind": "status", "command": 1, "status": 2}])", -1,
                   "Initializing...FAILED!!\n\t...FAILED!!\n"},
        DeviceCase{"EraseRefused", R"(, "faults": [{"kind": "status", "command": 20, "status": 51}])", 225,
                   "Initializing...OK!\nErasing flash...FAILED!!\n\t...FAILED!!\n"},
        DeviceCase{"EraseNeverCompletes", R"(, "faults": [{"kind": "never_complete", "command": 20}])", 225,
                   "Initializing...OK!\nErasing flash...FAILED!!\n\t...FAILED!!\n"},
        DeviceCase{"ChunkRefusedAt1a20",
                   R"(, "faults": [{"kind": "status", "command": 32, "address": "0x1A20", "status": 5}])", 226,
                   "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n"
                   "Write flash FAILED at index: 1a20\n\t...FAILED!!\n"},
        DeviceCase{"ChunkRefusedAt0040",
                   R"(, "faults": [{"kind": "status", "command": 32, "address": "0x40", "status": 5}])", 226,
                   "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n"
                   "Write flash FAILED at index: 0040\n\t...FAILED!!\n"},
        DeviceCase{"UnpluggedAfterFifthChunk", R"(, "flash": {"unplug_after_chunk": 5})", 226,
                   "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n"
                   "Write flash FAILED at index: 00a0\n\t...FAILED!!\n"},
        DeviceCase{"ActivationRefused", R"(, "faults": [{"kind": "status", "command": 24, "status": 33}])", 33,
                   "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n\t...OK!\n"
                   "Activating firmware...FAILED!!\nUpdate FAILED!!\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FirmwareUpdateTest, ChunkFailureStopsTheWriteAtThatOffset) {
  sim::VirtualConverter& c =
      Open(Scenario(5, R"(, "faults": [{"kind": "status", "command": 32, "address": "0x1A20", "status": 5}])"));
  const std::string path = WriteFile("stop.fullrom", Image(kType5Size));
  ASSERT_EQ(RCWriteFirmwareFile(path.c_str()), 226);

  std::vector<RcCall> calls = RcCalls(c);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], (RcCall{UPDC_WRITE_FLASH, 0x1A20}));
  EXPECT_EQ(calls.back(), (RcCall{UPDC_DISABLE_RC, 0}));
  EXPECT_EQ(sim::Flash(c).chunksWritten, 0x1A20u / 32);
  EXPECT_EQ(Progress::values.size(), 0x1A20u / 32);
}

TEST_F(FirmwareUpdateTest, RefusedChipTypeAndMissingDeviceSendNothingAndSayNothing) {
  sim::VirtualConverter& c = Open(Scenario(4));
  ASSERT_EQ(CurrentChipType(), 4u);
  const std::string path = WriteFile("type4.fullrom", Image(kType5Size));
  EXPECT_EQ(RCUpdateFirmware(path.c_str()), -1);
  EXPECT_TRUE(Requests(c).empty());

  RCCloseDevice();
  EXPECT_EQ(RCWriteFirmwareFile(path.c_str()), -1);
  EXPECT_EQ(Reports::Messages(), "");
}

// Real time here: the converter keeps the erase reply pending for 250 ms of
// wall-clock time, which the reply wait must sit out.
TEST_F(FirmwareUpdateTest, EraseThatTakesTimeIsWaitedForWithPausedPolls) {
  // On virtual time the host's paused polls and the erase share one clock,
  // so the count of polls does not depend on how busy the machine is.
  SetRcTiming(RcTiming{});
  sim::UseVirtualTime(true);
  sim::VirtualConverter& c = Open(Scenario(5, R"(, "flash": {"erase_time_ms": 250})"));
  const std::string path = WriteFile("slow.fullrom", Image(kType5Size));
  EXPECT_EQ(RCWriteFirmwareFile(path.c_str()), 0);
  sim::UseVirtualTime(false);

  // Fetches that answered the erase: every one before the first chunk.
  const auto log = c.TransferLog();
  size_t requestsSeen = 0, eraseFetches = 0;
  for (const auto& t : log) {
    if (t.out) ++requestsSeen;
    else if (requestsSeen == 2) ++eraseFetches;
  }
  EXPECT_GE(eraseFetches, 3u);
  EXPECT_EQ(sim::Flash(c).chunksWritten, kType5Size / 32);
}

}  // namespace
}  // namespace ktq::testing
