// Every model of the virtual converter, one line each.
#include "sim/sim_registry.h"

namespace ktq::sim {

void InstallRcCoreModel(SimRegistry&);
void InstallRegisterMapModel(SimRegistry&);
void InstallChipIdentityModel(SimRegistry&);

const SimRegistry& Registry() {
  static const SimRegistry registry = [] {
    SimRegistry r;
    InstallRcCoreModel(r);
    InstallRegisterMapModel(r);
    InstallChipIdentityModel(r);
    return r;
  }();
  return registry;
}

}  // namespace ktq::sim
