#include "sim/flash_model.h"

#include <algorithm>
#include <fstream>

#include "sim/chip_identity_model.h"
#include "sim/i2c_master_model.h"
#include "sim/model_clock.h"
#include "sim/rc_protocol.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

namespace {

constexpr uint8_t kErasedByte = 0xFF;
// What a chip holds before the first erase: the old firmware. Any pattern
// that is not erased flash serves.
constexpr uint8_t kOldFirmwareByte = 0x5A;
constexpr uint8_t kOldCompanionFirmwareByte = 0xA5;
constexpr uint32_t kDateCodeAddress = 0x20200D30;
constexpr uint32_t kMaxChunk = 32;

uint32_t DefaultFlashSize(VirtualConverter& c) {
  uint8_t code[4] = {};
  c.Memory().Read(kDateCodeAddress, code, sizeof code);
  const uint32_t generation =
      (code[1] << 8) | (code[2] << 16) | (static_cast<uint32_t>(code[3]) << 24);
  return generation >= 0x20220300 ? 0x7F000 : 0x50000;
}

// True (with the reply's status set) while an erase is still running.
bool Busy(const FlashState& f, RcReply& reply) {
  if (ModelNow() >= f.eraseEndsAt) return false;
  reply.status = kFlashStatusBusy;
  return true;
}

// The flash the main chip's SPI controller reaches now.
struct FlashTarget {
  std::vector<uint8_t>& bytes;
  std::vector<bool>& programmed;
};
FlashTarget Target(FlashState& f) {
  if (f.mainHoldsSpiBus && !f.sharedBytes.empty()) return {f.sharedBytes, f.sharedProgrammed};
  return {f.bytes, f.programmed};
}

void Erase(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  // The erase carries exactly the two bytes FF FF.
  if (r.address != 0 || r.count != 2 || r.payload[0] != 0xFF || r.payload[1] != 0xFF) {
    reply.status = kStatusBadArgument;
    return;
  }
  FlashState& f = Flash(c);
  if (Busy(f, reply)) return;
  const FlashTarget t = Target(f);
  std::fill(t.bytes.begin(), t.bytes.end(), kErasedByte);
  std::fill(t.programmed.begin(), t.programmed.end(), false);
  ++f.erases;
  reply.busyFor = f.eraseTime;
  f.eraseEndsAt = ModelNow() + f.eraseTime;
}

void WriteFlash(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  FlashState& f = Flash(c);
  if (Busy(f, reply)) return;
  if (r.count == 0 || r.count > kMaxChunk) {
    reply.status = kStatusBadArgument;
    return;
  }
  const FlashTarget t = Target(f);
  if (r.address > t.bytes.size() || r.count > t.bytes.size() - r.address) {
    reply.status = kFlashStatusOutOfRange;
    return;
  }
  const auto first = t.programmed.begin() + r.address;
  if (std::any_of(first, first + r.count, [](bool p) { return p; })) {
    reply.status = kFlashStatusNotErased;
    return;
  }
  std::copy(r.payload, r.payload + r.count, t.bytes.begin() + r.address);
  std::fill(first, first + r.count, true);
  ++f.chunksWritten;
  // The next request finds the converter gone.
  if (f.unplugAfterChunk && f.chunksWritten == *f.unplugAfterChunk) c.AddFault(Fault::UnplugAfter(0));
}

void Activate(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  if (r.address != 0 || r.count != 0) {
    reply.status = kStatusBadArgument;
    return;
  }
  FlashState& f = Flash(c);
  if (Busy(f, reply)) return;
  ++f.activations;
  if (f.restart) {
    const uint32_t version = f.restart->fwVersion;
    c.RestartAfterNextRequest(f.restart->offFor, [version](VirtualConverter& v) { SetFirmwareVersion(v, version); });
  }
}

void RequestSpiBus(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  if (r.address != 0 || r.count != 1 || r.payload[0] > 1) {
    reply.status = kStatusBadArgument;
    return;
  }
  Flash(c).mainHoldsSpiBus = r.payload[0] == 1;
}

bool ParseFlash(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"size", "erase_time_ms", "unplug_after_chunk", "restart"}, "flash", error)) return false;
  FlashState& f = c.Extension<FlashState>();
  uint32_t number = 0;
  if (value.contains("size")) {
    if (!ParseUnsignedAs(value["size"], number, error)) return (error = "flash: size: " + error), false;
    if (number == 0 || number % kMaxChunk != 0) return (error = "flash: size must be a non-zero multiple of 32"), false;
    f.size = number;
  }
  if (value.contains("erase_time_ms")) {
    if (!ParseUnsignedAs(value["erase_time_ms"], number, error)) return (error = "flash: erase_time_ms: " + error), false;
    f.eraseTime = std::chrono::milliseconds(number);
  }
  if (value.contains("unplug_after_chunk")) {
    if (!ParseUnsignedAs(value["unplug_after_chunk"], number, error) || number == 0)
      return (error = "flash: unplug_after_chunk: " + (error.empty() ? std::string("must be at least 1") : error)), false;
    f.unplugAfterChunk = number;
  }
  if (value.contains("restart")) {
    const auto& r = value["restart"];
    if (!CheckKeys(r, {"off_ms", "fw_version"}, "flash: restart", error)) return false;
    FlashState::Restart restart;
    if (r.contains("off_ms")) {
      if (!ParseUnsignedAs(r["off_ms"], number, error)) return (error = "flash: restart: off_ms: " + error), false;
      restart.offFor = std::chrono::milliseconds(number);
    }
    if (!r.contains("fw_version") || !ParseUnsignedAs(r["fw_version"], restart.fwVersion, error))
      return (error = "flash: restart: fw_version: " + (error.empty() ? std::string("required") : error)), false;
    f.restart = restart;
  }
  return true;
}

}  // namespace

FlashState& Flash(VirtualConverter& c) {
  FlashState& f = c.Extension<FlashState>();
  if (f.bytes.empty()) {
    const uint32_t size = f.size.value_or(DefaultFlashSize(c));
    f.bytes.assign(size, kOldFirmwareByte);
    f.programmed.assign(size, true);
    if (CompanionChip(c)) {
      f.sharedBytes.assign(size, kOldCompanionFirmwareByte);
      f.sharedProgrammed.assign(size, true);
    }
  }
  return f;
}

bool SaveFlash(VirtualConverter& c, const std::string& path, bool shared) {
  const FlashState& f = Flash(c);
  const std::vector<uint8_t>& bytes = shared ? f.sharedBytes : f.bytes;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

void InstallFlashModel(SimRegistry& r) {
  r.AddRcCommand(rc::kEraseFlash, RcDirection::kSet, Erase);
  r.AddRcCommand(rc::kWriteFlash, RcDirection::kSet, WriteFlash);
  r.AddRcCommand(rc::kActivateFirmware, RcDirection::kSet, Activate);
  r.AddRcCommand(rc::kSpiBusRequest, RcDirection::kSet, RequestSpiBus);
  r.AddConverterSection("flash", ParseFlash);
}

}  // namespace ktq::sim
