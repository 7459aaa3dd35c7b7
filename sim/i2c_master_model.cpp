#include "sim/i2c_master_model.h"

#include <cstring>
#include <stdexcept>

#include "sim/flash_model.h"
#include "sim/register_map_model.h"
#include "sim/rc_protocol.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_converter.h"

namespace ktq::sim {

namespace {

using rc::kReportSize;
constexpr uint8_t kTransaction = rc::kI2cTransactionReport;
constexpr uint8_t kSpeed = rc::kI2cSpeedReport;
constexpr uint8_t kStateDone = 2;
constexpr uint8_t kMaxData = 16;

// Bytes from `from` to the end of the report must be zero.
bool RestIsZero(const uint8_t* report, size_t from) {
  for (size_t i = from; i < kReportSize; ++i) {
    if (report[i] != 0) return false;
  }
  return true;
}

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Byte 2 = 3, bus, speed (u16), checksum over bytes 1 to 5. A malformed one
// is refused; it has no reply that could carry an error.
bool OnSpeedReport(I2cMasterState& s, const uint8_t* report) {
  uint8_t sum = 0;
  for (int i = 1; i <= 6; ++i) sum = static_cast<uint8_t>(sum + report[i]);
  const auto speed = static_cast<uint16_t>(report[4] | (report[5] << 8));
  if (report[2] != 3 || report[3] > 2 || sum != 0 || speed == 0 || !RestIsZero(report, 7)) return false;
  s.speedKhz[report[3]] = speed;
  s.speedReports.emplace_back(report[3], speed);
  return true;
}

uint8_t SlaveResult(const I2cMasterState& s, uint8_t bus, uint8_t slaveAddress) {
  const Rdx4410Model* rdx = s.rdx4410.get();
  if (!rdx || rdx->config().silent || bus != rdx->config().bus || slaveAddress != rdx->config().slaveAddress)
    return kI2CResultNack;
  if (s.speedKhz[bus] > rdx->config().maxSpeedKhz) return kI2CResultBusError;
  return 0;
}

// Write: length 5 + k, one segment of length 3 + k with flags 3, the slave
// address, then k bytes for the slave (register address, then data). The
// master holds at most 16 data bytes behind a register address of up to 4.
uint8_t RunWrite(I2cMasterState& s, const uint8_t* report) {
  const uint8_t segment = report[5];
  if (report[4] != 1 || report[6] != 3 || segment < 4 || report[2] != segment + 2 || segment > 3 + 4 + kMaxData ||
      !RestIsZero(report, 8 + segment - 3) || (report[7] & 1) != 0)
    return kI2CResultBadRequest;
  if (const uint8_t r = SlaveResult(s, report[3], report[7]); r != 0) return r;
  return s.rdx4410->Write(report + 8, segment - 3);
}

// Read: length 14, an address segment (length 3 + w, flags 1, the slave, w
// address bytes), then 03 01 slave|1 count 02.
uint8_t RunRead(I2cMasterState& s, const uint8_t* report, uint8_t* data) {
  const uint8_t segment = report[5];
  if (report[2] != 14 || report[4] != 2 || report[6] != 1 || segment < 4 || segment > 7 || (report[7] & 1) != 0)
    return kI2CResultBadRequest;
  const uint8_t w = segment - 3;
  const uint8_t* second = report + 8 + w;
  if (second[0] != 3 || second[1] != 1 || second[2] != (report[7] | 1) || second[3] == 0 || second[3] > kMaxData ||
      second[4] != 2 || !RestIsZero(report, 8 + w + 5))
    return kI2CResultBadRequest;
  if (const uint8_t r = SlaveResult(s, report[3], report[7]); r != 0) return r;
  if (s.failingReadAddress && w == 4 && Le32(report + 8) == *s.failingReadAddress && s.failingReadsLeft > 0) {
    --s.failingReadsLeft;
    return kI2CResultBusError;
  }
  return s.rdx4410->Read(report + 8, w, data, second[3]);
}

bool OnI2cReport(VirtualConverter& c, const uint8_t* report, uint8_t* reply) {
  I2cMasterState& s = c.Extension<I2cMasterState>();
  if (report[1] == kSpeed) return OnSpeedReport(s, report);

  ++s.transactions;
  std::memset(reply, 0, kReportSize);
  reply[1] = kTransaction;
  reply[3] = kStateDone;
  if (report[3] > 2) {
    reply[4] = kI2CResultBadRequest;
  } else if (report[4] == 1) {
    reply[4] = RunWrite(s, report);
  } else {
    reply[4] = RunRead(s, report, reply + 6);
    if (reply[4] != 0) std::memset(reply + 6, 0, kMaxData);
  }
  if (s.invalidRepliesLeft > 0) {
    --s.invalidRepliesLeft;
    reply[1] = 0x00;
  }
  return reply[4] != kI2CResultBadRequest;
}

bool ParseI2c(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value, {"invalid_replies", "failing_read_address", "failing_reads"}, "i2c", error)) return false;
  I2cMasterState& s = c.Extension<I2cMasterState>();
  if (value.contains("invalid_replies") && !ParseUnsignedAs(value["invalid_replies"], s.invalidRepliesLeft, error))
    return (error = "i2c: invalid_replies: " + error), false;
  if (value.contains("failing_read_address")) {
    uint32_t address = 0;
    if (!ParseUnsignedAs(value["failing_read_address"], address, error))
      return (error = "i2c: failing_read_address: " + error), false;
    s.failingReadAddress = address;
    s.failingReadsLeft = 1;
  }
  if (value.contains("failing_reads") && !ParseUnsignedAs(value["failing_reads"], s.failingReadsLeft, error))
    return (error = "i2c: failing_reads: " + error), false;
  return true;
}

bool ParseRdx4410(const nlohmann::json& value, VirtualConverter& c, std::string& error) {
  if (!CheckKeys(value,
                 {"variant", "map_file", "bus", "slave_address", "max_speed_khz", "silent", "mcu_pending_reads",
                  "missed_triggers", "mcu_hung", "enable_ignored", "enable_status", "fail_activations", "fail_activation_status"},
                 "rdx4410", error))
    return false;
  Rdx4410Config config;
  auto number = [&](const char* key, auto& out) {
    if (!value.contains(key) || ParseUnsignedAs(value[key], out, error)) return true;
    error = std::string("rdx4410: ") + key + ": " + error;
    return false;
  };
  auto flag = [&](const char* key, bool& out) {
    if (!value.contains(key)) return true;
    if (value[key].is_boolean()) return out = value[key].get<bool>(), true;
    error = std::string("rdx4410: ") + key + ": expected true or false";
    return false;
  };
  if (!number("bus", config.bus) || !number("slave_address", config.slaveAddress) ||
      !number("max_speed_khz", config.maxSpeedKhz) || !number("mcu_pending_reads", config.mcuPendingReads) ||
      !number("missed_triggers", config.missedTriggers) || !number("fail_activations", config.failActivations) ||
      !number("fail_activation_status", config.failActivationStatus) ||
      !number("enable_status", config.enableStatus) || !flag("silent", config.silent) ||
      !flag("mcu_hung", config.mcuHung) || !flag("enable_ignored", config.enableIgnored))
    return false;
  if (config.bus > 2) return (error = "rdx4410: bus: 0, 1 or 2"), false;
  if (value.contains("map_file") && value.contains("variant"))
    return (error = "rdx4410: variant or map_file, not both"), false;
  if (value.contains("map_file")) {
    if (!value["map_file"].is_string()) return (error = "rdx4410: map_file: expected a path"), false;
    config.mapFile = value["map_file"].get<std::string>();
  } else {
    if (value.contains("variant") && !value["variant"].is_string())
      return (error = "rdx4410: variant: \"4a\" or \"4b\""), false;
    const std::string variant = value.value("variant", std::string("4b"));
    if (variant != "4a" && variant != "4b") return (error = "rdx4410: variant: \"4a\" or \"4b\""), false;
    config.mapFile = MapFileForVariant(variant);
  }
  try {
    c.Extension<I2cMasterState>().rdx4410 =
        std::make_shared<Rdx4410Model>(config, &c.Extension<FlashState>().mainHoldsSpiBus);
  } catch (const std::runtime_error& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace

Rdx4410Model* CompanionChip(VirtualConverter& c) { return c.Extension<I2cMasterState>().rdx4410.get(); }

void InstallI2cMasterModel(SimRegistry& r) {
  r.SetI2cHandler(OnI2cReport);
  r.AddConverterSection("i2c", ParseI2c);
  r.AddConverterSection("rdx4410", ParseRdx4410);
}

}  // namespace ktq::sim
