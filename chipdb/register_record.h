// Layout of the register database's expanded records stream: fixed-size
// records of little-endian 32-bit words. Shared by the packer that writes
// records and the database that reads them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ktq::regdb {

constexpr size_t kRecordWords = 198;
constexpr size_t kRecordBytes = kRecordWords * 4;  // 792
constexpr uint32_t kMaxFields = 32;
constexpr size_t kFieldWords = 6;

// Word indexes within a record.
constexpr size_t kNameRefWord = 0;
constexpr size_t kDescriptionRefWord = 1;
constexpr size_t kAddressWord = 3;
constexpr size_t kResetWord = 4;
constexpr size_t kFieldCountWord = 5;
constexpr size_t kFirstFieldWord = 6;

// Word indexes within a field slot.
constexpr size_t kFieldNameRef = 0;
constexpr size_t kFieldDescriptionRef = 1;
constexpr size_t kFieldLsb = 3;
constexpr size_t kFieldWidth = 4;
constexpr size_t kFieldReset = 5;

// Capacities of the two expansion buffers: 12,288 records and 10 MiB of text.
constexpr size_t kRecordBufferBytes = 12288 * kRecordBytes;
constexpr size_t kNamesBufferBytes = 10 * 1024 * 1024;

inline uint32_t RecordWord(const uint8_t* record, size_t word) {
  const uint8_t* p = record + 4 * word;
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline size_t FieldWord(size_t field, size_t word) {
  return kFirstFieldWord + field * kFieldWords + word;
}

}  // namespace ktq::regdb
