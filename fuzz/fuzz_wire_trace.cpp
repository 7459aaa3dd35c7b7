// Wire traces come from customers: any text (or compressed data) must be
// read or refused cleanly. What reads must write back to lines that read as
// the same entries, and the byte map must explain every recorded report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/wire_trace_format.h"
#include "sim/compressed_file.h"
#include "sim/report_byte_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text, error;
  if (!ktq::sim::ExpandIfCompressed(std::string(reinterpret_cast<const char*>(data), size), text, error)) return 0;
  std::vector<ktq::TraceEntry> entries;
  if (!ktq::ParseTraceText(text, entries, error)) return 0;
  std::string written;
  for (const ktq::TraceEntry& e : entries) {
    written += ktq::FormatTraceLine(e) + "\n";
    if (e.word == ktq::TraceWord::kOut || e.word == ktq::TraceWord::kIn) {
      ktq::sim::DescribeRequest(e.report.data());
      for (size_t i = 0; i < e.report.size(); ++i) ktq::sim::ByteMeaning(e.report.data(), i);
    }
  }
  std::vector<ktq::TraceEntry> again;
  if (!ktq::ParseTraceText(written, again, error) || again.size() != entries.size()) std::abort();
  for (size_t i = 0; i < again.size(); ++i) {
    const ktq::TraceEntry& a = entries[i];
    const ktq::TraceEntry& b = again[i];
    if (a.micros != b.micros || a.word != b.word || a.report != b.report || a.device.has_value() != b.device.has_value())
      std::abort();
    if (a.device && (a.device->path != b.device->path || a.device->serial != b.device->serial ||
                     a.device->product != b.device->product || a.device->vendorId != b.device->vendorId ||
                     a.device->productId != b.device->productId))
      std::abort();
  }
  return 0;
}
