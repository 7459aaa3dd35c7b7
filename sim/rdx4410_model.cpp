#include "sim/rdx4410_model.h"

#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "sim/map_cache.h"
#include "sim/rc_protocol.h"
#include "tools/regmap/regmap.h"

namespace ktq::sim {

namespace {

constexpr uint32_t kTrigger = 0xF2;
constexpr uint32_t kPendingFlag = 1u << 23;
constexpr uint8_t kRcModeOff = 4;
constexpr uint32_t kMaxMailboxData = 32;
// The MCU's data memory, reachable with UPDC_WRITE_TO_MEMORY.
constexpr uint32_t kDataMemoryBase = 0x90000000;
constexpr uint32_t kDataMemorySize = 0x10000;

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

Rdx4410Model::Rdx4410Model(Rdx4410Config config, const bool* mainHoldsSpiBus)
    : config_(std::move(config)), mainHoldsSpiBus_(mainHoldsSpiBus) {
  const std::string& path = config_.mapFile;
  std::string error;
  const std::shared_ptr<const regmap::Map> map = LoadRegisterMap(path, error);
  if (!map) throw std::runtime_error("rdx4410 register map: " + error);
  if (map->chipType != 4) throw std::runtime_error("rdx4410 register map: " + path + " is not a type-4 map");
  for (const regmap::Register& reg : map->registers) {
    words_[reg.address & ~3u] = reg.reset;
    if (reg.name == "CORE_MCU_SPAD0") spad0_ = reg.address;
    if (reg.name == "CORE_MCU_SPAD4") spad4_ = reg.address;
    if (reg.name == "CORE_MCU_SW_INTERRUPT") swInterrupt_ = reg.address;
  }
  if (spad0_ == 0 || spad4_ == 0 || swInterrupt_ == 0) {
    throw std::runtime_error("rdx4410 register map: " + path + " lacks the MCU mailbox registers");
  }
  missedTriggersLeft_ = config_.missedTriggers;
  failActivationsLeft_ = config_.failActivations;
}

bool Rdx4410Model::Decoded(uint32_t address) const {
  return words_.count(address & ~3u) != 0;
}

uint32_t Rdx4410Model::Word(uint32_t address) const {
  const auto it = words_.find(address & ~3u);
  return it == words_.end() ? 0 : it->second;
}

void Rdx4410Model::SetWord(uint32_t address, uint32_t value) {
  words_[address & ~3u] = value;
}

uint8_t Rdx4410Model::Write(const uint8_t* bytes, uint32_t count) {
  if (count < 4) return kI2CResultBadRegister;
  const uint32_t address = Le32(bytes);
  const uint32_t n = count - 4;
  for (uint32_t i = 0; i < n; ++i) {
    if (!Decoded(address + i)) return kI2CResultBadRegister;
  }
  bool touchesInterrupt = false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t a = address + i;
    const uint32_t shift = 8 * (a & 3);
    SetWord(a, (Word(a) & ~(0xFFu << shift)) | (static_cast<uint32_t>(bytes[4 + i]) << shift));
    touchesInterrupt = touchesInterrupt || (a & ~3u) == swInterrupt_;
  }
  if (touchesInterrupt && Word(swInterrupt_) == kTrigger) Trigger();
  return 0;
}

uint8_t Rdx4410Model::Read(const uint8_t* addressBytes, uint32_t addressCount, uint8_t* out, uint32_t count) {
  if (addressCount != 4) return kI2CResultBadRegister;
  const uint32_t address = Le32(addressBytes);
  for (uint32_t i = 0; i < count; ++i) {
    if (!Decoded(address + i)) return kI2CResultBadRegister;
  }
  bool readsCommandWord = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    out[i] = static_cast<uint8_t>(Word(a) >> (8 * (a & 3)));
    readsCommandWord = readsCommandWord || (a & ~3u) == spad0_;
  }
  // The MCU finishes a slow command while the host polls it.
  if (readsCommandWord && pendingReadsLeft_ > 0 && --pendingReadsLeft_ == 0) SetWord(spad0_, deferredResult_);
  return 0;
}

void Rdx4410Model::Trigger() {
  if (config_.mcuHung) return;
  SetWord(swInterrupt_, 0);  // the MCU has taken the interrupt
  if (missedTriggersLeft_ > 0) {
    --missedTriggersLeft_;
    return;
  }
  const uint32_t command = Word(spad0_);
  const uint32_t count = Word(spad0_ + 8);
  uint8_t data[kMaxMailboxData] = {};
  uint8_t status = kMcuStatusBadRequest;
  const auto code = static_cast<uint8_t>((command >> 16) & 0x7F);
  if ((command & kPendingFlag) != 0 && (command & 0xFFFF) == 0 && count <= kMaxMailboxData) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t a = spad4_ + i;
      data[i] = static_cast<uint8_t>(Word(a) >> (8 * (a & 3)));
    }
    status = Execute(code, Word(spad0_ + 4), count, data);
  }
  const uint32_t result = (static_cast<uint32_t>(status) << 24) | (static_cast<uint32_t>(code) << 16);
  if (config_.mcuPendingReads == 0) {
    SetWord(spad0_, result);
  } else {
    deferredResult_ = result;
    pendingReadsLeft_ = config_.mcuPendingReads;
  }
}

uint8_t Rdx4410Model::Execute(uint8_t code, uint32_t address, uint32_t count, const uint8_t* data) {
  commandsRun_.push_back(code);
  if (code == rc::kEnableRc) {  // enable RC mode: the code word and nothing else
    if (count != rc::kCodeWordLength || address != 0 || std::memcmp(data, rc::kCodeWord, rc::kCodeWordLength) != 0) return kMcuStatusBadRequest;
    rcMode_ = !config_.enableIgnored;
    return config_.enableStatus;
  }
  if (!rcMode_) return kRcModeOff;
  switch (code) {
    case rc::kDisableRc:
      if (count != 0 || address != 0) return kMcuStatusBadRequest;
      rcMode_ = false;
      return 0;
    case rc::kSpiBusRequest:  // shared SPI flash bus: 1 takes it, 0 releases it
      if (count != 1 || address != 0 || data[0] > 1) return kMcuStatusBadRequest;
      if (data[0] == 1 && *mainHoldsSpiBus_) return kMcuStatusBusNotHeld;
      holdsSpiBus_ = data[0] == 1;
      return 0;
    case rc::kActivateFirmware:  // activation boots from the shared flash, so it needs the bus
      if (count != 0 || address != 0) return kMcuStatusBadRequest;
      ++activationAttempts_;
      if (!holdsSpiBus_) return kMcuStatusBusNotHeld;
      if (failActivationsLeft_ > 0) {
        --failActivationsLeft_;
        return config_.failActivationStatus;
      }
      ++activations_;
      return 0;
    case rc::kWriteToMemory:
      if (address < kDataMemoryBase || address - kDataMemoryBase > kDataMemorySize - count) return kMcuStatusBadRequest;
      for (uint32_t i = 0; i < count; ++i) dataMemory_[address + i] = data[i];
      return 0;
    default:
      return kMcuStatusBadRequest;
  }
}

std::string Rdx4410Model::StateJson() const {
  const nlohmann::json state = {{"activated", activated()},
                                {"activations", activations_},
                                {"activation_attempts", activationAttempts_},
                                {"rc_mode", rcMode_},
                                {"holds_spi_bus", holdsSpiBus_}};
  return state.dump(2) + "\n";
}

}  // namespace ktq::sim
