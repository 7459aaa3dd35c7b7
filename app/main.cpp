// KTQUpdate and KTQUpdate_Cascade: the window over the device logic. The
// two programs are built from this same file; CASCADE_BUILD (set per target)
// decides whether the cascade-update button is offered.
//
// Demo mode: --simulate[=SCENARIO.json] runs the window on the virtual
// converter, --trace FILE records every HID transfer, as in ktq.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "frontend/backend_setup.h"

#ifndef CASCADE_BUILD
#error "CASCADE_BUILD must be 0 or 1"
#endif

namespace {

constexpr ktq::app::BuildVariant kVariant =
    CASCADE_BUILD ? ktq::app::BuildVariant::cascade : ktq::app::BuildVariant::standard;
constexpr const char* kProgram = CASCADE_BUILD ? "KTQUpdate_Cascade" : "KTQUpdate";

constexpr int kExitUsage = 2;
constexpr int kExitSetup = 4;

void PrintUsage() {
  std::printf(
      "Usage: %s [OPTIONS]\n"
      "Maintenance window for USB converters built on the KTQ chip family.\n"
      "\nOptions:\n%s"
      "  --version                   show the version\n"
      "  -h, --help                  show this help\n",
      kProgram, ktq::frontend::kBackendOptionsHelp);
}

// True when the toolkit has somewhere to draw: a display, or a platform
// named explicitly (QT_QPA_PLATFORM, -platform).
bool HasDisplay(int argc, char** argv) {
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (!qEnvironmentVariableIsEmpty(v)) return true;
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "-platform") return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Help and version work without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      PrintUsage();
      return 0;
    }
    if (arg == "--version") {
      std::printf("%s %s\n", kProgram, KTQ_APP_VERSION);
      return 0;
    }
  }
  if (!HasDisplay(argc, argv)) {
    std::fprintf(stderr, "%s: no display to show the window on; 'ktq --help' is the command line.\n", kProgram);
    return kExitSetup;
  }
  QApplication app(argc, argv);  // takes the toolkit's own options out of argv
  QApplication::setApplicationName(kProgram);
  QApplication::setApplicationVersion(KTQ_APP_VERSION);
  QApplication::setDesktopFileName(CASCADE_BUILD ? "ktq-update-cascade" : "ktq-update");
  QApplication::setWindowIcon(QIcon::fromTheme("ktq-update", QIcon(":/ktq-update.png")));

  ktq::frontend::BackendOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string error;
    const auto taken = ktq::frontend::TakeBackendOption(argc, argv, i, options, error);
    if (taken == ktq::frontend::OptionResult::taken) continue;
    if (taken == ktq::frontend::OptionResult::notMine) error = "unknown argument " + arg;
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
    return kExitUsage;
  }

  ktq::frontend::BackendSetup backend;
  std::string error;
  if (!backend.Start(options, error)) {
    std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    return kExitSetup;
  }
  QString title = kProgram;
  if (options.simulate) title += QString::fromUtf8(" \u2014 demo on the virtual converter");
  int status = 0;
  {
    ktq::app::MainWindow window(kVariant, title, KTQ_APP_VERSION);
    window.show();
    status = QApplication::exec();
  }
  backend.Stop();
  return status;
}
