// flash, cascade, tefra: the firmware updates and the Tefra log capture.
// Messages appear as the window shows them, on standard error; the write
// progress is a bar on a terminal and one percentage line per change
// otherwise.
#include "cli/cmd_firmware.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "chipdb/chip_id.h"
#include "cli/cli.h"
#include "cli/progress_display.h"
#include "cli/sha256.h"
#include "device/hid_session.h"
#include "report/format.h"
#include "report/report_callbacks.h"
#include "operations/cascade_update.h"
#include "operations/firmware_update.h"
#include "operations/operation_stop.h"
#include "operations/tefra_log.h"

namespace ktq::cli {

namespace {

int RunFlash(const std::vector<std::string>& args);
int RunCascade(const std::vector<std::string>& args);
int RunTefra(const std::vector<std::string>& args);

const char kUpdateExit[] =
    "\nBefore writing it shows the converter (path, serial number, chip type,\n"
    "firmware version and name) and the image (size, SHA-256) and asks; --yes\n"
    "skips the question, and without a terminal --yes is required. With several\n"
    "converters attached, choose one with --device or --serial.\n"
    "Ctrl-C during the erase or the write does not stop at once: a second\n"
    "Ctrl-C stops after the current chunk, leaving the converter without\n"
    "working firmware until it is flashed again.\n"
    "Exit status 0 when the update is complete; 1 when the device refused or\n"
    "failed (its result is printed in hex); 2 when the file is unusable or the\n"
    "write was not confirmed (nothing is written then); 130 when stopped.\n";

const std::string kFlashHelp = std::string(
    "Writes a firmware image into the converter chip's flash and activates it.\n"
    "The file is a raw image; its first bytes up to the chip's image size\n"
    "(0x50000 for chip type 5, 0x7F000 for type 6) are written. The file must\n"
    "be a readable regular file of at least that many bytes; this is checked\n"
    "before anything is sent. The new firmware runs after the converter\n"
    "restarts or is plugged in again; --wait waits for that and shows the new\n"
    "firmware version.\n"
    "--all updates every attached converter of the first one's chip type at\n"
    "once, one process each, and ends with a table (--json: an object with the\n"
    "keys image, all_ok and converters [{path, serial, result, exit_status,\n"
    "seconds, message}]).\n") + kUpdateExit;

const std::string kCascadeHelp = std::string(
    "Writes a firmware image for the RDX4410 companion chip through the flash\n"
    "it shares with a type-5 converter chip, then has the RDX4410 activate it.\n"
    "A converter without an RDX4410 (any other chip type) says so and nothing\n"
    "else is done.\n") + kUpdateExit;

const Command kFlash = {"flash", "FILE", "write and activate converter firmware", kFlashHelp.c_str(), RunFlash};
const Command kCascade = {"cascade", "FILE", "update the RDX4410 companion chip's firmware", kCascadeHelp.c_str(),
                          RunCascade};
const Command kTefra = {
    "tefra", "OUT.bin", "save the chip's embedded Tefra log",
    "Reads the chip's embedded Tefra debug log and stores its valid records in\n"
    "OUT.bin: 68 bytes each, the 32 bytes read and 36 zero bytes. An existing\n"
    "OUT.bin is replaced only by a complete log. When the converter fails or\n"
    "vanishes before the log's end, the records read so far are kept in\n"
    "OUT.bin.incomplete, OUT.bin stays as it was and the exit status is 1.\n"
    "Ctrl-C stops the same way (exit status 130).\n",
    RunTefra};

// Firmware images are at most half a megabyte; anything far larger is not
// an image for these chips (and reading it whole would waste memory).
constexpr uint64_t kMaxImageFileSize = 16u << 20;

// The report slots hand over plain function pointers: the one display of
// this run is reached through here.
ProgressDisplay* display = nullptr;
void ShowMessage(const char* text) { display->OnMessage(text); }
void ShowProgress(uint32_t percent) { display->OnProgress(percent); }
// Called on the HID layer's own thread: it leaves the display alone.
void ShowRemoved() { std::fputs("\nDevice removed.\n", stderr); }

int PreCheckFailure(const std::string& message) {
  std::fprintf(stderr, "ktq: %s; nothing was written\n", message.c_str());
  return kExitUsage;
}

// Runs `update` with the progress display, the report slots and Ctrl-C
// handling of a firmware write; the operation's result.
int32_t RunWithProgress(int32_t (*update)(const char*), const std::string& path) {
  const bool quiet = GlobalOptions().quiet;
  ProgressDisplay progress(stderr, isatty(STDERR_FILENO) != 0);
  display = &progress;
  RCSetCallbacks(ShowRemoved, ShowMessage, quiet ? nullptr : ShowMessage, nullptr, quiet ? nullptr : ShowProgress);
  ClearOperationStop();
  SetInterruptMode(InterruptMode::kCritical);
  const int32_t result = update(path.c_str());
  SetInterruptMode(InterruptMode::kExit);
  progress.Finish();
  RestoreReportSlots();
  display = nullptr;
  return result;
}

// --wait: the converter drops off the bus as it restarts (or is re-plugged)
// and comes back; then it is identified again.
int WaitForRestart(const Identity& before) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(GlobalOptions().waitSeconds);
  RCCloseDevice();
  if (!GlobalOptions().quiet)
    std::fprintf(stderr, "Waiting up to %u s for the converter to restart...\n", GlobalOptions().waitSeconds);
  auto present = [&before]() -> std::string {
    for (const auto& c : ListSupportedConverters())
      if (before.serial.empty() ? c.path == before.path : c.serial == before.serial) return c.path;
    return "";
  };
  bool gone = false;
  std::string path;
  while (std::chrono::steady_clock::now() < deadline) {
    path = present();
    if (path.empty()) gone = true;
    else if (gone) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!gone || path.empty()) {
    std::fprintf(stderr, "ktq: the converter did not restart within %u s; re-plug it to run the new firmware.\n",
                 GlobalOptions().waitSeconds);
    return kExitNoConverter;
  }
  if (RCOpenDevicePath(path.c_str()) != 0) {
    std::fprintf(stderr, "ktq: the converter came back at %s but cannot be opened.\n", path.c_str());
    return kExitNoConverter;
  }
  Identity after;
  if (int status = IdentifyChip(nullptr, after)) return status;
  if (after.firmwareVersion.empty()) {
    std::fputs("ktq: the converter is back, but its firmware version could not be read.\n", stderr);
    return kExitDeviceError;
  }
  std::fprintf(Out(), "Current FW version = %s\n", after.firmwareVersion.c_str());
  return kExitOk;
}

std::string ImageSummary(const std::string& path, const std::vector<uint8_t>& bytes) {
  return FormatString("Image %s: %zu bytes, SHA-256 %s\n", path.c_str(), bytes.size(), Sha256Hex(bytes).c_str());
}

// Runs `update` on `path` after the checks that need no writing: the file,
// then, once the chip is identified, the image size it takes. `imageSize`
// gives that size for the identified chip, 0 when the update itself refuses
// the chip (with its own message, before sending anything).
int RunUpdate(const Command& command, const std::vector<std::string>& args, int32_t (*update)(const char*),
              uint32_t (*imageSize)()) {
  if (args.size() != 1) return UsageError(command, std::string(command.name) + " takes one FILE");
  const std::string& path = args[0];
  uint64_t fileSize = 0;
  if (const std::string problem = CheckInputFile(path, kMaxImageFileSize, &fileSize); !problem.empty())
    return PreCheckFailure(problem);
  if (fileSize == 0) return PreCheckFailure(path + " is empty");
  std::vector<uint8_t> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.eof() && !in) return PreCheckFailure("cannot read " + path);
  }
  const std::string imageLine = ImageSummary(path, bytes);
  if (int status = RequireConfirmationPossible(imageLine)) return status;
  if (GlobalOptions().all) return FlashAll(path, imageLine);

  if (int status = OpenConverter(true)) return status;
  Identity identity;
  if (int status = IdentifyChip(nullptr, identity)) return status;
  const uint32_t required = imageSize();
  if (required == 0) {
    // The update refuses this chip with its own message and sends nothing.
    const int32_t result = update(path.c_str());
    return result == 0 ? kExitOk : kExitDeviceError;
  }
  if (fileSize < required) {
    return PreCheckFailure(FormatString("%s holds %llu bytes; a type-%u chip takes an image of %u bytes (0x%X)",
                                        path.c_str(), static_cast<unsigned long long>(fileSize), CurrentChipType(),
                                        required, required));
  }
  // Longer images are written as far as the chip takes them; an image made
  // for another chip type is the likely cause, so say so before writing.
  if (fileSize > required) {
    std::fprintf(stderr, "ktq: note: %s holds %llu bytes; a type-%u chip takes %u bytes (0x%X), the rest is not written\n",
                 path.c_str(), static_cast<unsigned long long>(fileSize), CurrentChipType(), required, required);
  }
  if (int status = Confirm(DescribeConverter(identity) + imageLine)) return status;

  const int32_t result = RunWithProgress(update, path);
  if (result == kOperationStopped) {
    std::fputs("ktq: stopped. The converter's flash holds a partial image: it has no working firmware.\n"
               "ktq: leave it plugged in and run the same command again before unplugging it.\n",
               stderr);
    return kExitInterrupted;
  }
  if (result != 0) {
    DeviceFailure(command.name, result);
    std::fputs("ktq: the update did not complete; the converter may hold no working firmware.\n"
               "ktq: keep it plugged in and flash again before unplugging it.\n",
               stderr);
    return kExitDeviceError;
  }
  if (!GlobalOptions().wait) {
    if (!GlobalOptions().quiet)
      std::fputs("The new firmware runs once the converter restarts: re-plug it (or use --wait).\n", stderr);
    return kExitOk;
  }
  return WaitForRestart(identity);
}

uint32_t FlashImageSize() { return FirmwareImageSize(CurrentChipType()); }

// Only type 5 carries an RDX4410; the cascade update refuses the others.
uint32_t CascadeImageSize() { return CurrentChipType() == 5 ? FirmwareImageSize(5) : 0; }

int RunFlash(const std::vector<std::string>& args) {
  return RunUpdate(kFlash, args, RCUpdateFirmware, FlashImageSize);
}

int RunCascade(const std::vector<std::string>& args) {
  return RunUpdate(kCascade, args, RCCascadeUpdate, CascadeImageSize);
}

int RunTefra(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError(kTefra, "tefra takes one OUT.bin");
  std::vector<std::string> inputs;
  if (!GlobalOptions().scenario.empty()) inputs.push_back(GlobalOptions().scenario);
  if (GlobalOptions().traceGiven) inputs.push_back(GlobalOptions().trace);
  if (const std::string problem = CheckOutputFile(args[0], inputs); !problem.empty()) {
    std::fprintf(stderr, "ktq: %s\n", problem.c_str());
    return kExitUsage;
  }
  if (int status = OpenConverter()) return status;
  TefraCapture capture;
  ClearOperationStop();
  SetInterruptMode(InterruptMode::kStopAtSafePoint);
  const int32_t result = SaveTefraLog(args[0].c_str(), true, capture);
  SetInterruptMode(InterruptMode::kExit);
  if (result == 0) {
    if (!GlobalOptions().quiet)
      std::fprintf(stderr, "%u record%s written to %s\n", capture.records, capture.records == 1 ? "" : "s",
                   capture.savedTo.c_str());
    return kExitOk;
  }
  if (!capture.savedTo.empty()) {
    std::fprintf(stderr, "ktq: the log is incomplete: %u record%s kept in %s; %s was left as it was.\n",
                 capture.records, capture.records == 1 ? "" : "s", capture.savedTo.c_str(), args[0].c_str());
    if (result == kOperationStopped) return kExitInterrupted;
  }
  return DeviceFailure("tefra", result);
}

}  // namespace

void RegisterFirmwareCommands(CommandTable& table) {
  table.Add(kFlash);
  table.Add(kCascade);
  table.Add(kTefra);
}

}  // namespace ktq::cli
