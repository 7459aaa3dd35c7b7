// What the bytes of an output report mean, from the wire formats the
// converter's firmware defines (sim/rc_protocol.h): RC requests (byte 1 =
// 0x00), I2C-master transactions (0x10) and I2C-master speed reports (0x11).
// Used to explain a report to a person, e.g. where a replayed session
// departs from its recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ktq::sim {

// The request in a few words: "UPDC_WRITE_FLASH (0x20) at 0x00001A20, 32
// bytes", "I2C-master read on bus 0 from slave 0x72, 4 bytes", ...
// `report` holds rc::kReportSize bytes.
std::string DescribeRequest(const uint8_t* report);

// The field that byte `index` of `report` belongs to: "report ID",
// "length", "command", "address byte 1", "count", "payload byte 4",
// "checksum", "register address byte 0", "data byte 2", "padding", ...
std::string ByteMeaning(const uint8_t* report, size_t index);

}  // namespace ktq::sim
