// flash, cascade, tefra: the firmware updates and the Tefra log capture.
// Messages appear as the window shows them; the write progress is a bar on a
// terminal and one percentage line per change otherwise.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "chipdb/chip_id.h"
#include "cli/cli.h"
#include "cli/progress_display.h"
#include "report/format.h"
#include "report/report_callbacks.h"
#include "operations/cascade_update.h"
#include "operations/firmware_update.h"
#include "operations/tefra_log.h"

namespace ktq::cli {

namespace {

int RunFlash(const std::vector<std::string>& args);
int RunCascade(const std::vector<std::string>& args);
int RunTefra(const std::vector<std::string>& args);

const char kUpdateExit[] =
    "\nExit status: 0 when the update is complete; 2 when the file is unusable\n"
    "(nothing is written then); 1 when the chip is not supported; else the\n"
    "update's result (225 erase failed, 226 chunk write failed, 242 refused,\n"
    "255 for -1, or the device's status).\n";

const std::string kFlashHelp = std::string(
    "Writes a firmware image into the converter chip's flash and activates it.\n"
    "The file is a raw image; its first bytes up to the chip's image size\n"
    "(0x50000 for chip type 5, 0x7F000 for type 6) are written. The file must\n"
    "exist, be readable and writable, and hold at least that many bytes; this\n"
    "is checked before anything is sent. The new firmware runs after the\n"
    "converter is plugged in again.\n") + kUpdateExit;

const std::string kCascadeHelp = std::string(
    "Writes a firmware image for the RDX4410 companion chip through the flash\n"
    "it shares with a type-5 converter chip, then has the RDX4410 activate it.\n"
    "Other chip types refuse (result 242) before anything is sent.\n") + kUpdateExit;

const Command kFlash = {"flash", "FILE", "write and activate converter firmware", kFlashHelp.c_str(), RunFlash};
const Command kCascade = {"cascade", "FILE", "update the RDX4410 companion chip's firmware", kCascadeHelp.c_str(),
                          RunCascade};
const Command kTefra = {
    "tefra", "OUT.bin", "save the chip's embedded Tefra log",
    "Reads the chip's embedded Tefra debug log and stores its valid records in\n"
    "OUT.bin (created or replaced): 68 bytes each, the 32 bytes read and 36\n"
    "zero bytes. Exit status 0 once the file was written, else 255.\n",
    RunTefra};

// The report slots hand over plain function pointers: the one display of
// this run is reached through here.
ProgressDisplay* display = nullptr;
void ShowMessage(const char* text) { display->OnMessage(text); }
void ShowProgress(uint32_t percent) { display->OnProgress(percent); }
// Called on the HID layer's own thread: it leaves the display alone.
void ShowRemoved() { std::fputs("Device removed.\n", stderr); }

// What can be known of the image file without the device. Empty when fine.
std::string CheckImageFile(const std::string& path, uint64_t& size) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return FormatString("cannot read %s: %s", path.c_str(), std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return FormatString("%s is not a regular file", path.c_str());
  // The update opens the image for reading and writing, so a file the user
  // may not change is refused there; say so before anything starts.
  std::FILE* file = std::fopen(path.c_str(), "r+");
  if (!file) {
    const int error = errno;
    if (access(path.c_str(), R_OK) != 0)
      return FormatString("cannot read %s: %s", path.c_str(), std::strerror(error));
    return FormatString("%s cannot be opened for writing (%s); the update opens its image for reading and writing",
                        path.c_str(), std::strerror(error));
  }
  std::fclose(file);
  if (st.st_size == 0) return FormatString("%s is empty", path.c_str());
  size = static_cast<uint64_t>(st.st_size);
  return "";
}

int PreCheckFailure(const std::string& message) {
  std::fprintf(stderr, "ktq: %s; nothing was written\n", message.c_str());
  return kExitUsage;
}

int ExitStatusOf(int32_t result) { return static_cast<int>(static_cast<uint32_t>(result) & 0xFF); }

// Runs `update` on `path` after the checks that need no writing: the file,
// then, once the chip is identified, the image size it takes. `imageSize`
// gives that size for the identified chip, 0 when the update itself refuses
// the chip (with its own message, before sending anything).
int RunUpdate(const Command& command, const std::vector<std::string>& args, int32_t (*update)(const char*),
              uint32_t (*imageSize)()) {
  if (args.size() != 1) return UsageError(command, std::string(command.name) + " takes one FILE");
  const std::string& path = args[0];
  uint64_t fileSize = 0;
  if (const std::string problem = CheckImageFile(path, fileSize); !problem.empty()) return PreCheckFailure(problem);

  if (int status = OpenConverter()) return status;
  // An unsupported chip (type 4) never gets as far as an update.
  if (const int32_t identified = RCIdentifyChip(); identified != 0)
    return DeviceFailure("chip identification", identified);
  const uint32_t required = imageSize();
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

  ProgressDisplay progress(stdout, isatty(fileno(stdout)) != 0);
  display = &progress;
  RCSetCallbacks(ShowRemoved, ShowMessage, ShowMessage, nullptr, ShowProgress);
  const int32_t result = update(path.c_str());
  RCSetCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
  display = nullptr;
  return ExitStatusOf(result);
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
  if (int status = OpenConverter()) return status;
  return ExitStatusOf(RCSaveTefraLog(args[0].c_str(), true));
}

}  // namespace

void RegisterFirmwareCommands(CommandTable& table) {
  table.Add(kFlash);
  table.Add(kCascade);
  table.Add(kTefra);
}

}  // namespace ktq::cli
