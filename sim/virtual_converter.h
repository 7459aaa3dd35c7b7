// One virtual converter: the device side of the HID link and the chip state
// behind it. It checks every report it receives as a strict device would and
// answers only in the formats of the wire protocol; faults from the scenario
// make it misbehave in the ways real converters do.
//
// Thread safety: transfers, Unplug and Replug may come from different
// threads and are serialised by the converter's own lock. Configuration
// (memory, timing, faults, extensions) is set up before the converter is in
// use or from within a command handler.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "sim/rc_protocol.h"
#include "sim/sim_registry.h"
#include "sim/sparse_memory.h"

namespace ktq::sim {

// What enumeration shows of a HID device.
struct DeviceIdentity {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string manufacturer;  // UTF-8
  std::string product;
  std::string serial;
  int interfaceNumber = 0;
};

enum class FaultKind {
  kSendFailure,    // the output report is refused (hid_write fails); the request is lost
  kFetchFailure,   // `fetches` fetches from number `fetch` after the request fail
  kNeverComplete,  // the reply stays pending for good
  kStatus,         // the reply completes with `status`
  kUnplug,         // the converter is pulled out as request afterRequests + 1 arrives
};

// A misbehaviour that hits RC requests matching `command` and `address`
// (unset: any). The first `skip` matching requests pass; the next `times`
// are hit (0: all from then on).
struct Fault {
  FaultKind kind = FaultKind::kStatus;
  std::optional<uint8_t> command;
  std::optional<uint32_t> address;
  uint32_t skip = 0;
  uint32_t times = 1;
  uint8_t status = 0;
  uint32_t fetch = 1;
  uint32_t fetches = 1;
  uint32_t afterRequests = 0;
  uint32_t matched = 0;  // progress, kept by the converter

  static Fault SendFailure() { return Of(FaultKind::kSendFailure); }
  static Fault FetchFailure(uint32_t first = 1, uint32_t count = 1) {
    Fault f = Of(FaultKind::kFetchFailure);
    f.fetch = first;
    f.fetches = count;
    return f;
  }
  static Fault NeverComplete() { return Of(FaultKind::kNeverComplete); }
  static Fault Status(uint8_t value) {
    Fault f = Of(FaultKind::kStatus);
    f.status = value;
    return f;
  }
  static Fault UnplugAfter(uint32_t requests) {
    Fault f = Of(FaultKind::kUnplug);
    f.afterRequests = requests;
    return f;
  }
  Fault& OnCommand(uint8_t code) { return command = code, *this; }
  Fault& AtAddress(uint32_t value) { return address = value, *this; }
  Fault& Skip(uint32_t n) { return skip = n, *this; }
  Fault& Always() { return times = 0, *this; }

 private:
  static Fault Of(FaultKind k) {
    Fault f;
    f.kind = k;
    return f;
  }
};

struct ConverterTiming {
  std::chrono::microseconds latency{0};  // added to every transfer
  uint32_t pendingPolls = 0;             // fetches that still see the reply pending
};

using Report = std::array<uint8_t, rc::kReportSize>;

struct LoggedTransfer {
  bool out;  // output report (else input report)
  Report bytes;
};

class VirtualConverter {
 public:
  explicit VirtualConverter(DeviceIdentity identity);
  VirtualConverter(const VirtualConverter&) = delete;
  VirtualConverter& operator=(const VirtualConverter&) = delete;

  const DeviceIdentity& Identity() const { return identity_; }
  DeviceIdentity& MutableIdentity() { return identity_; }
  SparseMemory& Memory() { return memory_; }
  ConverterTiming& Timing() { return timing_; }

  // RC command mode now, and the mode the chip starts in after power-up or a
  // restart.
  bool RcModeEnabled() const { return rcMode_; }
  void SetRcMode(bool enabled) { rcMode_ = enabled; }
  void SetPowerOnRcMode(bool enabled) { powerOnRcMode_ = rcMode_ = enabled; }
  // Puts the chip through a restart: RC mode as at power-up, no reply.
  void Restart();

  void AddFault(const Fault& fault) { faults_.push_back(fault); }
  // hid_open of this converter fails (a device the user may not open, say).
  bool openFails = false;

  // Per-converter state of a model, made on first use.
  template <typename T>
  T& Extension() {
    auto& slot = extensions_[std::type_index(typeid(T))];
    if (!slot) slot = std::make_shared<T>();
    return *static_cast<T*>(slot.get());
  }

  // The two transfers, with hidapi's results: bytes moved, or -1.
  int ReceiveOutputReport(const uint8_t* data, size_t length);
  int ProvideInputReport(uint8_t* data, size_t length);

  void Unplug();
  void Replug();  // plugged in again: powers up
  // The chip restarting into new firmware: it drops off the bus as the next
  // request arrives (that request fails), stays away for `offFor`, then
  // comes back powered up after `onPowerUp` has run (the new firmware's
  // identity). Callable from a command handler.
  void RestartAfterNextRequest(std::chrono::milliseconds offFor, std::function<void(VirtualConverter&)> onPowerUp);
  // Brings a restarting converter back once its time away is over; the
  // virtual host calls it before it enumerates or opens.
  void ComeBackIfDue();
  bool Unplugged() const;
  // Blocks until the converter is unplugged (true) or `stop` is set and
  // WakeWaiters is called (false).
  bool WaitForUnplug(const std::atomic<bool>& stop);
  void WakeWaiters();

  // Everything a strict device would refuse, in order ("request 3: bad
  // checksum"). Tests expect it to stay empty when the host is right.
  std::vector<std::string> ProtocolErrors() const;
  uint64_t RequestCount() const;  // RC and I2C output reports received
  // The command codes of the RC requests that a fault hit, in order (an
  // unplug fault records the command it cut off as well).
  std::vector<uint8_t> FaultHits() const;
  // Time really spent waiting out the modelled per-transfer latency, sleep
  // overshoot included, so a benchmark can tell the host's own time apart.
  std::chrono::nanoseconds LatencySpent() const;
  // Off by default (benchmarks run millions of exchanges).
  void SetTransferLog(bool enabled);
  std::vector<LoggedTransfer> TransferLog() const;

 private:
  void SpendLatency();
  void UnplugLocked();
  void ProtocolError(const std::string& what);
  void LogTransfer(bool out, const uint8_t* report);
  Fault* MatchFault(FaultKind kind, uint8_t command, uint32_t address);
  void HandleRcRequest(const uint8_t* request);
  bool CheckRcFraming(const uint8_t* request, const RcDirection* direction);
  void CompleteReply(const uint8_t* request, const RcReply& reply, RcDirection direction);

  DeviceIdentity identity_;
  SparseMemory memory_;
  ConverterTiming timing_;
  std::vector<Fault> faults_;
  std::unordered_map<std::type_index, std::shared_ptr<void>> extensions_;
  bool rcMode_ = true;
  bool powerOnRcMode_ = true;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool unplugged_ = false;
  bool restartPending_ = false;
  std::chrono::milliseconds restartOffFor_{0};
  std::optional<std::chrono::steady_clock::time_point> comesBackAt_;
  std::function<void(VirtualConverter&)> onPowerUp_;
  uint64_t requests_ = 0;
  std::vector<uint8_t> faultHits_;
  std::vector<std::string> protocolErrors_;
  bool logTransfers_ = false;
  std::vector<LoggedTransfer> log_;

  // The reply that fetches return; for a read that succeeded, the report
  // with its data follows it (dataReportDue_ once the reply was fetched).
  Report reply_{};
  Report dataReport_{};
  bool hasDataReport_ = false;
  bool dataReportDue_ = false;
  bool replySilent_ = false;  // no reply at all until the next request
  bool neverComplete_ = false;
  uint32_t pendingLeft_ = 0;
  bool i2cReply_ = false;                  // the reply answers an I2C-master transaction
  std::chrono::steady_clock::time_point busyUntil_{};  // on the model clock (sim/model_clock.h)
  std::atomic<int64_t> latencySpentNs_{0};
  uint32_t fetchesSinceRequest_ = 0;
  uint32_t failFetch_ = 0;  // 1-based fetch after the request that fails first; 0: none
  uint32_t failFetches_ = 0;
};

}  // namespace ktq::sim
