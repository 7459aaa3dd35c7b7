// ktq-regdb: builds and inspects the compressed register databases.
//
//   ktq-regdb pack MAPFILE OUTDIR          compile a map into its variant files
//   ktq-regdb unpack STREAM.bin BITS OUT.bin  expand one stream
//   ktq-regdb verify MAPFILE [OUTDIR]      pack, expand and compare with the
//                                          map (and with the files in OUTDIR)
//
// Exit status: 0 success, 1 bad input or a failed check, 2 usage error.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "chipdb/lz77.h"
#include "tools/input_file/input_file.h"
#include "tools/regdb/pack.h"
#include "tools/regmap/regmap.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

int Usage() {
  std::fputs(
      "usage: ktq-regdb pack MAPFILE OUTDIR\n"
      "       ktq-regdb unpack STREAM.bin BITS OUT.bin\n"
      "       ktq-regdb verify MAPFILE [OUTDIR]\n",
      stderr);
  return kUsage;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "ktq-regdb: %s\n", message.c_str());
  return kFailed;
}

// A compressed stream expands at most ~2,000-fold and the databases hold a
// few hundred kilobytes expanded: 16 MiB is far beyond any real stream.
constexpr uint64_t kMaxStreamFileSize = 16u << 20;

bool ReadFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  return ktq::input::ReadInputFile(path, kMaxStreamFileSize, "a database stream", out, error);
}

// Writes `out` beside `path` and renames it over: an existing file is
// replaced only by a complete one, never truncated first.
bool ReplaceFile(const std::string& path, const std::vector<uint8_t>& out, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd >= 0) {
    const mode_t mask = ::umask(0);  // mkstemp makes the file private; give it the usual mode
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "wb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd), std::remove(temporary.c_str());
    return false;
  }
  const bool written = out.empty() || std::fwrite(out.data(), 1, out.size(), f) == out.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": write failed";
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool ParseBits(const char* text, uint64_t& bits) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || value > UINT32_MAX) return false;
  bits = value;
  return true;
}

bool Expand(const std::vector<uint8_t>& stream, uint64_t bits, std::vector<uint8_t>& out,
            std::string& error) {
  // Sized for what the file can hold: a bit count beyond it is refused by
  // the decoder, and must not size a buffer of many gigabytes first.
  out.resize(ktq::regdb::MaxExpandedSize(std::min<uint64_t>(bits, uint64_t{stream.size()} * 8)));
  const auto r = ktq::lz77::Decompress(stream.data(), stream.size(), bits, out.data(), out.size());
  if (r.error != ktq::lz77::DecodeError::kNone) {
    error = std::string(ktq::lz77::DecodeErrorText(r.error)) + " (at bit " +
            std::to_string(r.bitPosition) + ", after " + std::to_string(r.produced) + " bytes)";
    return false;
  }
  out.resize(r.produced);
  return true;
}

int Pack(const std::string& mapFile, const std::string& outDir) {
  regmap::Map map;
  std::string error;
  if (!regmap::ParseMapFile(mapFile, map, error)) return Fail(error);
  ktq::regdb::PackedVariant packed;
  if (!ktq::regdb::PackVariant(map, packed, error)) return Fail(mapFile + ": " + error);
  if (!ktq::regdb::WritePackedVariant(packed, outDir, error)) return Fail(error);
  std::printf("variant %s: %u records, records %llu bits (%zu bytes expanded), names %llu bits (%zu bytes expanded)\n",
              packed.variant.c_str(), packed.recordCount,
              static_cast<unsigned long long>(packed.recordsStream.lengthInBits), packed.records.size(),
              static_cast<unsigned long long>(packed.namesStream.lengthInBits), packed.names.size());
  return 0;
}

int Unpack(const std::string& streamFile, const char* bitsText, const std::string& outFile) {
  uint64_t bits = 0;
  if (!ParseBits(bitsText, bits)) return Fail(std::string("invalid bit count: ") + bitsText);
  if (SameFile(streamFile, outFile)) return Fail(outFile + ": is the input stream itself; it is left as it is");
  std::vector<uint8_t> stream, out;
  std::string error;
  if (!ReadFile(streamFile, stream, error)) return Fail(error);
  if (!Expand(stream, bits, out, error)) return Fail(streamFile + ": " + error);
  if (!ReplaceFile(outFile, out, error)) return Fail(error);
  std::printf("%zu bytes\n", out.size());
  return 0;
}

int Verify(const std::string& mapFile, const char* outDir) {
  regmap::Map map;
  std::string error;
  if (!regmap::ParseMapFile(mapFile, map, error)) return Fail(error);
  ktq::regdb::PackedVariant packed;
  if (!ktq::regdb::PackVariant(map, packed, error)) return Fail(mapFile + ": " + error);
  std::vector<uint8_t> records, names;
  if (!Expand(packed.recordsStream.bytes, packed.recordsStream.lengthInBits, records, error) ||
      !Expand(packed.namesStream.bytes, packed.namesStream.lengthInBits, names, error)) {
    return Fail("round trip: " + error);
  }
  const std::string difference = ktq::regdb::CompareWithMap(map, records.data(), records.size(),
                                                            names.data(), names.size());
  if (!difference.empty()) return Fail("round trip: " + difference);
  if (outDir) {
    const std::string stem = std::string(outDir) + "/variant-" + packed.variant;
    std::vector<uint8_t> onDisk;
    if (!ReadFile(stem + ".records.bin", onDisk, error)) return Fail(error);
    if (onDisk != packed.recordsStream.bytes) return Fail(stem + ".records.bin is out of date");
    if (!ReadFile(stem + ".names.bin", onDisk, error)) return Fail(error);
    if (onDisk != packed.namesStream.bytes) return Fail(stem + ".names.bin is out of date");
  }
  std::printf("variant %s: %u records round-trip\n", packed.variant.c_str(), packed.recordCount);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "pack" && argc == 4) return Pack(argv[2], argv[3]);
  if (command == "unpack" && argc == 5) return Unpack(argv[2], argv[3], argv[4]);
  if (command == "verify" && (argc == 3 || argc == 4)) return Verify(argv[2], argc == 4 ? argv[3] : nullptr);
  return Usage();
}

}  // namespace

// Whatever goes wrong ends with a message and status 1, never an abort.
int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return Fail(e.what());
  } catch (...) {
    return Fail("unexpected failure");
  }
}
