// Every model of the virtual converter, one line each.
#include "sim/sim_registry.h"

namespace ktq::sim {

void InstallRcCoreModel(SimRegistry&);
void InstallRegisterMapModel(SimRegistry&);
void InstallChipIdentityModel(SimRegistry&);
void InstallEdidModel(SimRegistry&);
void InstallFlashModel(SimRegistry&);
void InstallTefraLogModel(SimRegistry&);
void InstallI2cMasterModel(SimRegistry&);
void InstallSaveAtExit(SimRegistry&);
void InstallLinkModel(SimRegistry&);
void InstallModelClock(SimRegistry&);

const SimRegistry& Registry() {
  static const SimRegistry registry = [] {
    SimRegistry r;
    InstallRcCoreModel(r);
    InstallRegisterMapModel(r);
    InstallChipIdentityModel(r);
    InstallEdidModel(r);
    InstallFlashModel(r);
    InstallTefraLogModel(r);
    InstallI2cMasterModel(r);
    InstallSaveAtExit(r);
    InstallLinkModel(r);
    InstallModelClock(r);
    return r;
  }();
  return registry;
}

}  // namespace ktq::sim
