// Scenario section "save_at_exit": writes converters' state to files when
// the virtual host goes away, so that a run of a front end can be checked
// from outside. One object, or an array of them (one per converter):
//   "device"  index of the converter (default 0)
//   "flash"   file that receives the whole flash contents, written only when
//             this process erased the flash: several processes of one
//             scenario (ktq flash --all runs one per converter) then each
//             save the converter they updated and no other
//   "shared_flash" file that receives the flash shared with the RDX4410
//   "rdx4410" file that receives the RDX4410's state as JSON (activated,
//             activations, activation_attempts, rc_mode, holds_spi_bus)
//   "state"   file that receives the converter's state as JSON: rc_mode,
//             unplugged, main_holds_spi_bus, requests, protocol_errors,
//             fault_hits (commands hit by faults) and elapsed_us (model
//             time since the scenario was loaded)
#include <cstdio>
#include <fstream>

#include "sim/flash_model.h"
#include "sim/i2c_master_model.h"
#include "sim/model_clock.h"
#include "sim/scenario_values.h"
#include "sim/sim_registry.h"
#include "sim/virtual_host.h"

namespace ktq::sim {

namespace {

struct SaveTargets {
  size_t device = 0;
  std::string flash;
  std::string sharedFlash;
  std::string rdx4410;
  std::string state;
  ModelTime loaded;
};

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

std::string StateJson(VirtualConverter& c, ModelTime loaded) {
  const nlohmann::json state = {
      {"rc_mode", c.RcModeEnabled()},
      {"unplugged", c.Unplugged()},
      {"main_holds_spi_bus", Flash(c).mainHoldsSpiBus},
      {"requests", c.RequestCount()},
      {"protocol_errors", c.ProtocolErrors()},
      {"fault_hits", c.FaultHits()},
      {"elapsed_us", std::chrono::duration_cast<std::chrono::microseconds>(ModelNow() - loaded).count()}};
  return state.dump(2) + "\n";
}

void Save(VirtualHost& host, const SaveTargets& targets) {
  if (targets.device >= host.ConverterCount()) {
    std::fprintf(stderr, "virtual converter: save_at_exit: no converter %zu\n", targets.device);
    return;
  }
  VirtualConverter& c = host.Converter(targets.device);
  if (!targets.flash.empty() && Flash(c).erases > 0 && !SaveFlash(c, targets.flash))
    std::fprintf(stderr, "virtual converter: cannot save the flash to %s\n", targets.flash.c_str());
  if (!targets.sharedFlash.empty() && !SaveFlash(c, targets.sharedFlash, true))
    std::fprintf(stderr, "virtual converter: cannot save the shared flash to %s\n", targets.sharedFlash.c_str());
  if (!targets.rdx4410.empty()) {
    const Rdx4410Model* rdx = CompanionChip(c);
    if (!WriteText(targets.rdx4410, rdx ? rdx->StateJson() : std::string("null\n")))
      std::fprintf(stderr, "virtual converter: cannot save the RDX4410 state to %s\n", targets.rdx4410.c_str());
  }
  if (!targets.state.empty() && !WriteText(targets.state, StateJson(c, targets.loaded)))
    std::fprintf(stderr, "virtual converter: cannot save the converter state to %s\n", targets.state.c_str());
}

bool ParseSaveTargets(const nlohmann::json& value, VirtualHost& host, std::string& error) {
  if (!CheckKeys(value, {"device", "flash", "shared_flash", "rdx4410", "state"}, "save_at_exit", error)) return false;
  SaveTargets targets;
  targets.loaded = ModelNow();
  if (value.contains("device") && !ParseUnsignedAs(value["device"], targets.device, error))
    return (error = "save_at_exit: device: " + error), false;
  for (auto [key, out] : {std::pair{"flash", &targets.flash}, std::pair{"shared_flash", &targets.sharedFlash},
                          std::pair{"rdx4410", &targets.rdx4410}, std::pair{"state", &targets.state}}) {
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
