// The window controller's flows over the virtual converter, with a window
// that has no display (fake_window.h): button states, the fields' texts,
// panels and alerts, the progress line, removal and quit.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/command_facade.h"
#include "app/progress_line.h"
#include "app/view_controller.h"
#include "device/hid_session.h"
#include "report/report_callbacks.h"
#include "sim/scenario.h"
#include "sim/virtual_host.h"
#include "tests/app/fake_window.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

using app::BuildVariant;
using app::ButtonState;
using app::DeviceOperations;
using app::ViewController;

constexpr char kType5Identity[] =
    "Chip type: Tarvik\r\nCurrent FW version = 2.03.034\nCurrent FW name = TARVIK_FW\n";
constexpr char kUpdateOk[] =
    "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n"
    "\tDownloading to storage...[100%]\n\t...OK!\nActivating firmware...OK!\nUpdate complete!\n";

const std::vector<Button> kClosedButtons = {Button::openDevice, Button::quit};
const std::vector<Button> kAllSix(std::begin(app::kAllButtons), std::end(app::kAllButtons));

std::string Type5(const std::string& extra = "") {
  return R"({"devices": [{"chip": {"type": 5})" + extra + "}]}";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string WriteImage(const std::string& name, size_t size) {
  const std::string path = TestPath(name);
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 8) + 1);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  return path;
}

class ControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRcTiming(FakeClock::Timing()); }

  void TearDown() override {
    EXPECT_TRUE(window.RunUntilIdle());
    sharedCommand.reset();
    RCSetCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    host.Uninstall();
    SetRcTiming(RcTiming{});
  }

  // The window as the program starts it, over `scenario` (none: no
  // converter attached).
  void Start(const std::string& scenario, BuildVariant variant = BuildVariant::cascade,
             DeviceOperations operations = app::DeviceLogicOperations()) {
    if (!scenario.empty()) {
      std::string error;
      ASSERT_TRUE(sim::LoadScenarioText(scenario, host, error)) << error;
    }
    host.Install();
    controller = std::make_shared<ViewController>(window, variant, "4.5.6", operations);
    controller->viewDidLoad();
  }

  void Press(void (ViewController::*action)()) {
    (controller.get()->*action)();
    ASSERT_TRUE(window.RunUntilIdle());
  }

  void Open() {
    Press(&ViewController::openDeviceWithSender);
    ASSERT_TRUE(controller->deviceOpened()) << window.message;
  }

  // Pulls the converter out and waits for the window to say so.
  void Unplug() {
    host.Converter(0).Unplug();
    ASSERT_TRUE(window.RunUntil([&] { return window.message == "Device removed."; })) << window.message;
  }

  // Runs a firmware update of a type-5 image through the file-to-flash flow.
  void UpdateFirmware(const std::string& imageName = "fw.fullrom") {
    window.panelAnswers = {WriteImage(imageName, 0x50000)};
    window.alertAnswers = {0, 0};
    Press(&ViewController::fileToFlashWithSender);
  }

  sim::VirtualHost host;
  FakeWindow window;
  std::shared_ptr<ViewController> controller;
};

// --- The progress line -------------------------------------------------------

TEST(ProgressLineTest, ReportsRewriteOrAppendTheLine) {
  const std::string l0 = app::ProgressLine(0), l1 = app::ProgressLine(1), l37 = app::ProgressLine(37);
  EXPECT_EQ(l0, "\tDownloading to storage...[0%]\n");
  struct Case {
    std::string text;
    uint32_t shown, percent;
    std::string expectText;
    uint32_t expectShown;
    bool changed;
  } cases[] = {
      {"Updating firmware...\n", 0, 0, "Updating firmware...\n" + l0, 0, true},
      {"a\n" + l0, 0, 0, "a\n" + l0, 0, false},
      {"a\n" + l0 + "b\n", 0, 1, "a\n" + l1 + "b\n", 1, true},
      {l0 + "x" + l0, 0, 1, l1 + "x" + l1, 1, true},
      {"a\n", 37, 0, "a\n" + l0, 37, true},
      {"a\n" + l0, 37, 0, "a\n" + l0 + l0, 37, true},
      {l37, 37, 100, app::ProgressLine(100), 100, true},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    uint32_t shown = c.shown;
    EXPECT_EQ(app::ApplyProgressReport(text, shown, c.percent), c.changed) << c.text;
    EXPECT_EQ(text, c.expectText);
    EXPECT_EQ(shown, c.expectShown);
  }
}

// --- The command facade --------------------------------------------------------

struct RecordingDelegate : RCCommandDelegete {
  std::vector<std::string> calls;
  void deviceRemoved() override { calls.push_back("removed"); }
  void appendInfoText(std::string t) override { calls.push_back("info:" + t); }
  void appendMessageText(std::string t) override { calls.push_back("msg:" + t); }
  void clearMessageText() override { calls.push_back("clear"); }
  void reportProgress(uint32_t p) override { calls.push_back("progress:" + std::to_string(p)); }
};

TEST_F(ControllerTest, FacadeForwardsEverySlotUntilItIsReleased) {
  host.AddConverter();
  host.Install();
  auto delegate = std::make_shared<RecordingDelegate>();
  sharedCommand.reset(std::make_unique<RCCommand>(delegate));
  ASSERT_EQ(RCEnumAndOpenDevice(), 0);
  EXPECT_EQ(host.OpenHandleCount(), 1);

  char buffer[] = "Initializing...";
  ktq::ReportMessage(buffer);
  buffer[0] = 'X';  // the copy was made before the call returned
  ktq::ReportInfo("Chip type: ");
  ktq::ReportProgress(37);
  ktq::ReportDeviceRemoved();
  sharedCommand.withDelegate([](RCCommandDelegete& d) { d.clearMessageText(); });
  EXPECT_EQ(delegate->calls,
            (std::vector<std::string>{"msg:Initializing...", "info:Chip type: ", "progress:37", "removed", "clear"}));

  // The teardown closes the device and shuts the HID layer down; the slots
  // stay installed and do nothing.
  sharedCommand.reset();
  EXPECT_EQ(host.OpenHandleCount(), 0);
  EXPECT_EQ(DeviceHandle(), nullptr);
  ktq::ReportMessage("late");
  ktq::ReportInfo("late");
  ktq::ReportProgress(1);
  ktq::ReportDeviceRemoved();
  EXPECT_EQ(delegate->calls.size(), 5u);
}

// --- Start, button states, open and close --------------------------------------

TEST_F(ControllerTest, BothBuildsStartClosedAndOnlyTheStandardHidesTheCascadeButton) {
  for (BuildVariant variant : {BuildVariant::standard, BuildVariant::cascade}) {
    FakeWindow w;
    auto c = std::make_shared<ViewController>(w, variant, "4.5.6");
    c->viewDidLoad();
    EXPECT_EQ(w.info, "");
    EXPECT_EQ(w.message, "");
    EXPECT_EQ(w.EnabledButtons(), kClosedButtons);
    EXPECT_EQ(w.openTitle, "Open Device");
    EXPECT_EQ(w.hidden[Button::updateRDX4410], variant == BuildVariant::standard);
    // Enabling never shows the hidden button.
    c->setButtonState(ButtonState::opened);
    EXPECT_TRUE(w.enabled[Button::updateRDX4410]);
    EXPECT_EQ(w.hidden[Button::updateRDX4410], variant == BuildVariant::standard);
    EXPECT_TRUE(w.RunUntilIdle());
    EXPECT_EQ(w.message, "") << "nothing is reported before the user opens";
    sharedCommand.reset();
  }
}

TEST_F(ControllerTest, ButtonStatesEnableAndTitleAsTabled) {
  Start("");
  struct Case {
    ButtonState state;
    std::vector<Button> enabled;
    std::string title;
  } cases[] = {
      {ButtonState::opened, kAllSix, "Close Device"},
      {ButtonState::busy, {}, "Close Device"},  // busy keeps the title
      {ButtonState::ready, kAllSix, "Close Device"},
      {ButtonState::closed, kClosedButtons, "Open Device"},
      {ButtonState::busy, {}, "Open Device"},
      {ButtonState::ready, kAllSix, "Open Device"},
  };
  for (const Case& c : cases) {
    controller->setButtonState(c.state);
    EXPECT_EQ(window.EnabledButtons(), c.enabled) << static_cast<int>(c.state);
    EXPECT_EQ(window.openTitle, c.title) << static_cast<int>(c.state);
  }
}

TEST_F(ControllerTest, OpenIdentifiesTheChipAndCloseEmptiesBothFields) {
  Start(Type5());
  Open();
  EXPECT_EQ(window.info, kType5Identity);
  EXPECT_EQ(window.message, "");
  EXPECT_EQ(window.EnabledButtons(), kAllSix);
  EXPECT_EQ(window.openTitle, "Close Device");
  EXPECT_EQ(host.OpenHandleCount(), 1);

  Press(&ViewController::openDeviceWithSender);
  EXPECT_FALSE(controller->deviceOpened());
  EXPECT_EQ(window.info, "");
  EXPECT_EQ(window.message, "");
  EXPECT_EQ(window.EnabledButtons(), kClosedButtons);
  EXPECT_EQ(window.openTitle, "Open Device");
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(ControllerTest, OpenWithoutConverterStaysClosedWithTheDeviceLayersMessage) {
  Start(R"({"devices": [{"type": "foreign", "vendor_id": "0x046D", "product_id": "0xC077"}]})");
  Press(&ViewController::openDeviceWithSender);
  EXPECT_FALSE(controller->deviceOpened());
  EXPECT_EQ(window.message, "Can not find device!!\n");
  EXPECT_EQ(window.info, "");
  EXPECT_EQ(window.EnabledButtons(), kClosedButtons);
  // A second attempt clears the first one's message.
  Press(&ViewController::openDeviceWithSender);
  EXPECT_EQ(window.message, "Can not find device!!\n");
}

// --- Firmware updates ----------------------------------------------------------

TEST_F(ControllerTest, FirmwareUpdateAsksConfirmsRunsAndCompletes) {
  Start(Type5());
  Open();
  UpdateFirmware("fw.fullrom");

  ASSERT_EQ(window.openPanels.size(), 1u);
  EXPECT_EQ(window.openPanels[0].message, "Select Firmware file");
  EXPECT_EQ(window.openPanels[0].extension, "fullrom");
  ASSERT_EQ(window.alerts.size(), 2u);
  EXPECT_EQ(window.alerts[0].icon, app::AlertIcon::warning);
  EXPECT_EQ(window.alerts[0].message, "Start Update Firmware:\nfw.fullrom");
  EXPECT_EQ(window.alerts[0].informative, "Please don't un-plug device while updating.\nClick OK to start.");
  EXPECT_EQ(window.alerts[0].buttons, (std::vector<std::string>{"OK", "Cancel"}));
  EXPECT_EQ(window.alerts[1].icon, app::AlertIcon::success);
  EXPECT_EQ(window.alerts[1].message, "Update Complete!");
  EXPECT_EQ(window.alerts[1].informative, "Please re-plug device to apply updated firmware.");
  EXPECT_EQ(window.alerts[1].buttons, std::vector<std::string>{"OK"});

  EXPECT_EQ(window.message, kUpdateOk);
  EXPECT_EQ(controller->updateProgress(), 100u);
  EXPECT_EQ(window.EnabledButtons(), kAllSix);
  EXPECT_EQ(window.openTitle, "Close Device");
  EXPECT_EQ(window.progress, std::nullopt) << "the progress bar goes once the update is over";
}

TEST_F(ControllerTest, AFailedUpdateShowsNoAlertAndReturnsToReady) {
  // The chip refuses the erase.
  Start(Type5(R"(, "faults": [{"kind": "status", "command": 20, "status": 51}])"));
  Open();
  UpdateFirmware();
  ASSERT_EQ(window.alerts.size(), 1u) << "only the confirmation";
  EXPECT_EQ(window.message, "Initializing...OK!\nErasing flash...FAILED!!\n\t...FAILED!!\n");
  EXPECT_EQ(window.EnabledButtons(), kAllSix);
}

// The flow keys off the operation's result alone: any non-zero result, such
// as a cascade activation that failed, ends without the completion alert.
TEST_F(ControllerTest, UpdateResultsDecideTheCompletionAlert) {
  static int32_t result;
  DeviceOperations ops = app::DeviceLogicOperations();
  ops.cascadeUpdate = [](const char*) { return result; };
  Start(Type5(), BuildVariant::cascade, ops);
  Open();
  for (int32_t r : {0, 5, -1, 242, 0}) {
    result = r;
    window.alerts.clear();
    window.panelAnswers = {WriteImage("rdx.fullrom", 16)};
    window.alertAnswers = {0, 0};
    Press(&ViewController::cascadeUpdateWithSender);
    ASSERT_EQ(window.openPanels.back().message, "Select RDX4410 Firmware File");
    ASSERT_GE(window.alerts.size(), 1u);
    EXPECT_EQ(window.alerts[0].message, "Start Update RDX4410 Firmware:\nrdx.fullrom");
    EXPECT_EQ(window.alerts.size(), r == 0 ? 2u : 1u) << "result " << r;
    EXPECT_EQ(window.EnabledButtons(), kAllSix);
  }
}

TEST_F(ControllerTest, CascadeUpdateOnTheVirtualConverterCompletes) {
  std::string error;
  Start(R"({"devices": [{"chip": {"type": 5}, "rdx4410": {"variant": "4b"}}]})");
  Open();
  window.panelAnswers = {WriteImage("rdx.fullrom", 0x50000)};
  window.alertAnswers = {0, 0};
  Press(&ViewController::cascadeUpdateWithSender);
  ASSERT_EQ(window.alerts.size(), 2u) << window.message;
  EXPECT_EQ(window.alerts[1].message, "Update Complete!");
  EXPECT_NE(window.message.find(app::ProgressLine(100)), std::string::npos) << window.message;
  EXPECT_EQ(window.message.find(app::ProgressLine(99)), std::string::npos) << "one line, rewritten in place";
}

TEST_F(ControllerTest, CancellingStopsTheFlowButALaterUpdateClearsTheOldOneFirst) {
  Start(Type5());
  Open();
  const size_t requestsAfterOpen = host.Converter(0).TransferLog().size();

  // A cancelled panel, then a cancelled confirmation: nothing runs.
  window.panelAnswers = {std::nullopt};
  Press(&ViewController::fileToFlashWithSender);
  window.panelAnswers = {WriteImage("fw.fullrom", 0x50000)};
  window.alertAnswers = {1};  // Cancel
  Press(&ViewController::fileToFlashWithSender);
  EXPECT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(host.Converter(0).TransferLog().size(), requestsAfterOpen) << "nothing was sent";
  EXPECT_EQ(window.EnabledButtons(), kAllSix);

  UpdateFirmware();
  ASSERT_EQ(window.message, kUpdateOk);
  // The finished update's text goes as soon as the next one starts, even
  // when its panel is then cancelled; the save flows leave it alone.
  window.panelAnswers = {std::nullopt};
  Press(&ViewController::saveEmbeddedTefra);
  EXPECT_EQ(window.message, kUpdateOk);
  window.panelAnswers = {std::nullopt};
  Press(&ViewController::cascadeUpdateWithSender);
  EXPECT_EQ(window.message, "");
  EXPECT_EQ(controller->updateProgress(), 0u);
}

TEST_F(ControllerTest, FlowsStartedWithoutAnOpenDeviceEndSilently) {
  Start(Type5());
  window.panelAnswers = {WriteImage("fw.fullrom", 0x50000), TestPath("log.bin"), TestPath("dump.txt")};
  Press(&ViewController::fileToFlashWithSender);
  Press(&ViewController::saveEmbeddedTefra);
  Press(&ViewController::dumpAll);
  EXPECT_TRUE(window.alerts.empty());
  EXPECT_EQ(window.message, "");
  EXPECT_EQ(window.EnabledButtons(), kClosedButtons);
  EXPECT_FALSE(std::filesystem::exists(TestPath("log.bin")));
}

// --- Save flows -----------------------------------------------------------------

TEST_F(ControllerTest, TefraLogIsSavedWithoutAlertUnderTheMessagesAlreadyShown) {
  Start(R"({"devices": [{"chip": {"type": 5}, "tefra": {"records": [
    "10 00 05 01 00 00 00 00 A5 5A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"],
    "final_status": 7}}]})");
  Open();
  controller->appendMessageText("earlier\n");
  ASSERT_TRUE(window.RunUntilIdle());
  window.panelAnswers = {TestPath("log.bin")};
  Press(&ViewController::saveEmbeddedTefra);
  ASSERT_EQ(window.savePanels.size(), 1u);
  EXPECT_EQ(window.savePanels[0].title, "Save embedded Tefra log file");
  EXPECT_EQ(window.savePanels[0].proposedName, "TefraRawData_MAC");
  EXPECT_EQ(window.savePanels[0].extension, "bin");
  EXPECT_TRUE(window.alerts.empty());
  EXPECT_EQ(window.message, "earlier\nSave embedded tefra log...finished.\r\n");
  EXPECT_EQ(std::filesystem::file_size(TestPath("log.bin")), 68u);
  EXPECT_EQ(window.EnabledButtons(), kAllSix);
}

TEST_F(ControllerTest, DumpPassesPathAndVersionAndShowsNoAlert) {
  static std::string dumpedPath, dumpedVersion;
  DeviceOperations ops = app::DeviceLogicOperations();
  ops.dumpAll = [](const char* path, const char* version) {
    dumpedPath = path;
    dumpedVersion = version;
    ktq::ReportMessage("Dump register/memory...");
    ktq::ReportMessage("finished.\r\n");
    return 0;
  };
  Start(Type5(), BuildVariant::standard, ops);
  Open();
  window.panelAnswers = {TestPath("dump_MAC.txt")};
  Press(&ViewController::dumpAll);
  ASSERT_EQ(window.savePanels.size(), 1u);
  EXPECT_EQ(window.savePanels[0].title, "Save dump file");
  EXPECT_EQ(window.savePanels[0].proposedName, "dump_MAC");
  EXPECT_EQ(window.savePanels[0].extension, "txt");
  EXPECT_EQ(dumpedPath, TestPath("dump_MAC.txt"));
  EXPECT_EQ(dumpedVersion, "4.5.6");
  EXPECT_EQ(window.message, "Dump register/memory...finished.\r\n");
  EXPECT_TRUE(window.alerts.empty());
  EXPECT_EQ(window.EnabledButtons(), kAllSix);
}

TEST_F(ControllerTest, DumpOfTheVirtualConverterCarriesTheApplicationVersion) {
  Start(Type5());
  Open();
  window.panelAnswers = {TestPath("dump_MAC.txt")};
  Press(&ViewController::dumpAll);
  EXPECT_EQ(window.message, "Dump register/memory...finished.\r\n");
  EXPECT_TRUE(window.alerts.empty());
  EXPECT_EQ(window.EnabledButtons(), kAllSix);
  const std::string dump = ReadFile(TestPath("dump_MAC.txt"));
  const std::string header = dump.substr(0, dump.find("\r\n") + 2);
  EXPECT_EQ(header.rfind("Dump at ", 0), 0u) << header;
  EXPECT_NE(header.find(", application tool version: 4.5.6\r\n"), std::string::npos) << header;
}

// --- Removal and quit -------------------------------------------------------------

TEST_F(ControllerTest, RemovalWhileIdleClosesAndSaysSo) {
  Start(Type5());
  Open();
  Unplug();
  EXPECT_EQ(window.message, "Device removed.");
  EXPECT_EQ(window.info, "");
  EXPECT_EQ(window.EnabledButtons(), kClosedButtons);
  EXPECT_EQ(window.openTitle, "Open Device");
  EXPECT_FALSE(controller->deviceOpened());
  EXPECT_EQ(host.OpenHandleCount(), 0);
  ASSERT_TRUE(window.RunUntilIdle());
  EXPECT_EQ(window.message, "Device removed.") << "nothing runs after the message";
}

// While an operation runs every button stays disabled; its completion step
// closes and leaves the message, and a failed update shows no alert.
TEST_F(ControllerTest, RemovalWhileBusyClosesWhenTheOperationEnds) {
  Start(Type5());
  Open();
  window.holdBackground = true;
  UpdateFirmware();
  ASSERT_EQ(controller->buttonState(), ButtonState::busy);
  host.Converter(0).Unplug();
  ASSERT_TRUE(window.RunUntil([] { return true; })) << "the removal report arrives";
  EXPECT_EQ(window.EnabledButtons(), std::vector<Button>{});
  EXPECT_TRUE(controller->deviceOpened());

  window.ReleaseBackground();
  ASSERT_TRUE(window.RunUntil([&] { return window.message == "Device removed."; }));
  ASSERT_TRUE(window.RunUntilIdle());
  EXPECT_EQ(window.message, "Device removed.");
  EXPECT_EQ(window.info, "");
  EXPECT_EQ(window.alerts.size(), 1u) << "no completion alert";
  EXPECT_EQ(window.EnabledButtons(), kClosedButtons);
  EXPECT_FALSE(controller->deviceOpened());
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(ControllerTest, UnplugHalfwayThroughAnUpdateEndsClosed) {
  Start(Type5(R"(, "flash": {"unplug_after_chunk": 100})"));
  Open();
  UpdateFirmware();
  ASSERT_TRUE(window.message == "Device removed." ||
              window.RunUntil([&] { return window.message == "Device removed."; }))
      << window.message;
  ASSERT_TRUE(window.RunUntilIdle());
  EXPECT_EQ(window.message, "Device removed.");
  EXPECT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.EnabledButtons(), kClosedButtons);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(ControllerTest, RemovalDuringTheConfirmationStopsTheUpdate) {
  Start(Type5());
  Open();
  window.whileAlertShown = [&](const Alert&) { Unplug(); };
  UpdateFirmware();
  EXPECT_EQ(window.alerts.size(), 1u);
  EXPECT_EQ(window.message, "Device removed.");
  EXPECT_EQ(window.EnabledButtons(), kClosedButtons);
}

TEST_F(ControllerTest, QuitClosesTheDeviceAndSilencesTheSlots) {
  Start(Type5());
  Open();
  ASSERT_EQ(host.OpenHandleCount(), 1);
  controller->quitApp();
  EXPECT_TRUE(window.terminated);
  EXPECT_TRUE(sharedCommand.empty());
  EXPECT_EQ(host.OpenHandleCount(), 0);
  ktq::ReportMessage("late\n");
  ASSERT_TRUE(window.RunUntilIdle());
  EXPECT_EQ(window.message, "");
}

}  // namespace
}  // namespace ktq::testing
