// Shared by the benchmark programs: the console table as usual, plus each
// benchmark's figures kept by name, so a program can print its ratios against
// a baseline measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace ktq::bench {

struct Figures {
  double cpuTime = 0;   // per iteration, in the benchmark's own time unit
  double realTime = 0;  // likewise (the manual time where one is set)
  std::map<std::string, double> counters;
};

class FigureReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions the median stands for the benchmark; it is reported
      // after the single runs and replaces them.
      const bool single = run.run_type == Run::RT_Iteration && run.iterations > 0;
      if (!single && run.aggregate_name != "median") continue;
      Figures& f = figures_[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)];
      f.cpuTime = run.GetAdjustedCPUTime();
      f.realTime = run.GetAdjustedRealTime();
      for (const auto& [name, counter] : run.counters) f.counters[name] = counter.value;
    }
  }

  // Figures of the benchmark registered under `name` (for captures,
  // "BM_Function/capture"); all zero when it did not run.
  const Figures& Of(const std::string& name) const {
    static const Figures none;
    const auto it = figures_.find(name);
    return it == figures_.end() ? none : it->second;
  }

  double Counter(const std::string& name, const std::string& counter) const {
    const auto& counters = Of(name).counters;
    const auto it = counters.find(counter);
    return it == counters.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, Figures> figures_;
};

// a / b, or 0 when b is 0 (a baseline that did not run).
inline double Ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

// Runs the benchmarks selected on the command line, then `summary` with
// their figures.
inline int RunBenchmarks(int argc, char** argv, const std::function<void(const FigureReporter&)>& summary) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  summary(reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace ktq::bench
