// Hot-plug state of the sink on a transmitter port, from the chip's GPIO
// input register.
#pragma once

#include <cstdint>

// 1 when the sink on transmitter `port` asserts hot-plug, else 0; also 0 on
// chip types other than 5 and 6, when CORE_GPIO_RX is absent or its read
// fails.
int32_t TxHpdState(uint32_t port);
