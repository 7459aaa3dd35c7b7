// EDID reads (UPDC_READ_EDID + index) and the scenario section "edid" that
// names the EDID files and the outputs' hot-plug states.
#include "sim/edid_model.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "device/rc_command.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

namespace {

constexpr size_t kBlockSize = 128;
// E-DDC addresses at most 128 segments of two blocks.
constexpr size_t kMaxBlocks = 256;

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
  const std::string path = value.get<std::string>();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = path + ": read error";
    return false;
  }
  if (out.empty() || out.size() % kBlockSize != 0 || out.size() > kMaxBlocks * kBlockSize) {
    error = path + ": " + std::to_string(out.size()) + " bytes, not 1 to 256 whole 128-byte blocks";
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
  if (!CheckKeys(value, {"input", "outputs"}, "edid", error)) return (error = "edid: " + error), false;
  EdidState& state = c.Extension<EdidState>();
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
  return true;
}

}  // namespace

void InstallEdidModel(SimRegistry& r) {
  for (size_t index = 0; index <= kEdidOutputPorts; ++index) {
    r.AddRcCommand(static_cast<uint8_t>(UPDC_READ_EDID + index), RcDirection::kGet,
                   [index](VirtualConverter& c, const RcRequest& req, RcReply& reply) {
                     ReadEdid(c, req, reply, index);
                   });
  }
  r.AddConverterSection("edid", ParseEdidSection);
}

}  // namespace ktq::sim
