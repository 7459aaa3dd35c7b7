// The real Qt window on the offscreen platform over the virtual converter:
// its buttons pressed with Qt's test API, its panels and alerts answered,
// its fields read back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/command_facade.h"
#include "app/main_window.h"
#include "device/hid_session.h"
#include "sim/scenario.h"
#include "sim/virtual_host.h"
#include "tests/app/modal_answers.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_dir.h"

namespace ktq::testing {
namespace {

using app::BuildVariant;
using app::MainWindow;

const char* const kButtonNames[] = {"openDeviceBtn",  "updateRDX4410Btn",     "fileToFlashBtn",
                                    "dumpBtn",        "saveEmbeddedTefraBtn", "quitBtn"};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { SetRcTiming(FakeClock::Timing()); }
  void TearDown() override {
    window.reset();
    sharedCommand.reset();
    host.Uninstall();
    SetRcTiming(RcTiming{});
  }

  void Start(BuildVariant variant, const std::string& scenario) {
    std::string error;
    ASSERT_TRUE(sim::LoadScenarioText(scenario, host, error)) << error;
    host.Install();
    window = std::make_unique<MainWindow>(variant, "KTQUpdate test", "7.8.9");
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  QPushButton* Btn(const char* name) { return window->findChild<QPushButton*>(name); }
  std::string Text(const char* field) {
    return window->findChild<QPlainTextEdit*>(field)->toPlainText().toStdString();
  }
  // The buttons a user can press now.
  std::vector<std::string> Enabled() {
    std::vector<std::string> out;
    for (const char* n : kButtonNames)
      if (Btn(n)->isEnabled()) out.push_back(n);
    return out;
  }
  void Click(const char* name) {
    QTest::mouseClick(Btn(name), Qt::LeftButton);
    QCoreApplication::sendPostedEvents();
  }
  // Presses a button that starts a background operation and waits for its
  // completion step, which may already have run when the press returns.
  bool ClickAndFinish(const char* name, QSignalSpy& finished) {
    const auto before = finished.count();
    Click(name);
    return finished.count() > before || finished.wait(60000);
  }

  sim::VirtualHost host;
  std::unique_ptr<MainWindow> window;
};

const std::vector<std::string> kClosed = {"openDeviceBtn", "quitBtn"};
const std::vector<std::string> kAll(std::begin(kButtonNames), std::end(kButtonNames));

TEST_F(WindowTest, CascadeWindowOpensUpdatesSavesTheLogAndQuits) {
  Start(BuildVariant::cascade, R"({"devices": [{"chip": {"type": 5}, "tefra": {"records": [
    "10 00 05 01 00 00 00 00 A5 5A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"],
    "final_status": 7}}]})");
  for (const char* n : kButtonNames) {
    ASSERT_NE(Btn(n), nullptr) << n;
    EXPECT_TRUE(Btn(n)->isVisible()) << n;
  }
  EXPECT_EQ(Enabled(), kClosed);
  EXPECT_EQ(Btn("openDeviceBtn")->text(), "&Open Device");
  EXPECT_EQ(Text("infoText"), "");

  Click("openDeviceBtn");
  EXPECT_EQ(Text("infoText"), "Chip type: Tarvik\nCurrent FW version = 2.03.034\nCurrent FW name = TARVIK_FW\n");
  EXPECT_EQ(Text("msgText"), "");
  EXPECT_EQ(Enabled(), kAll);
  EXPECT_EQ(Btn("openDeviceBtn")->text(), "&Close Device");

  // Firmware update: panel, confirmation, the work, the completion alert.
  const std::string image = TestPath("fw.fullrom");
  std::ofstream(image, std::ios::binary) << std::string(0x50000, '\x5A');
  std::vector<AlertSeen> alerts;
  std::string panelTitle;
  QSignalSpy finished(window.get(), &MainWindow::operationFinished);
  ChooseFile(image, &panelTitle);
  AnswerAlerts({"OK", "OK"}, &alerts);  // the confirmation, then the completion
  const auto finishedBefore = finished.count();
  Click("fileToFlashBtn");
  EXPECT_EQ(panelTitle, "Select Firmware file");
  ASSERT_GE(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].text, "Start Update Firmware:\nfw.fullrom");
  EXPECT_EQ(alerts[0].informative, "Please don't un-plug device while updating.\nClick OK to start.");
  EXPECT_EQ(alerts[0].icon, QMessageBox::Warning);
  std::sort(alerts[0].buttons.begin(), alerts[0].buttons.end());
  EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"Cancel", "OK"}));
  if (finished.count() == finishedBefore) {
    EXPECT_EQ(Enabled(), std::vector<std::string>{}) << "every button waits while the update runs";
  }
  ASSERT_TRUE(finished.count() > finishedBefore || finished.wait(60000));
  ASSERT_EQ(alerts.size(), 2u);
  EXPECT_EQ(alerts[1].text, "Update Complete!");
  EXPECT_EQ(alerts[1].informative, "Please re-plug device to apply updated firmware.");
  EXPECT_TRUE(alerts[1].hasPixmap) << "the check-mark icon";
  EXPECT_EQ(Text("msgText"),
            "Initializing...OK!\nErasing flash...OK!\nUpdating firmware...\n"
            "\tDownloading to storage...[100%]\n\t...OK!\nActivating firmware...OK!\nUpdate complete!\n");
  EXPECT_EQ(Enabled(), kAll);
  EXPECT_FALSE(window->findChild<QProgressBar*>("progress")->isVisible());

  // Tefra log: save panel, no alert.
  ChooseFile(TestPath("log.bin"), &panelTitle);
  ASSERT_TRUE(ClickAndFinish("saveEmbeddedTefraBtn", finished));
  EXPECT_EQ(panelTitle, "Save embedded Tefra log file");
  EXPECT_EQ(alerts.size(), 2u);
  ASSERT_TRUE(std::filesystem::exists(TestPath("log.bin"))) << Text("msgText");
  EXPECT_EQ(std::filesystem::file_size(TestPath("log.bin")), 68u);
  EXPECT_EQ(Enabled(), kAll);

  // The dump: save panel, no alert, the window's version in the header.
  ChooseFile(TestPath("dump.txt"), &panelTitle);
  ASSERT_TRUE(ClickAndFinish("dumpBtn", finished));
  EXPECT_EQ(panelTitle, "Save dump file");
  EXPECT_EQ(alerts.size(), 2u);
  std::ifstream dump(TestPath("dump.txt"), std::ios::binary);
  std::string header;
  std::getline(dump, header);
  EXPECT_NE(header.find(", application tool version: 7.8.9\r"), std::string::npos) << header;
  EXPECT_EQ(Enabled(), kAll);

  // Quit closes the device.
  ASSERT_EQ(host.OpenHandleCount(), 1);
  Click("quitBtn");
  EXPECT_EQ(host.OpenHandleCount(), 0);
  EXPECT_TRUE(sharedCommand.empty());
  EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, StandardWindowHidesOnlyTheCascadeButton) {
  Start(BuildVariant::standard, R"({"devices": [{"chip": {"type": 6}}]})");
  for (const char* n : kButtonNames) EXPECT_EQ(Btn(n)->isVisible(), std::string(n) != "updateRDX4410Btn") << n;
  Click("openDeviceBtn");
  EXPECT_EQ(Enabled(), kAll) << "the hidden button is enabled like the others";
  EXPECT_FALSE(Btn("updateRDX4410Btn")->isVisible());
  // Removal of the converter while idle.
  host.Converter(0).Unplug();
  QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(Text("msgText")), QString("Device removed."), 10000);
  EXPECT_EQ(Text("infoText"), "");
  EXPECT_EQ(Enabled(), kClosed);
  EXPECT_EQ(Btn("openDeviceBtn")->text(), "&Open Device");
}

}  // namespace
}  // namespace ktq::testing

int main(int argc, char** argv) {
  // The window is built for real; without a display it draws offscreen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
