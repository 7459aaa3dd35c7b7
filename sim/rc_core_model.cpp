// The RC command core of the chip: RC command mode, memory reads and writes,
// and the scenario sections that configure them ("rc_mode", "memory",
// "timing", "faults").
#include <cstring>
#include <utility>

#include "sim/memory_hooks.h"
#include "sim/rc_protocol.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

namespace {

// A write of 0xF5 to this address restarts the chip; it does not answer.
constexpr uint32_t kRestartAddress = 0x2000FC;
constexpr uint8_t kRestartByte = 0xF5;

void EnableRc(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  if (r.count != rc::kCodeWordLength || std::memcmp(r.payload, rc::kCodeWord, rc::kCodeWordLength) != 0 ||
      r.address != 0) {
    reply.status = kStatusBadArgument;
    return;
  }
  c.SetRcMode(true);
}

void DisableRc(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  if (r.count != 0 || r.address != 0) {
    reply.status = kStatusBadArgument;
    return;
  }
  c.SetRcMode(false);
}

void ReadMemory(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  c.Memory().Read(r.address, reply.data, r.count);
  for (const auto& hook : c.Extension<MemoryHooks>().afterRead) hook(c, r.address, r.count);
}

// Whole aligned words go past the hooks first; the rest is plain memory.
void StoreWithHooks(VirtualConverter& c, uint32_t address, const uint8_t* data, size_t length) {
  const auto& hooks = c.Extension<MemoryHooks>().writeWord;
  if (hooks.empty()) return c.Memory().Write(address, data, length);
  size_t i = 0;
  while (i < length) {
    const uint32_t at = address + static_cast<uint32_t>(i);
    if (at % 4 == 0 && length - i >= 4) {
      const uint32_t value = data[i] | data[i + 1] << 8 | data[i + 2] << 16 | static_cast<uint32_t>(data[i + 3]) << 24;
      bool stored = false;
      for (const auto& hook : hooks) stored = stored || hook(c, at, value);
      if (!stored) c.Memory().Write(at, data + i, 4);
      i += 4;
    } else {
      c.Memory().Write(at, data + i, 1);
      ++i;
    }
  }
}

void WriteMemory(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  StoreWithHooks(c, r.address, r.payload, r.count);
  if (r.address == kRestartAddress && r.count > 0 && r.payload[0] == kRestartByte) {
    c.Restart();
    reply.silent = true;
  }
}

// The "memory" section, kept until the memory initialisers run so that it
// overrides what other models place.
struct ScenarioMemory {
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> blocks;
};

bool ParseMemory(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!value.is_object()) {
    error = "memory: expected an object of address: bytes";
    return false;
  }
  auto& memory = c.Extension<ScenarioMemory>();
  for (const auto& item : value.items()) {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
    if (!ParseUnsignedAs(nlohmann::json(item.key()), address, error) || !ParseBytes(item.value(), bytes, error)) {
      error = "memory: " + item.key() + ": " + error;
      return false;
    }
    memory.blocks.emplace_back(address, std::move(bytes));
  }
  return true;
}

bool ApplyMemory(VirtualConverter& c, std::string&) {
  for (const auto& [address, bytes] : c.Extension<ScenarioMemory>().blocks)
    c.Memory().Write(address, bytes.data(), bytes.size());
  return true;
}

bool ParseRcMode(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!value.is_boolean()) {
    error = "rc_mode: expected true or false";
    return false;
  }
  c.SetPowerOnRcMode(value.get<bool>());
  return true;
}

bool ParseTiming(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"latency_us", "pending_polls"}, "timing", error)) return false;
  if (value.contains("latency_us")) {
    uint32_t us = 0;
    if (!ParseUnsignedAs(value["latency_us"], us, error)) return (error = "timing: latency_us: " + error), false;
    c.Timing().latency = std::chrono::microseconds(us);
  }
  if (value.contains("pending_polls") && !ParseUnsignedAs(value["pending_polls"], c.Timing().pendingPolls, error))
    return (error = "timing: pending_polls: " + error), false;
  return true;
}

bool ParseFault(const nlohmann::json& value, Fault& f, std::string& error) {
  if (!CheckKeys(value, {"kind", "command", "address", "skip", "times", "status", "fetch", "fetches", "after_requests"}, "fault",
                 error))
    return false;
  static const std::pair<const char*, FaultKind> kinds[] = {
      {"send_failure", FaultKind::kSendFailure}, {"fetch_failure", FaultKind::kFetchFailure},
      {"never_complete", FaultKind::kNeverComplete}, {"status", FaultKind::kStatus}, {"unplug", FaultKind::kUnplug}};
  if (value.contains("kind") && !value["kind"].is_string()) return (error = "fault: kind: expected a name"), false;
  const std::string kind = value.value("kind", "");
  bool known = false;
  for (const auto& [name, k] : kinds) {
    if (kind == name) {
      f.kind = k;
      known = true;
    }
  }
  if (!known) {
    error = "fault: unknown kind \"" + kind + "\"";
    return false;
  }
  auto field = [&](const char* key, auto& out) {
    if (!value.contains(key)) return true;
    if (ParseUnsignedAs(value[key], out, error)) return true;
    error = std::string("fault: ") + key + ": " + error;
    return false;
  };
  uint8_t command = 0;
  uint32_t address = 0;
  if (value.contains("command")) {
    if (!field("command", command)) return false;
    f.command = command;
  }
  if (value.contains("address")) {
    if (!field("address", address)) return false;
    f.address = address;
  }
  if (!field("skip", f.skip) || !field("times", f.times) || !field("status", f.status) || !field("fetch", f.fetch) ||
      !field("fetches", f.fetches) ||
      !field("after_requests", f.afterRequests))
    return false;
  if (f.kind == FaultKind::kStatus && !value.contains("status")) {
    error = "fault: kind \"status\" needs a \"status\"";
    return false;
  }
  if (f.kind == FaultKind::kFetchFailure && f.fetch == 0) {
    error = "fault: fetch counts from 1";
    return false;
  }
  return true;
}

bool ParseFaults(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!value.is_array()) {
    error = "faults: expected an array";
    return false;
  }
  for (const auto& item : value) {
    Fault f;
    if (!ParseFault(item, f, error)) return false;
    c.AddFault(f);
  }
  return true;
}

}  // namespace

void InstallRcCoreModel(SimRegistry& r) {
  r.AddRcCommand(rc::kEnableRc, RcDirection::kSet, EnableRc);
  r.AddRcCommand(rc::kDisableRc, RcDirection::kSet, DisableRc);
  r.AddRcCommand(rc::kReadFromMemory, RcDirection::kGet, ReadMemory);
  r.AddRcCommand(rc::kWriteToMemory, RcDirection::kSet, WriteMemory);
  r.AddConverterSection("rc_mode", ParseRcMode);
  r.AddConverterSection("memory", ParseMemory);
  r.AddConverterSection("timing", ParseTiming);
  r.AddConverterSection("faults", ParseFaults);
  r.AddMemoryInitialiser(kScenarioMemoryOrder, ApplyMemory);
}

}  // namespace ktq::sim
