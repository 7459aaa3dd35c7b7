// Expansion speed of the register databases: LZ77Decompress against the
// bit-at-a-time baseline on both streams of the largest embedded variant,
// and a whole LoadRegisterDatabase of every variant over the virtual
// converter (which answers the date-code read).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <cstdio>
#include <memory>
#include <string>

#include "bench/lz77_baseline.h"
#include "chipdb/embedded_databases.h"
#include "chipdb/lz77.h"
#include "chipdb/register_db.h"
#include "chipdb/register_record.h"
#include "device/hid_session.h"
#include "sim/virtual_host.h"

namespace {

using ktq::chipdb::EmbeddedVariant;

const EmbeddedVariant* LargestVariant() {
  const EmbeddedVariant* largest = nullptr;
  for (const char* id : {"5", "6a", "6b", "4a", "4b"}) {
    const EmbeddedVariant* v = ktq::chipdb::FindEmbeddedVariant(id);
    if (v && (!largest || uint64_t{v->recordsBits} + v->namesBits >
                              uint64_t{largest->recordsBits} + largest->namesBits)) {
      largest = v;
    }
  }
  return largest;
}

template <typename Decoder>
void Expand(benchmark::State& state, bool records, Decoder decode) {
  const EmbeddedVariant* v = LargestVariant();
  if (!v) {
    state.SkipWithError("no embedded database variant");
    return;
  }
  const uint8_t* stream = records ? v->records : v->names;
  const uint32_t bits = records ? v->recordsBits : v->namesBits;
  static auto dest = std::make_unique<uint8_t[]>(ktq::regdb::kNamesBufferBytes > ktq::regdb::kRecordBufferBytes
                                                     ? ktq::regdb::kNamesBufferBytes
                                                     : ktq::regdb::kRecordBufferBytes);
  uint32_t produced = 0;
  for (auto _ : state) {
    decode(stream, bits, dest.get(), &produced);
    benchmark::DoNotOptimize(dest.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * produced);
  state.SetLabel(std::string("variant ") + v->id);
}

void BM_Lz77Decompress_Records(benchmark::State& s) { Expand(s, true, LZ77Decompress); }
void BM_Lz77Decompress_Names(benchmark::State& s) { Expand(s, false, LZ77Decompress); }
void BM_Baseline_Records(benchmark::State& s) { Expand(s, true, BaselineLz77Decompress); }
void BM_Baseline_Names(benchmark::State& s) { Expand(s, false, BaselineLz77Decompress); }
BENCHMARK(BM_Lz77Decompress_Records)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_Records)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lz77Decompress_Names)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_Names)->Unit(benchmark::kMillisecond);

void BM_LoadRegisterDatabase(benchmark::State& state, int32_t chipType, uint32_t dateCode, const char* id) {
  if (!ktq::chipdb::FindEmbeddedVariant(id)) {
    state.SkipWithError("variant not in this build");
    return;
  }
  ktq::sim::VirtualHost host;
  host.Install();
  RCInit();
  host.AddConverter().Memory().WriteU32(ktq::chipdb::kChipDateCodeAddress, dateCode);
  if (RCEnumAndOpenDevice() != 0) {
    state.SkipWithError("virtual converter did not open");
  } else {
    for (auto _ : state) {
      if (LoadRegisterDatabase(chipType) != 0 || ktq::chipdb::LoadedVariant() != id) {
        state.SkipWithError("load failed");
        break;
      }
    }
    state.counters["registers"] = static_cast<double>(RegisterList().size());
  }
  RCExit();
  host.Uninstall();
}
BENCHMARK_CAPTURE(BM_LoadRegisterDatabase, 5, 5, 0x20201105, "5")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegisterDatabase, 6a, 6, 0x20220300, "6a")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegisterDatabase, 6b, 6, 0x20220400, "6b")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegisterDatabase, 4a, 4, 0x20190608, "4a")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegisterDatabase, 4b, 4, 0x20190700, "4b")->Unit(benchmark::kMillisecond);

double Throughput(const ktq::bench::FigureReporter& figures, const char* name) {
  return figures.Counter(name, "bytes_per_second");
}

void PrintRatio(const ktq::bench::FigureReporter& figures, const char* what, const char* fast, const char* baseline) {
  const double f = Throughput(figures, fast), b = Throughput(figures, baseline);
  std::printf("%s: %.1f MB/s vs baseline %.1f MB/s, ratio %.2fx\n", what, f / 1e6, b / 1e6,
              ktq::bench::Ratio(f, b));
}

// Both streams of a load together: total bytes over total time.
void PrintCombinedRatio(const ktq::bench::FigureReporter& figures, double recordsBytes, double namesBytes) {
  const auto seconds = [&](const char* name, double bytes) {
    const double rate = Throughput(figures, name);
    return rate > 0 ? bytes / rate : 0.0;
  };
  const double fast =
      seconds("BM_Lz77Decompress_Records", recordsBytes) + seconds("BM_Lz77Decompress_Names", namesBytes);
  const double baseline = seconds("BM_Baseline_Records", recordsBytes) + seconds("BM_Baseline_Names", namesBytes);
  if (fast <= 0 || baseline <= 0) return;
  std::printf("both streams: %.1f MB/s vs baseline %.1f MB/s, ratio %.2fx\n",
              (recordsBytes + namesBytes) / fast / 1e6, (recordsBytes + namesBytes) / baseline / 1e6,
              baseline / fast);
}

}  // namespace

int main(int argc, char** argv) {
  return ktq::bench::RunBenchmarks(argc, argv, [](const ktq::bench::FigureReporter& figures) {
    PrintRatio(figures, "records stream", "BM_Lz77Decompress_Records", "BM_Baseline_Records");
    PrintRatio(figures, "names stream", "BM_Lz77Decompress_Names", "BM_Baseline_Names");
    if (const EmbeddedVariant* v = LargestVariant()) {
      // Expanded sizes, from a bounded expansion of each stream.
      static auto scratch = std::make_unique<uint8_t[]>(ktq::regdb::kNamesBufferBytes);
      const auto size = [&](const uint8_t* stream, size_t bytes, uint32_t bits) {
        return static_cast<double>(
            ktq::lz77::Decompress(stream, bytes, bits, scratch.get(), ktq::regdb::kNamesBufferBytes).produced);
      };
      PrintCombinedRatio(figures, size(v->records, v->recordsBytes, v->recordsBits),
                         size(v->names, v->namesBytes, v->namesBits));
    }
  });
}
