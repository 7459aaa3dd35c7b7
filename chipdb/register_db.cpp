#include "chipdb/register_db.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

#include "chipdb/chip_type.h"
#include "chipdb/embedded_databases.h"
#include "chipdb/lz77.h"
#include "chipdb/register_record.h"
#include "device/rc_command.h"

namespace {

using ktq::chipdb::EmbeddedVariant;
using namespace ktq::regdb;

using AddressTable = std::map<std::string, uint32_t, std::less<>>;

const AddressTable kType5Addresses = {
    {"CHIP_TYPE_ADDR", 0x900000BE},    {"CHIP_VERSION_ADDR", 0x90000020},
    {"EDID_MEMORY_ADDR", 0x90001E3C},  {"CONFIG_MEMORY_ADDR", 0x90000200},
    {"ADDR_RX_STATE", 0x90000401},     {"ADDR_RX_LINK_RATE", 0x900007F8},
    {"ADDR_RX_BASE", 0x900007F8},      {"ADDR_RX_DSC", 0x900008AD},
    {"ADDR_TX0_BASE", 0x90000A60},     {"ADDR_TX0_DSC", 0x90000B21},
};
const AddressTable kType6Addresses = {
    {"CHIP_TYPE_ADDR", 0x9000003E},    {"CHIP_VERSION_ADDR", 0x90000020},
    {"EDID_MEMORY_ADDR", 0x90002FD0},  {"CONFIG_MEMORY_ADDR", 0x90000140},
    {"ADDR_RX_STATE", 0x90000520},     {"ADDR_RX_LINK_RATE", 0x90000A4C},
    {"ADDR_RX_BASE", 0x90000A4C},      {"ADDR_RX_DSC", 0x90000A61},
    {"ADDR_TX0_BASE", 0x90000D00},     {"ADDR_TX0_DSC", 0x90000D0D},
};

struct Database {
  // The two expansion buffers: allocated on the first load, zeroed before
  // every load, never freed.
  std::unique_ptr<uint8_t[]> records;
  std::unique_ptr<uint8_t[]> names;
  const EmbeddedVariant* variant = nullptr;
  std::vector<RegisterEntry> list;
  std::vector<uint32_t> recordOfEntry;  // list index -> record index
  // Name -> first list index with that name; keys point into `names`.
  std::unordered_map<std::string_view, uint32_t> index;
  AddressTable namedAddresses;
  uint32_t rxStride = 0;
  uint32_t txStride = 0;
};

Database& State() {
  static Database db;
  return db;
}

uint32_t ReadChipDateCode() {
  uint8_t bytes[4] = {};
  // A failed read counts as date code 0.
  if (RCGetCommand(UPDC_READ_FROM_MEMORY, 4, ktq::chipdb::kChipDateCodeAddress, bytes) != 0) return 0;
  return bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
}

// The NUL-terminated text that `reference` names, bounded by the buffer.
std::string_view TextAt(uint32_t reference) {
  const Database& db = State();
  const uint32_t base = db.variant->nameBase;
  if (reference < base || reference - base >= kNamesBufferBytes) return {};
  const char* start = reinterpret_cast<const char*>(db.names.get()) + (reference - base);
  const size_t room = kNamesBufferBytes - (reference - base);
  const void* nul = std::memchr(start, 0, room);
  return {start, nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : room};
}

bool Expand(const uint8_t* stream, size_t bytes, uint32_t bits, uint8_t* dest, size_t capacity) {
  return ktq::lz77::Decompress(stream, bytes, bits, dest, capacity).error ==
         ktq::lz77::DecodeError::kNone;
}

}  // namespace

int32_t LoadRegisterDatabase(int32_t chipType) {
  constexpr int32_t kNotSupported = 242;
  if (chipType != 4 && chipType != 5 && chipType != 6) return kNotSupported;
  const char* id = "5";
  if (chipType == 4) {
    id = ReadChipDateCode() == 0x20190608 ? "4a" : "4b";
  } else if (chipType == 6) {
    id = (ReadChipDateCode() & 0xFFFFFF00) < 0x20220301 ? "6a" : "6b";
  }
  const EmbeddedVariant* variant = ktq::chipdb::FindEmbeddedVariant(id);
  if (!variant || uint64_t{variant->recordCount} * kRecordBytes > kRecordBufferBytes) return kNotSupported;

  Database& db = State();
  if (chipType == 5) db.namedAddresses = kType5Addresses;
  if (chipType == 6) db.namedAddresses = kType6Addresses;
  if (!db.records) {
    db.records = std::make_unique<uint8_t[]>(kRecordBufferBytes);
    db.names = std::make_unique<uint8_t[]>(kNamesBufferBytes);
  }
  std::memset(db.records.get(), 0, kRecordBufferBytes);
  std::memset(db.names.get(), 0, kNamesBufferBytes);
  db.list.clear();
  db.recordOfEntry.clear();
  db.index.clear();
  db.variant = variant;
  // The embedded data never fails to expand; if it did, the list stays empty
  // rather than holding names of a half-expanded database.
  if (!Expand(variant->records, variant->recordsBytes, variant->recordsBits, db.records.get(),
              kRecordBufferBytes) ||
      !Expand(variant->names, variant->namesBytes, variant->namesBits, db.names.get(), kNamesBufferBytes)) {
    db.variant = nullptr;
    return kNotSupported;
  }
  db.list.reserve(variant->recordCount);
  db.recordOfEntry.reserve(variant->recordCount);
  db.index.reserve(variant->recordCount);
  for (uint32_t r = 0; r < variant->recordCount; ++r) {
    const uint8_t* record = db.records.get() + size_t{r} * kRecordBytes;
    const uint32_t nameRef = RecordWord(record, kNameRefWord);
    if (nameRef < variant->nameBase) continue;
    const std::string_view name = TextAt(nameRef);
    db.index.try_emplace(name, static_cast<uint32_t>(db.list.size()));
    db.list.push_back({std::string(name), RecordWord(record, kAddressWord)});
    db.recordOfEntry.push_back(r);
  }
  ComputePortStrides(CurrentChipType());
  return 0;
}

const std::vector<RegisterEntry>& RegisterList() { return State().list; }

uint32_t GetRegisterAddress(std::string_view name) {
  const Database& db = State();
  const auto it = db.index.find(name);
  return it == db.index.end() ? ktq::chipdb::kNoRegister : db.list[it->second].address;
}

uint32_t NamedAddressTable(std::string_view key) {
  const AddressTable& table = State().namedAddresses;
  const auto it = table.find(key);
  return it == table.end() ? 0 : it->second;
}

void ComputePortStrides(uint32_t chipType) {
  Database& db = State();
  db.rxStride = GetRegisterAddress("RX_ML_FRM1_CTRL") - GetRegisterAddress("RX_ML_FRM0_CTRL");
  db.txStride = chipType == 4 || chipType == 6
                    ? GetRegisterAddress("TX1_INTR_HPD0_INT_STATUS") -
                          GetRegisterAddress("TX0_INTR_HPD0_INT_STATUS")
                    : 0;
}

uint32_t RxPortStride() { return State().rxStride; }
uint32_t TxPortStride() { return State().txStride; }

namespace ktq::chipdb {

bool DescribeRegister(std::string_view name, RegisterInfo& out) {
  const Database& db = State();
  const auto it = db.index.find(name);
  if (it == db.index.end()) return false;
  const uint8_t* record = db.records.get() + size_t{db.recordOfEntry[it->second]} * kRecordBytes;
  out.name = TextAt(RecordWord(record, kNameRefWord));
  out.description = TextAt(RecordWord(record, kDescriptionRefWord));
  out.address = RecordWord(record, kAddressWord);
  out.reset = RecordWord(record, kResetWord);
  out.fields.clear();
  const uint32_t count = std::min(RecordWord(record, kFieldCountWord), kMaxFields);
  for (uint32_t f = 0; f < count; ++f) {
    out.fields.push_back({TextAt(RecordWord(record, FieldWord(f, kFieldNameRef))),
                          TextAt(RecordWord(record, FieldWord(f, kFieldDescriptionRef))),
                          RecordWord(record, FieldWord(f, kFieldLsb)),
                          RecordWord(record, FieldWord(f, kFieldWidth)),
                          RecordWord(record, FieldWord(f, kFieldReset))});
  }
  return true;
}

std::string_view LoadedVariant() {
  const EmbeddedVariant* v = State().variant;
  return v ? v->id : std::string_view{};
}

}  // namespace ktq::chipdb
