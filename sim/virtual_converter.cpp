#include "sim/virtual_converter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "sim/model_clock.h"
#include "sim/rc_protocol.h"

namespace ktq::sim {

namespace {

using rc::kI2cSpeedReport;
using rc::kI2cTransactionReport;
using rc::kRcReport;
using rc::kReportId;

constexpr uint8_t kPendingBit = 0x80;
constexpr size_t kPayloadOffset = 15;
constexpr uint8_t kHeaderLength = 12;
constexpr uint8_t kMaxChunk = 32;

std::string Hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

uint32_t AddressOf(const uint8_t* request) {
  return request[7] | (request[8] << 8) | (request[9] << 16) | (static_cast<uint32_t>(request[10]) << 24);
}

}  // namespace

VirtualConverter::VirtualConverter(DeviceIdentity identity) : identity_(std::move(identity)) { reply_[0] = kReportId; }

void VirtualConverter::Restart() { rcMode_ = powerOnRcMode_; }

void VirtualConverter::SpendLatency() {
  if (VirtualTimeOn()) {
    const auto spent = std::max(timing_.latency, kVirtualTransferTime);
    ModelSleep(spent);
    latencySpentNs_ += std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count();
    return;
  }
  if (timing_.latency.count() <= 0) return;
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(timing_.latency);
  latencySpentNs_ += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
}

std::chrono::nanoseconds VirtualConverter::LatencySpent() const { return std::chrono::nanoseconds(latencySpentNs_.load()); }

int VirtualConverter::ReceiveOutputReport(const uint8_t* data, size_t length) {
  SpendLatency();
  std::lock_guard<std::mutex> lock(mutex_);
  if (unplugged_) return -1;
  ++requests_;
  if (restartPending_) {
    restartPending_ = false;
    comesBackAt_ = std::chrono::steady_clock::now() + restartOffFor_;
    UnplugLocked();
    return -1;
  }
  for (Fault& f : faults_) {
    if (f.kind == FaultKind::kUnplug && f.matched == 0 && requests_ > f.afterRequests) {
      f.matched = 1;
      if (data && length > 5) faultHits_.push_back(data[5] & 0x7F);
      UnplugLocked();
      return -1;
    }
  }
  if (!data || length != reply_.size()) {
    ProtocolError("output report of " + std::to_string(length) + " bytes, expected 62");
    return -1;
  }
  if (data[0] != kReportId) {
    ProtocolError("output report with report ID " + Hex2(data[0]));
    return -1;
  }
  LogTransfer(true, data);
  switch (data[1]) {
    case kRcReport:
      if (MatchFault(FaultKind::kSendFailure, data[5] & 0x7F, AddressOf(data))) return -1;
      HandleRcRequest(data);
      break;
    case kI2cTransactionReport:
    case kI2cSpeedReport: {
      const auto& handler = Registry().I2cHandler();
      pendingLeft_ = data[1] == kI2cTransactionReport ? timing_.pendingPolls : 0;
      i2cReply_ = true;
      hasDataReport_ = dataReportDue_ = false;
      busyUntil_ = {};
      neverComplete_ = replySilent_ = false;
      fetchesSinceRequest_ = failFetch_ = 0;
      if (!handler)
        ProtocolError("I2C-master report, but this converter models no I2C master");
      else if (!handler(*this, data, reply_.data()))
        ProtocolError("I2C-master report rejected");
      reply_[0] = kReportId;
      break;
    }
    default:
      ProtocolError("output report with unknown type byte " + Hex2(data[1]));
      break;
  }
  return static_cast<int>(length);
}

int VirtualConverter::ProvideInputReport(uint8_t* data, size_t length) {
  SpendLatency();
  std::lock_guard<std::mutex> lock(mutex_);
  if (unplugged_) return -1;
  if (!data || length != reply_.size()) {
    ProtocolError("input report of " + std::to_string(length) + " bytes requested, expected 62");
    return -1;
  }
  if (data[0] != kReportId) {
    ProtocolError("GET_REPORT for input report ID " + Hex2(data[0]));
    return -1;
  }
  ++fetchesSinceRequest_;
  if (failFetch_ != 0 && fetchesSinceRequest_ >= failFetch_ && fetchesSinceRequest_ - failFetch_ < failFetches_)
    return -1;
  if (i2cReply_ && pendingLeft_ > 0) {
    // The transaction is still running on the bus.
    --pendingLeft_;
    std::memset(data, 0, reply_.size());
    std::memcpy(data, reply_.data(), 3);
    data[3] = 1;
  } else if (replySilent_ || neverComplete_ || pendingLeft_ > 0 ||
             (!i2cReply_ && busyUntil_ > ModelNow())) {
    if (pendingLeft_ > 0) --pendingLeft_;
    std::memcpy(data, reply_.data(), kPayloadOffset);
    std::memset(data + kPayloadOffset, 0, reply_.size() - kPayloadOffset);
    data[5] |= kPendingBit;
    data[6] = 0;
  } else if (dataReportDue_) {
    // A read's data follows in the report after the one that completed it.
    std::memcpy(data, dataReport_.data(), dataReport_.size());
  } else {
    std::memcpy(data, reply_.data(), reply_.size());
    dataReportDue_ = hasDataReport_;
  }
  LogTransfer(false, data);
  return static_cast<int>(length);
}

void VirtualConverter::LogTransfer(bool out, const uint8_t* report) {
  if (!logTransfers_) return;
  LoggedTransfer t{out, {}};
  std::memcpy(t.bytes.data(), report, t.bytes.size());
  log_.push_back(t);
}

Fault* VirtualConverter::MatchFault(FaultKind kind, uint8_t command, uint32_t address) {
  Fault* hit = nullptr;
  for (Fault& f : faults_) {
    if (f.kind != kind || (f.command && *f.command != command) || (f.address && *f.address != address)) continue;
    ++f.matched;
    const bool inWindow = f.matched > f.skip && (f.times == 0 || f.matched <= f.skip + f.times);
    if (inWindow && !hit) hit = &f;
  }
  if (hit) faultHits_.push_back(command);
  return hit;
}

void VirtualConverter::HandleRcRequest(const uint8_t* request) {
  const uint8_t command = request[5] & 0x7F;
  const auto* entry = Registry().FindCommand(command);
  const RcDirection direction = entry ? entry->direction : RcDirection::kSet;
  const RcDirection* checkedDirection = entry ? &entry->direction : nullptr;
  replySilent_ = neverComplete_ = i2cReply_ = false;
  busyUntil_ = {};
  pendingLeft_ = timing_.pendingPolls;
  fetchesSinceRequest_ = failFetch_ = 0;

  const uint32_t address = AddressOf(request);
  if (Fault* f = MatchFault(FaultKind::kFetchFailure, command, address)) {
    failFetch_ = f->fetch;
    failFetches_ = f->fetches;
  }
  if (MatchFault(FaultKind::kNeverComplete, command, address)) neverComplete_ = true;

  RcReply reply;
  if (!CheckRcFraming(request, checkedDirection)) {
    reply.status = kStatusMalformedRequest;
    CompleteReply(request, reply, direction);
    return;
  }
  if (!entry) {
    ProtocolError("unknown RC command " + Hex2(command));
    reply.status = kStatusUnknownCommand;
    CompleteReply(request, reply, direction);
    return;
  }
  const RcRequest parsed{command, address, request[11],
                         direction == RcDirection::kSet ? request + kPayloadOffset : nullptr};
  if (command != rc::kEnableRc && !rcMode_) {
    reply.status = kStatusRcModeOff;
  } else if (Fault* f = MatchFault(FaultKind::kStatus, command, address)) {
    reply.status = f->status;
  } else {
    entry->handler(*this, parsed, reply);
  }
  CompleteReply(request, reply, direction);
  if (reply.silent) replySilent_ = true;
  if (reply.busyFor.count() > 0) busyUntil_ = ModelNow() + reply.busyFor;
}

// `direction` is null for a command the model does not know: only what holds
// for every request is checked then.
bool VirtualConverter::CheckRcFraming(const uint8_t* request, const RcDirection* direction) {
  const uint8_t length = request[2];
  const uint8_t count = request[11];
  std::string problem;
  if (length < kHeaderLength || length > kHeaderLength + kMaxChunk) {
    problem = "length byte " + std::to_string(length) + " out of range";
  } else if (request[3] || request[4] || request[12] || request[13] || request[14]) {
    problem = "reserved bytes not zero";
  } else if (!(request[5] & kPendingBit)) {
    problem = "command byte without the pending bit";
  } else if (request[6]) {
    problem = "status byte not zero in a request";
  } else if (direction && *direction == RcDirection::kSet && count != length - kHeaderLength) {
    problem = "count " + std::to_string(count) + " but " + std::to_string(length - kHeaderLength) + " payload bytes";
  } else if (direction && *direction == RcDirection::kGet && length != kHeaderLength) {
    problem = "read request with payload";
  } else if (direction && *direction == RcDirection::kGet && (count == 0 || count > kMaxChunk)) {
    problem = "read count " + std::to_string(count);
  } else {
    const size_t checksumAt = 3u + length;
    uint8_t sum = 0;
    for (size_t i = 2; i <= checksumAt; ++i) sum = static_cast<uint8_t>(sum + request[i]);
    if (sum != 0) {
      problem = "bad checksum";
    } else {
      for (size_t i = checksumAt + 1; i < reply_.size(); ++i)
        if (request[i]) problem = "bytes after the checksum not zero";
    }
  }
  if (problem.empty()) return true;
  ProtocolError(problem);
  return false;
}

namespace {

// A reply report: the request's command (pending bit clear), the status, its
// address and count, `n` data bytes and the checksum.
void BuildReply(Report& out, const uint8_t* request, uint8_t status, const uint8_t* data, uint8_t n) {
  out.fill(0);
  out[0] = kReportId;
  out[2] = static_cast<uint8_t>(kHeaderLength + n);
  out[5] = request[5] & 0x7F;
  out[6] = status;
  std::memcpy(&out[7], request + 7, 5);
  if (n) std::memcpy(&out[kPayloadOffset], data, n);
  uint8_t sum = 0;
  for (size_t i = 2; i < kPayloadOffset + n; ++i) sum = static_cast<uint8_t>(sum + out[i]);
  out[kPayloadOffset + n] = static_cast<uint8_t>(-sum);
}

}  // namespace

// The report that completes a command carries its status only. A read that
// succeeded sends its data in a second report, which every later fetch
// returns: a host that takes the data from the completing report gets none.
void VirtualConverter::CompleteReply(const uint8_t* request, const RcReply& reply, RcDirection direction) {
  BuildReply(reply_, request, reply.status, nullptr, 0);
  hasDataReport_ = direction == RcDirection::kGet && reply.status == kStatusOk;
  dataReportDue_ = false;
  if (hasDataReport_) BuildReply(dataReport_, request, reply.status, reply.data, request[11]);
}

void VirtualConverter::Unplug() {
  std::lock_guard<std::mutex> lock(mutex_);
  UnplugLocked();
}

void VirtualConverter::UnplugLocked() {
  unplugged_ = true;
  changed_.notify_all();
}

void VirtualConverter::RestartAfterNextRequest(std::chrono::milliseconds offFor,
                                               std::function<void(VirtualConverter&)> onPowerUp) {
  restartPending_ = true;
  restartOffFor_ = offFor;
  onPowerUp_ = std::move(onPowerUp);
}

void VirtualConverter::ComeBackIfDue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!unplugged_ || !comesBackAt_ || std::chrono::steady_clock::now() < *comesBackAt_) return;
    comesBackAt_.reset();
  }
  if (onPowerUp_) onPowerUp_(*this);
  Replug();
}

void VirtualConverter::Replug() {
  std::lock_guard<std::mutex> lock(mutex_);
  unplugged_ = false;
  rcMode_ = powerOnRcMode_;
  replySilent_ = neverComplete_ = hasDataReport_ = dataReportDue_ = false;
  pendingLeft_ = fetchesSinceRequest_ = failFetch_ = 0;
  busyUntil_ = {};
}

bool VirtualConverter::Unplugged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unplugged_;
}

bool VirtualConverter::WaitForUnplug(const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return unplugged_ || stop.load(); });
  return !stop.load();
}

void VirtualConverter::WakeWaiters() {
  std::lock_guard<std::mutex> lock(mutex_);
  changed_.notify_all();
}

void VirtualConverter::ProtocolError(const std::string& what) {
  protocolErrors_.push_back("request " + std::to_string(requests_) + ": " + what);
}

std::vector<std::string> VirtualConverter::ProtocolErrors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocolErrors_;
}

uint64_t VirtualConverter::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<uint8_t> VirtualConverter::FaultHits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return faultHits_;
}

void VirtualConverter::SetTransferLog(bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  logTransfers_ = enabled;
  log_.clear();
}

std::vector<LoggedTransfer> VirtualConverter::TransferLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

}  // namespace ktq::sim
