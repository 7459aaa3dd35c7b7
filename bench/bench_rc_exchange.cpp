// Host-side CPU cost of one RC exchange over the zero-latency virtual
// converter, trace off. Baseline: the same HID transfers sent straight
// through the seam with a prepared request, i.e. the model's own cost; the
// ratio shows what the RC layer adds on top.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstdio>
#include <string>

#include "device/hid_session.h"
#include "device/rc_command.h"
#include "sim/virtual_host.h"

namespace {

struct Setup {
  ktq::sim::VirtualHost host;
  Setup() {
    host.AddConverter();
    host.Install();
    RCInit();
    RCEnumAndOpenDevice();
  }
  ~Setup() { RCExit(); }
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

// The three transfers of a 32-byte read, without the RC layer.
void BM_BaselineRawTransfers(benchmark::State& state) {
  TheSetup();
  const ktq::HidBackend* seam = ktq::InstalledHidBackend();
  uint8_t request[62] = {0x01, 0x00, 0x0C, 0x00, 0x00, 0xB1, 0x00, 0x00, 0x00, 0x00, 0x90, 0x20};
  uint8_t sum = 0;
  for (int i = 2; i < 15; ++i) sum = static_cast<uint8_t>(sum + request[i]);
  request[15] = static_cast<uint8_t>(-sum);
  uint8_t reply[62];
  for (auto _ : state) {
    seam->write(DeviceHandle(), request, 62);
    reply[0] = 1;
    seam->get_input_report(DeviceHandle(), reply, 62);
    reply[0] = 1;
    seam->get_input_report(DeviceHandle(), reply, 62);
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_BaselineRawTransfers);

void BM_ReadRegister32(benchmark::State& state) {
  TheSetup();
  uint8_t out[32];
  for (auto _ : state) {
    if (RCReadRegister(0x90000000, 32, out) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ReadRegister32);

void BM_SetCommand32(benchmark::State& state) {
  TheSetup();
  uint8_t data[32] = {1, 2, 3};
  for (auto _ : state) {
    if (RCSetCommand(UPDC_WRITE_TO_MEMORY, 32, 0x90000000, data) != 0) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_SetCommand32);

}  // namespace

// Each case in ns per exchange and as a ratio to the baseline.
int main(int argc, char** argv) {
  return ktq::bench::RunBenchmarks(argc, argv, [](const ktq::bench::FigureReporter& figures) {
    const double base = figures.Of("BM_BaselineRawTransfers").cpuTime;
    for (const char* name : {"BM_BaselineRawTransfers", "BM_ReadRegister32", "BM_SetCommand32"}) {
      const double ns = figures.Of(name).cpuTime;
      std::printf("%-26s %8.1f ns per exchange, %.2fx baseline\n", name, ns, ktq::bench::Ratio(ns, base));
    }
  });
}
