#include "sim/tefra_log_model.h"

#include <algorithm>

#include "sim/rc_protocol.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

namespace {

constexpr uint32_t kRecordSize = 32;

void ReadLog(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  // The log is read a whole record at a time from address 0.
  if (r.address != 0 || r.count != kRecordSize) {
    reply.status = kStatusBadArgument;
    return;
  }
  TefraLogState& log = c.Extension<TefraLogState>();
  if (log.next >= log.records.size()) {
    reply.status = log.finalStatus;
    return;
  }
  std::copy(log.records[log.next].begin(), log.records[log.next].end(), reply.data);
  ++log.next;
}

void LogControl(VirtualConverter& c, const RcRequest& r, RcReply& reply) {
  if (r.address != 0 || r.count != 0) {
    reply.status = kStatusBadArgument;
    return;
  }
  ++c.Extension<TefraLogState>().controls;
}

bool ParseTefra(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"records", "final_status"}, "tefra", error)) return false;
  TefraLogState& log = c.Extension<TefraLogState>();
  if (value.contains("records")) {
    if (!value["records"].is_array()) return (error = "tefra: records: expected an array"), false;
    for (size_t i = 0; i < value["records"].size(); ++i) {
      std::vector<uint8_t> bytes;
      const std::string where = "tefra: records[" + std::to_string(i) + "]: ";
      if (!ParseBytes(value["records"][i], bytes, error)) return (error = where + error), false;
      if (bytes.size() != kRecordSize) return (error = where + "a record is 32 bytes"), false;
      std::array<uint8_t, kRecordSize> record{};
      std::copy(bytes.begin(), bytes.end(), record.begin());
      log.records.push_back(record);
    }
  }
  if (value.contains("final_status")) {
    if (!ParseUnsignedAs(value["final_status"], log.finalStatus, error))
      return (error = "tefra: final_status: " + error), false;
    if (log.finalStatus == 0) return (error = "tefra: final_status: 0 would never end the log"), false;
  }
  return true;
}

}  // namespace

void InstallTefraLogModel(SimRegistry& r) {
  r.AddRcCommand(rc::kReadTefraLog, RcDirection::kGet, ReadLog);
  r.AddRcCommand(rc::kTefraLogControl, RcDirection::kSet, LogControl);
  r.AddConverterSection("tefra", ParseTefra);
}

}  // namespace ktq::sim
