// The diagnostic dump: one plain-text report of the open converter (host,
// chip and firmware, live link state, every register, the data memory, the
// DPCD of the DisplayPort outputs and the decoded EDIDs), written to a file
// in one piece once it is complete.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chipdb/register_db.h"

// Writes the dump of the open converter to `path` (created or truncated),
// with `version` as the application tool version in its header. 0, or -1
// when no converter is open, the file cannot be opened ("Open file
// FAILED!!\n") or cannot be written ("Write file FAILED!!\n"). Read failures
// do not fail the dump: they show in its text, and LastDumpReads() counts
// them. After three reads in a row that the converter did not answer, the
// rest of the dump is written without asking it again.
int32_t RCDumpAll(const char* path, const char* version);

// Appends `count` consecutive 32-bit registers from `first`, four to a line
// ("\r\n%06xh:" then " %08x" each, "\r\n" after the last); with `writeBack`
// it appends nothing and writes each value read back to its register, which
// clears the latched bits of write-one-to-clear status registers. A register
// whose read fails prints 0 and is not written back.
void AppendRegisterBlock(std::string& text, uint32_t first, uint32_t count, bool writeBack);

namespace ktq::diag {

// The hex byte block: "%08Xh:" then " %02X" per byte, 16 to a line with two
// extra spaces after the eighth; `closeLine` adds the DPCD blocks' final
// "\r\n".
void AppendHexBlock(std::string& text, uint32_t start, const uint8_t* bytes, uint32_t length, bool closeLine);

// The register walk over `list`: runs of up to 64 registers at consecutive
// addresses, one read each, each value as "%06Xh: 0x%08X (%d)" and an empty
// line; runs in the 0x60 area (and the 0x70 area on chip type 6) are not
// read. A failed run ends the walk with its message.
void AppendRegisterWalk(std::string& text, const std::vector<RegisterEntry>& list, uint32_t chipType);

// The section the dump is working on, for front ends that show progress:
// called with a short name ("registers", "memory", ...) as each section
// starts, on the dump's thread. Null (the default) reports nothing.
using DumpSectionObserver = void (*)(const char* section);
void SetDumpSectionObserver(DumpSectionObserver observer);

// The reads of the last RCDumpAll that failed: refused by the converter
// with a status, or not answered at all; `gaveUp` when it stopped answering
// and the rest of the dump was written without it.
struct DumpReads {
  int refused = 0;
  int refusedMemoryReads = 0;  // of `refused`: register and memory reads
  int refusedEdidReads = 0;    // of `refused`: EDIDs that are there
  int unanswered = 0;
  bool gaveUp = false;
};
DumpReads LastDumpReads();

// The whole report text without the file: what RCDumpAll writes, with
// `localTime` in the header (tests pass a fixed one).
std::string DumpText(const char* version, const std::string& localTime);

}  // namespace ktq::diag
