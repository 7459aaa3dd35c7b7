// Extension points of the virtual converter.
//
// A model of another part of the chip (flash, Tefra log, EDID, DPCD, timing
// records, the I2C master, registers from the map files, ...) lives in files
// of its own and adds itself with one line in sim_modules.cpp, which calls
// its install function with the registry below. Models keep their state per
// converter with VirtualConverter::Extension<T>() and never in globals, so
// several converters (and several tests) can live side by side.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ktq::sim {

class VirtualConverter;
class VirtualHost;

// Statuses the model itself gives (the chip's own protocol fixes only 0 and
// 4; these are the values this model chose for requests it refuses).
constexpr uint8_t kStatusOk = 0x00;
constexpr uint8_t kStatusRcModeOff = 0x04;
constexpr uint8_t kStatusMalformedRequest = 0x80;  // framing, reserved bytes, checksum, count
constexpr uint8_t kStatusUnknownCommand = 0x81;
constexpr uint8_t kStatusBadArgument = 0x82;  // wrong code word, address or payload for the command

enum class RcDirection {
  kSet,  // host to device: length byte n + 12, count n, n payload bytes
  kGet,  // device to host: length byte 12, count 1..32, no payload
};

// A well-formed RC request as the converter received it.
struct RcRequest {
  uint8_t command = 0;  // without the pending bit
  uint32_t address = 0;
  uint8_t count = 0;
  const uint8_t* payload = nullptr;  // count bytes for kSet, null for kGet
};

// What a command handler answers.
struct RcReply {
  uint8_t status = kStatusOk;
  uint8_t data[32] = {};  // the first `count` bytes go back for kGet
  // The chip does not answer this request at all (it restarts, say): the
  // reply stays pending until the next request.
  bool silent = false;
  // The chip works on the command this long (a flash erase, say): fetches
  // see the reply pending until then.
  std::chrono::microseconds busyFor{0};
};

using RcCommandHandler = std::function<void(VirtualConverter&, const RcRequest&, RcReply&)>;

// An output report whose byte 1 is not 0 (0x10: I2C-master transaction,
// 0x11: I2C-master speed). Gets the whole 62-byte report and writes the
// 62-byte input report that the following fetches return; after a
// transaction the first `pending_polls` of them report it still running
// (byte 3 = 1). False when the model rejects the report (it is then logged
// as a protocol error).
using I2cReportHandler = std::function<bool(VirtualConverter&, const uint8_t* report, uint8_t* reply)>;

// A key of a converter entry (or of the scenario's top level) in a scenario
// file: gets the key's value. False with `error` set when the value is bad.
using ConverterSectionParser =
    std::function<bool(const nlohmann::json& value, VirtualConverter&, std::string& error)>;
using ScenarioSectionParser = std::function<bool(const nlohmann::json& value, VirtualHost&, std::string& error)>;

// Runs once per converter after its scenario entry is parsed, in ascending
// order; the scenario's own "memory" section is applied at order 1000 so
// that it overrides values placed earlier (register resets, say).
using MemoryInitialiser = std::function<bool(VirtualConverter&, std::string& error)>;
constexpr int kScenarioMemoryOrder = 1000;

class SimRegistry {
 public:
  struct CommandEntry {
    RcDirection direction;
    RcCommandHandler handler;
  };

  // Registering a command code, a section key or the I2C handler twice is a
  // programming error and aborts.
  void AddRcCommand(uint8_t code, RcDirection direction, RcCommandHandler handler);
  void SetI2cHandler(I2cReportHandler handler);
  void AddConverterSection(const std::string& key, ConverterSectionParser parser);
  void AddScenarioSection(const std::string& key, ScenarioSectionParser parser);
  void AddMemoryInitialiser(int order, MemoryInitialiser initialiser);

  const CommandEntry* FindCommand(uint8_t code) const;
  const I2cReportHandler& I2cHandler() const { return i2c_; }
  const ConverterSectionParser* FindConverterSection(const std::string& key) const;
  const ScenarioSectionParser* FindScenarioSection(const std::string& key) const;
  const std::multimap<int, MemoryInitialiser>& MemoryInitialisers() const { return initialisers_; }

 private:
  std::map<uint8_t, CommandEntry> commands_;
  I2cReportHandler i2c_;
  std::map<std::string, ConverterSectionParser> converterSections_;
  std::map<std::string, ScenarioSectionParser> scenarioSections_;
  std::multimap<int, MemoryInitialiser> initialisers_;
};

// The registry with every model installed (sim_modules.cpp), built once.
const SimRegistry& Registry();

}  // namespace ktq::sim
