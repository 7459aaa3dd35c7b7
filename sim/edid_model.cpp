// EDID reads (UPDC_READ_EDID + index) and the scenario section "edid" that
// names the EDID files and the outputs' hot-plug states.
#include "sim/edid_model.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "sim/data_dir.h"
#include "sim/rc_protocol.h"
#include "sim/register_map_model.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"
#include "tools/input_file/input_file.h"

namespace ktq::sim {

namespace {

constexpr size_t kBlockSize = 128;
// E-DDC addresses at most 128 segments of two blocks.
constexpr size_t kMaxBlocks = 256;
// After the chip identity, before the scenario's own memory values.
constexpr int kHotPlugOrder = kChipIdentityOrder + 100;

// The EDID that a read with this index reaches, or null when none answers:
// index 0 is the input, n the display on output n - 1 while it asserts
// hot-plug.
const std::vector<uint8_t>* ReachableEdid(EdidState& s, size_t index) {
  if (index == 0) return &s.input;
  const EdidOutput& out = s.outputs[index - 1];
  return out.hotPlug ? &out.edid : nullptr;
}

void ReadEdid(VirtualConverter& c, const RcRequest& r, RcReply& reply, size_t index) {
  const std::vector<uint8_t>* edid = ReachableEdid(c.Extension<EdidState>(), index);
  if (edid == nullptr || edid->empty()) {
    reply.status = kStatusNoEdid;
    return;
  }
  // The chip fetches the display's EDID a block at a time; a read that
  // straddles two blocks is not one it serves.
  const uint64_t end = static_cast<uint64_t>(r.address) + r.count;
  if (r.address / kBlockSize != (end - 1) / kBlockSize) {
    reply.status = kStatusBadArgument;
    return;
  }
  if (end > edid->size()) {
    reply.status = kStatusNoEdid;
    return;
  }
  std::memcpy(reply.data, edid->data() + r.address, r.count);
}

bool LoadEdidFile(const nlohmann::json& value, std::vector<uint8_t>& out, std::string& error) {
  if (!value.is_string()) {
    error = "expected the path of an EDID file";
    return false;
  }
  // Scenarios name EDID files from the project root (the corpus lies next to
  // it), so they load the same from any working directory.
  std::string path = value.get<std::string>();
  if (!path.empty() && path[0] != '/') path = SimDataDir() + "/" + path;
  if (!input::ReadInputFile(path, kMaxBlocks * kBlockSize, "an EDID file", out, error)) return false;
  if (out.empty() || out.size() % kBlockSize != 0 || out.size() > kMaxBlocks * kBlockSize) {
    error = path + ": not 1 to 256 whole 128-byte EDID blocks";
    return false;
  }
  return true;
}

bool ParseOutput(const nlohmann::json& value, EdidOutput& out, std::string& error) {
  if (!CheckKeys(value, {"file", "hot_plug"}, "output", error)) return false;
  if (value.contains("file") && !LoadEdidFile(value["file"], out.edid, error)) return false;
  // A display named by its EDID is plugged in unless the scenario says not.
  out.hotPlug = !out.edid.empty();
  if (value.contains("hot_plug")) {
    if (!value["hot_plug"].is_boolean()) {
      error = "hot_plug: expected true or false";
      return false;
    }
    out.hotPlug = value["hot_plug"].get<bool>();
  }
  return true;
}

bool ParseEdidSection(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"input", "outputs"}, "edid", error)) return false;
  EdidState& state = c.Extension<EdidState>();
  state.outputCount = 0;
  if (value.contains("input") && !LoadEdidFile(value["input"], state.input, error))
    return (error = "edid: input: " + error), false;
  if (!value.contains("outputs")) return true;
  const nlohmann::json& outputs = value["outputs"];
  if (!outputs.is_array() || outputs.size() > kEdidOutputPorts) {
    error = "edid: outputs: expected an array of at most 4 outputs";
    return false;
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    if (!ParseOutput(outputs[i], state.outputs[i], error))
      return (error = "edid: outputs[" + std::to_string(i) + "]: " + error), false;
  }
  state.outputCount = outputs.size();
  return true;
}

// The hot-plug inputs among the bits of CORE_GPIO_RX: one per port from bit
// 24 on a type-6 chip; on a type-5 chip bit 16 for port 0 and bit 17 shared
// by ports 1 and 2. A type-4 chip has none there.
struct HotPlugWiring {
  size_t ports;
  uint32_t (*bit)(size_t port);
};

std::optional<HotPlugWiring> WiringOf(int chipType) {
  if (chipType == 6) return HotPlugWiring{4, [](size_t port) { return static_cast<uint32_t>(24 + port); }};
  if (chipType == 5) return HotPlugWiring{3, [](size_t port) { return port == 0 ? 16u : 17u; }};
  return std::nullopt;
}

// Sets the outputs' hot-plug bits in CORE_GPIO_RX, once the registers are
// placed and before the scenario's own memory values.
bool ReflectHotPlug(VirtualConverter& c, std::string& error) {
  const EdidState& state = c.Extension<EdidState>();
  if (state.outputCount == 0) return true;
  const regmap::Map* map = PlacedRegisterMap(c);
  if (map == nullptr) {
    error = "edid: outputs need a chip with its registers (their hot-plug lines are read there)";
    return false;
  }
  const std::optional<HotPlugWiring> wiring = WiringOf(map->chipType);
  if (!wiring) return true;
  if (state.outputCount > wiring->ports) {
    error = "edid: a type-" + std::to_string(map->chipType) + " chip has " + std::to_string(wiring->ports) +
            " outputs";
    return false;
  }
  const std::optional<uint32_t> address = PlacedRegisterAddress(c, "CORE_GPIO_RX");
  if (!address) {
    error = "edid: the chip's register map has no CORE_GPIO_RX for the hot-plug lines";
    return false;
  }
  uint8_t bytes[4] = {};
  c.Memory().Read(*address, bytes, sizeof bytes);
  uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  for (size_t port = 0; port < wiring->ports; ++port) value &= ~(1u << wiring->bit(port));
  for (size_t port = 0; port < state.outputCount; ++port) {
    if (state.outputs[port].hotPlug) value |= 1u << wiring->bit(port);
  }
  for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  c.Memory().Write(*address, bytes, sizeof bytes);
  return true;
}

}  // namespace

void InstallEdidModel(SimRegistry& r) {
  for (size_t index = 0; index <= kEdidOutputPorts; ++index) {
    r.AddRcCommand(static_cast<uint8_t>(rc::kReadEdid + index), RcDirection::kGet,
                   [index](VirtualConverter& c, const RcRequest& req, RcReply& reply) {
                     ReadEdid(c, req, reply, index);
                   });
  }
  r.AddConverterSection("edid", ParseEdidSection);
  r.AddMemoryInitialiser(kHotPlugOrder, ReflectHotPlug);
}

}  // namespace ktq::sim
