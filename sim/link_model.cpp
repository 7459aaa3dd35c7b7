// The converter's live link state beyond plain register values (those come
// from "registers"/"overrides" and "memory"): the DPCD of the sinks behind
// the transmitters (UPDC_READ_DPCD + port) with symbol-error counters that
// move, the firmware's per-port status records (UPDC_READ_TIMING), interrupt
// status registers that clear when 1s are written and raise bits again, and
// error counters that count on between reads. Scenario section "link".
#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/memory_hooks.h"
#include "sim/rc_protocol.h"
#include "sim/register_map_model.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/sparse_memory.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

namespace {

// No DisplayPort sink answers on the port's AUX channel.
constexpr uint8_t kStatusNoSink = 0x84;
constexpr size_t kPorts = 4;
constexpr uint32_t kDpcdSpace = 0x100000;  // 20-bit DPCD addresses
constexpr uint32_t kSymbolErrors = 0x210;  // four 16-bit lane counters
// The status record of a port: 36 bytes, the pixel clock at offset 32. The
// low byte of a request's address is the offset into it plus the
// direction bit (0 receive, 1 transmit), the next byte the port.
constexpr size_t kRecordSize = 36;
// After the registers are placed and the chip identity is written.
constexpr int kLinkOrder = kChipIdentityOrder + 200;

struct SinkDpcd {
  bool present = false;
  SparseMemory bytes;
  std::array<uint16_t, 4> symbolErrorStep{};
};

struct NamedValue {
  std::string name;
  uint32_t value;
};

struct LinkState {
  std::array<SinkDpcd, kPorts> sinks;
  std::array<std::array<std::array<uint8_t, kRecordSize>, 2>, kPorts> records{};
  std::vector<NamedValue> clearableNames, counterNames;  // resolved once the registers are placed
  std::map<uint32_t, uint32_t> raiseAfterClear;          // address -> bits raised again
  std::map<uint32_t, uint32_t> counterStep;              // address -> added after each read
};

void ReadDpcd(VirtualConverter& c, const RcRequest& r, RcReply& reply, size_t port) {
  SinkDpcd& sink = c.Extension<LinkState>().sinks[port];
  if (!sink.present) {
    reply.status = kStatusNoSink;
    return;
  }
  if (r.address >= kDpcdSpace || kDpcdSpace - r.address < r.count) {
    reply.status = kStatusBadArgument;
    return;
  }
  sink.bytes.Read(r.address, reply.data, r.count);
  // The sink's lane counters count on between reads of them.
  if (r.address <= kSymbolErrors && r.address + r.count >= kSymbolErrors + 8) {
    for (uint32_t lane = 0; lane < 4; ++lane) {
      uint8_t b[2];
      sink.bytes.Read(kSymbolErrors + 2 * lane, b, 2);
      const uint16_t v = static_cast<uint16_t>((b[0] | b[1] << 8) + sink.symbolErrorStep[lane]);
      b[0] = static_cast<uint8_t>(v);
      b[1] = static_cast<uint8_t>(v >> 8);
      sink.bytes.Write(kSymbolErrors + 2 * lane, b, 2);
    }
  }
}

void ReadTiming(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  const uint32_t port = (r.address >> 8) & 0xFF;
  const uint32_t direction = r.address & 1;
  const uint32_t offset = r.address & 0xFE;
  if ((r.address >> 16) != 0 || port >= kPorts || offset + r.count > kRecordSize) {
    reply.status = kStatusBadArgument;
    return;
  }
  const auto& record = c.Extension<LinkState>().records[port][direction];
  std::copy(record.begin() + offset, record.begin() + offset + r.count, reply.data);
}

void CountOn(VirtualConverter& c, uint32_t address, size_t length) {
  for (const auto& [at, step] : c.Extension<LinkState>().counterStep) {
    if (at >= address && at - address + 4 <= length) c.Memory().WriteU32(at, c.Memory().ReadU32(at) + step);
  }
}

bool WriteOneToClear(VirtualConverter& c, uint32_t address, uint32_t value) {
  const auto& raised = c.Extension<LinkState>().raiseAfterClear;
  const auto it = raised.find(address);
  if (it == raised.end()) return false;
  c.Memory().WriteU32(address, (c.Memory().ReadU32(address) & ~value) | it->second);
  return true;
}

// Record fields by name: offset and width in bytes.
struct RecordField {
  const char* key;
  size_t offset;
  size_t width;
};
constexpr RecordField kRecordFields[] = {
    {"flags", 0, 2}, {"hdcp", 2, 1},  {"hdcp_state", 3, 1}, {"link_state", 4, 1}, {"audio", 5, 1},
    {"sample_rate", 6, 2}, {"ht", 8, 2}, {"vt", 10, 2},  {"hs", 12, 2}, {"vs", 14, 2},
    {"ha", 16, 2},  {"va", 18, 2}, {"sync", 20, 4}, {"colour", 24, 4}, {"pixel_clock_khz", 32, 4}};

bool ParseRecord(const nlohmann::json& value, std::array<uint8_t, kRecordSize>& record, std::string& error) {
  std::vector<std::string> keys;
  for (const RecordField& f : kRecordFields) keys.push_back(f.key);
  if (!CheckKeys(value, keys, "record", error)) return false;
  for (const RecordField& f : kRecordFields) {
    if (!value.contains(f.key)) continue;
    uint64_t v = 0;
    if (!ParseUnsigned(value[f.key], (f.width == 4 ? 0xFFFFFFFFull : (1ull << (8 * f.width)) - 1), v, error))
      return (error = std::string(f.key) + ": " + error), false;
    for (size_t i = 0; i < f.width; ++i) record[f.offset + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  return true;
}

bool ParsePort(const nlohmann::json& value, size_t& port, std::string& error) {
  if (!value.contains("port")) return (error = "needs a \"port\""), false;
  if (!ParseUnsignedAs(value["port"], port, error)) return false;
  if (port >= kPorts) return (error = "port: 0 to 3"), false;
  return true;
}

bool ParseSink(const nlohmann::json& value, LinkState& state, std::string& error) {
  if (!CheckKeys(value, {"port", "bytes", "symbol_error_step"}, "dpcd", error)) return false;
  size_t port = 0;
  if (!ParsePort(value, port, error)) return false;
  SinkDpcd& sink = state.sinks[port];
  sink.present = true;
  if (value.contains("bytes")) {
    if (!value["bytes"].is_object()) return (error = "bytes: expected an object of DPCD address: bytes"), false;
    for (const auto& item : value["bytes"].items()) {
      uint32_t address = 0;
      std::vector<uint8_t> bytes;
      if (!ParseUnsignedAs(nlohmann::json(item.key()), address, error) || !ParseBytes(item.value(), bytes, error))
        return (error = "bytes: " + item.key() + ": " + error), false;
      if (address >= kDpcdSpace || kDpcdSpace - address < bytes.size())
        return (error = "bytes: " + item.key() + ": beyond the DPCD address space"), false;
      sink.bytes.Write(address, bytes.data(), bytes.size());
    }
  }
  if (value.contains("symbol_error_step")) {
    const auto& steps = value["symbol_error_step"];
    if (!steps.is_array() || steps.size() != 4) return (error = "symbol_error_step: expected four lane steps"), false;
    for (size_t lane = 0; lane < 4; ++lane)
      if (!ParseUnsignedAs(steps[lane], sink.symbolErrorStep[lane], error))
        return (error = "symbol_error_step: " + error), false;
  }
  return true;
}

bool ParseNamedValues(const nlohmann::json& value, std::vector<NamedValue>& out, std::string& error) {
  if (!value.is_object()) return (error = "expected an object of register name: value"), false;
  for (const auto& item : value.items()) {
    uint32_t v = 0;
    if (!ParseUnsignedAs(item.value(), v, error)) return (error = item.key() + ": " + error), false;
    out.push_back({item.key(), v});
  }
  return true;
}

bool ParseLink(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"dpcd", "port_records", "write_one_to_clear", "counters"}, "link", error)) return false;
  LinkState& state = c.Extension<LinkState>();
  if (value.contains("dpcd")) {
    if (!value["dpcd"].is_array()) return (error = "link: dpcd: expected an array of sinks"), false;
    for (size_t i = 0; i < value["dpcd"].size(); ++i)
      if (!ParseSink(value["dpcd"][i], state, error))
        return (error = "link: dpcd[" + std::to_string(i) + "]: " + error), false;
  }
  if (value.contains("port_records")) {
    if (!value["port_records"].is_array()) return (error = "link: port_records: expected an array"), false;
    for (size_t i = 0; i < value["port_records"].size(); ++i) {
      const auto& entry = value["port_records"][i];
      const std::string where = "link: port_records[" + std::to_string(i) + "]: ";
      size_t port = 0;
      if (!CheckKeys(entry, {"port", "rx", "tx"}, "port record", error) || !ParsePort(entry, port, error))
        return (error = where + error), false;
      if (entry.contains("rx") && !ParseRecord(entry["rx"], state.records[port][0], error))
        return (error = where + "rx: " + error), false;
      if (entry.contains("tx") && !ParseRecord(entry["tx"], state.records[port][1], error))
        return (error = where + "tx: " + error), false;
    }
  }
  if (value.contains("write_one_to_clear") &&
      !ParseNamedValues(value["write_one_to_clear"], state.clearableNames, error))
    return (error = "link: write_one_to_clear: " + error), false;
  if (value.contains("counters") && !ParseNamedValues(value["counters"], state.counterNames, error))
    return (error = "link: counters: " + error), false;
  return true;
}

bool ResolveRegisters(VirtualConverter& c, std::string& error) {
  LinkState& state = c.Extension<LinkState>();
  auto resolve = [&](const std::vector<NamedValue>& names, std::map<uint32_t, uint32_t>& out, const char* where) {
    for (const NamedValue& n : names) {
      const std::optional<uint32_t> address = PlacedRegisterAddress(c, n.name);
      if (!address) {
        error = std::string("link: ") + where + ": no register " + n.name + " in the chip's map";
        return false;
      }
      out[*address] = n.value;
    }
    return true;
  };
  if (!resolve(state.clearableNames, state.raiseAfterClear, "write_one_to_clear") ||
      !resolve(state.counterNames, state.counterStep, "counters"))
    return false;
  if (!state.raiseAfterClear.empty()) c.Extension<MemoryHooks>().writeWord.push_back(WriteOneToClear);
  if (!state.counterStep.empty()) c.Extension<MemoryHooks>().afterRead.push_back(CountOn);
  return true;
}

}  // namespace

void InstallLinkModel(SimRegistry& r) {
  for (size_t port = 0; port < kPorts; ++port) {
    r.AddRcCommand(static_cast<uint8_t>(rc::kReadDpcd + port), RcDirection::kGet,
                   [port](VirtualConverter& c, const RcRequest& req, RcReply& reply) { ReadDpcd(c, req, reply, port); });
  }
  r.AddRcCommand(rc::kReadTiming, RcDirection::kGet, ReadTiming);
  r.AddConverterSection("link", ParseLink);
  r.AddMemoryInitialiser(kLinkOrder, ResolveRegisters);
}

}  // namespace ktq::sim
