#include "sim/model_clock.h"

#include <atomic>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "device/rc_timing.h"
#include "sim/sim_registry.h"
#include "sim/virtual_host.h"

namespace ktq::sim {

namespace {

std::atomic<bool> virtualOn{false};
// Nanoseconds since the steady clock's epoch.
std::atomic<int64_t> virtualNow{0};
RcTiming timingBefore;

ModelTime VirtualNow() { return ModelTime(std::chrono::nanoseconds(virtualNow.load())); }
void VirtualSleep(std::chrono::microseconds d) {
  if (d.count() > 0) virtualNow += std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

}  // namespace

ModelTime ModelNow() { return virtualOn ? VirtualNow() : std::chrono::steady_clock::now(); }

void ModelSleep(std::chrono::microseconds d) {
  if (virtualOn)
    VirtualSleep(d);
  else if (d.count() > 0)
    std::this_thread::sleep_for(d);
}

bool VirtualTimeOn() { return virtualOn; }

void UseVirtualTime(bool on) {
  if (on == virtualOn) return;
  if (on) {
    virtualNow = std::chrono::duration_cast<std::chrono::nanoseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
                     .count();
    timingBefore = CurrentRcTiming();
    RcTiming timing = timingBefore;
    timing.now = VirtualNow;
    timing.sleep = VirtualSleep;
    SetRcTiming(timing);
  } else {
    SetRcTiming(timingBefore);
  }
  virtualOn = on;
}

namespace {

// Scenario section "clock": "virtual" puts the run on virtual time, "steady"
// (the default) leaves it on the steady clock.
bool ParseClock(const nlohmann::json& value, VirtualHost& host, std::string& error) {
  const std::string kind = value.is_string() ? value.get<std::string>() : "";
  if (kind == "virtual") {
    host.RunOnVirtualTime();
    return true;
  }
  if (kind == "steady") return true;
  error = "clock: expected \"virtual\" or \"steady\"";
  return false;
}

}  // namespace

void InstallModelClock(SimRegistry& r) { r.AddScenarioSection("clock", ParseClock); }

}  // namespace ktq::sim
