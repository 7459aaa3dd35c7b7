// Scenario section "save_at_exit": writes converters' state to files when
// the virtual host goes away, so that a run of a front end can be checked
// from outside. One object, or an array of them (one per converter):
//   "device"  index of the converter (default 0)
//   "flash"   file that receives the whole flash contents, written only when
//             this process erased the flash: several processes of one
//             scenario (ktq flash --all runs one per converter) then each
//             save the converter they updated and no other
//   "rdx4410" file that receives the RDX4410's state as JSON (activated,
//             activations, activation_attempts, rc_mode, holds_spi_bus)
#include <cstdio>
#include <fstream>

#include "sim/flash_model.h"
#include "sim/i2c_master_model.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_host.h"

namespace ktq::sim {

namespace {

struct SaveTargets {
  size_t device = 0;
  std::string flash;
  std::string rdx4410;
};

void Save(VirtualHost& host, const SaveTargets& targets) {
  if (targets.device >= host.ConverterCount()) {
    std::fprintf(stderr, "virtual converter: save_at_exit: no converter %zu\n", targets.device);
    return;
  }
  VirtualConverter& c = host.Converter(targets.device);
  if (!targets.flash.empty() && Flash(c).erases > 0 && !SaveFlash(c, targets.flash))
    std::fprintf(stderr, "virtual converter: cannot save the flash to %s\n", targets.flash.c_str());
  if (!targets.rdx4410.empty()) {
    const Rdx4410Model* rdx = CompanionChip(c);
    std::ofstream out(targets.rdx4410, std::ios::trunc);
    out << (rdx ? rdx->StateJson() : std::string("null\n"));
    out.close();
    if (!out) std::fprintf(stderr, "virtual converter: cannot save the RDX4410 state to %s\n", targets.rdx4410.c_str());
  }
}

bool ParseSaveTargets(const nlohmann::json& value, VirtualHost& host, std::string& error) {
  if (!CheckKeys(value, {"device", "flash", "rdx4410"}, "save_at_exit", error)) return false;
  SaveTargets targets;
  if (value.contains("device") && !ParseUnsignedAs(value["device"], targets.device, error))
    return (error = "save_at_exit: device: " + error), false;
  for (auto [key, out] : {std::pair{"flash", &targets.flash}, std::pair{"rdx4410", &targets.rdx4410}}) {
    if (!value.contains(key)) continue;
    if (!value[key].is_string() || value[key].get<std::string>().empty())
      return (error = std::string("save_at_exit: ") + key + ": expected a file name"), false;
    *out = value[key].get<std::string>();
  }
  host.AddShutdownHook([targets](VirtualHost& h) { Save(h, targets); });
  return true;
}

bool ParseSaveAtExit(const nlohmann::json& value, VirtualHost& host, std::string& error) {
  if (!value.is_array()) return ParseSaveTargets(value, host, error);
  for (size_t i = 0; i < value.size(); ++i) {
    if (!ParseSaveTargets(value[i], host, error)) return (error = "[" + std::to_string(i) + "] " + error), false;
  }
  return true;
}

}  // namespace

void InstallSaveAtExit(SimRegistry& r) { r.AddScenarioSection("save_at_exit", ParseSaveAtExit); }

}  // namespace ktq::sim
