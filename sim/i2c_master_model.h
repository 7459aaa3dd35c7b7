// The converter chip's I2C master as the virtual converter models it: three
// buses with a speed each, transactions carried in HID reports (byte 1 0x10)
// that run for a configurable number of polls, and speed reports (byte 1 0x11)
// that have no reply.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/rdx4410_model.h"

namespace sim {

// Scenario section "i2c".
struct I2cMasterConfig {
  uint32_t runningPolls = 0;  // fetches that still report the transaction running
};

I2cMasterConfig ParseI2cMasterConfig(const nlohmann::json& section);

constexpr uint8_t kI2CResultBadRequest = 0xEE;  // the master could not parse the report

class I2cMasterModel {
 public:
  static constexpr size_t kReportSize = 62;
  using Report = std::array<uint8_t, kReportSize>;

  I2cMasterModel(I2cMasterConfig config, Rdx4410Model* rdx4410);

  // Takes an output report whose byte 1 is 0x10 or 0x11. Returns whether
  // the report is one of them (others are not for the I2C master).
  bool OnOutputReport(const uint8_t* report);
  // The input report that answers the last transaction.
  void FillReply(uint8_t* report);

  uint16_t busSpeedKhz(uint8_t bus) const { return speeds_[bus]; }
  // Every speed report accepted, as (bus, kHz).
  const std::vector<std::pair<uint8_t, uint16_t>>& speedReports() const { return speedReports_; }
  uint32_t transactions() const { return transactions_; }

 private:
  void OnSpeedReport(const uint8_t* report);
  void OnTransaction(const uint8_t* report);
  uint8_t RunWrite(const uint8_t* report);
  uint8_t RunRead(const uint8_t* report, uint8_t* data, uint8_t& count);
  uint8_t SlaveResult(uint8_t bus, uint8_t slaveAddress) const;

  I2cMasterConfig config_;
  Rdx4410Model* rdx4410_;
  std::array<uint16_t, 3> speeds_{100, 100, 100};
  std::vector<std::pair<uint8_t, uint16_t>> speedReports_;
  uint32_t transactions_ = 0;
  bool haveTransaction_ = false;
  uint32_t runningLeft_ = 0;
  Report done_{};
};

}  // namespace sim
