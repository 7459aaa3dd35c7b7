#include "sim/scenario.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "tools/input_file/input_file.h"

namespace ktq::sim {

namespace {

// Far beyond any scenario a person writes, small enough to read at once.
constexpr uint64_t kMaxScenarioFileSize = 16u << 20;

const char* const kIdentityKeys[] = {"type", "path", "vendor_id", "product_id", "manufacturer",
                                     "product", "serial", "interface", "open_fails"};

bool IsIdentityKey(const std::string& key) {
  for (const char* k : kIdentityKeys)
    if (key == k) return true;
  return false;
}

bool ParseIdentity(const nlohmann::json& entry, DeviceIdentity& id, std::string& error) {
  auto text = [&](const char* key, std::string& out) {
    if (!entry.contains(key)) return true;
    if (!entry[key].is_string()) {
      error = std::string(key) + ": expected a string";
      return false;
    }
    out = entry[key].get<std::string>();
    return true;
  };
  auto number = [&](const char* key, auto& out) {
    if (!entry.contains(key) || ParseUnsignedAs(entry[key], out, error)) return true;
    error = std::string(key) + ": " + error;
    return false;
  };
  uint16_t interfaceNumber = 0;
  if (!text("path", id.path) || !text("manufacturer", id.manufacturer) || !text("product", id.product) ||
      !text("serial", id.serial) || !number("vendor_id", id.vendorId) || !number("product_id", id.productId) ||
      !number("interface", interfaceNumber))
    return false;
  if (entry.contains("interface")) id.interfaceNumber = interfaceNumber;
  return true;
}

bool LoadConverter(const nlohmann::json& entry, size_t index, VirtualHost& host, std::string& error) {
  DeviceIdentity id = VirtualHost::DefaultConverterIdentity(index);
  if (!ParseIdentity(entry, id, error)) return false;
  VirtualConverter& converter = host.AddConverter(std::move(id));
  if (entry.contains("open_fails")) {
    if (!entry["open_fails"].is_boolean()) {
      error = "open_fails: expected true or false";
      return false;
    }
    converter.openFails = entry["open_fails"].get<bool>();
  }
  const SimRegistry& registry = Registry();
  for (const auto& item : entry.items()) {
    if (IsIdentityKey(item.key())) continue;
    const ConverterSectionParser* parser = registry.FindConverterSection(item.key());
    if (!parser) {
      error = "unknown key \"" + item.key() + "\"";
      return false;
    }
    if (!(*parser)(item.value(), converter, error)) return false;
  }
  for (const auto& [order, initialise] : registry.MemoryInitialisers()) {
    (void)order;
    if (!initialise(converter, error)) return false;
  }
  return true;
}

bool LoadForeign(const nlohmann::json& entry, size_t index, VirtualHost& host, std::string& error) {
  for (const auto& item : entry.items()) {
    if (!IsIdentityKey(item.key()) || item.key() == "open_fails") {
      error = "unknown key \"" + item.key() + "\" for a foreign device";
      return false;
    }
  }
  DeviceIdentity id;
  id.path = "sim:" + std::to_string(index);
  id.product = "Foreign HID device";
  if (!ParseIdentity(entry, id, error)) return false;
  host.AddForeignDevice(std::move(id));
  return true;
}

bool LoadDevices(const nlohmann::json& devices, VirtualHost& host, std::string& error) {
  if (!devices.is_array()) {
    error = "devices: expected an array";
    return false;
  }
  for (size_t i = 0; i < devices.size(); ++i) {
    const auto& entry = devices[i];
    const std::string where = "devices[" + std::to_string(i) + "]: ";
    if (!entry.is_object()) {
      error = where + "expected an object";
      return false;
    }
    const std::string type = entry.contains("type") && entry["type"].is_string() ? entry["type"].get<std::string>()
                             : entry.contains("type")                            ? "?"
                                                                                 : "converter";
    bool ok = false;
    if (type == "converter") {
      ok = LoadConverter(entry, i, host, error);
    } else if (type == "foreign") {
      ok = LoadForeign(entry, i, host, error);
    } else {
      error = "type: expected \"converter\" or \"foreign\"";
    }
    if (!ok) {
      error = where + error;
      return false;
    }
  }
  return true;
}

}  // namespace

namespace {

bool LoadScenario(const std::string& text, VirtualHost& host, std::string& error) {
  nlohmann::json scenario = nlohmann::json::parse(text, nullptr, false);
  if (scenario.is_discarded()) {
    error = text.empty() ? "empty scenario" : "not valid JSON";
    return false;
  }
  if (!scenario.is_object()) {
    error = "a scenario is a JSON object";
    return false;
  }
  const SimRegistry& registry = Registry();
  for (const auto& item : scenario.items()) {
    const std::string& key = item.key();
    if (key == "description") {
      if (!item.value().is_string()) {
        error = "description: expected a string";
        return false;
      }
    } else if (key == "devices") {
      if (!LoadDevices(item.value(), host, error)) return false;
    } else if (const ScenarioSectionParser* parser = registry.FindScenarioSection(key)) {
      if (!(*parser)(item.value(), host, error)) return false;
    } else {
      error = "unknown key \"" + key + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace

bool LoadScenarioText(const std::string& text, VirtualHost& host, std::string& error) {
  // The sections check the types of what they read; a value of the wrong
  // type that one of them missed is still a refused scenario, not a crash.
  try {
    return LoadScenario(text, host, error);
  } catch (const nlohmann::json::exception& e) {
    error = std::string("a value of the wrong type (") + e.what() + ")";
    return false;
  }
}

bool LoadScenarioFile(const std::string& path, VirtualHost& host, std::string& error) {
  std::string text;
  if (!input::ReadInputFile(path, kMaxScenarioFileSize, "a scenario file", text, error)) return false;
  if (!LoadScenarioText(text, host, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

const std::string& DefaultScenarioText() {
  static const std::string text = R"({
  "description": "One converter in RC command mode with a type-5 chip identity and the EDID it presents on its input.",
  "devices": [
    {
      "path": "sim:0",
      "product": "KTQ virtual converter",
      "rc_mode": true,
      "chip": { "type": 5 },
      "edid": { "input": "sim/scenarios/edids/monitor-dp.bin" }
    }
  ]
})";
  return text;
}

}  // namespace ktq::sim
