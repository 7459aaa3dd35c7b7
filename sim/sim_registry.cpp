#include "sim/sim_registry.h"

#include <cstdio>
#include <cstdlib>

namespace ktq::sim {

namespace {

[[noreturn]] void Duplicate(const char* what, const std::string& name) {
  std::fprintf(stderr, "virtual converter: %s %s registered twice\n", what, name.c_str());
  std::abort();
}

}  // namespace

void SimRegistry::AddRcCommand(uint8_t code, RcDirection direction, RcCommandHandler handler) {
  if (!commands_.emplace(code, CommandEntry{direction, std::move(handler)}).second)
    Duplicate("RC command", std::to_string(code));
}

void SimRegistry::SetI2cHandler(I2cReportHandler handler) {
  if (i2c_) Duplicate("I2C handler", "");
  i2c_ = std::move(handler);
}

void SimRegistry::AddConverterSection(const std::string& key, ConverterSectionParser parser) {
  if (!converterSections_.emplace(key, std::move(parser)).second) Duplicate("converter section", key);
}

void SimRegistry::AddScenarioSection(const std::string& key, ScenarioSectionParser parser) {
  if (!scenarioSections_.emplace(key, std::move(parser)).second) Duplicate("scenario section", key);
}

void SimRegistry::AddMemoryInitialiser(int order, MemoryInitialiser initialiser) {
  initialisers_.emplace(order, std::move(initialiser));
}

const SimRegistry::CommandEntry* SimRegistry::FindCommand(uint8_t code) const {
  auto it = commands_.find(code);
  return it == commands_.end() ? nullptr : &it->second;
}

const ConverterSectionParser* SimRegistry::FindConverterSection(const std::string& key) const {
  auto it = converterSections_.find(key);
  return it == converterSections_.end() ? nullptr : &it->second;
}

const ScenarioSectionParser* SimRegistry::FindScenarioSection(const std::string& key) const {
  auto it = scenarioSections_.find(key);
  return it == scenarioSections_.end() ? nullptr : &it->second;
}

}  // namespace ktq::sim
