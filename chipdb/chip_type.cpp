#include "chipdb/chip_type.h"

namespace {

struct Identity {
  uint32_t chipType = 5;
  uint32_t revision = 0;
};

Identity& State() {
  static Identity identity;
  return identity;
}

}  // namespace

uint32_t CurrentChipType() { return State().chipType; }
uint32_t ChipRevision() { return State().revision; }

namespace ktq::chipdb {

void SetCurrentChipType(uint32_t chipType) { State().chipType = chipType; }
void SetChipRevision(uint32_t revision) { State().revision = revision; }

}  // namespace ktq::chipdb
