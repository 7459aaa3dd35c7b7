#include "tools/regdb/pack.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "chipdb/register_record.h"

namespace ktq::regdb {
namespace {

// Deduplicating text table: equal texts share one copy in the names stream.
class TextTable {
 public:
  explicit TextTable(uint32_t base) : base_(base) {}
  uint32_t Reference(const std::string& text) {
    auto [it, inserted] = offsets_.try_emplace(text, bytes_.size());
    if (inserted) {
      bytes_.insert(bytes_.end(), text.begin(), text.end());
      bytes_.push_back(0);
    }
    return base_ + static_cast<uint32_t>(it->second);
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  uint32_t base_;
  std::vector<uint8_t> bytes_;
  std::unordered_map<std::string, size_t> offsets_;
};

void PutWord(std::vector<uint8_t>& records, size_t record, size_t word, uint32_t value) {
  uint8_t* p = &records[record * kRecordBytes + 4 * word];
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

bool WriteFile(const std::string& path, const void* data, size_t size, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    error = path + ": cannot create file";
    return false;
  }
  const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    error = path + ": write failed";
    return false;
  }
  return true;
}

// A byte array as string-literal lines: compiles far faster than a list of
// numbers. Octal escapes never swallow the next character.
void AppendLiteral(std::ostringstream& out, const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "01234567";
  if (bytes.empty()) out << "\"\"";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 48 == 0) out << (i ? "\"\n    \"" : "\n    \"");
    const uint8_t b = bytes[i];
    out << '\\' << kDigits[b >> 6] << kDigits[(b >> 3) & 7] << kDigits[b & 7];
  }
  if (!bytes.empty()) out << '"';
}

std::string Identifier(const std::string& variant) { return "kVariant_" + variant; }

std::string TextAt(const uint8_t* names, size_t nameBytes, uint32_t base, uint32_t reference,
                   bool& ok) {
  const uint32_t offset = reference - base;
  if (reference < base || offset >= nameBytes) {
    ok = false;
    return {};
  }
  size_t end = offset;
  while (end < nameBytes && names[end] != 0) ++end;
  if (end == nameBytes) ok = false;
  return std::string(reinterpret_cast<const char*>(names) + offset, end - offset);
}

}  // namespace

uint64_t MaxExpandedSize(uint64_t bits) {
  // The densest token is a 1024-byte match in 142 bits.
  return (bits * MAX_WND_SIZE + 141) / 142;
}

bool PackVariant(const regmap::Map& map, PackedVariant& out, std::string& error) {
  if (map.registers.size() * kRecordBytes > kRecordBufferBytes) {
    error = "too many registers for the record buffer: " + std::to_string(map.registers.size());
    return false;
  }
  out = PackedVariant{};
  out.variant = map.variant;
  out.chipType = map.chipType;
  out.nameBase = map.nameBase;
  out.recordCount = static_cast<uint32_t>(map.registers.size());
  out.records.assign(map.registers.size() * kRecordBytes, 0);
  TextTable texts(map.nameBase);
  for (size_t r = 0; r < map.registers.size(); ++r) {
    const regmap::Register& reg = map.registers[r];
    if (reg.fields.empty() || reg.fields.size() > kMaxFields) {
      error = reg.name + ": needs 1 to 32 fields";
      return false;
    }
    PutWord(out.records, r, kNameRefWord, texts.Reference(reg.name));
    PutWord(out.records, r, kDescriptionRefWord, texts.Reference(reg.description));
    PutWord(out.records, r, kAddressWord, reg.address);
    PutWord(out.records, r, kResetWord, reg.reset);
    PutWord(out.records, r, kFieldCountWord, static_cast<uint32_t>(reg.fields.size()));
    for (size_t f = 0; f < reg.fields.size(); ++f) {
      const regmap::Field& field = reg.fields[f];
      PutWord(out.records, r, FieldWord(f, kFieldNameRef), texts.Reference(field.name));
      PutWord(out.records, r, FieldWord(f, kFieldDescriptionRef), texts.Reference(field.description));
      PutWord(out.records, r, FieldWord(f, kFieldLsb), field.lsb);
      PutWord(out.records, r, FieldWord(f, kFieldWidth), field.width);
      PutWord(out.records, r, FieldWord(f, kFieldReset), field.reset);
    }
  }
  out.names = std::move(texts.bytes());
  if (out.names.size() > kNamesBufferBytes ||
      uint64_t{map.nameBase} + out.names.size() > UINT32_MAX) {
    error = "register texts do not fit the names buffer or overflow 32-bit references";
    return false;
  }
  out.recordsStream = lz77::Compress(out.records.data(), out.records.size());
  out.namesStream = lz77::Compress(out.names.data(), out.names.size());
  if (out.recordsStream.lengthInBits > UINT32_MAX || out.namesStream.lengthInBits > UINT32_MAX) {
    error = "stream longer than 2^32 bits";
    return false;
  }
  return true;
}

bool WritePackedVariant(const PackedVariant& packed, const std::string& dir, std::string& error) {
  const std::string stem = dir + "/variant-" + packed.variant;
  if (!WriteFile(stem + ".records.bin", packed.recordsStream.bytes.data(),
                 packed.recordsStream.bytes.size(), error) ||
      !WriteFile(stem + ".names.bin", packed.namesStream.bytes.data(),
                 packed.namesStream.bytes.size(), error)) {
    return false;
  }
  char numbers[256];
  std::snprintf(numbers, sizeof numbers,
                "records %u\nrecords-bits %llu\nname-base 0x%08X\nnames-bits %llu\n",
                packed.recordCount,
                static_cast<unsigned long long>(packed.recordsStream.lengthInBits), packed.nameBase,
                static_cast<unsigned long long>(packed.namesStream.lengthInBits));
  if (!WriteFile(stem + ".numbers", numbers, std::strlen(numbers), error)) return false;

  std::ostringstream cpp;
  cpp << "// Generated by ktq-regdb pack from variant-" << packed.variant
      << ".map; do not edit.\n#include \"chipdb/embedded_databases.h\"\n\nnamespace ktq::chipdb {\nnamespace {\n"
      << "const char kRecords[] =";
  AppendLiteral(cpp, packed.recordsStream.bytes);
  cpp << ";\nconst char kNames[] =";
  AppendLiteral(cpp, packed.namesStream.bytes);
  cpp << ";\n}  // namespace\n\nextern const EmbeddedVariant " << Identifier(packed.variant)
      << " = {\n    \"" << packed.variant << "\", " << packed.chipType << ", " << packed.recordCount
      << "u, " << packed.recordsStream.lengthInBits << "u, " << packed.nameBase << "u, "
      << packed.namesStream.lengthInBits << "u,\n"
      << "    reinterpret_cast<const uint8_t*>(kRecords), sizeof kRecords - 1,\n"
      << "    reinterpret_cast<const uint8_t*>(kNames), sizeof kNames - 1};\n\n}  // namespace ktq::chipdb\n";
  const std::string text = cpp.str();
  return WriteFile(stem + ".cpp", text.data(), text.size(), error);
}

std::string CompareWithMap(const regmap::Map& map, const uint8_t* records, size_t recordBytes,
                           const uint8_t* names, size_t nameBytes) {
  if (recordBytes != map.registers.size() * kRecordBytes) {
    return "records stream expands to " + std::to_string(recordBytes) + " bytes, expected " +
           std::to_string(map.registers.size() * kRecordBytes);
  }
  for (size_t r = 0; r < map.registers.size(); ++r) {
    const regmap::Register& reg = map.registers[r];
    const uint8_t* rec = records + r * kRecordBytes;
    bool ok = true;
    auto text = [&](size_t word) { return TextAt(names, nameBytes, map.nameBase, RecordWord(rec, word), ok); };
    const std::string where = "record " + std::to_string(r) + " (" + reg.name + ")";
    if (text(kNameRefWord) != reg.name || text(kDescriptionRefWord) != reg.description || !ok) {
      return where + ": name or description differs";
    }
    if (RecordWord(rec, 2) != 0 || RecordWord(rec, kAddressWord) != reg.address ||
        RecordWord(rec, kResetWord) != reg.reset ||
        RecordWord(rec, kFieldCountWord) != reg.fields.size()) {
      return where + ": address, reset value or field count differs";
    }
    for (size_t f = 0; f < kMaxFields; ++f) {
      if (f >= reg.fields.size()) {
        for (size_t w = 0; w < kFieldWords; ++w) {
          if (RecordWord(rec, FieldWord(f, w)) != 0) return where + ": unused field slot not zero";
        }
        continue;
      }
      const regmap::Field& field = reg.fields[f];
      if (text(FieldWord(f, kFieldNameRef)) != field.name ||
          text(FieldWord(f, kFieldDescriptionRef)) != field.description || !ok ||
          RecordWord(rec, FieldWord(f, 2)) != 0 ||
          RecordWord(rec, FieldWord(f, kFieldLsb)) != field.lsb ||
          RecordWord(rec, FieldWord(f, kFieldWidth)) != field.width ||
          RecordWord(rec, FieldWord(f, kFieldReset)) != field.reset) {
        return where + ": field " + field.name + " differs";
      }
    }
  }
  return {};
}

}  // namespace ktq::regdb
