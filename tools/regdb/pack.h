// Compiles a parsed register map into a database variant: the records
// stream, the names stream and their four numbers, and back again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chipdb/lz77.h"
#include "tools/regmap/regmap.h"

namespace ktq::regdb {

struct PackedVariant {
  std::string variant;  // "5", "6a", ...
  int chipType = 0;
  uint32_t recordCount = 0;
  uint32_t nameBase = 0;
  std::vector<uint8_t> records;  // expanded: recordCount records
  std::vector<uint8_t> names;    // expanded: NUL-terminated texts
  lz77::Compressed recordsStream;
  lz77::Compressed namesStream;
};

// Lays out the records and the (deduplicated) texts and compresses both.
// Fails when the result would not fit the database's buffers.
bool PackVariant(const regmap::Map& map, PackedVariant& out, std::string& error);

// Writes variant-ID.records.bin, variant-ID.names.bin, variant-ID.numbers
// (the four numbers as text) and variant-ID.cpp (the same data as a C++
// source for embedding) into `dir`.
bool WritePackedVariant(const PackedVariant& packed, const std::string& dir, std::string& error);

// Reads expanded records and names back and compares every register and
// field with the map. Returns an empty text when they agree, else the first
// difference.
std::string CompareWithMap(const regmap::Map& map, const uint8_t* records, size_t recordBytes,
                           const uint8_t* names, size_t nameBytes);

// The largest output a stream of `bits` bits can expand to.
uint64_t MaxExpandedSize(uint64_t bits);

}  // namespace ktq::regdb
