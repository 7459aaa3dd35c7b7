// edid decode, edid read: an EDID from a file or from the converter, as the
// diagnostic dump shows it.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chipdb/chip_id.h"
#include "device/hid_session.h"
#include "cli/cli.h"
#include "diagnostics/edid_decoder.h"
#include "diagnostics/edid_reader.h"
#include "report/format.h"

namespace ktq::cli {

namespace {

int RunEdid(const std::vector<std::string>& args);

const Command kEdid = {
    "edid", "decode FILE | read INDEX", "decode an EDID from a file or read one from the converter",
    "edid decode FILE: prints the text the diagnostic dump gives for a display\n"
    "whose EDID holds the bytes of FILE (- for standard input; 1 to 256 whole\n"
    "128-byte blocks):\n"
    "the hex listing of the base block and of up to three extension blocks,\n"
    "then the checksum error or the decoded summary.\n"
    "edid read INDEX: reads the EDID of the converter's input (INDEX 0) or of\n"
    "the display on output INDEX - 1 and prints it the same way; it first\n"
    "identifies the chip, whose type fixes the outputs (three, or four on a\n"
    "type-6 chip) and where their hot-plug lines are read. With --raw it\n"
    "writes the EDID bytes instead (for other EDID tools):\n"
    "  ktq edid read 1 --raw > display.bin\n"
    "Exit status 1 when no EDID could be read (no display on the output) or\n"
    "an extension block could not be read (the rest is still printed), 2 when\n"
    "FILE cannot be read or is not 1 to 256 whole 128-byte blocks.\n",
    RunEdid, "decode read"};

// E-DDC addresses at most 128 segments of two blocks. Reading stops past
// that, so a stream that never ends (/dev/zero, a pipe) is refused, not
// read until memory runs out.
constexpr size_t kMaxEdidFileSize = 256 * kEdidBlockSize;

// An EDID file holds whole 128-byte blocks; anything else is not an EDID
// this tool can list.
bool ReadEdidFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  const bool standardInput = path == "-";
  // A FIFO, a device or a folder named as FILE would block or never end.
  if (!standardInput) {
    if (error = CheckInputFile(path, kMaxEdidFileSize); !error.empty()) return false;
  }
  std::FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  uint8_t chunk[4096];
  size_t n = 0;
  while (bytes.size() <= kMaxEdidFileSize && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  const int readError = std::ferror(file) ? errno : 0;
  if (!standardInput) std::fclose(file);
  if (readError != 0) {
    error = path + ": " + std::strerror(readError);
    return false;
  }
  if (bytes.size() > kMaxEdidFileSize) {
    error = FormatString("%s: more than %zu bytes, the most an EDID can hold", path.c_str(), kMaxEdidFileSize);
    return false;
  }
  if (bytes.size() < kEdidBlockSize) {
    error = FormatString("%s: %zu bytes, shorter than the 128-byte EDID base block", path.c_str(), bytes.size());
    return false;
  }
  if (bytes.size() % kEdidBlockSize != 0) {
    error = FormatString("%s: %zu bytes, not a whole number of 128-byte EDID blocks", path.c_str(), bytes.size());
    return false;
  }
  return true;
}

int RunDecode(const std::string& path) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadEdidFile(path, bytes, error)) {
    std::fprintf(stderr, "ktq: %s\n", error.c_str());
    return kExitUsage;
  }
  // What the reader's zero-filled buffer would hold: at most four blocks.
  std::vector<uint8_t> buffer(kEdidBufferSize, 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), buffer.size()), buffer.begin());
  std::fputs(EdidTextFromBytes(buffer).c_str(), Out());
  return kExitOk;
}

uint32_t OutputCount(uint32_t chipType) { return chipType == 6 ? 4 : 3; }

int RunRead(const std::string& indexText) {
  const bool raw = GlobalOptions().raw;
  uint64_t index = 0;
  if (!ParseNumber(indexText, 4, index))
    return UsageError(kEdid, "INDEX must be 0 (input) or 1 to 4 (output INDEX - 1): " + indexText);
  if (int status = OpenConverter()) return status;
  if (index >= 1) {
    Identity identity;
    if (int status = IdentifyChip(nullptr, identity)) return status;
    if (index > OutputCount(CurrentChipType())) {
      return UsageError(kEdid, FormatString("a type-%u chip has outputs 1 to %u", CurrentChipType(),
                                            OutputCount(CurrentChipType())));
    }
  }
  const EdidRead read = ReadEdid(static_cast<uint32_t>(index));
  if (!read.present) {
    if (DeviceRemoved()) return DeviceFailure("edid read", -1);
    if (index == 0) {
      std::fputs("ktq: input: no EDID could be read.\n", stderr);
    } else {
      std::fprintf(stderr, "ktq: TX%u: no display connected.\n", static_cast<unsigned>(index - 1));
    }
    return kExitDeviceError;
  }
  if (raw) {
    const size_t size = kEdidBlockSize * (1 + read.extensionsWanted);
    std::fwrite(read.buffer.data(), 1, size, Out());
  } else {
    std::fputs(EdidTextFromBytes(read.buffer).c_str(), Out());
  }
  // A block missing is printed as zeros; the EDID is then not whole.
  if (read.extensionsRead < read.extensionsWanted) {
    std::fprintf(stderr, "ktq: %zu of %zu extension blocks could not be read; they are shown as zeros.\n",
                 read.extensionsWanted - read.extensionsRead, read.extensionsWanted);
    return kExitDeviceError;
  }
  return kExitOk;
}

int RunEdid(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "decode") return RunDecode(args[1]);
  if (args.size() == 2 && args[0] == "read") return RunRead(args[1]);
  return UsageError(kEdid, "edid takes decode FILE or read INDEX");
}

}  // namespace

void RegisterEdidCommands(CommandTable& table) { table.Add(kEdid); }

}  // namespace ktq::cli
