// EDID text of a four-block EDID (the crafted television of the tests)
// against a baseline of the hex listing alone, which every EDID text
// contains; the ratio says what decoding adds to listing.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "diagnostics/edid_decoder.h"
#include "report/format.h"
#include "tests/edid/hex_file.h"

namespace {

std::vector<uint8_t> LoadSample() {
  std::vector<uint8_t> bytes = ktq::test::ReadHexFile(KTQ_SOURCE_DIR "/tests/edid/data/tv-4k.hex");
  bytes.resize(ktq::kEdidBufferSize);
  return bytes;
}

const std::vector<uint8_t>& Sample() {
  static const std::vector<uint8_t> sample = LoadSample();
  return sample;
}

void BM_HexListingBaseline(benchmark::State& state) {
  const std::vector<uint8_t>& edid = Sample();
  for (auto _ : state) {
    std::string text;
    for (size_t i = 0; i < edid.size(); ++i) {
      text += FormatString("%02x ", edid[i]);
      if (i % 16 == 15) text += "\r\n";
    }
    benchmark::DoNotOptimize(text);
  }
}

void BM_EdidText(benchmark::State& state) {
  const std::vector<uint8_t>& edid = Sample();
  for (auto _ : state) benchmark::DoNotOptimize(ktq::EdidTextFromBytes(edid));
}

BENCHMARK(BM_HexListingBaseline);
BENCHMARK(BM_EdidText);

}  // namespace

int main(int argc, char** argv) {
  return ktq::bench::RunBenchmarks(argc, argv, [](const ktq::bench::FigureReporter& figures) {
    std::printf("EDID text / hex listing alone: %.2f\n",
                ktq::bench::Ratio(figures.Of("BM_EdidText").realTime, figures.Of("BM_HexListingBaseline").realTime));
  });
}
