#include "sim/i2c_master_model.h"

#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace sim {

namespace {

constexpr uint8_t kTransaction = 0x10;
constexpr uint8_t kSpeed = 0x11;
constexpr uint8_t kStateRunning = 1;
constexpr uint8_t kStateDone = 2;
constexpr uint8_t kMaxData = 16;

// Bytes after `from` up to the end of the report must be zero.
bool RestIsZero(const uint8_t* report, size_t from) {
  for (size_t i = from; i < I2cMasterModel::kReportSize; ++i) {
    if (report[i] != 0) return false;
  }
  return true;
}

}  // namespace

I2cMasterConfig ParseI2cMasterConfig(const nlohmann::json& section) {
  if (!section.is_object()) throw std::runtime_error("\"i2c\" must be an object");
  I2cMasterConfig config;
  for (const auto& [key, value] : section.items()) {
    if (key == "runningPolls" && value.is_number_unsigned()) {
      config.runningPolls = value.get<uint32_t>();
    } else {
      throw std::runtime_error("\"i2c\": unknown key or bad value \"" + key + "\"");
    }
  }
  return config;
}

I2cMasterModel::I2cMasterModel(I2cMasterConfig config, Rdx4410Model* rdx4410)
    : config_(config), rdx4410_(rdx4410) {}

bool I2cMasterModel::OnOutputReport(const uint8_t* report) {
  if (report[1] == kSpeed) {
    OnSpeedReport(report);
    return true;
  }
  if (report[1] == kTransaction) {
    OnTransaction(report);
    return true;
  }
  return false;
}

void I2cMasterModel::OnSpeedReport(const uint8_t* report) {
  uint8_t sum = 0;
  for (int i = 1; i <= 6; ++i) sum = static_cast<uint8_t>(sum + report[i]);
  const auto speed = static_cast<uint16_t>(report[4] | (report[5] << 8));
  // A malformed speed report is dropped: it has no reply to carry an error.
  if (report[2] != 3 || report[3] > 2 || sum != 0 || speed == 0 || !RestIsZero(report, 7)) return;
  speeds_[report[3]] = speed;
  speedReports_.emplace_back(report[3], speed);
}

uint8_t I2cMasterModel::SlaveResult(uint8_t bus, uint8_t slaveAddress) const {
  if (rdx4410_ == nullptr || rdx4410_->config().silent || bus != rdx4410_->config().bus ||
      (slaveAddress & 0xFE) != rdx4410_->config().slaveAddress) {
    return kI2CResultNack;
  }
  if (speeds_[bus] > rdx4410_->config().maxSpeedKhz) return kI2CResultBusError;
  return 0;
}

// Write: length 5 + k, one segment of length 3 + k with flags 3, the slave
// address, then k bytes for the slave (its register address and the data).
uint8_t I2cMasterModel::RunWrite(const uint8_t* report) {
  const uint8_t segment = report[5];
  if (report[4] != 1 || report[6] != 3 || segment < 4 || report[2] != segment + 2 ||
      8u + (segment - 3) > kReportSize || !RestIsZero(report, 8 + (segment - 3)) || (report[7] & 1) != 0) {
    return kI2CResultBadRequest;
  }
  if (const uint8_t r = SlaveResult(report[3], report[7]); r != 0) return r;
  return rdx4410_->Write(report + 8, segment - 3);
}

// Read: length 14, an address segment (length 3 + w, flags 1, the slave, w
// address bytes), then 03 01 slave|1 count 02.
uint8_t I2cMasterModel::RunRead(const uint8_t* report, uint8_t* data, uint8_t& count) {
  const uint8_t segment = report[5];
  if (report[2] != 14 || report[4] != 2 || report[6] != 1 || segment < 4 || segment > 7 ||
      (report[7] & 1) != 0) {
    return kI2CResultBadRequest;
  }
  const uint8_t w = segment - 3;
  const uint8_t* second = report + 8 + w;
  if (second[0] != 3 || second[1] != 1 || second[2] != (report[7] | 1) || second[3] == 0 ||
      second[3] > kMaxData || second[4] != 2 || !RestIsZero(report, 8 + w + 5)) {
    return kI2CResultBadRequest;
  }
  if (const uint8_t r = SlaveResult(report[3], report[7]); r != 0) return r;
  count = second[3];
  return rdx4410_->Read(report + 8, w, data, count);
}

void I2cMasterModel::OnTransaction(const uint8_t* report) {
  ++transactions_;
  done_.fill(0);
  done_[0] = 0x01;
  done_[1] = kTransaction;
  done_[3] = kStateDone;
  if (report[3] > 2) {
    done_[4] = kI2CResultBadRequest;
  } else if (report[4] == 1) {
    done_[4] = RunWrite(report);
  } else {
    uint8_t count = 0;
    uint8_t data[kMaxData] = {};
    done_[4] = RunRead(report, data, count);
    if (done_[4] == 0) std::memcpy(&done_[6], data, count);
  }
  haveTransaction_ = true;
  runningLeft_ = config_.runningPolls;
}

void I2cMasterModel::FillReply(uint8_t* report) {
  if (haveTransaction_ && runningLeft_ > 0) {
    --runningLeft_;
    std::memset(report, 0, kReportSize);
    report[0] = 0x01;
    report[1] = kTransaction;
    report[3] = kStateRunning;
    return;
  }
  std::memcpy(report, done_.data(), kReportSize);
}

}  // namespace sim
